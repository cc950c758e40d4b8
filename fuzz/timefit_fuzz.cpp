// timefit's whole run on any text: option byte bit 0 is -t (the tag list).
#include "text_stage.hpp"
#include "timefit.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return vorn::fuzz::run_text_stage(data, size, true, [](uint8_t options, vorn::LineReader& in, vorn::Writer& out,
                                                            vorn::Writer& err) {
        timefit::Options opt;
        opt.tag_list = (options & 1) != 0;
        vorn::HeaderValues h;
        (void)timefit::run(in, out, err, h, opt);
    });
}
