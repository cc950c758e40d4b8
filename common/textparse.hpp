// Integer parsing for text lines and command-line values.
//
// Sample lines are parsed strictly: each field is a whole decimal token with
// an optional sign that fits its type. Command-line values and recorder
// header values are converted in the manner of atoi.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "FieldCursor reads eight digits at a time in little-endian order"
#endif

namespace vorn {

// The C locale's white space: space, \t, \n, \v, \f, \r.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

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
    // in range); false when there is no token or it is not one. One pass over
    // the token, eight digits at a time where the line has them: this reads
    // every field of every sample line of the text stages.
    template <class T>
    bool integer(T& v) {
        static_assert(std::is_signed_v<T> && sizeof(T) <= 8);
        while (p_ != end_ && is_space(*p_)) ++p_;
        if (p_ == end_) return false;
        bool negative = false;
        if (*p_ == '+') {
            ++p_;
        } else if (*p_ == '-') {
            negative = true;
            ++p_;
        }
        const char* digits = p_;
        uint64_t acc = 0;
        while (end_ - p_ >= 8) {
            uint64_t chunk;
            std::memcpy(&chunk, p_, 8);
            const int n = leading_digits(chunk);
            if (n == 0) break;
            acc = acc * kPow10[n] + eight_digits(chunk << (8 * (8 - n)));
            p_ += n;
            if (n < 8) break;
        }
        while (p_ != end_ && static_cast<unsigned char>(*p_ - '0') < 10) {
            acc = acc * 10 + static_cast<uint64_t>(*p_ - '0');
            ++p_;
        }
        if (p_ == digits) return false;
        if (p_ != end_ && !is_space(*p_)) return false;  // the token goes on with something else
        if (p_ - digits > 19) {
            // Beyond 19 digits only leading zeros keep the value in range
            // (any 20 significant digits exceed 64 bits).
            const char* q = digits;
            while (q != p_ && *q == '0') ++q;
            if (p_ - q > 19) return false;
            acc = 0;
            for (; q != p_; ++q) acc = acc * 10 + static_cast<uint64_t>(*q - '0');
        }
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
    static constexpr uint64_t kPow10[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

    // Number of digit bytes at the start (lowest addresses) of chunk, 0..8.
    // A byte is a digit when, xor '0', its high nibble is 0 and its low
    // nibble plus 6 stays below 16. A carry out of a non-digit byte can only
    // change later bytes, so the first non-digit byte is found exactly.
    static int leading_digits(uint64_t chunk) {
        const uint64_t t = chunk ^ 0x3030303030303030ULL;
        const uint64_t bad = (t | (t + 0x0606060606060606ULL)) & 0xF0F0F0F0F0F0F0F0ULL;
        if (bad == 0) return 8;
        return __builtin_ctzll(bad) / 8;
    }
    // The value of eight digit bytes, the first at the lowest address
    // (leading NUL bytes read as zeros).
    static uint64_t eight_digits(uint64_t chunk) {
        uint64_t v = chunk & 0x0F0F0F0F0F0F0F0FULL;
        v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
        v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
        return (v * 10000 + (v >> 32)) & 0x00000000FFFFFFFFULL;
    }

    const char* p_;
    const char* end_;
};


// The value of s converted as atoi does: leading white space, an optional
// sign, decimal digits up to the first non-digit; no digits give 0. As the
// C library does, the long result saturates and is then cut to 32 bits.
int32_t atoi_like(std::string_view s);
// atof on a command-line operand (C locale).
double atof_like(const char* s);

}  // namespace vorn
