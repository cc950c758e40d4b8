// vornseq: prints the file sequence number (DAT_NO) of one recorder file.
#pragma once

#include "io.hpp"
#include "program.hpp"

namespace vorn::filetools {

// Exit statuses (vorn::Exit): ok; fatal for a wrong argument count, a file
// that cannot be opened or closed, or no header.

// How the input file is closed after the number has been printed (the
// system's close; tests put a failing one in its place).
using CloseFunction = int (*)(int fd);

// Reads the header of the file `name`, writes its number as "%d\n" to out
// (-1 when the header names no DAT_NO), or an error line to diag.
Exit print_sequence_number(const char* name, Writer& out, Writer& diag, CloseFunction close_file = nullptr);

// The whole program: exactly one argument, the file name.
Exit run_vornseq(int argc, char** argv, Writer& out, Writer& diag);

}  // namespace vorn::filetools
