// Tag-list lines as `timefit -t` writes them, for the timereport tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "calendar.hpp"

namespace timereport::testing {

// "n v.. sec usec YYYY-MM-DDTHH:MM:SS verdict"
inline std::string tag_line(int64_t n, int64_t sec, int64_t usec, int verdict, int channels = 1) {
    vorn::DateText date;
    std::string s = std::to_string(n);
    for (int c = 0; c < channels; ++c) s.append(" ").append(std::to_string(100 * c - 7));
    s.append(" ").append(std::to_string(sec)).append(" ").append(std::to_string(usec));
    s.append(" ").append(date.of(sec)).append(" ").append(std::to_string(verdict)).append("\n");
    return s;
}

// One tag per second from sample n0 at rate samples per second of a clock
// whose interval is (1 + ppm 1e-6) / rate: the tag lies on the sample just
// after each whole second of true time t0 + k; times in whole microseconds.
inline std::string drifting_tags(int64_t n0, int64_t sec0, double rate, double ppm, int count, int verdict = 0) {
    std::string s;
    const double interval = (1 + ppm * 1e-6) / rate;
    for (int k = 0; k < count; ++k) {
        const int64_t n = n0 + static_cast<int64_t>(std::ceil(k / interval));
        const double after = static_cast<double>(n - n0) * interval;  // seconds after sec0
        const int64_t us = static_cast<int64_t>(std::floor(after * 1e6));
        s += tag_line(n, sec0 + us / 1'000'000, us % 1'000'000, verdict);
    }
    return s;
}

}  // namespace timereport::testing
