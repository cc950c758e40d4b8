// timereport: the timing quality of a recording from the tag list of
// `timefit -t` (and the converter's messages) as a JSON report and a plot;
// with -i the overview page of a batch's output folder.
#include "index.hpp"
#include "program.hpp"
#include "timereport.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    const timereport::Options opt = timereport::parse_command_line(argc, argv, vorn::err());
    if (opt.bad) vorn::fail(vorn::ExitStatus::usage, timereport::kUsage);
    if (opt.index) vorn::finish(static_cast<int>(timereport::run_index(*opt.index)));
    vorn::finish(static_cast<int>(timereport::run_report(opt)));
}
