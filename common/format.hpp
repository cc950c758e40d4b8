// printf-style formatting into a Writer, for messages and rare lines.
//
// The message texts of the toolchain are kept in their printf form so that
// they can be read against the recorder documentation word for word. The hot
// paths (sample lines) call the Writer directly instead.
//
// Supported conversions: %% %c %s %d %i %ld %lld with an optional '0' flag,
// '-' flag and width, and %f / %lf with an optional precision (default 6).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <type_traits>

#include "io.hpp"

namespace vorn {

class FmtArg {
public:
    enum class Kind { integer, real, text, character };

    template <class T>
        requires std::is_integral_v<T> && (!std::is_same_v<T, char>) && (!std::is_same_v<T, bool>)
    FmtArg(T v) : kind_(Kind::integer), i_(static_cast<int64_t>(v)) {}
    FmtArg(char c) : kind_(Kind::character), i_(static_cast<unsigned char>(c)) {}
    FmtArg(double d) : kind_(Kind::real), d_(d) {}
    FmtArg(std::string_view s) : kind_(Kind::text), s_(s) {}
    FmtArg(const char* s) : kind_(Kind::text), s_(s) {}

    Kind kind() const { return kind_; }
    int64_t integer() const { return i_; }
    double real() const { return d_; }
    std::string_view text() const { return s_; }

private:
    Kind kind_;
    int64_t i_ = 0;
    double d_ = 0.0;
    std::string_view s_;
};

// Writes fmt with args to w. A conversion whose argument is missing or of
// another kind writes what it can (integers and characters convert to each
// other; anything else writes nothing).
void format_to(Writer& w, std::string_view fmt, std::initializer_list<FmtArg> args = {});

}  // namespace vorn
