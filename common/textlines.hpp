// The lines of the text record stream that more than one program reads or
// writes: line times, sample lines, and the reader's handling of the
// header line, malformed lines and the error line.
#pragma once

#include <cstdint>
#include <climits>
#include <cmath>
#include <string_view>

#include "io.hpp"
#include "program.hpp"
#include "textparse.hpp"
#include "vorn.hpp"

namespace vorn {

// A time as whole seconds and a count of parts of a second (microseconds
// unless per_second says otherwise): sec = floor(t),
// usec = floor((t - floor(t)) * per_second), in that order of operations.
// Every line time of the toolchain is split here; the callers add only their
// range rules (stampfill saturates, the converters drop a time beyond any
// calendar).
struct SplitTime {
    int64_t sec;
    int64_t usec;
};
inline constexpr double kMicrosecondsPerSecond = 1000000.0;
inline constexpr double kMillisecondsPerSecond = 1000.0;
inline SplitTime split_time(double t, double per_second = kMicrosecondsPerSecond) {
    const double whole = std::floor(t);
    return {static_cast<int64_t>(whole), static_cast<int64_t>(std::floor((t - whole) * per_second))};
}

// A sample line as the text readers take it: sample number, CH_NUM values,
// seconds, microseconds.
struct SampleLine {
    int64_t n = 0;
    int32_t v[3] = {0, 0, 0};
    int64_t sec = 0;
    int64_t usec = 0;
};

// Parses the first 3 + ch fields of line strictly (whole decimal tokens with
// an optional sign that fit: 64-bit sample number, 32-bit values, 64-bit
// seconds and microseconds); later fields are ignored. ch is 1..3.
// A PaddedLine (a line from a LineReader) that is plain is read all at
// once; a bare string_view only when it holds kPlainReach bytes itself, as
// no byte behind it is read. Both give the same verdicts.
template <int Ch>
[[gnu::always_inline]] inline bool parse_plain_sample_line(std::string_view line, SampleLine& s) {
    PlainFields p;
    if (!read_plain_fields<3 + Ch>(line, p)) return false;
    bool ok = plain_field(p, 0, s.n);
    for (int c = 0; c < Ch; ++c) ok &= plain_field(p, 1 + c, s.v[c]);
    ok &= plain_field(p, 1 + Ch, s.sec);
    ok &= plain_field(p, 2 + Ch, s.usec);
    return ok;
}
bool parse_sample_line(PaddedLine line, int ch, SampleLine& s);
bool parse_sample_line(std::string_view line, int ch, SampleLine& s);

// A grid line as regrid and axisturn write it: whole seconds, microseconds,
// one value per channel.
struct GridLine {
    int64_t ts2 = 0;
    int32_t tmks2 = 0;
    int32_t ampx[3] = {0, 0, 0};
};

// Parses the first 2 + channels whitespace-separated fields of line as whole
// decimal integers that fit their fields; later fields are ignored.
// PaddedLine and string_view as for parse_sample_line.
bool parse_grid_line(PaddedLine line, int channels, GridLine& g);
bool parse_grid_line(std::string_view line, int channels, GridLine& g);

// True when CH_NUM is 1..3 and S_RATE is positive (and at most max_rate).
bool header_supported(const HeaderValues& h, int64_t max_rate = INT32_MAX);
// The messages every reader of the text record stream shares, on err
// (flushed at once): "%s ERROR: unsupported header: CH_NUM %d S_RATE %d\n"
// with the program's name, and "Warning: skipping malformed line %ld: %s\n".
void report_unsupported_header(Writer& err, std::string_view program, const HeaderValues& h);
void warn_malformed_line(Writer& err, int64_t line_number, std::string_view line);
// Passes the error line on (out: "-1 ", "0 " per channel, "0 0") and writes
// "%s ERROR: No useful data in <stage>!\n" on err.
void pass_error_line(Writer& out, Writer& err, std::string_view program, int32_t ch_num, std::string_view stage);

}  // namespace vorn
