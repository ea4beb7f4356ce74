#include "record_check.h"

#include "text_int.h"

namespace veldar {

bool UsesAverageRule(bool headerSeen, int records, const ByteString& recordText) {
    return headerSeen || (records == 0 && recordText.find("#;") != ByteString::npos);
}

ChecksumResult CheckRecord(const ByteString& record, bool averageRule) {
    const std::size_t n = record.size();
    ChecksumResult r;
    for (std::size_t i = 0; i + 3 < n; ++i)
        r.Sum += static_cast<unsigned char>(record[i]);
    const auto k = static_cast<std::uint32_t>(n - 3);
    if (averageRule) {
        r.ExpectedLow = k;
        r.ExpectedHigh = r.Sum / k;
    } else {
        r.ExpectedLow = r.Sum % 256;
        r.ExpectedHigh = r.Sum / 256;
    }
    // The device never sends a 13 before the record's end: a CR there would cut the record.
    if (r.ExpectedLow == 13) r.ExpectedLow = 14;
    if (r.ExpectedHigh == 13) r.ExpectedHigh = 14;
    const auto low = static_cast<unsigned char>(record[n - 3]);
    const auto high = static_cast<unsigned char>(record[n - 2]);
    r.Passed = (low == r.ExpectedLow || low == 255) && high == r.ExpectedHigh;
    return r;
}

std::string ChecksumErrorText(const ChecksumResult& result) {
    return " ERREUR DU CHECKSUM: [ " + std::to_string(result.Sum) + " (" +
           std::to_string(result.ExpectedLow) + ")(" + std::to_string(result.ExpectedHigh) + ")]";
}

HeaderRecord ParseHeader(const ByteString& payload) {
    HeaderRecord header;
    auto separator = payload.find(';', 2);
    if (separator == ByteString::npos) {
        header.CountText = payload;
    } else {
        header.Name = payload.substr(2, separator - 2);
        header.CountText = payload.substr(separator + 1);
    }
    // A negative count cannot be a progress maximum.
    auto count = TextToInt(header.CountText);
    header.Maximum = (count && *count >= 0) ? *count : 1000;
    return header;
}

} // namespace veldar
