#include "program.hpp"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace vorn {

namespace {
std::string_view g_name = "vorn";
}  // namespace

std::string_view exit_name(Exit s) {
    switch (s) {
    case Exit::ok: return "ok";
    case Exit::aux_file: return "aux file";
    case Exit::usage: return "usage";
    case Exit::no_useful_data: return "no useful data";
    case Exit::no_time_shift: return "no time shift";
    case Exit::buffer_overrun: return "buffer overrun";
    case Exit::fatal: return "fatal";
    }
    return "unknown";
}

void start_program(const char* argv0) {
    if (argv0 != nullptr) g_name = argv0;
    // Every calendar conversion of the run is UTC.
    ::setenv("TZ", "GMT", 1);
}

std::string_view program_name() { return g_name; }

Writer& out() {
    static Writer w(STDOUT_FILENO, std::size_t{1} << 20, true);
    return w;
}

Writer& err() {
    static Writer w(STDERR_FILENO, std::size_t{1} << 16, false);
    return w;
}

void message(std::string_view fmt, std::initializer_list<FmtArg> args) { message(err(), fmt, args); }

void message(Writer& w, std::string_view fmt, std::initializer_list<FmtArg> args) {
    format_to(w, fmt, args);
    w.flush();
}

void finish(int status) {
    out().flush();
    err().flush();
    std::exit(status);
}

void fail(Exit status, std::string_view fmt, std::initializer_list<FmtArg> args) {
    format_to(err(), fmt, args);
    finish(status);
}

void write_failed(int error_number) {
    // Whatever standard output still holds cannot be written either.
    format_to(err(), "%s ERROR: cannot write output: %s\n", {program_name(), std::strerror(error_number)});
    err().flush();
    std::_Exit(static_cast<int>(Exit::fatal));
}

void read_failed(std::string_view label, int error_number) {
    out().flush();
    if (label.empty())
        format_to(err(), "%s ERROR: cannot read input: %s\n", {program_name(), std::strerror(error_number)});
    else
        format_to(err(), "%s ERROR: cannot read input %s: %s\n",
                  {program_name(), label, std::strerror(error_number)});
    err().flush();
    std::_Exit(static_cast<int>(Exit::fatal));
}

}  // namespace vorn
