// The converter's command line: options "x:f:a:ugtdsmic", handled in the
// order given, a later option overriding what an earlier one set.
#pragma once

#include <cstdint>
#include <string>

#include "io.hpp"
#include "program.hpp"
#include "stream.hpp"

namespace vornconv {

// Exit statuses of the converter (vorn::Exit): ok; aux_file when the -f file
// cannot be opened; usage for a bad option; no_time_shift for a GPS string
// without its time shift; buffer_overrun when the recorder lost data; fatal
// for no header, an unsupported header, a full buffer or no memory.
using vorn::Exit;

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
Exit parse_command_line(int argc, char** argv, ConvOptions& o, vorn::Writer& out, vorn::Writer& err);

// The usage text.
void write_usage(vorn::Writer& err);

// The -a operand converted as atof does (C locale): leading white space, the
// longest number that starts there, 0 when there is none.
double atof_like(const char* s);

}  // namespace vornconv
