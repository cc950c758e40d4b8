// Decimal formatting for the hottest lines of the toolchain (sample and
// grid lines): numbers are built in registers from a table of four-digit
// groups and stored with one write. Every function writes at p and returns
// the end of the text; it may also write up to 8 bytes of scratch behind the
// text, so the caller keeps that much room.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>

#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the decimal tables hold characters in little-endian order"
#endif

namespace vorn {

// The four decimal digits of every number below 10,000, as one 32-bit word
// each (the first digit in the lowest byte, the order of bytes in memory),
// and beside each the number of its digits without leading zeros.
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
inline constexpr FourDigits kFourDigits{};

// u < 10^8 without leading zeros. Eight digits with leading zeros in one
// word, shifted by the number of leading zeros: no branch on the length,
// which varies at random with measured values.
inline char* put_digits(char* p, uint32_t u) {
    const uint32_t hi = u / 10000, lo = u - hi * 10000;
    const uint64_t w = uint64_t{kFourDigits.word[hi]} | uint64_t{kFourDigits.word[lo]} << 32;
    const uint32_t n = hi != 0 ? kFourDigits.length[hi] + 4u : kFourDigits.length[lo];
    const uint64_t text = w >> (8 * (8 - n));
    std::memcpy(p, &text, 8);
    return p + n;
}

// u < 10^8 as exactly eight digits (leading zeros kept).
inline char* put_eight_digits(char* p, uint32_t u) {
    const uint64_t w = uint64_t{kFourDigits.word[u / 10000]} | uint64_t{kFourDigits.word[u % 10000]} << 32;
    std::memcpy(p, &w, 8);
    return p + 8;
}

// "%d". The sign is written without a branch: signs of measured values
// change at random.
inline char* put_int(char* p, int32_t v) {
    const uint32_t negative = v < 0 ? 1u : 0u;
    const uint32_t u = (static_cast<uint32_t>(v) ^ (0u - negative)) + negative;
    *p = '-';
    p += negative;
    if (u < 100000000u) return put_digits(p, u);
    return std::to_chars(p, p + 10, u).ptr;  // at most 10 digits
}

// "%ld"
inline char* put_int(char* p, int64_t v) {
    const uint64_t negative = v < 0 ? 1u : 0u;
    const uint64_t u = (static_cast<uint64_t>(v) ^ (0u - negative)) + negative;
    *p = '-';
    p += negative;
    if (u < 100000000u) return put_digits(p, static_cast<uint32_t>(u));
    if (u < 10000000000000000u) {
        p = put_digits(p, static_cast<uint32_t>(u / 100000000u));
        return put_eight_digits(p, static_cast<uint32_t>(u % 100000000u));
    }
    return std::to_chars(p, p + 20, u).ptr;  // at most 20 digits
}

// "%6ld": right-aligned in six characters, padded with spaces.
inline char* put_int_width6(char* p, int64_t v) {
    if (v >= 0 && v < 1000000) {
        // Six digits with leading zeros in one word, then the leading zeros
        // turned into spaces ('0' ^ ' ' is 0x10).
        const uint32_t u = static_cast<uint32_t>(v);
        const uint32_t hi = u / 10000, lo = u % 10000;
        const uint32_t n = hi != 0 ? kFourDigits.length[hi] + 4u : kFourDigits.length[lo];
        uint64_t w = uint64_t{kFourDigits.word[hi] >> 16} | uint64_t{kFourDigits.word[lo]} << 16;
        w ^= 0x101010101010ULL & ((uint64_t{1} << (8 * (6 - n))) - 1);
        std::memcpy(p, &w, 8);
        return p + 6;
    }
    char digits[24];
    const char* e = put_int(digits, v);
    for (auto n = e - digits; n < 6; ++n) *p++ = ' ';
    for (const char* d = digits; d != e; ++d) *p++ = *d;
    return p;
}

// The "%ld" text of a number that mostly repeats or goes up by one from
// line to line (whole seconds, sample numbers): the last text is kept, and
// reused or incremented instead of converting the number anew.
class NumberText {
public:
    NumberText() {
        text_[kWidth - 1] = '0';
        len_ = 1;
    }
    // Writes the text of v at p, with up to 24 bytes of scratch behind it.
    char* put(char* p, int64_t v) {
        if (v != value_) update(v);
        std::memcpy(p, text_ + kWidth - len_, kWidth);
        return p + len_;
    }

private:
    void update(int64_t v) {
        if (v > 0 && value_ >= 0 && v - 1 == value_) {
            // Nines carry; all nines grow by a leading 1 (bytes before the
            // text may hold an older, longer text).
            int i = kWidth - 1;
            while (i >= kWidth - len_ && text_[i] == '9') text_[i--] = '0';
            if (i < kWidth - len_) {
                text_[i] = '1';
                ++len_;
            } else {
                ++text_[i];
            }
        } else {
            char tmp[32];
            len_ = static_cast<int>(put_int(tmp, v) - tmp);
            std::memcpy(text_ + kWidth - len_, tmp, static_cast<std::size_t>(len_));
        }
        value_ = v;
    }

    static constexpr int kWidth = 24;
    char text_[2 * kWidth] = {};  // the text right-aligned at kWidth; scratch behind
    int len_ = 0;
    int64_t value_ = 0;
};

}  // namespace vorn
