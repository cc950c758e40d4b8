// The recorder-header scan that vornseq and vornjoin share, and both
// programs' runs on it. Byte 0 chooses the reader's buffer size, bytes 1
// and 2 (low byte first) where the input is cut into two recorder files for
// vornjoin.
#include <algorithm>
#include <string>
#include <vector>

#include "harness.hpp"
#include "header_scan.hpp"
#include "vornjoin.hpp"
#include "vornseq.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace vorn;
    using namespace vorn::fuzz;
    if (size < 3) return 0;
    const uint8_t* body = data + 3;
    const std::size_t n = size - 3;
    MemFile whole(body, n);

    // The scan: every byte read is echoed at once, a space as '_'.
    HeaderTokens tokens;
    uint8_t type_byte = 0;
    std::string echo_text;
    filetools::HeaderScan scan;
    int64_t consumed = 0;
    {
        ByteReader in(whole.fd(), "fuzz", buffer_size(data[0]));
        Writer echo(&echo_text, 256);
        scan = filetools::scan_header(in, tokens, type_byte, &echo);
        echo.flush();
        consumed = in.count();
    }
    std::string expected(reinterpret_cast<const char*>(body), static_cast<std::size_t>(consumed));
    std::replace(expected.begin(), expected.end(), ' ', '_');
    if (echo_text != expected) broken("the echo differs from the bytes read");
    if (scan == filetools::HeaderScan::ended && (consumed == 0 || body[consumed - 1] != type_byte))
        broken("the header did not end on its type byte");

    // vornseq prints the number the scan found.
    std::string out_text, diag_text;
    {
        Writer out(&out_text);
        Writer diag(&diag_text);
        const std::string name = whole.path();
        const auto status = filetools::print_sequence_number(name.c_str(), out, diag);
        out.flush();
        const bool ok = status == vorn::Exit::ok;
        if (ok != (scan == filetools::HeaderScan::ended)) broken("vornseq and the scan disagree on the header");
        if (ok && out_text != std::to_string(filetools::find_fileno(tokens, filetools::kSeqNoNumber)) + "\n")
            broken("vornseq printed another number", out_text);
    }

    // vornjoin on the input cut in two.
    const std::size_t cut = std::min<std::size_t>(n, std::size_t{data[1]} | std::size_t{data[2]} << 8);
    MemFile first(body, cut);
    MemFile second(body + cut, n - cut);
    std::string a = first.path(), b = second.path();
    std::vector<char*> names = {a.data(), b.data()};
    out_text.clear();
    diag_text.clear();
    {
        Writer out(&out_text, 4096);
        Writer diag(&diag_text, 4096);
        (void)filetools::join_files(names, out, diag);
        out.flush();
    }
    if (out_text.size() > n) broken("vornjoin wrote more than it read");
    return 0;
}
