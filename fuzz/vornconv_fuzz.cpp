// vornconv's decoder on any recorder stream. Byte 0 chooses the reader's
// buffer size, bytes 1 and 2 the options, the rest is standard input.
#include <string>

#include "converter.hpp"
#include "converter_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace vorn::fuzz;
    if (size < 3) return 0;
    const uint8_t o = data[1];
    vornconv::ConvOptions opt;
    opt.minimum_gps_counts = data[2] % 24;  // -x n (the default 20 among them)
    opt.data_beyond_gps = (o & 1) != 0;     // -a
    opt.adrift = (o & 1) != 0 ? static_cast<double>(data[2]) - 128.0 : 0.0;
    opt.gps_utc_valid = (o & 2) != 0;       // -u
    opt.check_for_gps_moved = (o & 4) == 0;  // -m
    opt.obh_mode = (o & 8) != 0;            // -s
    opt.diagnostics = (o & 16) != 0;        // -i
    opt.auxout_write = (o & 32) != 0;       // -f
    switch (o >> 6) {                       // one output mode
    case 1: opt.gps_string_only = true; break;  // -g
    case 2: opt.gps_t_only = true; break;       // -t
    case 3:
        if ((data[2] & 0x80) != 0) {
            opt.diag = true;  // -d
        } else {
            opt.gps_raw_mode = true;  // -c
            opt.obh_mode = true;
        }
        break;
    default: break;
    }
    MemFile input(data + 3, size - 3);
    vorn::ByteReader in(input.fd(), {}, buffer_size(data[0]));
    std::string out_text, err_text, aux_text;
    {
        vorn::Writer out(&out_text, std::size_t{1} << 12);
        vorn::Writer err(&err_text, std::size_t{1} << 12);
        vorn::Writer aux(&aux_text, std::size_t{1} << 12);
        vornconv::Converter conv(opt, in, out, err, opt.auxout_write ? &aux : nullptr, "vornconv");
        (void)conv.run();
        out.flush();
        err.flush();
        aux.flush();
    }
    const bool sample_lines = !opt.gps_string_only && !opt.diag;
    check_converter_output(out_text, opt.data_beyond_gps && sample_lines);
    return 0;
}
