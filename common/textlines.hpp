// The lines of the text record stream that more than one program reads or
// writes: sample lines, and the reader's handling of the header line,
// malformed lines and the error line.
#pragma once

#include <cstdint>
#include <climits>
#include <string_view>

#include "io.hpp"
#include "program.hpp"
#include "textparse.hpp"
#include "vorn.hpp"

namespace vorn {

// A time as whole seconds and microseconds: sec = floor(t),
// usec = floor((t - floor(t)) * 1,000,000).
struct SplitTime {
    int64_t sec;
    int64_t usec;
};
SplitTime split_time(double t);

// Converter sample lines: "%ld " sample number, "%d " per channel (value of
// channel c is channels[c][index]), then the time and the line feed.
// Untimed: "-1 0". Timed: "%ld %ld", and with a date " %4d-%02d-%02dT..".
inline void write_sample_head(Writer& w, int64_t n, const int32_t* const* channels, int ch, int64_t index) {
    w.num(n);
    w.put(' ');
    for (int c = 0; c < ch; ++c) {
        w.num(channels[c][index]);
        w.put(' ');
    }
}
inline void write_untimed_sample(Writer& w, int64_t n, const int32_t* const* channels, int ch, int64_t index) {
    write_sample_head(w, n, channels, ch, index);
    w.put("-1 0\n");
}
// date: the "%4d-%02d-%02dT%02d:%02d:%02d" text of t.sec, or empty for none.
inline void write_timed_sample(Writer& w, int64_t n, const int32_t* const* channels, int ch, int64_t index,
                               SplitTime t, std::string_view date) {
    write_sample_head(w, n, channels, ch, index);
    w.num(t.sec);
    w.put(' ');
    w.num(t.usec);
    if (!date.empty()) {
        w.put(' ');
        w.put(date);
    }
    w.put('\n');
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
// readable_after: the bytes behind the line that may be read
// (LineReader::kPadding for a line from a LineReader); with kPlainSpan bytes
// readable from its start, a plain line is read all at once.
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
bool parse_sample_line(std::string_view line, int ch, SampleLine& s, std::size_t readable_after = 0);

// A grid line as regrid and axisturn write it: whole seconds, microseconds,
// one value per channel.
struct GridLine {
    int64_t ts2 = 0;
    int32_t tmks2 = 0;
    int32_t ampx[3] = {0, 0, 0};
};

// Parses the first 2 + channels whitespace-separated fields of line as whole
// decimal integers that fit their fields; later fields are ignored.
// readable_after as for parse_sample_line.
bool parse_grid_line(std::string_view line, int channels, GridLine& g, std::size_t readable_after = 0);

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
