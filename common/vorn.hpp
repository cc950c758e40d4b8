// The recorder's header tags that every program shares: the 26 tags in
// canonical order, their values, the header line, BOS, EOS and error lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io.hpp"

namespace vorn {

// A text tag value: at most 99 characters (a 100-byte buffer with its
// terminator). Starts as ".".
class TextTag {
public:
    static constexpr std::size_t capacity = 99;
    TextTag() { set("."); }
    // Keeps the first 99 characters of v.
    void set(std::string_view v);
    std::string_view view() const { return {text_, len_}; }

private:
    char text_[capacity + 1] = {};
    std::size_t len_ = 0;
};

// The 26 header values, named after their tags, in canonical order.
struct HeaderValues {
    TextTag ZOLT_V;
    TextTag DEV_NO;
    TextTag E_NAME;
    int32_t P_AMPL = -1;
    int32_t CH_NUM = -1;
    int32_t S_RATE = -1;
    int32_t D_FILT = -1;
    int32_t C_MODE = -1;
    int32_t A_CHOP = -1;
    int32_t F_TIME = -1;
    int32_t GPS_TI = -1;
    int32_t GPS_OF = -1;
    int32_t A_FILT = -1;
    int32_t A_PHAS = -1;
    int32_t GPS_ON = -1;
    int32_t ACQ_ON = -1;
    int32_t PLL_XO = -1;
    int32_t AQ_MOD = -1;
    int32_t V_TCXO = -1;
    TextTag GPS_PO;
    TextTag S_TIME;
    TextTag S_DATE;
    int32_t D_VOLT = -1;
    int32_t E_VOLT = -1;
    int32_t B_VOLT = -1;
    TextTag DAT_NO;
};

enum class TagKind { text, integer };

struct TagInfo {
    std::string_view name;
    TagKind kind;
    TextTag HeaderValues::*text;      // for text tags
    int32_t HeaderValues::*integer;   // for integer tags
};

inline constexpr std::size_t kTagCount = 26;
// The tags in canonical order.
extern const std::array<TagInfo, kTagCount> kTags;
// The tag of that exact name (case matters), or nullptr.
const TagInfo* find_tag(std::string_view name);

// Sets the tag of that name from a recorder header value token: text tags
// take the token (first 99 characters), integer tags its atoi value. A name
// that is no tag is ignored.
void assign_tag(HeaderValues& h, std::string_view name, std::string_view value);

// Header line: the 26 values with
// "%s %s %s %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %s %s %s %d %d %d %s\n".
void write_header_line(Writer& w, const HeaderValues& h);
// "BOS: " and the header line.
void write_bos_line(Writer& w, const HeaderValues& h);
// "EOS: %s\n" with the trailer text.
void write_eos_line(Writer& w, std::string_view trailer);
// "-1 ", "0 " per channel, "0 0\n".
void write_error_line(Writer& w, int32_t ch_num);

// Reads a header line (without its line feed) in the scanf manner: fields are
// whitespace-separated tokens in canonical order; a text field takes one
// token (its first 99 characters); an integer field reads an optional sign
// and digits (the rest of the token is left for the next field). The parse
// stops at the first field it cannot read and leaves the later tags as they
// were. Returns the number of fields read.
int read_header_line(std::string_view line, HeaderValues& h);

}  // namespace vorn
