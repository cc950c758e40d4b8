#include "axisturn.hpp"

#include <charconv>

#include "decimal.hpp"
#include "format.hpp"
#include "textparse.hpp"
#include "textlines.hpp"
#include "textparse.hpp"
#include "vorn.hpp"

namespace vorn::axisturn {

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

Exit run_axisturn(LineReader& in, Writer& out, Writer& err) {
    HeaderValues h;
    vorn::PaddedLine line;
    if (in.next(line)) read_header_line(line, h);
    write_header_line(out, h);
    // "XXX" and the channel count: kept on purpose, stored scripts expect it.
    format_to(err, "XXX %d\n", {h.CH_NUM});
    err.flush();

    const bool supported = header_supported(h);
    const int ch = supported ? h.CH_NUM : 0;
    GridLine g;
    NumberText seconds;
    while (in.next(line)) {
        if (!supported) {
            report_unsupported_header(err, program_name(), h);
            return Exit::no_useful_data;
        }
        if (!parse_grid_line(line, ch, g)) {
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        write_grid_line(out, g, ch, seconds);
    }
    return Exit::ok;
}

}  // namespace vorn::axisturn
