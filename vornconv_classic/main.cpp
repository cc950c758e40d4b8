// vornconv_classic: recorder stream on standard input, text record stream on
// standard output, messages on standard error.
#include <unistd.h>

#include "classic.hpp"

int main(int argc, char** argv) {
    using namespace vorn;
    start_program(argv[0]);

    classic::Options options;
    if (!classic::parse_command_line(argc, argv, options, err())) finish(vorn::Exit::usage);

    ByteReader input(STDIN_FILENO);
    classic::Converter converter(options, input, out(), err(), program_name());
    finish(converter.run());
}
