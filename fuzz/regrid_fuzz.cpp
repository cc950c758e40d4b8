// regrid's whole run on any text: option byte bit 0 is -t (calendar
// instants), bit 1 turns the wide sums off.
#include "regrid.hpp"
#include "text_stage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return vorn::fuzz::run_text_stage(data, size, true, [](uint8_t options, vorn::LineReader& in, vorn::Writer& out,
                                                            vorn::Writer& err) {
        vorn::regrid::RegridOptions opt;
        opt.calendar = (options & 1) != 0;
        opt.wide_sums = (options & 2) == 0;
        (void)vorn::regrid::run_regrid(in, out, err, opt);
    });
}
