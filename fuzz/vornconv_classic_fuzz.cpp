// vornconv_classic's decoder on any recorder stream. Byte 0 chooses the
// reader's buffer size, bytes 1 and 2 the options, the rest is standard
// input.
#include <string>

#include "classic.hpp"
#include "converter_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace vorn::fuzz;
    if (size < 3) return 0;
    const uint8_t o = data[1];
    vorn::classic::Options opt;
    opt.minimum_gps_counts = data[2] % 24;  // -x n
    opt.data_beyond_gps = (o & 1) != 0;     // -a
    opt.gps_utc_valid = (o & 2) != 0;       // -u
    opt.obh_mode = (o & 4) != 0;            // -s
    switch ((o >> 3) & 3) {                 // one output mode
    case 1: opt.gps_string_only = true; break;  // -g
    case 2: opt.gps_t_only = true; break;       // -t
    case 3: opt.diag = true; break;             // -d
    default: break;
    }
    MemFile input(data + 3, size - 3);
    vorn::ByteReader in(input.fd(), {}, buffer_size(data[0]));
    std::string out_text, err_text;
    {
        vorn::Writer out(&out_text, std::size_t{1} << 12);
        vorn::Writer err(&err_text, std::size_t{1} << 12);
        vorn::classic::Converter conv(opt, in, out, err, "vornconv_classic");
        (void)conv.run();
        out.flush();
        err.flush();
    }
    const bool sample_lines = !opt.gps_string_only && !opt.diag;
    check_converter_output(out_text, opt.data_beyond_gps && sample_lines);
    return 0;
}
