// axisturn's whole run on any text.
#include "axisturn.hpp"
#include "text_stage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return vorn::fuzz::run_text_stage(data, size, false, [](uint8_t, vorn::LineReader& in, vorn::Writer& out,
                                                             vorn::Writer& err) {
        (void)vorn::axisturn::run_axisturn(in, out, err);
    });
}
