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

void TrailerText::add(uint8_t b) {
    if (b == 0xF0 || b == 0x80 || b == 0) return;
    char c = static_cast<char>(b);
    if (c == '=' || c == ';' || b == 0xEF || c == '\r' || c == '\n') c = ' ';
    if (len_ < kMaxLength) text_[len_++] = c;
}

namespace {
// The field's characters up to its end or a NUL.
std::string_view field_text(const std::array<uint8_t, GpsString::kLength>& s, std::size_t first, std::size_t last) {
    if (first >= s.size()) return {};
    if (last >= s.size()) last = s.size() - 1;
    std::size_t n = 0;
    while (first + n <= last && s[first + n] != 0) ++n;
    return {reinterpret_cast<const char*>(s.data() + first), n};
}
}  // namespace

bool GpsString::scan_int(std::size_t first, std::size_t last, int32_t& v) const {
    std::string_view f = field_text(bytes, first, last);
    std::size_t i = 0;
    while (i < f.size() && is_space(f[i])) ++i;
    std::size_t b = i;
    if (i < f.size() && (f[i] == '+' || f[i] == '-')) ++i;
    std::size_t digits = i;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') ++i;
    if (i == digits) return false;
    v = atoi_like(f.substr(b, i - b));
    return true;
}

bool GpsString::scan_word(std::size_t first, std::size_t last, std::string& word) const {
    std::string_view f = field_text(bytes, first, last);
    std::size_t i = 0;
    while (i < f.size() && is_space(f[i])) ++i;
    std::size_t b = i;
    while (i < f.size() && !is_space(f[i])) ++i;
    if (i == b) return false;
    word.assign(f.substr(b, i - b));
    return true;
}

void GpsString::write(Writer& w) const {
    std::size_t n = 0;
    for (uint8_t b : bytes)
        if (b != 0) ++n;
    for (std::size_t i = n; i < kLength; ++i) w.put(' ');
    for (uint8_t b : bytes)
        if (b != 0) w.put(static_cast<char>(b));
}

int64_t GpsString::own_seconds(CivilTime& own) const {
    int32_t year = 0, mon = 0, mday = 0, hour = 0, min = 0, sec = 0;
    scan_int(56, 59, year);
    scan_int(54, 55, mon);
    scan_int(52, 53, mday);
    scan_int(47, 48, sec);
    scan_int(45, 46, min);
    scan_int(43, 44, hour);
    own = CivilTime{};
    own.tm_year = int64_t{year} - 1900;
    own.tm_mon = int64_t{mon} - 1;
    own.tm_mday = mday;
    own.tm_hour = hour;
    own.tm_min = min;
    own.tm_sec = sec;
    return utc_mktime(own);
}

}  // namespace vorn
