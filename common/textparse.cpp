#include "textparse.hpp"

#include <climits>

namespace vorn {

int32_t atoi_like(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && is_space(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    // strtol accumulates in a long and saturates at its limits.
    // The limit is checked before each step, so the sum never wraps.
    const uint64_t limit = static_cast<uint64_t>(LONG_MAX) + (negative ? 1u : 0u);
    uint64_t mag = 0;
    bool over = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (!over) {
            const uint64_t d = static_cast<uint64_t>(s[i] - '0');
            if (mag > (limit - d) / 10) over = true;
            else mag = mag * 10 + d;
        }
    }
    int64_t v;
    if (over) v = negative ? LONG_MIN : LONG_MAX;
    else v = negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    // atoi returns the long cut to int.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

}  // namespace vorn
