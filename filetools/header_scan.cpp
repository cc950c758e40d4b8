#include "header_scan.hpp"

#include <algorithm>
#include <string_view>

#include "textparse.hpp"

namespace vorn::filetools {

HeaderScan scan_header(ByteReader& in, HeaderTokens& tokens, uint8_t& type_byte, Writer* echo) {
    for (;;) {
        int c = in.get();
        if (c < 0) return HeaderScan::no_header;
        uint8_t b = static_cast<uint8_t>(c);
        if (echo != nullptr) echo->put(b == ' ' ? '_' : static_cast<char>(b));
        if (header_byte(tokens, b)) {
            type_byte = b;
            return HeaderScan::ended;
        }
    }
}

int32_t find_fileno(const HeaderTokens& tokens, int32_t none) {
    // Pairs k = 0 .. separators/2; only the first 100 tokens are kept, so
    // names from token 100 on are empty and cannot match.
    constexpr int64_t last_kept_pair = (static_cast<int64_t>(HeaderTokens::kMaxTokens) - 1) / 2;
    int64_t last_pair = std::min(tokens.separators() / 2, last_kept_pair);
    int32_t fileno = none;
    for (int64_t k = 0; k <= last_pair; ++k) {
        if (tokens.token(2 * k) == std::string_view("DAT_NO")) fileno = atoi_like(tokens.token(2 * k + 1));
    }
    return fileno;
}

}  // namespace vorn::filetools
