// stampfill's whole run on any text.
#include "stampfill.hpp"
#include "text_stage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return vorn::fuzz::run_text_stage(data, size, true, [](uint8_t, vorn::LineReader& in, vorn::Writer& out,
                                                            vorn::Writer& err) {
        (void)vorn::stampfill::run_stampfill(in, out, err);
    });
}
