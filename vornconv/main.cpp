// vornconv: recorder stream on standard input -> text record stream on
// standard output.
#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "converter.hpp"
#include "program.hpp"

int main(int argc, char** argv) {
    vorn::start_program(argv[0]);
    vornconv::ConvOptions options;
    const vorn::Exit parsed = vornconv::parse_command_line(argc, argv, options, vorn::out(), vorn::err());
    if (parsed != vorn::Exit::ok) vorn::finish(parsed);

    std::unique_ptr<vorn::Writer> aux;
    if (options.auxout_write) aux = std::make_unique<vorn::Writer>(options.aux_fd, std::size_t{1} << 16, true);
#ifdef F_SETPIPE_SZ
    // Sample lines leave in large blocks; a larger pipe takes a block in
    // fewer turns. Where the call fails nothing changes.
    (void)::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
#endif
    vorn::ByteReader in(STDIN_FILENO);
    vornconv::Converter converter(options, in, vorn::out(), vorn::err(), aux.get(), vorn::program_name());
    const vorn::Exit status = converter.run();
    if (aux) {
        aux->flush();
        ::close(options.aux_fd);
    }
    vorn::finish(status);
}
