// grid2mseed [-n NET] [-s STA] [-l LOC] [-c CHA[,CHA[,CHA]]] [-r RECLEN]
//            [-e steim2|steim1|int32] [-o FILE | -A DIR] < grid
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "grid2mseed.hpp"
#include "regrid.hpp"

namespace g2m = vorn::grid2mseed;

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    g2m::quiet_libmseed();

    g2m::Options options;
    if (g2m::parse_arguments(argc, argv, options, vorn::err()) > 0) {
        g2m::write_usage(vorn::err());
        vorn::finish(vorn::Exit::usage);
    }

    // The header line: channel count and rate.
    vorn::LineReader in(STDIN_FILENO);
    vorn::HeaderValues h;
    vorn::PaddedLine line;
    if (in.next(line)) vorn::read_header_line(line, h);
    g2m::RunSetup setup;
    double rate = 0.0;
    if (vorn::header_supported(h, g2m::kMaxRate)) {
        setup.step_us = vorn::regrid::sample_interval(h.S_RATE);
        rate = g2m::header_rate(setup.step_us, options.reclen);
    }
    if (rate <= 0.0) {
        vorn::report_unsupported_header(vorn::err(), vorn::program_name(), h);
        vorn::finish(vorn::Exit::no_useful_data);
    }

    const std::string problem =
        g2m::resolve_codes(options, h, h.CH_NUM, 1000000.0 / static_cast<double>(setup.step_us), setup.codes);
    if (!problem.empty())
        vorn::fail(vorn::Exit::usage, "%s ERROR: %s\n", {vorn::program_name(), std::string_view(problem)});
    setup.reclen = options.reclen;
    setup.encoding = options.encoding;
    setup.max_samples = g2m::max_record_samples(setup.step_us, rate);
    setup.archive = options.archive;

    // Standard output, or the file of -o.
    vorn::Writer* out = &vorn::out();
    std::unique_ptr<vorn::Writer> file;
    int fd = -1;
    if (!options.output_file.empty()) {
        fd = ::open(options.output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            vorn::fail(vorn::Exit::fatal, "%s ERROR: cannot create file %s: %s\n",
                       {vorn::program_name(), std::string_view(options.output_file), std::strerror(errno)});
        file = std::make_unique<vorn::Writer>(fd, std::size_t{1} << 20, true);
        out = file.get();
    }

    const vorn::Exit status = g2m::convert_grid(in, setup, *out, vorn::err());
    if (file) {
        file->flush();
        if (::close(fd) != 0) vorn::write_failed(errno);
    }
    vorn::finish(status);
}
