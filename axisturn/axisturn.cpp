#include "axisturn.hpp"

#include <charconv>

#include "decimal.hpp"
#include "format.hpp"
#include "textparse.hpp"
#include "textlines.hpp"
#include "textparse.hpp"
#include "vorn.hpp"

namespace vorn::axisturn {

namespace {
template <int Channels>
[[gnu::always_inline]] inline bool parse_plain_grid_line(std::string_view line, GridLine& g) {
    PlainFields p;
    if (!read_plain_fields<2 + Channels>(line, p)) return false;
    bool ok = plain_field(p, 0, g.ts2) & plain_field(p, 1, g.tmks2);
    for (int c = 0; c < Channels; ++c) ok &= plain_field(p, 2 + c, g.ampx[c]);
    return ok;
}
}  // namespace

VORN_HOT_CLONES
bool parse_grid_line(std::string_view line, int channels, GridLine& g, std::size_t readable_after) {
    if (line.size() + readable_after >= kPlainSpan) {
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

void write_grid_line(Writer& out, const GridLine& g, int channels, NumberText& seconds) {
    // Built in place: 20 + 11 characters of time, 11 per value, spaces, and
    // scratch behind the last number.
    char* p = out.room(96);
    p = seconds.put(p, g.ts2);
    *p++ = ' ';
    p = put_int(p, g.tmks2);
    *p++ = ' ';
    for (int c = 0; c < channels && c < 3; ++c) {
        p = put_int(p, g.ampx[c]);
        *p++ = ' ';
    }
    *p++ = '\n';
    out.advance(p);
}

AxisturnExit run_axisturn(LineReader& in, Writer& out, Writer& err) {
    HeaderValues h;
    std::string_view line;
    if (in.next(line)) read_header_line(line, h);
    write_header_line(out, h);
    format_to(err, "XXX %d\n", {h.CH_NUM});
    err.flush();

    const bool supported = header_supported(h);
    const int ch = supported ? h.CH_NUM : 0;
    GridLine g;
    NumberText seconds;
    while (in.next(line)) {
        if (!supported) {
            report_unsupported_header(err, program_name(), h);
            return AxisturnExit::unsupported_header;
        }
        if (!parse_grid_line(line, ch, g, LineReader::kPadding)) {
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        write_grid_line(out, g, ch, seconds);
    }
    return AxisturnExit::ok;
}

}  // namespace vorn::axisturn
