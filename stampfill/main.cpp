// stampfill < input > output
#include <unistd.h>

#include <cstdlib>

#include "options.hpp"
#include "program.hpp"
#include "stampfill.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    // No options: each one given is reported and passed over.
    vorn::parse_options(argc, argv, "", [](vorn::OptionEvent, int letter, const char*) {
        vorn::message("%s ERROR: Unrecognized option: -%c\n", {vorn::program_name(), static_cast<char>(letter)});
    });
    // Where the lines waiting through a long GPS outage go.
    const vorn::stampfill::SpillSettings spill =
        vorn::stampfill::spill_settings(std::getenv("STAMPFILL_SPILL_LINES"), std::getenv("TMPDIR"), vorn::err());
    vorn::LineReader in(STDIN_FILENO);
    const vorn::stampfill::StampfillExit status = vorn::stampfill::run_stampfill(in, vorn::out(), vorn::err(), spill);
    vorn::finish(static_cast<int>(status));
}
