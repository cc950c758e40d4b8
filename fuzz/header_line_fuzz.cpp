// The header-line parser of the text stages. Byte 0 chooses the reader's
// buffer size; each line of the rest is read as a header line. What it
// reads must write back as a header line that reads the same again.
#include <string>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace vorn;
    using namespace vorn::fuzz;
    if (size < 1) return 0;
    MemFile input(data + 1, size - 1);
    LineReader in(input.fd(), buffer_size(data[0]));
    vorn::PaddedLine line;
    for (int k = 0; k < 8 && in.next(line); ++k) {
        HeaderValues h;
        const int fields = read_header_line(line, h);
        if (fields < 0 || fields > 26) broken("field count out of range");
        std::string once, twice;
        {
            Writer w(&once);
            write_header_line(w, h);
            w.flush();
        }
        if (once.size() > kMaxHeaderLine + 1) broken("header line too long", once);
        HeaderValues again;
        if (read_header_line(std::string_view(once).substr(0, once.size() - 1), again) != 26)
            broken("a written header line does not read whole", once);
        {
            Writer w(&twice);
            write_header_line(w, again);
            w.flush();
        }
        if (once != twice) broken("a header line does not read back the same", once);
    }
    return 0;
}
