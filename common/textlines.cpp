#include "textlines.hpp"

#include "cpu.hpp"

namespace vorn {

// The plain reading reads kPlainSpan bytes from a line's start and each
// field eight bytes from its first digit: a padded line allows both whatever
// its length (a field starts before the line's end). A bare line needs
// kPlainReach bytes of its own.
static_assert(PaddedLine::kPadding >= kPlainSpan && PaddedLine::kPadding >= kPlainReach - kPlainSpan);

namespace {
// padded: kPlainReach bytes can be read from the line's start, whatever its
// length; a bare line only when it holds them itself.
[[gnu::always_inline]] inline bool sample_line(std::string_view line, bool padded, int ch, SampleLine& s) {
    if (padded || line.size() >= kPlainReach) {
        // A number that does not fit goes the field-by-field way too, which
        // stops where it does.
        switch (ch) {
        case 1: if (parse_plain_sample_line<1>(line, s)) return true; break;
        case 2: if (parse_plain_sample_line<2>(line, s)) return true; break;
        case 3: if (parse_plain_sample_line<3>(line, s)) return true; break;
        default: break;
        }
    }
    FieldCursor f(line);
    if (!f.integer(s.n)) return false;
    for (int c = 0; c < ch; ++c)
        if (!f.integer(s.v[c])) return false;
    return f.integer(s.sec) && f.integer(s.usec);
}

template <int Channels>
[[gnu::always_inline]] inline bool parse_plain_grid_line(std::string_view line, GridLine& g) {
    PlainFields p;
    if (!read_plain_fields<2 + Channels>(line, p)) return false;
    bool ok = plain_field(p, 0, g.ts2) & plain_field(p, 1, g.tmks2);
    for (int c = 0; c < Channels; ++c) ok &= plain_field(p, 2 + c, g.ampx[c]);
    return ok;
}

[[gnu::always_inline]] inline bool grid_line(std::string_view line, bool padded, int channels, GridLine& g) {
    if (padded || line.size() >= kPlainReach) {
        switch (channels) {
        case 1: if (parse_plain_grid_line<1>(line, g)) return true; break;
        case 2: if (parse_plain_grid_line<2>(line, g)) return true; break;
        case 3: if (parse_plain_grid_line<3>(line, g)) return true; break;
        default: break;
        }
    }
    FieldCursor f(line);
    if (!f.integer(g.ts2) || !f.integer(g.tmks2)) return false;
    for (int c = 0; c < channels; ++c)
        if (!f.integer(g.ampx[c])) return false;
    return true;
}
}  // namespace

// Every text stage reads every line here: on processors with AVX2 and BMI2
// it runs as code built for them (the same results, fewer instructions;
// see cpu.hpp).
VORN_HOT_CLONES
bool parse_sample_line(PaddedLine line, int ch, SampleLine& s) { return sample_line(line, true, ch, s); }
VORN_HOT_CLONES
bool parse_sample_line(std::string_view line, int ch, SampleLine& s) { return sample_line(line, false, ch, s); }
VORN_HOT_CLONES
bool parse_grid_line(PaddedLine line, int channels, GridLine& g) { return grid_line(line, true, channels, g); }
VORN_HOT_CLONES
bool parse_grid_line(std::string_view line, int channels, GridLine& g) { return grid_line(line, false, channels, g); }

bool header_supported(const HeaderValues& h, int64_t max_rate) {
    return h.CH_NUM >= 1 && h.CH_NUM <= 3 && h.S_RATE > 0 && h.S_RATE <= max_rate;
}

void report_unsupported_header(Writer& err, std::string_view program, const HeaderValues& h) {
    format_to(err, "%s ERROR: unsupported header: CH_NUM %d S_RATE %d\n", {program, h.CH_NUM, h.S_RATE});
    err.flush();
}

void warn_malformed_line(Writer& err, int64_t line_number, std::string_view line) {
    format_to(err, "Warning: skipping malformed line %ld: %s\n", {line_number, line});
    err.flush();
}

void pass_error_line(Writer& out, Writer& err, std::string_view program, int32_t ch_num, std::string_view stage) {
    write_error_line(out, ch_num);
    format_to(err, "%s ERROR: No useful data in %s!\n", {program, stage});
    err.flush();
}

}  // namespace vorn
