// Local date and time as the host's clock gives it, and the two patterns the program
// shows: "H:mm:ss" and "yyyyMMddHHmmss".
#pragma once

#include <cstdint>
#include <string>

namespace veldar {

struct LocalTime {
    int Year = 2000, Month = 1, Day = 1;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;

    // Milliseconds since 1970-01-01 00:00 of the same (local) clock.
    std::int64_t MillisecondsSinceEpoch() const;
    static LocalTime FromMillisecondsSinceEpoch(std::int64_t ms);
    bool operator==(const LocalTime&) const = default;
};

// "H:mm:ss": hours without a leading zero.
std::string FormatHmmss(const LocalTime& time);
// A duration shown as a time of day, the way the status line shows elapsed times.
std::string FormatElapsed(std::int64_t milliseconds);
// "yyyyMMddHHmmss".
std::string FormatAutoName(const LocalTime& time);

} // namespace veldar
