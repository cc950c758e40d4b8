// UTC calendar conversion, exactly as mktime and gmtime give it under
// TZ=GMT, with 64-bit seconds. Out-of-range fields are normalised as mktime
// normalises them: month 13 is January of the next year, day 0 is the last
// day of the month before, second 60 is the next minute's second 0.
#pragma once

#include <cstdint>
#include <string_view>

#include "io.hpp"

namespace vorn {

// Broken-down time in the fields of struct tm: year since 1900, month 0-11.
struct CivilTime {
    int64_t tm_year = 0;
    int64_t tm_mon = 0;
    int64_t tm_mday = 0;
    int64_t tm_hour = 0;
    int64_t tm_min = 0;
    int64_t tm_sec = 0;
};

// Seconds since 1970-01-01 00:00:00 UTC of t; normalises t's fields in place
// as mktime does.
int64_t utc_mktime(CivilTime& t);
// Seconds since 1970 of a calendar date and time as people write it (month
// 1-12), normalised as utc_mktime normalises.
int64_t utc_seconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second);
// The broken-down UTC time of seconds since 1970, as gmtime gives it.
CivilTime utc_gmtime(int64_t seconds);

// Writes "%4d-%02d-%02dT%02d:%02d:%02d": year (tm_year + 1900), month
// (tm_mon + 1), day, hour, minute, second.
void write_datetime(Writer& w, const CivilTime& t);

// The date and time text of a second count, for one line after another:
// converts only when the second changes.
class DateText {
public:
    // "%4d-%02d-%02dT%02d:%02d:%02d" of the UTC time of seconds.
    std::string_view of(int64_t seconds);

private:
    int64_t cached_ = INT64_MIN;
    int64_t day_ = INT64_MIN;
    char text_[64] = {};
    std::size_t len_ = 0;
    std::size_t time_at_ = 0;
};

}  // namespace vorn
