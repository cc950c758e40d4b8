// The recorder stream's building blocks, shared by the converters and the
// file tools: byte classes, 24-bit samples, 21-bit aux values, the time
// shift, header tokens, trailer text and the fields of the GPS string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "calendar.hpp"
#include "io.hpp"

namespace vorn {

// Bytes with the top bit set open a block; the others are data bytes.
inline bool is_type_byte(int b) { return (b & 0x80) != 0; }
inline constexpr uint8_t kFillByte = 0xF0;

// Sample value, four data bytes per channel:
//   byte  bits used  value bits
//   s0    6..0       23..17
//   s1    6..0       16..10
//   s2    6..0        9..3
//   s3    2..0        2..0
// v = s0*131072 + s1*1024 + s2*8 + s3 without masking, then 24-bit two's
// complement: above 0x7FFFFF subtract 0x1000000.
inline int32_t sample24(uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3) {
    int32_t v = s0 * 131072 + s1 * 1024 + s2 * 8 + s3;
    if (v > 0x7FFFFF) v -= 0x1000000;
    return v;
}

// Aux entry value, three data bytes after the unit byte:
//   a0 bits 6..0 -> value bits 20..14, a1 -> 13..7, a2 -> 6..0
// v = a0*16384 + a1*128 + a2, then 21-bit two's complement.
inline int32_t aux21(uint8_t a0, uint8_t a1, uint8_t a2) {
    int32_t v = a0 * 16384 + a1 * 128 + a2;
    if (v > 0xFFFFF) v -= 0x200000;
    return v;
}

// Time-shift block: two data bytes t0, t1 after the type byte 0xB0-0xBF.
// count n = t0*128 + t1 (0..16383); shift = n * 2.44140625 microseconds.
inline int32_t tshift_count(uint8_t t0, uint8_t t1) { return t0 * 128 + t1; }
inline double tshift_microseconds(int32_t count) { return count * 2.44140625; }

// The tokens of a recorder header, collected byte by byte: at most 100
// tokens of at most 999 characters; what lies beyond is dropped, every
// separator is still counted.
class HeaderTokens {
public:
    static constexpr std::size_t kMaxTokens = 100;
    static constexpr std::size_t kMaxTokenLength = 999;

    HeaderTokens();
    void clear();
    // Appends a byte to the current token (a NUL adds nothing).
    void add(char c);
    // A separator ends the current token.
    void separator();
    // Number of separators seen (the current token is number separators()).
    int64_t separators() const { return separators_; }
    // Token k, empty when k lies beyond the tokens kept.
    std::string_view token(int64_t k) const;

    // Calls f(name, value) for the pairs k = 0 .. separators()/2: token 2k
    // is the name, token 2k+1 the value. Pairs beyond the tokens kept have
    // empty names, which name nothing: they are not visited.
    template <class F>
    void for_each_pair(F&& f) const {
        const int64_t last = separators_ / 2 < int64_t{kMaxTokens} / 2 ? separators_ / 2 : int64_t{kMaxTokens} / 2;
        for (int64_t k = 0; k <= last; ++k) f(token(2 * k), token(2 * k + 1));
    }

private:
    std::array<std::string, kMaxTokens> tokens_;
    int64_t separators_ = 0;
};

// One header byte under the recorder's rules: 0xF0 is skipped; 0x80, 0xC0
// and 0xCF end the header without being text; a space becomes "_"; "=" and
// ";" are separators; any other byte is text, and another type byte ends the
// header after being appended. Returns true when b ends the header.
bool header_byte(HeaderTokens& tokens, uint8_t b);

// Trailer text after the 0xE0 type byte: 0xF0 and 0x80 are dropped, "=",
// ";", 0xEF, CR and LF become spaces, NUL adds nothing; at most 999
// characters are kept.
class TrailerText {
public:
    static constexpr std::size_t kMaxLength = 999;
    void add(uint8_t b);
    std::string_view view() const { return {text_.data(), len_}; }
    void clear() { len_ = 0; }

private:
    std::array<char, kMaxLength> text_{};
    std::size_t len_ = 0;
};

// The 76-character GPS string of a GPS block, positions from 0.
//
//   pos      field
//   1        identifier ("X": also temperature and elevation)
//   4-8      temperature word (with "X")
//   10-11    latitude, whole degrees
//   18-20    longitude, whole degrees
//   26-31    elevation word (with "X")
//   32       source digit
//   33       fix digit (2: counts for position and time)
//   43-48    hour, minute, second
//   52-59    day, month, year (four digits)
//   60-61    GPS-UTC offset, seconds
//   62       second source digit
//   65       offset flag (1 valid)
class GpsString {
public:
    static constexpr std::size_t kLength = 76;
    std::array<uint8_t, kLength> bytes{};

    // Reads the decimal integer of positions [first, last] in the manner of a
    // scanf "%d" limited to those characters (a NUL ends the field's text):
    // leading white space, an optional sign, digits. Leaves v unchanged and
    // returns false when the field holds no number.
    bool scan_int(std::size_t first, std::size_t last, int32_t& v) const;
    // Reads the first word (non-white-space run) of positions [first, last];
    // returns false (word unchanged) when the field holds none.
    bool scan_word(std::size_t first, std::size_t last, std::string& word) const;
    // "%76s": the string without its NUL bytes, padded on the left to 76.
    void write(Writer& w) const;

    // The string's own date and time: a cleared broken-down time filled from
    // year (56-59) - 1900, month (54-55) - 1, day (52-53), second (47-48),
    // minute (45-46) and hour (43-44); fields without a number stay 0.
    // Returns its seconds since 1970 (UTC, before the GPS-UTC offset) and
    // leaves `own` normalised as the calendar conversion leaves it.
    int64_t own_seconds(CivilTime& own) const;
};

}  // namespace vorn
