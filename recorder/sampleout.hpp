// The lines the converters write on standard output besides the header
// line: sample lines (timed, untimed, dated), the GPS-string line and the
// diagnostic ("D") line.
#pragma once

#include <cstdint>
#include <string_view>

#include "calendar.hpp"
#include "io.hpp"
#include "blocks.hpp"
#include "textlines.hpp"

namespace vorn {

// Sample lines are the bulk of the output: they are formatted straight
// into the writer's buffer.
class SampleSink {
public:
    explicit SampleSink(Writer& w) : w_(w) {}
    SampleSink(const SampleSink&) = delete;
    SampleSink& operator=(const SampleSink&) = delete;

    // count untimed sample lines "%ld " "%d "... "-1 0\n" for the consecutive
    // sample numbers first, first+1, ... (first >= 0); the values of sample k
    // are values[k*ch .. k*ch+ch-1].
    void untimed_run(int64_t first, const int32_t* values, int ch, int64_t count);
    // One timed sample line "%ld " "%d "... "%ld %ld", then " " and the
    // date when date is not empty, then the line feed.
    void timed(int64_t n, const int32_t* values, int ch, SplitTime t, std::string_view date);

private:
    Writer& w_;
};

// A time split into whole seconds and microseconds. Times beyond any
// calendar (a million centuries, or not a number) have no seconds that a
// line could carry: valid is false for them.
struct LineTime {
    SplitTime t{-1, 0};
    bool valid = false;
};
LineTime line_time(double t);

// The temperature and elevation words of a GPS string.
struct GpsWords {
    std::string_view temperature;
    std::string_view elevation;
};
// "%76s  %5s %6s %ld %4d-%02d-%02dT%02d:%02d:%02d\n": the GPS string, the
// temperature and elevation words, the block's second and its UTC date.
// Without words (nullptr) "%76s  %ld %4d-..": the earlier generation's line,
// which has no such columns.
void write_gps_string_line(Writer& w, const GpsString& gps, const GpsWords* words, int64_t t_new);

// "D %76s %ld %ld %ld %4d-%02d-%02dT%02d:%02d:%02d %d %ld %d\n".
void write_diagnostic_line(Writer& w, const GpsString& gps, int64_t t_new, SplitTime f1, const CivilTime& own,
                           int32_t shift_count, int64_t nsample, int not_valid);

}  // namespace vorn
