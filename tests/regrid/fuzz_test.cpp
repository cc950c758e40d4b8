// Random and damaged streams: the run always ends with one of its statuses,
// and every grid line has its two time fields and one value per channel.
#include <gtest/gtest.h>

#include <string>

#include "mutate.hpp"
#include "regrid.hpp"
#include "textlines.hpp"
#include "textparse.hpp"

using namespace vorn;
using namespace vorn::regrid;

namespace {

// A gap in the input times is filled line by line on the grid, so a damaged
// time years ahead would give billions of lines: the inputs here keep every
// readable time within 20 s of the stream's start.
bool times_bounded(const std::string& input) {
    auto lines = vorn::testing::split_lines(input);
    if (lines.empty()) return true;
    HeaderValues h;
    read_header_line(lines[0], h);
    if (h.CH_NUM < 1 || h.CH_NUM > 3) return true;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        SampleLine s;
        if (!parse_sample_line(lines[i], h.CH_NUM, s) || s.sec < 0) continue;
        if (s.sec < 1399999990 || s.sec > 1400000020 || s.usec < -10000000 || s.usec > 10000000) return false;
    }
    return true;
}

}  // namespace

TEST(RegridFuzz, RandomAndDamagedStreams) {
    vorn::testing::StreamFuzzer fz(20240601);
    int runs = 0;
    for (int round = 0; round < 600; ++round) {
        int ch = 0, rate = 0;
        std::string input = fz.header(ch, rate) + "\n";
        const int n = static_cast<int>(fz.below(140));
        const int step = 1 + static_cast<int>(fz.below(20000));
        for (int i = 0; i < n; ++i)
            input += fz.sample(i, ch < 1 ? 1 : ch, 1400000000000000 + int64_t{i} * step + static_cast<int64_t>(fz.below(300)),
                               round % 3 == 0 ? 1 : 0) + "\n";
        if (round % 2 == 1) input = fz.mutate(input);
        if (!times_bounded(input)) continue;
        ++runs;
        std::string out, err;
        LineReader in(input);
        Writer w(&out);
        Writer e(&err);
        const Exit status = run_regrid(in, w, e, RegridOptions{round % 5 == 0});
        w.flush();
        e.flush();
        ASSERT_TRUE(status == Exit::ok || status == Exit::no_useful_data) << input;
        auto lines = vorn::testing::split_lines(out);
        ASSERT_GE(lines.size(), 1u);
        for (std::size_t k = 1; k < lines.size(); ++k) {
            const bool last = k + 1 == lines.size();
            if (last && status != Exit::ok && lines[k].rfind("-1 ", 0) == 0) continue;  // the error line
            FieldCursor f(lines[k]);
            std::string_view tok;
            int fields = 0;
            while (f.token(tok)) ++fields;
            ASSERT_EQ(fields, 2 + ch) << lines[k] << "\n" << input;
        }
    }
    EXPECT_GT(runs, 400);
}
