#include "calendar.hpp"

namespace vorn {

namespace {

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1-12).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = floor_div(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = floor_div(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

void put2(char* p, int64_t v) {
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

int64_t utc_mktime(CivilTime& t) {
    // Months carry into years first, then everything else is a linear count
    // of seconds from the first day of the normalised month.
    const int64_t year = t.tm_year + 1900 + floor_div(t.tm_mon, 12);
    const int64_t mon = t.tm_mon - floor_div(t.tm_mon, 12) * 12;
    const int64_t days = days_from_civil(year, mon + 1, 1) + (t.tm_mday - 1);
    const int64_t seconds = days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
    t = utc_gmtime(seconds);
    return seconds;
}

CivilTime utc_gmtime(int64_t seconds) {
    const int64_t days = floor_div(seconds, 86400);
    const int64_t rest = seconds - days * 86400;
    int64_t y, m, d;
    civil_from_days(days, y, m, d);
    CivilTime t;
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = rest / 3600;
    t.tm_min = rest / 60 % 60;
    t.tm_sec = rest % 60;
    return t;
}

int64_t utc_seconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
    CivilTime t;
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return utc_mktime(t);
}

void write_datetime(Writer& w, const CivilTime& t) {
    w.num(t.tm_year + 1900, 4, ' ');
    w.put('-');
    w.num(t.tm_mon + 1, 2, '0');
    w.put('-');
    w.num(t.tm_mday, 2, '0');
    w.put('T');
    w.num(t.tm_hour, 2, '0');
    w.put(':');
    w.num(t.tm_min, 2, '0');
    w.put(':');
    w.num(t.tm_sec, 2, '0');
}

std::string_view DateText::of(int64_t seconds) {
    if (seconds == cached_) return {text_, len_};
    const int64_t day = floor_div(seconds, 86400);
    const int64_t rest = seconds - day * 86400;
    if (day != day_) {
        std::string s;
        {
            Writer w(&s, 256);
            write_datetime(w, utc_gmtime(day * 86400));
            w.flush();
        }
        len_ = s.size() < sizeof text_ ? s.size() : sizeof text_;
        for (std::size_t i = 0; i < len_; ++i) text_[i] = s[i];
        time_at_ = len_ - 8;  // "HH:MM:SS" ends the text
        day_ = day;
    }
    put2(text_ + time_at_, rest / 3600);
    put2(text_ + time_at_ + 3, rest / 60 % 60);
    put2(text_ + time_at_ + 6, rest % 60);
    cached_ = seconds;
    return {text_, len_};
}

}  // namespace vorn
