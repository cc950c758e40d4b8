// The lines the converter writes on standard output besides the header
// line: sample lines (timed, untimed, dated), the GPS-string line and the
// diagnostic line.
#pragma once

#include <cstdint>
#include <string_view>

#include "calendar.hpp"
#include "io.hpp"
#include "recorder.hpp"
#include "textlines.hpp"

namespace vornconv {

// Sample lines are the bulk of the output: they are formatted straight
// into the writer's buffer.
class SampleSink {
public:
    explicit SampleSink(vorn::Writer& w) : w_(w) {}
    SampleSink(const SampleSink&) = delete;
    SampleSink& operator=(const SampleSink&) = delete;

    // count untimed sample lines "%ld " "%d "... "-1 0\n" for the consecutive
    // sample numbers first, first+1, ... (first >= 0); the values of sample k
    // are values[k*ch .. k*ch+ch-1].
    void untimed_run(int64_t first, const int32_t* values, int ch, int64_t count);
    // One timed sample line "%ld " "%d "... "%ld %ld", then " " and the
    // date when date is not empty, then the line feed.
    void timed(int64_t n, const int32_t* values, int ch, vorn::SplitTime t, std::string_view date);

private:
    vorn::Writer& w_;
};

// A time split into whole seconds and microseconds. Times beyond any
// calendar (a million centuries, or not a number) have no seconds that a
// line could carry: valid is false for them.
struct LineTime {
    vorn::SplitTime t{-1, 0};
    bool valid = false;
};
LineTime line_time(double t);

// "%76s  %5s %6s %ld %4d-%02d-%02dT%02d:%02d:%02d\n": the GPS string, the
// temperature and elevation words, the block's second and its UTC date.
void write_gps_string_line(vorn::Writer& w, const vorn::GpsString& gps, std::string_view temperature,
                           std::string_view elevation, int64_t t_new);

// "D %76s %ld %ld %ld %4d-%02d-%02dT%02d:%02d:%02d %d %ld %d\n".
void write_diagnostic_line(vorn::Writer& w, const vorn::GpsString& gps, int64_t t_new, vorn::SplitTime f1,
                           const vorn::CivilTime& own, int32_t shift_count, int64_t nsample, int not_valid);

}  // namespace vornconv
