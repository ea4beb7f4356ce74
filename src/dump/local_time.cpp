#include "local_time.h"

#include <chrono>
#include <cstdio>

namespace veldar {

namespace {
constexpr std::int64_t MsPerDay = 86'400'000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
} // namespace

std::int64_t LocalTime::MillisecondsSinceEpoch() const {
    using namespace std::chrono;
    auto days = sys_days(year_month_day(year(Year), month(static_cast<unsigned>(Month)),
                                        day(static_cast<unsigned>(Day))))
                    .time_since_epoch()
                    .count();
    return static_cast<std::int64_t>(days) * MsPerDay +
           ((Hour * 60 + Minute) * 60 + Second) * std::int64_t{1000} + Millisecond;
}

LocalTime LocalTime::FromMillisecondsSinceEpoch(std::int64_t ms) {
    using namespace std::chrono;
    std::int64_t days = FloorDiv(ms, MsPerDay);
    std::int64_t rest = ms - days * MsPerDay;
    year_month_day ymd{sys_days(std::chrono::days(days))};
    LocalTime t;
    t.Year = static_cast<int>(ymd.year());
    t.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.Hour = static_cast<int>(rest / 3'600'000);
    t.Minute = static_cast<int>(rest / 60'000 % 60);
    t.Second = static_cast<int>(rest / 1000 % 60);
    t.Millisecond = static_cast<int>(rest % 1000);
    return t;
}

std::string FormatHmmss(const LocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", time.Hour, time.Minute, time.Second);
    return text;
}

std::string FormatElapsed(std::int64_t milliseconds) {
    // A time of day: past 24 hours the hours start again from 0.
    std::int64_t ms = milliseconds % MsPerDay;
    if (ms < 0) ms += MsPerDay;
    return FormatHmmss(LocalTime::FromMillisecondsSinceEpoch(ms));
}

std::string FormatAutoName(const LocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", time.Year, time.Month, time.Day,
                  time.Hour, time.Minute, time.Second);
    return text;
}

} // namespace veldar
