#include "sampleout.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vornconv {

namespace {

// The four decimal digits of every number below 10,000, as one 32-bit word
// each (the first digit in the lowest byte, the order of bytes in memory).
// Beside each word, the number of digits of the number without leading zeros.
struct FourDigits {
    uint32_t word[10000];
    uint8_t length[10000];
    constexpr FourDigits() : word(), length() {
        for (uint32_t v = 0; v < 10000; ++v) {
            word[v] = (0x30u + v / 1000) | (0x30u + v / 100 % 10) << 8 | (0x30u + v / 10 % 10) << 16 |
                      (0x30u + v % 10) << 24;
            length[v] = static_cast<uint8_t>(v >= 1000 ? 4 : v >= 100 ? 3 : v >= 10 ? 2 : 1);
        }
    }
};
constexpr FourDigits kFourDigits;

// The digits of u < 10^8 without leading zeros at p, and up to 8 bytes of
// scratch behind them. The digits are built in a register and stored with
// one write, so no load has to wait for smaller stores.
inline char* put_small(char* p, uint32_t u) {
    if (u < 10000) {
        const uint32_t n = kFourDigits.length[u];
        const uint32_t w = kFourDigits.word[u] >> (8 * (4 - n));
        std::memcpy(p, &w, 4);
        return p + n;
    }
    const uint32_t hi = u / 10000, lo = u % 10000;
    const uint32_t n = kFourDigits.length[hi];
    const uint64_t w = uint64_t{kFourDigits.word[hi] >> (8 * (4 - n))} | uint64_t{kFourDigits.word[lo]} << (8 * n);
    std::memcpy(p, &w, 8);
    return p + n + 4;
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

// The decimal text of a count that goes up by one per line: incrementing
// the text costs less than converting the number anew.
class DecimalCounter {
public:
    explicit DecimalCounter(int64_t n) {
        char tmp[24];
        len_ = static_cast<int>(std::to_chars(tmp, tmp + sizeof tmp, n).ptr - tmp);
        std::memcpy(text_ + kWidth - len_, tmp, static_cast<std::size_t>(len_));
    }
    // Writes the text at p (with up to kWidth bytes of scratch behind it).
    char* put(char* p) const {
        std::memcpy(p, text_ + kWidth - len_, kWidth);
        return p + len_;
    }
    void increment() {
        int i = kWidth - 1;
        while (text_[i] == '9') text_[i--] = '0';
        if (i < kWidth - len_) {
            text_[i] = '1';
            ++len_;
        } else {
            ++text_[i];
        }
    }

private:
    static constexpr int kWidth = 24;
    char text_[2 * kWidth] = {};  // digits right-aligned at kWidth; scratch behind
    int len_ = 0;
};

}  // namespace



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

void SampleSink::timed(int64_t n, const int32_t* values, int ch, vorn::SplitTime t, std::string_view date) {
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
