// axisturn [-r value] < input > output
#include <cstdint>
#include <unistd.h>

#include "axisturn.hpp"
#include "options.hpp"
#include "program.hpp"
#include "textparse.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    // The rotation value of the components: reported, and applied to nothing.
    int32_t azi = 0;
    vorn::parse_options(argc, argv, "r:", [&](vorn::OptionEvent event, int letter, const char* operand) {
        switch (event) {
        case vorn::OptionEvent::option:
            azi = vorn::atoi_like(operand);
            // "XXXX" and the space before the line feed: kept on purpose, stored scripts expect it.
            vorn::message("XXXX %d \n", {azi});
            break;
        // No program name in these two: kept on purpose, stored scripts expect it.
        case vorn::OptionEvent::missing_operand:
            vorn::message("ERROR: Option -r requires an operand\n");
            break;
        case vorn::OptionEvent::unrecognized:
            vorn::message("ERROR: Unrecognized option: -%c\n", {static_cast<char>(letter)});
            break;
        }
    });
    vorn::LineReader in(STDIN_FILENO);
    const vorn::Exit status = vorn::axisturn::run_axisturn(in, vorn::out(), vorn::err());
    vorn::finish(status);
}
