#include "vorn.hpp"

#include "textparse.hpp"

namespace vorn {

void TextTag::set(std::string_view v) {
    len_ = v.size() < capacity ? v.size() : capacity;
    for (std::size_t i = 0; i < len_; ++i) text_[i] = v[i];
    text_[len_] = '\0';
}

#define VORN_TEXT_TAG(name) TagInfo{#name, TagKind::text, &HeaderValues::name, nullptr}
#define VORN_INT_TAG(name) TagInfo{#name, TagKind::integer, nullptr, &HeaderValues::name}

const std::array<TagInfo, kTagCount> kTags = {{
    VORN_TEXT_TAG(ZOLT_V), VORN_TEXT_TAG(DEV_NO), VORN_TEXT_TAG(E_NAME),
    VORN_INT_TAG(P_AMPL),  VORN_INT_TAG(CH_NUM),  VORN_INT_TAG(S_RATE),  VORN_INT_TAG(D_FILT),
    VORN_INT_TAG(C_MODE),  VORN_INT_TAG(A_CHOP),  VORN_INT_TAG(F_TIME),  VORN_INT_TAG(GPS_TI),
    VORN_INT_TAG(GPS_OF),  VORN_INT_TAG(A_FILT),  VORN_INT_TAG(A_PHAS),  VORN_INT_TAG(GPS_ON),
    VORN_INT_TAG(ACQ_ON),  VORN_INT_TAG(PLL_XO),  VORN_INT_TAG(AQ_MOD),  VORN_INT_TAG(V_TCXO),
    VORN_TEXT_TAG(GPS_PO), VORN_TEXT_TAG(S_TIME), VORN_TEXT_TAG(S_DATE),
    VORN_INT_TAG(D_VOLT),  VORN_INT_TAG(E_VOLT),  VORN_INT_TAG(B_VOLT),
    VORN_TEXT_TAG(DAT_NO),
}};

#undef VORN_TEXT_TAG
#undef VORN_INT_TAG

const TagInfo* find_tag(std::string_view name) {
    for (const TagInfo& t : kTags)
        if (t.name == name) return &t;
    return nullptr;
}

void assign_tag(HeaderValues& h, std::string_view name, std::string_view value) {
    const TagInfo* t = find_tag(name);
    if (t == nullptr) return;
    if (t->kind == TagKind::text) (h.*(t->text)).set(value);
    else h.*(t->integer) = atoi_like(value);
}

namespace {
// A recorder header may carry line feeds, tabs or carriage returns inside a
// value (they belong to the token). Written as they are, they would break
// the header line in two or shift its fields for every reader, which takes
// whitespace-separated fields; they are written as "_", as the recorder's
// spaces are.
void put_header_text(Writer& w, std::string_view v) {
    for (char c : v) {
        const bool white = c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
        w.put(white ? '_' : c);
    }
}
}  // namespace

void write_header_line(Writer& w, const HeaderValues& h) {
    for (std::size_t i = 0; i < kTagCount; ++i) {
        if (i > 0) w.put(' ');
        const TagInfo& t = kTags[i];
        if (t.kind == TagKind::text) put_header_text(w, (h.*(t.text)).view());
        else w.num(h.*(t.integer));
    }
    w.put('\n');
}

void write_bos_line(Writer& w, const HeaderValues& h) {
    w.put("BOS: ");
    write_header_line(w, h);
}

void write_eos_line(Writer& w, std::string_view trailer) {
    w.put("EOS: ");
    w.put(trailer);
    w.put('\n');
}

void write_error_line(Writer& w, int32_t ch_num) {
    w.put("-1 ");
    for (int32_t c = 0; c < ch_num; ++c) w.put("0 ");
    w.put("0 0\n");
}

int read_header_line(std::string_view line, HeaderValues& h) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    int fields = 0;
    for (const TagInfo& t : kTags) {
        while (i < n && is_space(line[i])) ++i;
        if (i == n) break;
        if (t.kind == TagKind::text) {
            std::size_t b = i;
            while (i < n && !is_space(line[i])) ++i;
            (h.*(t.text)).set(line.substr(b, i - b));
        } else {
            std::size_t b = i;
            if (i < n && (line[i] == '+' || line[i] == '-')) ++i;
            std::size_t digits = i;
            while (i < n && line[i] >= '0' && line[i] <= '9') ++i;
            if (i == digits) break;  // no number: the parse stops here
            h.*(t.integer) = atoi_like(line.substr(b, i - b));
        }
        ++fields;
    }
    return fields;
}

}  // namespace vorn
