// The last stage of the text chain: takes the rotation value of the
// components on its command line, reports it and the channel count, and
// passes the grid stream on with its values unchanged.
#pragma once

#include <cstdint>
#include <string_view>

#include "decimal.hpp"
#include "io.hpp"
#include "program.hpp"
#include "textlines.hpp"

namespace vorn::axisturn {

enum class AxisturnExit : int {
    ok = static_cast<int>(ExitStatus::ok),
    // sample lines under a header without 1..3 channels or a positive rate
    unsupported_header = static_cast<int>(ExitStatus::no_useful_data),
    // standard output cannot be written (reported by the writer itself)
    write_failed = static_cast<int>(ExitStatus::fatal),
};

// The grid line and its parser are shared with the other readers of the
// grid (common/textlines).
using vorn::GridLine;
using vorn::parse_grid_line;

// "%ld %ld " seconds and microseconds, "%d " per value, line feed.
// seconds keeps the text of the last whole second between lines.
void write_grid_line(Writer& out, const GridLine& g, int channels, NumberText& seconds);
inline void write_grid_line(Writer& out, const GridLine& g, int channels) {
    NumberText seconds;
    write_grid_line(out, g, channels, seconds);
}

// The whole run after the options: header line, "XXX %d\n" with CH_NUM on
// err, then every sample line.
AxisturnExit run_axisturn(LineReader& in, Writer& out, Writer& err);

}  // namespace vorn::axisturn
