// Integer parsing for text lines and command-line values.
//
// Sample lines are parsed strictly: each field is a whole decimal token with
// an optional sign that fits its type. Command-line values and recorder
// header values are converted in the manner of atoi.
#pragma once

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vorn {

// The C locale's white space: space, \t, \n, \v, \f, \r.
inline bool is_space(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

// Word-at-a-time digit reading: eight characters at once, first character
// in the lowest byte.
namespace digits8 {
inline uint64_t load(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// The value of the n digits at p, n 1..8.
inline uint64_t value(const char* p, std::size_t n) {
    uint64_t v = load(p) << (8 * (8 - n));  // the digits to the top, zeros before them
    v = ((v & 0x0F0F0F0F0F0F0F0Fu) * 2561) >> 8;
    v = ((v & 0x00FF00FF00FF00FFu) * 6553601) >> 16;
    return ((v & 0x0000FFFF0000FFFFu) * 42949672960001u) >> 32;
}
}  // namespace digits8

// The leading fields of a plain line, read all at once: a line whose first
// kPlainSpan bytes (or all its bytes, if fewer) are only digits, spaces and
// minus signs, as nearly every line of the text record stream is. The caller
// must be able to read kPlainSpan bytes from the line's start (a PaddedLine
// can be read so). read_plain_fields gives the magnitude and sign of
// each of the first Count fields, or false when the line is not plain, has
// fewer fields, or a field is not a minus sign and 1 to 16 digits; the line
// is then read field by field, which gives the exact verdict.
inline constexpr std::size_t kPlainSpan = 64;
// How far from a line's start the plain reading may read: a field that ends
// in the first kPlainSpan bytes is loaded eight bytes from its first digit,
// so a one-digit field at byte 63 reaches byte 70.
inline constexpr std::size_t kPlainReach = kPlainSpan + 7;
struct PlainFields {
    uint64_t magnitude[8];
    uint32_t negative;  // bit k: field k has a minus sign
};

#if defined(__SSE2__)
namespace plain {
// One bit per byte of the 16 at p: digits, spaces, minus signs.
struct Masks {
    uint64_t digit = 0;
    uint64_t space = 0;
    uint64_t minus = 0;
};
[[gnu::always_inline]] inline void add_block(Masks& m, const char* p, int shift) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i d = _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(x, _mm_set1_epi8('9' + 1)));
    const auto bits = [shift](__m128i v) {
        return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(v))) << shift;
    };
    m.digit |= bits(d);
    m.space |= bits(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')));
    m.minus |= bits(_mm_cmpeq_epi8(x, _mm_set1_epi8('-')));
}

// The masks hold one bit per byte: byte i of the line is bit i (the first
// byte is the lowest bit). Drawn below with the first byte on the left, so
// "<< 1" moves every mark one byte on (onto the following byte) and ">> 1"
// one byte back:
//
//   line      - 1 2   3 4 5   - 6      ("-12 345 -6", bytes past its end
//   byte      0 1 2 3 4 5 6 7 8 9       are cut off by in_line)
//   digit     0 1 1 0 1 1 1 0 0 1
//   space     0 0 0 1 0 0 0 1 0 0
//   minus     1 0 0 0 0 0 0 0 1 0
//   in_line   1 1 1 1 1 1 1 1 1 1      (then zeros up to bit 63)
//   starts    0 1 0 0 1 0 0 0 0 1      digit & ~(digit << 1): a field's first digit
//   lasts     0 0 1 0 0 0 1 0 0 1      digit & ~(digit >> 1): a field's last digit
//   signs     0 1 0 0 0 0 0 0 0 1      minus << 1: the field starting here is negative
//
// A line is plain by two rules on these masks. Rule one: every byte of the
// line is a digit, a space or a minus sign. Rule two: every minus sign
// stands right before a field's first digit (starts >> 1 marks the byte
// before each start) and right after neither a digit nor another minus
// sign; so each field is a run of digits with one minus sign just before it
// or none. (Named conditions in read_plain_fields rather than functions:
// the compiler then keeps the order of tests it has for the bare
// expressions, which is the fastest.)
}  // namespace plain
#endif

