// Random and damaged streams: the run always ends with one of its statuses;
// a clean end writes one line per readable sample line, each with a time.
#include <gtest/gtest.h>

#include <string>

#include "mutate.hpp"
#include "stampfill.hpp"
#include "textparse.hpp"

using namespace vorn;
using namespace vorn::stampfill;

TEST(StampfillFuzz, RandomAndDamagedStreams) {
    vorn::testing::StreamFuzzer fz(777);
    for (int round = 0; round < 3000; ++round) {
        int ch = 0, rate = 0;
        std::string input = fz.header(ch, rate) + "\n";
        const int n = static_cast<int>(fz.below(200));
        const int untimed = static_cast<int>(fz.below(101));
        for (int i = 0; i < n; ++i)
            input += fz.sample(i, ch < 1 ? 1 : ch, 1400000000000000 + int64_t{i} * 4000, untimed) + "\n";
        if (round % 3 != 0) input = fz.mutate(input);
        std::string out, err;
        LineReader in(input);
        Writer w(&out);
        Writer e(&err);
        // Every fourth round the waiting lines go to the temporary file
        // after a few.
        SpillSettings spill;
        if (round % 4 == 0) spill.lines = 1 + static_cast<int64_t>(fz.below(30));
        const StampfillExit status = run_stampfill(in, w, e, spill);
        w.flush();
        e.flush();
        ASSERT_TRUE(status == StampfillExit::ok || status == StampfillExit::no_useful_data ||
                    status == StampfillExit::fatal)
            << input;
        if (status != StampfillExit::ok) continue;
        HeaderValues h;
        auto in_lines = vorn::testing::split_lines(input);
        read_header_line(in_lines[0], h);
        int64_t readable = 0;
        SampleLine s;
        for (std::size_t k = 1; k < in_lines.size(); ++k) readable += parse_sample_line(in_lines[k], h.CH_NUM, s);
        auto lines = vorn::testing::split_lines(out);
        ASSERT_EQ(static_cast<int64_t>(lines.size()), 1 + readable) << input;
        for (std::size_t k = 1; k < lines.size(); ++k) {
            ASSERT_TRUE(parse_sample_line(lines[k], h.CH_NUM, s)) << lines[k];
            ASSERT_NE(s.n, -1);
        }
    }
}
