// What every program of the toolchain shares at run time: its name as
// invoked, its standard output and error writers, the message helpers and
// the one exit path.
#pragma once

#include <initializer_list>
#include <string_view>

#include "format.hpp"
#include "io.hpp"

namespace vorn {

// Exit statuses shared by the toolchain. Each program names the ones it
// uses in an enum of its own with these values.
enum class ExitStatus : int {
    ok = 0,
    aux_file = 1,
    usage = 2,
    no_useful_data = 77,
    no_time_shift = 100,
    buffer_overrun = 127,
    fatal = 200,
};

// Set once at the start of main: the name under which the program was
// started (argv[0] as given), and TZ=GMT for every calendar conversion.
void start_program(const char* argv0);
std::string_view program_name();

// Standard output (data only) and standard error (everything else).
Writer& out();
Writer& err();

// A line on standard error from a printf-style format; flushed at once so
// that diagnostics keep their place among other programs' messages.
void message(std::string_view fmt, std::initializer_list<FmtArg> args = {});

// The one exit path: flushes standard output (a failed flush ends with
// status 200), then standard error, then exits with status.
[[noreturn]] void finish(int status);
[[noreturn]] inline void finish(ExitStatus status) { finish(static_cast<int>(status)); }

// A message on standard error, then finish(status).
[[noreturn]] void fail(ExitStatus status, std::string_view fmt, std::initializer_list<FmtArg> args = {});

// "<program> ERROR: cannot write output: <reason>", status 200. Called by
// the writers when a write fails.
[[noreturn]] void write_failed(int error_number);
// "<program> ERROR: cannot read input[ <label>]: <reason>", status 200.
[[noreturn]] void read_failed(std::string_view label, int error_number);

}  // namespace vorn