template <int Count>
[[gnu::always_inline]] inline bool read_plain_fields(std::string_view line, PlainFields& f) {
    static_assert(Count >= 1 && Count <= 8);
#if defined(__SSE2__)
    static_assert(kPlainSpan == 64);
    if constexpr (std::endian::native != std::endian::little) return false;
    const char* const b = line.data();
    const std::size_t size = line.size();
    plain::Masks m;
    plain::add_block(m, b, 0);
    plain::add_block(m, b + 16, 16);
    plain::add_block(m, b + 32, 32);
    if (size > 48) plain::add_block(m, b + 48, 48);
    const uint64_t in_line = size >= 64 ? ~uint64_t{0} : (uint64_t{1} << size) - 1;
    // Rule one (both rules are drawn with the masks above).
    const bool stray_bytes = ((m.digit | m.space | m.minus) & in_line) != in_line;
    if (stray_bytes) return false;
    const uint64_t digit = m.digit & in_line;
    const uint64_t minus = m.minus & in_line;
    uint64_t starts = digit & ~(digit << 1);
    uint64_t lasts = digit & ~(digit >> 1);
    // Rule two.
    const bool sign_not_before_a_field = (minus & ~(starts >> 1)) != 0;
    const bool sign_after_digit_or_sign = (minus & ((minus | digit) << 1)) != 0;
    if (sign_not_before_a_field || sign_after_digit_or_sign) return false;
    // A run that reaches the 64th byte may go on beyond it.
    if (size > 64) lasts &= ~(uint64_t{1} << 63);
    const uint64_t signs = minus << 1;  // bit s: the field at s has a sign
    uint32_t negative = 0;
#pragma GCC unroll 8
    for (int k = 0; k < Count; ++k) {
        if (lasts == 0) return false;  // (a start lies before every last)
        const int s = __builtin_ctzll(starts);
        const int e = __builtin_ctzll(lasts);
        starts &= starts - 1;
        lasts &= lasts - 1;
        negative |= static_cast<uint32_t>((signs >> s) & 1u) << k;
        const char* const p = b + s;
        const std::size_t n = static_cast<std::size_t>(e + 1 - s);
        if (n <= 8) {
            f.magnitude[k] = digits8::value(p, n);
        } else {
            if (n > 16) return false;
            f.magnitude[k] = digits8::value(p, n - 8) * 100000000u + digits8::value(p + n - 8, 8);
        }
    }
    f.negative = negative;
    return true;
#else
    (void)line;
    (void)f;
    return false;
#endif
}

// The field k of f as a T, false when it does not fit. No branch on the
// sign: signs of measured values change at random.
template <class T>
[[gnu::always_inline]] inline bool plain_field(const PlainFields& f, int k, T& v) {
    static_assert(std::is_signed_v<T> && sizeof(T) <= 8);
    using U = std::make_unsigned_t<T>;
    const uint64_t max = static_cast<uint64_t>(std::numeric_limits<T>::max());
    const uint64_t mag = f.magnitude[k];
    const uint64_t negative = (f.negative >> k) & 1u;
    v = static_cast<T>(static_cast<U>((mag ^ (0 - negative)) + negative));
    return mag <= max + negative;
}

// Walks the whitespace-separated tokens of one line.
class FieldCursor {
public:
    explicit FieldCursor(std::string_view line) : p_(line.data()), end_(line.data() + line.size()) {}

    // The next token, or false when the line has no more.
    bool token(std::string_view& tok) {
        while (p_ != end_ && is_space(*p_)) ++p_;
        if (p_ == end_) return false;
        const char* b = p_;
        while (p_ != end_ && !is_space(*p_)) ++p_;
        tok = std::string_view(b, static_cast<std::size_t>(p_ - b));
        return true;
    }
    // The next token as a whole decimal integer of type T ([+-]?[0-9]+,
    // in range); false when there is no token or it is not one. One pass
    // over the token: this reads every field of every sample line of the
    // text stages.
    template <class T>
    [[gnu::always_inline]] bool integer(T& v) {
        static_assert(std::is_signed_v<T> && sizeof(T) <= 8);
        const char* p = p_;
        const char* const end = end_;
        while (p != end && is_space(*p)) ++p;
        if (p == end) {
            p_ = p;
            return false;
        }
        bool negative = false;
        if (*p == '-') {
            negative = true;
            ++p;
        } else if (*p == '+') {
            ++p;
        }
        const char* const digits = p;
        uint64_t acc = 0;  // exact for up to nineteen digits
        for (; p != end; ++p) {
            const unsigned d = static_cast<unsigned char>(*p) - 48u;
            if (d > 9) break;
            acc = acc * 10 + d;
        }
        if (p - digits > 19) {
            // More than nineteen digits: only leading zeros keep it in range.
            const char* q = digits;
            while (q != p && *q == '0') ++q;
            if (p - q > 19) {  // twenty significant digits exceed 64 bits
                p_ = p;
                return false;
            }
            acc = 0;
            for (; q != p; ++q) acc = acc * 10 + (static_cast<unsigned char>(*q) - 48u);
        }
        p_ = p;
        if (p == digits) return false;
        if (p != end && !is_space(*p)) return false;  // the token goes on with something else
        using U = std::make_unsigned_t<T>;
        const uint64_t max = static_cast<uint64_t>(std::numeric_limits<T>::max());
        if (negative) {
            if (acc > max + 1) return false;
            v = static_cast<T>(static_cast<U>(0) - static_cast<U>(acc));
        } else {
            if (acc > max) return false;
            v = static_cast<T>(acc);
        }
        return true;
    }

    // The token tok as a whole decimal integer of type T (the same verdicts
    // as integer()).
    template <class T>
    static bool parse_integer(std::string_view tok, T& v) {
        const char* b = tok.data();
        const char* e = b + tok.size();
        if (b != e && *b == '+') {
            ++b;
            if (b != e && *b == '-') return false;
        }
        if (b == e) return false;
        auto [ptr, ec] = std::from_chars(b, e, v);
        return ec == std::errc() && ptr == e;
    }

private:
    const char* p_;
    const char* end_;
};


// The value of s converted as atoi does: leading white space, an optional
// sign, decimal digits up to the first non-digit; no digits give 0. As the
// C library does, the long result saturates and is then cut to 32 bits.
int32_t atoi_like(std::string_view s);

}  // namespace vorn
