// vornsim: writes a synthetic recorder stream, or K numbered recorder files.
#include <string>

#include "program.hpp"
#include "vornsim.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);

    vornsim::Options options;
    if (vornsim::parse_arguments(argc, argv, options, vorn::err()) > 0) {
        vornsim::write_usage(vorn::err());
        vorn::finish(vorn::Exit::usage);
    }
    const std::string problem = vornsim::check_options(options);
    if (!problem.empty())
        vorn::fail(vorn::Exit::usage, "%s ERROR: %s\n", {vorn::program_name(), std::string_view(problem)});

    for (const std::string& warning : vornsim::conversion_warnings(options))
        vorn::message("%s\n", {std::string_view(warning)});

    vornsim::Summary summary;
    if (options.prefix.empty()) {
        vornsim::StdoutOutput out;
        summary = vornsim::simulate(options, out);
    } else {
        vornsim::FileOutput out(options.prefix);
        summary = vornsim::simulate(options, out);
    }
    if (summary.clamped_shifts > 0)
        vorn::message("Warning: %ld time shifts of 40000 microseconds or more were written as count 16383\n",
                      {summary.clamped_shifts});
    vorn::finish(vorn::Exit::ok);
}
