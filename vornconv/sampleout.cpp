#include "sampleout.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vornconv {

namespace {

constexpr char kPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline uint64_t pair(uint32_t v) {
    uint16_t x;
    std::memcpy(&x, kPairs + 2 * v, 2);
    return x;
}

// The eight decimal digits of u < 10^8 as eight characters in one word, the
// first character in the lowest byte (the order of the bytes in memory).
inline uint64_t eight_digits(uint32_t u) {
    const uint32_t hi = u / 10000, lo = u % 10000;
    return pair(hi / 100) | pair(hi % 100) << 16 | pair(lo / 100) << 32 | pair(lo % 100) << 48;
}

inline int digit_count(uint32_t u) {  // u < 10^8
    return 1 + (u >= 10) + (u >= 100) + (u >= 1000) + (u >= 10000) + (u >= 100000) + (u >= 1000000) +
           (u >= 10000000);
}

// The digits of u < 10^8 without leading zeros at p, and up to 8 bytes of
// scratch behind them. The digits are built in a register and stored with
// one write, so no load has to wait for smaller stores.
inline char* put_small(char* p, uint32_t u) {
    const int n = digit_count(u);
    const uint64_t w = eight_digits(u) >> (8 * (8 - n));
    std::memcpy(p, &w, 8);
    return p + n;
}

// "%d" of v at p, with scratch behind the digits.
inline char* put_int(char* p, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    if (v < 0) {
        *p++ = '-';
        u = 0u - u;
    }
    if (u < 100000000u) return put_small(p, u);
    return std::to_chars(p, p + 12, u).ptr;
}

// "%ld" of a sample number n >= 0, with scratch behind the digits.
inline char* put_count(char* p, int64_t n) {
    if (n >= 0 && n < 100000000) return put_small(p, static_cast<uint32_t>(n));
    if (n >= 0 && n < 10000000000000000) {
        p = put_small(p, static_cast<uint32_t>(n / 100000000));
        const uint64_t w = eight_digits(static_cast<uint32_t>(n % 100000000));
        std::memcpy(p, &w, 8);
        return p + 8;
    }
    return std::to_chars(p, p + 24, n).ptr;
}

}  // namespace

SampleSink::SampleSink(vorn::Writer& w) : w_(w), buf_(new char[kHandOff + kSlack]) {}

void SampleSink::sync() {
    if (pos_ == 0) return;
    w_.put(std::string_view(buf_.get(), pos_));
    pos_ = 0;
}

void SampleSink::untimed_run(int64_t first, const int32_t* values, int ch, int64_t count) {
    char* const base = buf_.get();
    char* const limit = base + kHandOff;
    char* p = base + pos_;
    for (int64_t k = 0; k < count; ++k) {
        if (p > limit) {
            pos_ = static_cast<std::size_t>(p - base);
            sync();
            p = base;
        }
        p = put_count(p, first + k);
        *p++ = ' ';
        for (int c = 0; c < ch; ++c) {
            p = put_int(p, values[c]);
            *p++ = ' ';
        }
        std::memcpy(p, "-1 0\n", 5);
        p += 5;
        values += ch;
    }
    pos_ = static_cast<std::size_t>(p - base);
}

void SampleSink::timed(int64_t n, const int32_t* values, int ch, vorn::SplitTime t, std::string_view date) {
    if (pos_ > kHandOff) sync();
    char* const base = buf_.get();
    char* p = base + pos_;
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
    pos_ = static_cast<std::size_t>(p - base);
}

LineTime line_time(double t) {
    // 1e15 s is some thirty million years: far beyond any recording, and
    // well inside what the calendar conversion handles.
    if (!(t > -1e15 && t < 1e15)) return {};
    return {vorn::split_time(t), true};
}

void write_gps_string_line(vorn::Writer& w, const vorn::GpsString& gps, std::string_view temperature,
                           std::string_view elevation, int64_t t_new) {
    gps.write(w);
    w.put("  ");
    w.right(temperature, 5);
    w.put(' ');
    w.right(elevation, 6);
    w.put(' ');
    w.num(t_new);
    w.put(' ');
    vorn::write_datetime(w, vorn::utc_gmtime(t_new));
    w.put('\n');
}

void write_diagnostic_line(vorn::Writer& w, const vorn::GpsString& gps, int64_t t_new, vorn::SplitTime f1,
                           const vorn::CivilTime& own, int32_t shift_count, int64_t nsample, int not_valid) {
    w.put("D ");
    gps.write(w);
    w.put(' ');
    w.num(t_new);
    w.put(' ');
    w.num(f1.sec);
    w.put(' ');
    w.num(f1.usec);
    w.put(' ');
    vorn::write_datetime(w, own);
    w.put(' ');
    w.num(shift_count);
    w.put(' ');
    w.num(nsample);
    w.put(' ');
    w.num(not_valid);
    w.put('\n');
}

}  // namespace vornconv
