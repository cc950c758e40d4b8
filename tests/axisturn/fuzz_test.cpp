// Random and damaged grid streams: the run always ends with one of its
// statuses, and a clean end writes one line per readable grid line.
#include <gtest/gtest.h>

#include <string>

#include "axisturn.hpp"
#include "mutate.hpp"
#include "vorn.hpp"

using namespace vorn;
using namespace vorn::axisturn;

TEST(AxisturnFuzz, RandomAndDamagedStreams) {
    vorn::testing::StreamFuzzer fz(4242);
    for (int round = 0; round < 3000; ++round) {
        int ch = 0, rate = 0;
        std::string input = fz.header(ch, rate) + "\n";
        const int n = static_cast<int>(fz.below(100));
        for (int i = 0; i < n; ++i) {
            // A grid line: seconds, padded microseconds, two spaces, values.
            std::string l = std::to_string(1400000000 + i / 100) + " ";
            std::string us = std::to_string(i % 100 * 10000);
            l += std::string(6 - us.size(), ' ') + us + " ";
            for (int c = 0; c < (ch < 1 ? 1 : ch); ++c) {
                l += ' ';
                l += std::to_string(static_cast<int64_t>(fz.below(16777216)) - 8388608);
            }
            input += l + "\n";
        }
        if (round % 3 != 0) input = fz.mutate(input);
        std::string out, err;
        LineReader in(input);
        Writer w(&out);
        Writer e(&err);
        const Exit status = run_axisturn(in, w, e);
        w.flush();
        e.flush();
        ASSERT_TRUE(status == Exit::ok || status == Exit::no_useful_data) << input;
        if (status != Exit::ok) continue;
        HeaderValues h;
        auto in_lines = vorn::testing::split_lines(input);
        if (in_lines.empty()) continue;
        read_header_line(in_lines[0], h);
        int64_t readable = 0;
        GridLine g;
        for (std::size_t k = 1; k < in_lines.size(); ++k) readable += parse_grid_line(in_lines[k], h.CH_NUM, g);
        auto lines = vorn::testing::split_lines(out);
        ASSERT_EQ(static_cast<int64_t>(lines.size()), 1 + readable) << input;
        for (std::size_t k = 1; k < lines.size(); ++k) {
            ASSERT_TRUE(parse_grid_line(lines[k], h.CH_NUM, g)) << lines[k];
            ASSERT_EQ(lines[k].back(), ' ');
        }
    }
}
