#include "sampleout.hpp"

#include "decimal.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vorn {

namespace {

// Untimed sample lines of ch channels into the block at p, until count lines
// are written or p passes limit. Returns the lines written.
template <int ch>
int64_t untimed_lines(char*& p, const char* limit, DecimalCounter& number, const int32_t*& values, int64_t count) {
    int64_t k = 0;
    for (; k < count && p <= limit; ++k) {
        p = number.put(p);
        number.increment();
        *p++ = ' ';
        for (int c = 0; c < ch; ++c) {
            p = put_int(p, values[c]);
            *p++ = ' ';
        }
        std::memcpy(p, "-1 0\n", 5);
        p += 5;
        values += ch;
    }
    return k;
}

}  // namespace

namespace {
// Bytes taken from the writer at a time for a run of lines, and the most one
// line with its scratch can need (24-byte counter, 3 values of 12, the time).
constexpr std::size_t kChunk = std::size_t{64} << 10;
constexpr std::size_t kLineMax = 256;
}  // namespace

void SampleSink::untimed_run(int64_t first, const int32_t* values, int ch, int64_t count) {
    DecimalCounter number(first < 0 ? 0 : first);
    while (count > 0) {
        char* p = w_.room(kChunk);
        const char* const limit = p + (kChunk - kLineMax);
        switch (ch) {
            case 1: count -= untimed_lines<1>(p, limit, number, values, count); break;
            case 2: count -= untimed_lines<2>(p, limit, number, values, count); break;
            default: count -= untimed_lines<3>(p, limit, number, values, count); break;
        }
        w_.advance(p);
    }
}

void SampleSink::timed(int64_t n, const int32_t* values, int ch, SplitTime t, std::string_view date) {
    char* p = w_.room(kLineMax);
    p = std::to_chars(p, p + 24, n).ptr;
    *p++ = ' ';
    for (int c = 0; c < ch; ++c) {
        p = put_int(p, values[c]);
        *p++ = ' ';
    }
    p = std::to_chars(p, p + 24, t.sec).ptr;
    *p++ = ' ';
    p = std::to_chars(p, p + 24, t.usec).ptr;
    if (!date.empty()) {
        *p++ = ' ';
        const std::size_t k = date.size() < 40 ? date.size() : 40;
        std::memcpy(p, date.data(), k);
        p += k;
    }
    *p++ = '\n';
    w_.advance(p);
}

LineTime line_time(double t) {
    // 1e15 s is some thirty million years: far beyond any recording, and
    // well inside what the calendar conversion handles.
    if (!(t > -1e15 && t < 1e15)) return {};
    return {split_time(t), true};
}

void write_gps_string_line(Writer& w, const GpsString& gps, const GpsWords* words, int64_t t_new) {
    gps.write(w);
    w.put("  ");
    if (words != nullptr) {
        w.right(words->temperature, 5);
        w.put(' ');
        w.right(words->elevation, 6);
        w.put(' ');
    }
    w.num(t_new);
    w.put(' ');
    write_datetime(w, utc_gmtime(t_new));
    w.put('\n');
}

void write_diagnostic_line(Writer& w, const GpsString& gps, int64_t t_new, SplitTime f1, const CivilTime& own,
                           int32_t shift_count, int64_t nsample, int not_valid) {
    w.put("D ");
    gps.write(w);
    w.put(' ');
    w.num(t_new);
    w.put(' ');
    w.num(f1.sec);
    w.put(' ');
    w.num(f1.usec);
    w.put(' ');
    write_datetime(w, own);
    w.put(' ');
    w.num(shift_count);
    w.put(' ');
    w.num(nsample);
    w.put(' ');
    w.num(not_valid);
    w.put('\n');
}

}  // namespace vorn
