// The record judge and the header record on arbitrary bytes: the first byte picks the rule,
// the rest is the record.
#include "fuzz_check.h"
#include "record_check.h"
#include "text_int.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void CheckJudge(const veldar::ByteString& record, bool averageRule) {
    const veldar::ChecksumResult r = veldar::CheckRecord(record, averageRule);

    // Recomputed here from the record's layout: data bytes, then L, H and CR.
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 3 < record.size(); ++i)
        sum += static_cast<unsigned char>(record[i]);
    FUZZ_CHECK(r.Sum == sum);
    const auto dataBytes = static_cast<std::uint32_t>(record.size() - 3);
    std::uint32_t low = averageRule ? dataBytes : sum % 256;
    std::uint32_t high = averageRule ? sum / dataBytes : sum / 256;
    if (low == 13) low = 14;
    if (high == 13) high = 14;
    FUZZ_CHECK(r.ExpectedLow == low);
    FUZZ_CHECK(r.ExpectedHigh == high);
    // A 13 would be a CR inside the record, which the device never sends.
    FUZZ_CHECK(r.ExpectedLow != 13);
    FUZZ_CHECK(r.ExpectedHigh != 13);

    const auto lowByte = static_cast<unsigned char>(record[record.size() - 3]);
    const auto highByte = static_cast<unsigned char>(record[record.size() - 2]);
    const bool expected =
        highByte == r.ExpectedHigh && (lowByte == r.ExpectedLow || lowByte == 255);
    FUZZ_CHECK(r.Passed == expected);

    const std::string text = veldar::ChecksumErrorText(r);
    FUZZ_CHECK(text.find(std::to_string(r.Sum)) != std::string::npos);
}

void CheckHeader(const veldar::ByteString& data) {
    const veldar::ByteString payload = "#;" + data;
    const veldar::HeaderRecord header = veldar::ParseHeader(payload);
    FUZZ_CHECK(header.Maximum >= 0);
    // Name and count text split the payload at its first ";" after "#;", nothing lost.
    const auto separator = data.find(';');
    if (separator == veldar::ByteString::npos) {
        FUZZ_CHECK(header.Name.empty());
        FUZZ_CHECK(header.CountText == payload);
    } else {
        FUZZ_CHECK(header.Name == data.substr(0, separator));
        FUZZ_CHECK(header.CountText == data.substr(separator + 1));
    }
    const auto count = veldar::TextToInt(header.CountText);
    if (count && *count >= 0)
        FUZZ_CHECK(header.Maximum == *count);
    else
        FUZZ_CHECK(header.Maximum == 1000);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const veldar::ByteString bytes(reinterpret_cast<const char*>(data), size);
    CheckHeader(bytes);
    if (size < 1 + veldar::MinimumRecordSize) return 0;
    const bool averageRule = (data[0] & 1) != 0;
    CheckJudge(bytes.substr(1), averageRule);
    return 0;
}
