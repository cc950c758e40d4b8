#include "blocks.hpp"

#include <cmath>
#include <cstring>

#include "textparse.hpp"

namespace vorn {

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
    scan_int(kGpsYear, year);
    scan_int(kGpsMonth, mon);
    scan_int(kGpsDay, mday);
    scan_int(kGpsSecond, sec);
    scan_int(kGpsMinute, min);
    scan_int(kGpsHour, hour);
    own = CivilTime{};
    own.tm_year = int64_t{year} - 1900;
    own.tm_mon = int64_t{mon} - 1;
    own.tm_mday = mday;
    own.tm_hour = hour;
    own.tm_min = min;
    own.tm_sec = sec;
    return utc_mktime(own);
}

int32_t shift_count(double us) {
    if (!(us > 0.0)) return 0;
    const double c = std::floor(us / kShiftQuantumUs);
    if (c > kMaxShiftCount) return kMaxShiftCount;
    return static_cast<int32_t>(c);
}

void encode_gps_block(const GpsString& s, int32_t count, uint8_t* out, uint8_t shift_type) {
    out[0] = kGpsBlock;
    std::memcpy(out + 1, s.bytes.data(), GpsString::kLength);
    out[1 + GpsString::kLength] = shift_type;
    encode_shift_count(count, out + 2 + GpsString::kLength);
}

std::size_t AuxDescriptor::payload() const {
    // A length below 2 cannot hold the type byte and the descriptor: such a
    // block has no payload.
    if (length < 2) return 0;
    const auto n = static_cast<std::size_t>(length - 2);
    switch (type) {
        case 0:
        case 2: return n / kAuxEntryBytes * kAuxEntryBytes;
        case 4:
        case 6: return n;
        default: return 0;
    }
}

void TrailerText::add(uint8_t b) {
    if (b == kFillByte || b == kSampleBlock || b == 0) return;
    char c = static_cast<char>(b);
    if (c == '=' || c == ';' || b == kFileEnd || c == '\r' || c == '\n') c = ' ';
    if (len_ < kMaxLength) text_[len_++] = c;
}

}  // namespace vorn
