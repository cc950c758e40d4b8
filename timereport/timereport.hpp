// The timereport program: options, the report run and the plot, the index
// mode; each a function that tests can call without a process.
#pragma once

#include <optional>
#include <string>

#include "program.hpp"

namespace timereport {

enum class Exit : int {
    ok = static_cast<int>(vorn::ExitStatus::ok),
    usage = static_cast<int>(vorn::ExitStatus::usage),
    fatal = static_cast<int>(vorn::ExitStatus::fatal),
};

struct Options {
    std::optional<std::string> messages;  // -e CONVERTER_MESSAGES
    std::optional<double> rate;           // -r S_RATE
    std::optional<std::string> plot;      // -p PLOT.png
    std::optional<std::string> index;     // -i OUTDIR
    bool bad = false;                     // an error was reported: usage
};

inline constexpr const char* kUsage =
    "usage: timereport [-e CONVERTER_MESSAGES] [-r S_RATE] [-p PLOT.png] < tags > report.json\n"
    "       timereport -i OUTDIR > index.html\n";

// Options "e:r:p:i:"; errors are reported on diag and set bad.
Options parse_command_line(int argc, char** argv, vorn::Writer& diag);

// A rate operand: a positive finite decimal number.
std::optional<double> parse_rate(const char* text);

// The report run: the tag list on standard input, the JSON on standard
// output, the plot when asked for. Returns the exit status.
Exit run_report(const Options& opt);

// Writes png to path; false with the reason in why.
bool write_file(const std::string& path, const std::string& bytes, std::string& why);

}  // namespace timereport
