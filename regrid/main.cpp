// regrid [-t] [-o value] < input > output
#include <unistd.h>

#include "options.hpp"
#include "program.hpp"
#include "regrid.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    vorn::regrid::RegridOptions options;
    vorn::parse_options(argc, argv, "o:t", [&](vorn::OptionEvent event, int letter, const char*) {
        if (event != vorn::OptionEvent::option) {
            // No program name, and -o without its value called unrecognized:
            // kept on purpose, stored scripts expect it.
            vorn::message("ERROR: Unrecognized option: -%c\n", {static_cast<char>(letter)});
            return;
        }
        if (letter == 't') options.calendar = true;
        // -o value: accepted and ignored
    });
    vorn::LineReader in(STDIN_FILENO);
    const vorn::Exit status = vorn::regrid::run_regrid(in, vorn::out(), vorn::err(), options);
    vorn::finish(status);
}
