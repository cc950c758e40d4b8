// vornseq FILE: prints the recorder file's sequence number.
#include "program.hpp"
#include "vornseq.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    vorn::Exit status = vorn::filetools::run_vornseq(argc, argv, vorn::out(), vorn::err());
    vorn::finish(status);
}
