#include "vornseq.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "format.hpp"
#include "header_scan.hpp"
#include "recorder.hpp"

namespace vorn::filetools {

namespace {
// The header is short; a small block keeps the read close to it.
constexpr std::size_t kHeaderBlock = std::size_t{1} << 16;

}  // namespace

Exit print_sequence_number(const char* name, Writer& out, Writer& diag, CloseFunction close_file) {
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failure(Exit::fatal, diag, "%s ERROR: opening input file: %s\n", {program_name(), name});

    HeaderTokens tokens;
    uint8_t type_byte = 0;
    HeaderScan scan;
    {
        ByteReader in(fd, name, kHeaderBlock);
        scan = scan_header(in, tokens, type_byte);
    }
    if (scan == HeaderScan::no_header) {
        ::close(fd);
        return failure(Exit::fatal, diag, "%s ERROR: no header/data in file %s\n", {program_name(), name});
    }

    out.num(find_fileno(tokens, kSeqNoNumber));
    out.put('\n');

    // The number stays printed; a file that does not close still fails the run.
    if ((close_file != nullptr ? close_file : ::close)(fd) != 0)
        return failure(Exit::fatal, diag, "%s ERROR: closing input file: %s\n", {program_name(), name});
    return Exit::ok;
}

Exit run_vornseq(int argc, char** argv, Writer& out, Writer& diag) {
    if (argc != 2) return failure(Exit::fatal, diag,
                                  "%s ERROR: one input file name needed\n", {program_name()});
    return print_sequence_number(argv[1], out, diag);
}

}  // namespace vorn::filetools
