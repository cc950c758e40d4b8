// grid2mseed: the grid of regrid or axisturn into miniSEED 2.4 records, on
// standard output, into a file, or into an SDS archive of day files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive.hpp"
#include "cmdline.hpp"
#include "io.hpp"
#include "packer.hpp"
#include "program.hpp"
#include "textlines.hpp"
#include "vorn.hpp"

namespace vorn::grid2mseed {

enum class Grid2mseedExit : int {
    ok = static_cast<int>(ExitStatus::ok),
    // a bad option or code
    usage = static_cast<int>(ExitStatus::usage),
    // the error line met (after the records so far), or an unsupported header
    no_useful_data = static_cast<int>(ExitStatus::no_useful_data),
    // output that cannot be created or written, data that a day file holds already
    fatal = static_cast<int>(ExitStatus::fatal),
};

// The highest S_RATE whose grid step (1,000,000 / S_RATE us, whole
// microseconds) gives a rate that a record header can hold (32767 Hz).
inline constexpr int32_t kMaxRate = 32258;
// The last second of 2099: later times do not fit the records' years.
inline constexpr int64_t kMaxSeconds = 4102444799;

// What a run needs after the header: the codes, the grid step, the records'
// form and the output.
struct RunSetup {
    StreamCodes codes;
    int64_t step_us = 0;
    int32_t reclen = 4096;
    Encoding encoding = Encoding::steim2;
    int64_t max_samples = INT64_MAX;  // per record (the 2-us rule)
    std::string archive;              // empty: stream into out
};

// The instant of a grid line in microseconds, or false when its time is not
// one (negative seconds, microseconds outside 0..999,999, beyond 2099).
inline bool grid_instant(const GridLine& g, int64_t& t_us) {
    if (g.ts2 < 0 || g.ts2 > kMaxSeconds || g.tmks2 < 0 || g.tmks2 > 999999) return false;
    t_us = g.ts2 * 1000000 + g.tmks2;
    return true;
}

// The sample lines after the header: records into out (a stream) or the
// archive. Messages go to err. Returns ok at the end of input, or
// no_useful_data at the error line; failures end the run.
Grid2mseedExit convert_grid(LineReader& in, const RunSetup& setup, Writer& out, Writer& err);

}  // namespace vorn::grid2mseed
