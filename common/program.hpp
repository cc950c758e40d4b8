// What every program of the toolchain shares at run time: its name as
// invoked, its standard output and error writers, the message helpers and
// the one exit path.
#pragma once

#include <initializer_list>
#include <string_view>

#include "format.hpp"
#include "io.hpp"

namespace vorn {

// The exit statuses of the toolchain. Every program ends with one of these;
// each program's header says which it uses and when.
enum class Exit : int {
    ok = 0,
    aux_file = 1,         // vornconv: the -f file cannot be opened
    usage = 2,            // a bad option or argument
    no_useful_data = 77,  // the text stages: the error line met, nothing to pass on
    no_time_shift = 100,  // the converters: a GPS string without its time shift
    buffer_overrun = 127, // vornconv: the recorder lost data
    fatal = 200,          // anything else that ends a run, a failed write among them
};
// The name of a status for messages of the tests ("no time shift").
std::string_view exit_name(Exit s);

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
// The same on w (standard error, or a string that stands for it in tests).
void message(Writer& w, std::string_view fmt, std::initializer_list<FmtArg> args = {});
// message(w, fmt, args), then status: for `return failure(Exit::fatal, ...)`.
inline Exit failure(Exit status, Writer& w, std::string_view fmt, std::initializer_list<FmtArg> args = {}) {
    message(w, fmt, args);
    return status;
}

// The one exit path: flushes standard output (a failed flush ends with
// status 200), then standard error, then exits with status.
[[noreturn]] void finish(int status);
[[noreturn]] inline void finish(Exit status) { finish(static_cast<int>(status)); }

// A message on standard error, then finish(status).
[[noreturn]] void fail(Exit status, std::string_view fmt, std::initializer_list<FmtArg> args = {});

// "<program> ERROR: cannot write output: <reason>", status 200. Called by
// the writers when a write fails.
[[noreturn]] void write_failed(int error_number);
// "<program> ERROR: cannot read input[ <label>]: <reason>", status 200.
[[noreturn]] void read_failed(std::string_view label, int error_number);

}  // namespace vorn
