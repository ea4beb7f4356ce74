// Judging the device's records: the checksum with its two rules, and the header record.
// Pure functions over the received bytes.
#pragma once

#include "com_types.h"

#include <cstdint>
#include <string>

namespace veldar {

// The smallest record that has the layout counting byte, check bytes L and H, and CR.
inline constexpr std::size_t MinimumRecordSize = 4;

struct ChecksumResult {
    bool Passed = false;
    std::uint32_t Sum = 0;          // S: every byte before the check bytes
    std::uint32_t ExpectedLow = 0;  // L' after the 13 -> 14 rule
    std::uint32_t ExpectedHigh = 0; // H' after the 13 -> 14 rule
};

// The average rule holds once a header was accepted, and before the first data record for
// any record that holds "#;".
bool UsesAverageRule(bool headerSeen, int records, const ByteString& recordText);

// Checks a record of at least MinimumRecordSize bytes.
ChecksumResult CheckRecord(const ByteString& record, bool averageRule);

// " ERREUR DU CHECKSUM: [ S (L')(H')]"
std::string ChecksumErrorText(const ChecksumResult& result);

struct HeaderRecord {
    ByteString Name;      // between "#;" and the next ";" (empty when there is none)
    ByteString CountText; // after that ";", or the whole payload when there is none
    int Maximum = 1000;   // the progress bar's maximum
};

// A payload that starts with "#;".
HeaderRecord ParseHeader(const ByteString& payload);

} // namespace veldar
