// Splitting and joining the text that a program wrote, for the tests.
#pragma once

#include <string>
#include <vector>

namespace vorn::testing {

// The lines of s without their line feeds (a last line without one counts).
inline std::vector<std::string> split_lines(const std::string& s) {
    std::vector<std::string> v;
    std::size_t b = 0;
    while (b < s.size()) {
        std::size_t e = s.find('\n', b);
        if (e == std::string::npos) e = s.size();
        v.push_back(s.substr(b, e - b));
        b = e + 1;
    }
    return v;
}

inline std::string join_lines(const std::vector<std::string>& v, bool final_newline) {
    std::string s;
    for (std::size_t i = 0; i < v.size(); ++i) {
        s += v[i];
        if (i + 1 < v.size() || final_newline) s += '\n';
    }
    return s;
}

}  // namespace vorn::testing
