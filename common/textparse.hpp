// Integer parsing for text lines and command-line values.
//
// Sample lines are parsed strictly: each field is a whole decimal token with
// an optional sign that fits its type. Command-line values and recorder
// header values are converted in the manner of atoi.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

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
    // in range); false when there is no token or it is not one.
    template <class T>
    bool integer(T& v) {
        std::string_view tok;
        return token(tok) && parse_integer(tok, v);
    }

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
