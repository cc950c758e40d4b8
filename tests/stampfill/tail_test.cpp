// The tail after the last good tag: timed at the clock rate measured from a
// good tag 10 to 60 seconds of samples before it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stampfill.hpp"

using namespace vorn;
using namespace vorn::stampfill;

namespace {

std::ptrdiff_t choose(const std::vector<GoodTag>& before, GoodTag b, int32_t rate) {
    return rate_tag(std::span<const GoodTag>(before.data(), before.size()), b, rate);
}

}  // namespace

TEST(StampfillTail, TheEarliestTagWithinTheLastMinute) {
    // One tag a second at 100 Hz: B at sample 10000; the tags 60 s (4000)
    // to 10 s (9000) before it qualify, the one furthest back wins.
    std::vector<GoodTag> before;
    for (int64_t n = 3000; n < 10000; n += 100) before.push_back({n, static_cast<double>(n) / 100.0});
    const GoodTag b{10000, 100.0};
    // Only the last 64 are looked at: samples 3700 .. 10000 - 100.
    ASSERT_EQ(before.size(), 70u);
    EXPECT_EQ(before[static_cast<std::size_t>(choose(before, b, 100))].n, 4000);
    // The bounds belong to the range: exactly 60 s and exactly 10 s.
    EXPECT_EQ(choose({{4000, 1.0}}, b, 100), 0);
    EXPECT_EQ(choose({{9000, 1.0}}, b, 100), 0);
    EXPECT_EQ(choose({{3999, 1.0}}, b, 100), -1);
    EXPECT_EQ(choose({{9001, 1.0}}, b, 100), -1);
    // Nothing 10 s or more back (5 s of tags only), or nothing at all.
    EXPECT_EQ(choose({{9500, 95.0}, {9600, 96.0}, {9900, 99.0}}, b, 100), -1);
    EXPECT_EQ(choose({}, b, 100), -1);
}

TEST(StampfillTail, InputOrderNotSampleOrder) {
    const GoodTag b{10000, 100.0};
    // The smallest sample number wins wherever it stands.
    EXPECT_EQ(choose({{8000, 80.0}, {5000, 50.0}, {7000, 70.0}}, b, 100), 1);
    // Ties: the earliest in input order.
    EXPECT_EQ(choose({{6000, 60.5}, {5000, 50.1}, {7000, 70.0}, {5000, 50.2}}, b, 100), 1);
    EXPECT_EQ(choose({{5000, 50.2}, {5000, 50.1}}, b, 100), 0);
    // Tags after B's sample number or equal to it never qualify.
    EXPECT_EQ(choose({{10000, 99.0}, {12000, 120.0}}, b, 100), -1);
}

TEST(StampfillTail, TheWindowIsTheLast64Tags) {
    const GoodTag b{100000, 1000.0};
    // A qualifying tag followed by 64 others that do not: out of the window.
    std::vector<GoodTag> before{{95000, 950.0}};
    for (int i = 0; i < 64; ++i) before.push_back({99500 + i, 995.0});
    EXPECT_EQ(choose(before, b, 100), -1);
    // Followed by 63: the 64th tag before B, still in the window.
    before.pop_back();
    EXPECT_EQ(choose(before, b, 100), 0);
}

TEST(StampfillTail, SampleDistancesThatOverflow) {
    const GoodTag b{INT64_MAX, 1.0};
    EXPECT_EQ(choose({{INT64_MIN, 0.0}, {-5, 0.0}}, b, 100), -1);
    EXPECT_EQ(choose({{INT64_MAX - 1000, 0.0}}, {INT64_MIN, 1.0}, 100), -1);
    // The largest rate: 60 * rate needs 64 bits.
    const int32_t big = INT32_MAX;
    EXPECT_EQ(choose({{0, 0.0}}, {60 * int64_t{big}, 60.0}, big), 0);
}

TEST(StampfillTail, TimesAtTheMeasuredRate) {
    // The clock 1000 ppm slow: 100 samples take 1.001 s.
    const GoodTag a{1000, 1400000000.0};
    const GoodTag b{7000, 1400000060.06};
    EXPECT_EQ(tail_time(7100, b, &a, 100), b.t + (100.0 * (b.t - a.t)) / 6000.0);
    EXPECT_NEAR(tail_time(7100, b, &a, 100), 1400000061.061, 1e-6);
    EXPECT_NEAR(tail_time(7001, b, &a, 100), 1400000060.07001, 1e-6);
    EXPECT_EQ(tail_time(7000, b, &a, 100), b.t);
    // Without a tag to measure from: the nominal rate.
    EXPECT_EQ(tail_time(7100, b, nullptr, 100), extrapolate(7100, 7000, b.t, 100));
    EXPECT_EQ(tail_time(7100, b, nullptr, 100), b.t + 1.0);
}

namespace {

std::string run_text(const std::string& input) {
    std::string out, err;
    LineReader in(input);
    Writer w(&out);
    Writer e(&err);
    run_stampfill(in, w, e);
    w.flush();
    return out;
}

// 10 Hz, one tag a second on a clock 1000 ppm slow from second 0 on
// (samples 10 * k at 1400000000 + 1.001 * k), until second `last`, then
// five untimed lines.
std::string slow_clock(int last) {
    std::string in = "Z D E 1 1 10 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";
    for (int n = 0; n <= 10 * last + 5; ++n) {
        in += std::to_string(n) + " 7 ";
        if (n % 10 == 0 && n <= 10 * last) {
            const int64_t us = int64_t{n} * 100100;
            in += std::to_string(1400000000 + us / 1000000) + " " + std::to_string(us % 1000000) + "\n";
        } else {
            in += "-1 0\n";
        }
    }
    return in;
}

std::string last_lines(const std::string& text, int count) {
    std::size_t pos = text.size();
    for (int i = 0; i <= count && pos > 0; ++i) pos = text.rfind('\n', pos - 1);
    return text.substr(pos + 1);
}

}  // namespace

TEST(StampfillTail, WholeRuns) {
    // 80 s of tags: the rate is measured from the tag 60 s back (sample
    // 200); 1.001 s per 10 samples, so 100100 us per sample after the last
    // tag (80.080 s from the start): 80.1801, 80.2802, ... s, where floor
    // of the double sums may give one microsecond less.
    EXPECT_EQ(last_lines(run_text(slow_clock(80)), 6),
              "800 7 1400000080 80000\n"
              "801 7 1400000080 180099\n"
              "802 7 1400000080 280200\n"
              "803 7 1400000080 380299\n"
              "804 7 1400000080 480399\n"
              "805 7 1400000080 580499\n");
    // 5 s of tags: too short to measure, the nominal 100000 us per sample.
    EXPECT_EQ(last_lines(run_text(slow_clock(5)), 6),
              "50 7 1400000005 5000\n"
              "51 7 1400000005 105000\n"
              "52 7 1400000005 205000\n"
              "53 7 1400000005 305000\n"
              "54 7 1400000005 405000\n"
              "55 7 1400000005 505000\n");
}
