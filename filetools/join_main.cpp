// vornjoin FILE...: joins consecutive recorder files into one recorder
// stream on standard output.
#include <span>
#include <unistd.h>

#include "program.hpp"
#include "vornjoin.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    std::span<char* const> names(argv + 1, argc > 1 ? static_cast<std::size_t>(argc - 1) : 0);
    vorn::Exit status = vorn::filetools::join_files(names, vorn::out(), vorn::err(), STDOUT_FILENO);
    vorn::finish(status);
}
