// The checks on a converter's output: no line beyond the longest the format
// allows, and with -a (and sample lines) every sample number once and in
// order.
#pragma once

#include <charconv>
#include <string_view>

#include "harness.hpp"

namespace vorn::fuzz {

// A converter line: a sample line with a date, a GPS-string line (76
// characters and its counts) or a diagnostic line; 400 bytes hold any.
inline constexpr std::size_t kMaxConverterLine = 400;

inline void check_converter_output(std::string_view out, bool numbers_in_order) {
    bool first = true;
    bool have_last = false;
    int64_t last = 0;
    for_each_line(out, [&](std::string_view line) {
        if (first) {
            first = false;
            if (line.size() > kMaxHeaderLine) broken("header line too long", line);
            return;
        }
        if (line.size() > kMaxConverterLine) broken("line too long", line);
        if (!numbers_in_order) return;
        int64_t n = 0;
        const auto r = std::from_chars(line.data(), line.data() + line.size(), n);
        if (r.ec != std::errc() || n < 0) return;  // the error line, or not a sample line
        if (have_last && n <= last) broken("sample number not after the one before", line);
        have_last = true;
        last = n;
    });
}

}  // namespace vorn::fuzz
