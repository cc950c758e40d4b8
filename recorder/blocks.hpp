// The blocks of the recorder stream: their type bytes, their layouts, and
// for each one the decoder the converters read it with and the encoder the
// simulator and the test streams write it with. A change of the format is
// made here, once.
//
// A stream is a text header (name/value pairs, read by header_byte in
// common/recorder.hpp) ended by the first type byte other than 0xF0, then
// blocks: a type byte (top bit set) and its data bytes (top bit clear).
//
//   type byte   block               payload
//   0x80        sample              4 bytes per channel, channel 0 first
//   0x90        tagged sample       as 0x80; the next GPS block gives its time
//   0xA0        GPS                 76-character GPS string, then a
//                                   time-shift block 0xB0-0xBF with 2 bytes
//   0xC0        status              overrun flag byte, status value byte
//   0xCF        status run          data bytes up to the next type byte
//   0xD1        aux                 descriptor byte and its records
//   0xE0        trailer             text to the end of the stream
//   0xEF        end of a file       no payload (vornjoin keeps only the last)
//   0xF0        fill                no payload
//   others      no payload
//
// Bytes 0x00-0x0F where a type byte belongs mark a damaged stretch.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "calendar.hpp"
#include "io.hpp"
#include "recorder.hpp"

namespace vorn {

inline constexpr uint8_t kSampleBlock = 0x80;
inline constexpr uint8_t kTaggedSampleBlock = 0x90;
inline constexpr uint8_t kGpsBlock = 0xA0;
inline constexpr uint8_t kShiftBlock = 0xB0;
inline constexpr uint8_t kStatusBlock = 0xC0;
inline constexpr uint8_t kStatusRun = 0xCF;
inline constexpr uint8_t kAuxBlock = 0xD1;
inline constexpr uint8_t kTrailer = 0xE0;
inline constexpr uint8_t kFileEnd = 0xEF;

// Bytes 0x00-0x0F where a type byte belongs: a damaged stretch.
inline bool is_damage_byte(int b) { return (b >> 4) == 0; }
// The time-shift type bytes 0xB0-0xBF (the low four bits carry nothing).
inline bool is_shift_type(int b) { return (b >> 4) == (kShiftBlock >> 4); }

// ---- Sample block (0x80, 0x90) -----------------------------------------------
//
// Four data bytes per channel:
//   byte  bits used  value bits
//   s0    6..0       23..17
//   s1    6..0       16..10
//   s2    6..0        9..3
//   s3    2..0        2..0
// v = s0*131072 + s1*1024 + s2*8 + s3 without masking, then 24-bit two's
// complement: above 0x7FFFFF subtract 0x1000000.
inline constexpr std::size_t kSampleBytes = 4;
inline constexpr int kMaxChannels = 3;

inline int32_t sample24(uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3) {
    int32_t v = s0 * 131072 + s1 * 1024 + s2 * 8 + s3;
    if (v > 0x7FFFFF) v -= 0x1000000;
    return v;
}
// v is taken as 24-bit two's complement (the caller keeps it in range).
inline void encode_sample(int32_t v, uint8_t* out) {
    const uint32_t u = static_cast<uint32_t>(v) & 0xFFFFFFu;
    out[0] = static_cast<uint8_t>((u >> 17) & 0x7F);
    out[1] = static_cast<uint8_t>((u >> 10) & 0x7F);
    out[2] = static_cast<uint8_t>((u >> 3) & 0x7F);
    out[3] = static_cast<uint8_t>(u & 0x07);
}
inline constexpr std::size_t kMaxSampleBlock = 1 + kSampleBytes * kMaxChannels;
// A whole sample block of ch values into out (kMaxSampleBlock bytes at the
// most); returns its length.
inline std::size_t encode_sample_block(bool tagged, const int32_t* values, int ch, uint8_t* out) {
    out[0] = tagged ? kTaggedSampleBlock : kSampleBlock;
    for (int c = 0; c < ch; ++c) encode_sample(values[c], out + 1 + kSampleBytes * static_cast<std::size_t>(c));
    return 1 + kSampleBytes * static_cast<std::size_t>(ch);
}

// ---- GPS block (0xA0) and its time-shift block (0xB0-0xBF) -------------------
//
//   bytes   field
//   0-75    GPS string (GpsString below)
//   76      time-shift type byte 0xB0-0xBF
//   77 78   t0 t1: count n = t0*128 + t1 (0..16383), shift n * 2.44140625 us
inline constexpr std::size_t kShiftBytes = 2;
inline constexpr int32_t kMaxShiftCount = 16383;
inline constexpr double kShiftQuantumUs = 2.44140625;  // 625/256

inline int32_t tshift_count(uint8_t t0, uint8_t t1) { return t0 * 128 + t1; }
inline double tshift_microseconds(int32_t count) { return count * kShiftQuantumUs; }
// The count of a shift in microseconds: floor(us / 2.44140625), kept
// within 0..16383 (14 bits, two data bytes of 7).
int32_t shift_count(double us);
inline void encode_shift_count(int32_t count, uint8_t* out) {
    out[0] = static_cast<uint8_t>((count >> 7) & 0x7F);
    out[1] = static_cast<uint8_t>(count & 0x7F);
}

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
// Positions [first, last] of a field of the GPS string.
struct GpsField {
    std::size_t first;
    std::size_t last;
    std::size_t width() const { return last - first + 1; }
};
inline constexpr GpsField kGpsIdentifier{1, 1};
inline constexpr GpsField kGpsTemperature{4, 8};
inline constexpr GpsField kGpsLatitude{10, 11};
inline constexpr GpsField kGpsLongitude{18, 20};
inline constexpr GpsField kGpsElevation{26, 31};
inline constexpr GpsField kGpsSource{32, 32};
inline constexpr GpsField kGpsFix{33, 33};
inline constexpr GpsField kGpsHour{43, 44};
inline constexpr GpsField kGpsMinute{45, 46};
inline constexpr GpsField kGpsSecond{47, 48};
inline constexpr GpsField kGpsDay{52, 53};
inline constexpr GpsField kGpsMonth{54, 55};
inline constexpr GpsField kGpsYear{56, 59};
inline constexpr GpsField kGpsOffset{60, 61};
inline constexpr GpsField kGpsSource2{62, 62};
inline constexpr GpsField kGpsOffsetFlag{65, 65};
inline constexpr int32_t kUsableFix = 2;  // the fix digit of a fix that counts

class GpsString {
public:
    static constexpr std::size_t kLength = 76;
    std::array<uint8_t, kLength> bytes{};

