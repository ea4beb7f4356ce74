// The integer conversion on arbitrary text, against a model written from its rules: leading
// spaces, one optional sign, decimal digits or hexadecimal after "$" or "0x", nothing after,
// and a result that fits 32 bits.
#include "fuzz_check.h"
#include "text_int.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool IsDigitOf(char c, int base) {
    if (c >= '0' && c <= '9') return true;
    return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

std::optional<int> Model(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with('$')) {
        base = 16;
        text.remove_prefix(1);
    } else if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (!IsDigitOf(c, base)) return std::nullopt;
    // Digits only from here, so from_chars sees no sign; too many digits is out of range.
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    const std::uint64_t limit = negative ? std::uint64_t{std::numeric_limits<int>::max()} + 1
                                         : std::uint64_t{std::numeric_limits<int>::max()};
    if (magnitude > limit) return std::nullopt;
    const auto value = static_cast<std::int64_t>(magnitude);
    return static_cast<int>(negative ? -value : value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<int> value = veldar::TextToInt(text);
    FUZZ_CHECK(value == Model(text));
    if (!value) return 0;

    // What it accepts: no trailing blank or other byte outside the number's alphabet.
    const char last = text.back();
    FUZZ_CHECK(IsDigitOf(last, 16));
    FUZZ_CHECK(text.find_first_not_of(" +-$0123456789abcdefABCDEFxX") == std::string::npos);

    // Its own decimal form reads back as the same number, with or without leading spaces.
    const std::string decimal = std::to_string(*value);
    FUZZ_CHECK(veldar::TextToInt(decimal) == value);
    FUZZ_CHECK(veldar::TextToInt("   " + decimal) == value);
    FUZZ_CHECK(!veldar::TextToInt(decimal + " "));
    FUZZ_CHECK(!veldar::TextToInt(decimal + "g"));
    return 0;
}
