// stampfill < input > output
#include <unistd.h>

#include "options.hpp"
#include "program.hpp"
#include "stampfill.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    // No options: each one given is reported and passed over.
    vorn::parse_options(argc, argv, "", [](vorn::OptionEvent, int letter, const char*) {
        vorn::message("%s ERROR: Unrecognized option: -%c\n", {vorn::program_name(), static_cast<char>(letter)});
    });
    vorn::LineReader in(STDIN_FILENO);
    const vorn::stampfill::StampfillExit status = vorn::stampfill::run_stampfill(in, vorn::out(), vorn::err());
    vorn::finish(static_cast<int>(status));
}