    // Reads the decimal integer of positions [first, last] in the manner of a
    // scanf "%d" limited to those characters (a NUL ends the field's text):
    // leading white space, an optional sign, digits. Leaves v unchanged and
    // returns false when the field holds no number.
    bool scan_int(std::size_t first, std::size_t last, int32_t& v) const;
    bool scan_int(GpsField f, int32_t& v) const { return scan_int(f.first, f.last, v); }
    // Reads the first word (non-white-space run) of positions [first, last];
    // returns false (word unchanged) when the field holds none.
    bool scan_word(std::size_t first, std::size_t last, std::string& word) const;
    bool scan_word(GpsField f, std::string& word) const { return scan_word(f.first, f.last, word); }
    // "%76s": the string without its NUL bytes, padded on the left to 76.
    void write(Writer& w) const;

    // The string's own date and time: a cleared broken-down time filled from
    // year (56-59) - 1900, month (54-55) - 1, day (52-53), second (47-48),
    // minute (45-46) and hour (43-44); fields without a number stay 0.
    // Returns its seconds since 1970 (UTC, before the GPS-UTC offset) and
    // leaves `own` normalised as the calendar conversion leaves it.
    int64_t own_seconds(CivilTime& own) const;
};

inline constexpr std::size_t kGpsBlockLength = 1 + GpsString::kLength + 1 + kShiftBytes;
// A whole GPS block: 0xA0, the string, the time-shift type byte and the count.
void encode_gps_block(const GpsString& s, int32_t count, uint8_t* out, uint8_t shift_type = kShiftBlock);

// The tagged sample's time in seconds since 1970: the GPS second t_new,
// plus the time shift, minus D_FILT sample periods, in this order of
// operations (the converters' outputs depend on its rounding).
inline double tag_time(int64_t t_new, double tshift_us, int32_t d_filt, int32_t s_rate) {
    return (tshift_us / 1000000.0 + static_cast<double>(t_new)) - d_filt * (1.0 / s_rate);
}

// ---- Status block (0xC0) and status run (0xCF) --------------------------------
//
//   0xC0 f v    f: overrun flag (1: the recorder lost data), v: status value
//   0xCF d...   data bytes up to the next type byte
inline constexpr int kOverrunFlag = 1;

// ---- Aux block (0xD1) ---------------------------------------------------------
//
//   byte   bits   field
//   d      6..4   record type r
//          3..0   length L, counting the type byte and d
//   then L - 2 payload bytes:
//   r = 0, 2   (L - 2) / 4 entries: unit byte u (code u & 0x7F, 1-based into
//              the unit names), value bytes a0 a1 a2 (21-bit two's complement:
//              a0 bits 20..14, a1 bits 13..7, a2 bits 6..0)
//   r = 4      L - 2 characters that close a record
//   r = 6      L - 2 characters that continue a record
//   r odd      no payload
struct AuxDescriptor {
    int type;     // record type r
    int length;   // L
    // Payload bytes a reader takes for this descriptor.
    std::size_t payload() const;
};
inline AuxDescriptor aux_descriptor(uint8_t d) { return {(d >> 4) & 7, d & 0x0F}; }
inline uint8_t encode_aux_descriptor(int type, int length) {
    return static_cast<uint8_t>(((type & 7) << 4) | (length & 0x0F));
}
inline constexpr std::size_t kAuxEntryBytes = 4;

inline int32_t aux21(uint8_t a0, uint8_t a1, uint8_t a2) {
    int32_t v = a0 * 16384 + a1 * 128 + a2;
    if (v > 0xFFFFF) v -= 0x200000;
    return v;
}
inline void encode_aux21(int32_t v, uint8_t* out) {
    const uint32_t u = static_cast<uint32_t>(v) & 0x1FFFFFu;
    out[0] = static_cast<uint8_t>((u >> 14) & 0x7F);
    out[1] = static_cast<uint8_t>((u >> 7) & 0x7F);
    out[2] = static_cast<uint8_t>(u & 0x7F);
}
// One entry: the unit byte and the value.
inline void encode_aux_entry(int unit, int32_t v, uint8_t* out) {
    out[0] = static_cast<uint8_t>(unit & 0x7F);
    encode_aux21(v, out + 1);
}

// ---- Trailer (0xE0) -------------------------------------------------------------
//
// Trailer text after the type byte: 0xF0 and 0x80 are dropped, "=", ";",
// 0xEF, CR and LF become spaces, NUL adds nothing; at most 999 characters are
// kept.
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

}  // namespace vorn
