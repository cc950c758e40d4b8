#include "recorder.hpp"

#include "textparse.hpp"

namespace vorn {

HeaderTokens::HeaderTokens() = default;

void HeaderTokens::clear() {
    for (std::string& t : tokens_) t.clear();
    separators_ = 0;
}

void HeaderTokens::add(char c) {
    if (c == '\0') return;
    if (separators_ >= static_cast<int64_t>(kMaxTokens)) return;
    std::string& t = tokens_[static_cast<std::size_t>(separators_)];
    if (t.size() < kMaxTokenLength) t.push_back(c);
}

void HeaderTokens::separator() { ++separators_; }

std::string_view HeaderTokens::token(int64_t k) const {
    if (k < 0 || k >= static_cast<int64_t>(kMaxTokens)) return {};
    return tokens_[static_cast<std::size_t>(k)];
}

bool header_byte(HeaderTokens& tokens, uint8_t b) {
    if (b == kFillByte) return false;
    if (b == 0x80 || b == 0xC0 || b == 0xCF) return true;
    char c = static_cast<char>(b);
    if (c == ' ') c = '_';
    if (c == '=' || c == ';') tokens.separator();
    else tokens.add(c);
    return is_type_byte(b);
}

}  // namespace vorn
