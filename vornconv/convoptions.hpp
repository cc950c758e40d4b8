// The converter's command line: options "x:f:a:ugtdsmic", handled in the
// order given, a later option overriding what an earlier one set.
#pragma once

#include <cstdint>
#include <string>

#include "io.hpp"
#include "program.hpp"
#include "stream.hpp"

namespace vornconv {

// Exit statuses of the converter.
enum class ConvStatus : int {
    ok = static_cast<int>(vorn::ExitStatus::ok),
    aux_file = static_cast<int>(vorn::ExitStatus::aux_file),            // -f file cannot be opened
    usage = static_cast<int>(vorn::ExitStatus::usage),                  // bad option
    no_time_shift = static_cast<int>(vorn::ExitStatus::no_time_shift),  // GPS string without its time shift
    buffer_overrun = static_cast<int>(vorn::ExitStatus::buffer_overrun),  // the recorder lost data
    fatal = static_cast<int>(vorn::ExitStatus::fatal),  // no header, unsupported header, buffer full, no memory
};

// -x, -u, -g, -t, -d and -s as the earlier generation has them (-c also
// sets obh_mode and minimum_gps_counts).
struct ConvOptions : vorn::SharedOptions {
    bool auxout_write = false;        // -f
    int aux_fd = -1;
    bool data_beyond_gps = false;     // -a
    double adrift = 0.0;
    bool check_for_gps_moved = true;  // -m clears it
    bool diagnostics = false;         // -i
    bool gps_raw_mode = false;        // -c
};

// Parses the command line. Messages for bad options go to err; the message
// for an AUX file that cannot be opened goes to out. Returns ok, usage (the
// usage text has been written) or aux_file.
ConvStatus parse_command_line(int argc, char** argv, ConvOptions& o, vorn::Writer& out, vorn::Writer& err);

// The usage text.
void write_usage(vorn::Writer& err);

}  // namespace vornconv
