// Capture file names from arbitrary bytes: whatever the device sends, the name stays a single
// harmless component of the destination folder.
#include "capture_files.h"
#include "capture_name.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, in any case, alone or before an extension.
bool NamesDevice(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

void CheckTrimmed(const std::string& text, const std::string& trimmed) {
    FUZZ_CHECK(text.find(trimmed) != std::string::npos);
    if (trimmed.empty()) {
        for (char c : text)
            FUZZ_CHECK(IsBlank(c));
        return;
    }
    FUZZ_CHECK(!IsBlank(trimmed.front()));
    FUZZ_CHECK(!IsBlank(trimmed.back()));
    // Only blanks were cut, on either side.
    std::size_t lead = 0;
    while (IsBlank(text[lead]))
        ++lead;
    FUZZ_CHECK(text.compare(lead, trimmed.size(), trimmed) == 0);
    for (std::size_t i = lead + trimmed.size(); i < text.size(); ++i)
        FUZZ_CHECK(IsBlank(text[i]));
}

void CheckSafe(const std::string& safe) {
    for (char c : safe) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 32);
        FUZZ_CHECK(std::string_view("/\\:*?\"<>|").find(c) == std::string_view::npos);
    }
    FUZZ_CHECK(safe != "." && safe != "..");
    FUZZ_CHECK(!NamesDevice(safe));
    if (!safe.empty()) {
        FUZZ_CHECK(!IsBlank(safe.front()));
        FUZZ_CHECK(!IsBlank(safe.back()));
    }
    // Joined to the folder, the name names something directly inside it.
    namespace fs = std::filesystem;
    const fs::path base("/base");
    FUZZ_CHECK((base / veldar::NativePath(safe)).parent_path() == base);
    // Made safe once, it stays as it is.
    FUZZ_CHECK(veldar::SafeFileName(safe) == safe);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string trimmed = veldar::TrimBlanks(text);
    CheckTrimmed(text, trimmed);
    FUZZ_CHECK(veldar::TrimBlanks(trimmed) == trimmed);
    CheckSafe(veldar::SafeFileName(text));
    return 0;
}
