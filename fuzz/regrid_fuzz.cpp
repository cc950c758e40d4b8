// regrid's whole run on any text: option byte bit 0 is -t (calendar
// instants), bit 1 turns the wide sums off.
//
// regrid fills the grid through every gap in the input times (up to
// kMaxGapSteps instants a gap), as it must; an input whose times ask for
// more than kMaxInstants instants in all is a long run, not a fault, and is
// passed over so that the time limit finds only real hangs.
#include <algorithm>

#include "regrid.hpp"
#include "text_stage.hpp"
#include "textlines.hpp"

namespace {

constexpr int64_t kMaxInstants = 100'000;

int64_t instants_asked(const uint8_t* data, std::size_t size) {
    using namespace vorn;
    LineReader in(std::string_view(reinterpret_cast<const char*>(data), size));
    vorn::PaddedLine line;
    HeaderValues h;
    if (!in.next(line)) return 0;
    read_header_line(line, h);
    if (!header_supported(h, regrid::kMaxRate)) return 0;
    const int64_t hx = regrid::sample_interval(h.S_RATE);
    int64_t total = 0;
    int64_t last = 0;
    bool have_last = false;
    SampleLine s;
    int64_t t = 0;
    while (in.next(line)) {
        if (!parse_sample_line(line, h.CH_NUM, s) || s.sec < 0 || !regrid::line_time(s.sec, s.usec, t)) continue;
        if (have_last && t > last) total += std::min((t - last) / hx, regrid::kMaxGapSteps);
        if (total > kMaxInstants) return total;
        last = t;
        have_last = true;
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size >= 2 && instants_asked(data + 2, size - 2) > kMaxInstants) return 0;
    return vorn::fuzz::run_text_stage(data, size, true, [](uint8_t options, vorn::LineReader& in, vorn::Writer& out,
                                                            vorn::Writer& err) {
        vorn::regrid::RegridOptions opt;
        opt.calendar = (options & 1) != 0;
        opt.wide_sums = (options & 2) == 0;
        (void)vorn::regrid::run_regrid(in, out, err, opt);
    });
}
