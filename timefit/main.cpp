// timefit: checks the GPS time tags of a converter's text record stream
// against a robust straight-line clock model, block by block.
#include <unistd.h>

#include "program.hpp"
#include "timefit.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    const timefit::Options opt = timefit::parse_command_line(argc, argv, vorn::err());
    vorn::LineReader in(STDIN_FILENO);
    vorn::HeaderValues h;
    const timefit::Outcome o = timefit::run(in, vorn::out(), vorn::err(), h, opt);
    timefit::end_run(o, h);
}
