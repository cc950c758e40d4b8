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


namespace vorn {

// The C locale's white space: space, \t, \n, \v, \f, \r.
inline bool is_space(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

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
            while (*q == '0') ++q;
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
// atof on a command-line operand (C locale).
double atof_like(const char* s);

}  // namespace vorn
