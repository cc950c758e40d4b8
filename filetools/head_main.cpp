// vornhead FILE...: the header values that decide whether recorder files
// belong to one recording.
#include <span>

#include "program.hpp"
#include "vornhead.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    std::span<char* const> names(argv + 1, argc > 1 ? static_cast<std::size_t>(argc - 1) : 0);
    vorn::filetools::HeadStatus status = vorn::filetools::run_vornhead(names, vorn::out(), vorn::err());
    vorn::finish(static_cast<int>(status));
}
