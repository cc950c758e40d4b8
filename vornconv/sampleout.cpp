#include "sampleout.hpp"

#include <charconv>
#include <bit>
#include <cmath>
#include <cstring>

namespace vornconv {

namespace {

// The four decimal digits of every number below 10,000, as one 32-bit word
// each (the first digit in the lowest byte, the order of bytes in memory).
struct FourDigits {
    uint32_t word[10000];
    constexpr FourDigits() : word() {
        for (uint32_t v = 0; v < 10000; ++v)
            word[v] = (0x30u + v / 1000) | (0x30u + v / 100 % 10) << 8 | (0x30u + v / 10 % 10) << 16 |
                      (0x30u + v % 10) << 24;
    }
};
constexpr FourDigits kFourDigits;

// The eight decimal digits of u < 10^8 as eight characters in one word, the
// first character in the lowest byte (the order of the bytes in memory).
inline uint64_t eight_digits(uint32_t u) {
    return uint64_t{kFourDigits.word[u / 10000]} | uint64_t{kFourDigits.word[u % 10000]} << 32;
}

inline int digit_count(uint32_t u) {  // u < 10^8
    // bit_width * 1233 / 4096 is log10 rounded down or one below it.
    static constexpr uint32_t kPow10[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    const int t = (std::bit_width(u | 1u) * 1233) >> 12;
    return t + 1 - ((u | 1u) < kPow10[t]);
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
    if (first < 0) {  // cannot happen in a run, but stays correct
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
        return;
    }
    DecimalCounter number(first);
    for (int64_t k = 0; k < count; ++k) {
        if (p > limit) {
            pos_ = static_cast<std::size_t>(p - base);
            sync();
            p = base;
        }
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
