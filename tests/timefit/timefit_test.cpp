// The timing check as a whole, run in-process on small streams.
#include <gtest/gtest.h>

#include <string>

#include "timefit.hpp"

namespace {

using timefit::Limits;
using timefit::Options;
using timefit::Outcome;

struct RunResult {
    Outcome outcome;
    std::string out;
    std::string diag;
    vorn::HeaderValues h;
};

RunResult run_on(const std::string& input, bool tag_list = false, Limits limits = {}) {
    RunResult r{};
    vorn::LineReader in(input);
    vorn::Writer out(&r.out);
    vorn::Writer diag(&r.diag);
    Options opt;
    opt.tag_list = tag_list;
    r.outcome = timefit::run(in, out, diag, r.h, opt, limits);
    out.flush();
    diag.flush();
    return r;
}

std::string header(int ch, int rate) {
    return "Z D E 1 " + std::to_string(ch) + " " + std::to_string(rate) +
           " 0 1 2 3 4 5 6 7 8 9 10 11 12 P T S 13 14 15 7\n";
}

// One channel at S_RATE 2: a tag on every even sample, one per second.
std::string ticks(int first_tag, int tags, long sec0, long usec = 0) {
    std::string s;
    for (int k = 0; k < tags; ++k) {
        const long n = 2L * (first_tag + k);
        s += std::to_string(n) + " 5 " + std::to_string(sec0 + k) + " " + std::to_string(usec) + "\n";
        s += std::to_string(n + 1) + " 6 -1 0\n";
    }
    return s;
}

TEST(Run, HeaderIsRewrittenAndLeadingUntimedLinesDropped) {
    RunResult r = run_on("Z D E 1 1 2 0 1 2 3 4 5 6 7 8 9 10 11 12 P T S 13 14 15 7 extra\n"
                         "0 1 -1 0\n"
                         "1 2 100 5\n"
                         "2 3 -1 0\n");
    EXPECT_EQ(r.outcome, Outcome::ok);
    EXPECT_EQ(r.out, header(1, 2) + "1 2 -100 5 \n2 3 -1 0 \n");
    EXPECT_EQ(r.diag, "");
}

TEST(Run, VerdictsAreTheSameInBothModes) {
    // 6 good tags, a 3 s gap, 20 with one off by 150 us, a gap, 4 tags, a gap,
    // and a final block.
    std::string body = ticks(0, 6, 1000) + ticks(10, 20, 1010) + ticks(40, 4, 1040) + ticks(50, 3, 1050);
    // Tag 25 (second 1015) 150 us late.
    const std::string good = "30 5 1015 0\n";
    body.replace(body.find(good), good.size(), "30 5 1015 150\n");
    RunResult normal = run_on(header(1, 2) + body);
    RunResult list = run_on(header(1, 2) + body, true);
    ASSERT_EQ(normal.outcome, Outcome::ok);
    ASSERT_EQ(list.outcome, Outcome::ok);

    // From the normal output: each tag's verdict as its sign and ending.
    std::string verdicts_normal, verdicts_list;
    std::size_t p = normal.out.find('\n') + 1;
    while (p < normal.out.size()) {
        std::size_t e = normal.out.find('\n', p);
        std::string line = normal.out.substr(p, e - p);
        p = e + 1;
        if (line.find(" -1 0 ") != std::string::npos) continue;  // untimed
        const bool negated = line.find(" -1") != std::string::npos;
        verdicts_normal += negated ? "x" : "o";
    }
    p = 0;
    while (p < list.out.size()) {
        std::size_t e = list.out.find('\n', p);
        std::string line = list.out.substr(p, e - p);
        p = e + 1;
        const std::string code = line.substr(line.rfind(' ') + 1);
        verdicts_list += code == "0" ? "o" : "x";
    }
    EXPECT_EQ(verdicts_normal, "oooooo" "ooooo" "x" "oooooooooooooo" "xxxx" "xxx");
    EXPECT_EQ(verdicts_list, verdicts_normal);
    EXPECT_NE(list.out.find("1015 150 1970-01-01T00:16:55 -2\n"), std::string::npos);
    EXPECT_NE(list.out.find("1040 0 1970-01-01T00:17:20 -1\n"), std::string::npos);
    EXPECT_NE(list.out.find("1052 0 1970-01-01T00:17:32 -4\n"), std::string::npos);
}

TEST(Run, MalformedLinesAreSkippedWithTheirNumber) {
    RunResult r = run_on(header(2, 1) + "\n" + "0 1 x -1 0\n" + "1 2 3 100 0\n" + "2 1 1\n" +
                         "99999999999999999999 1 1 -1 0\n" + "3 2147483648 1 -1 0\n" + "4 1 1 -1 0 more fields\n");
    EXPECT_EQ(r.outcome, Outcome::ok);
    EXPECT_EQ(r.diag,
              "Warning: skipping malformed line 2: \n"
              "Warning: skipping malformed line 3: 0 1 x -1 0\n"
              "Warning: skipping malformed line 5: 2 1 1\n"
              "Warning: skipping malformed line 6: 99999999999999999999 1 1 -1 0\n"
              "Warning: skipping malformed line 7: 3 2147483648 1 -1 0\n");
    EXPECT_EQ(r.out, header(2, 1) + "1 2 3 -100 0 \n4 1 1 -1 0 \n");
}

TEST(Run, UnsupportedHeaderOnlyWhenASampleLineMustBeParsed) {
    RunResult r = run_on(header(4, 100) + "0 1 2 3 4 5 6\n");
    EXPECT_EQ(r.outcome, Outcome::unsupported_header);
    EXPECT_EQ(r.out, header(4, 100));
    r = run_on(header(1, 0) + "0 1 5 0\n");
    EXPECT_EQ(r.outcome, Outcome::unsupported_header);
    // A sample line taken as the header sets no CH_NUM: still -1.
    r = run_on("0 1 5 0\n1 1 6 0\n");
    EXPECT_EQ(r.outcome, Outcome::unsupported_header);
    // No sample line at all: nothing useful, the error line goes on.
    r = run_on(header(1, 0));
    EXPECT_EQ(r.outcome, Outcome::error_line);
    EXPECT_EQ(r.out, header(1, 0) + "-1 0 0 0\n");
}

TEST(Run, NoTagAtAllPassesTheErrorLine) {
    RunResult r = run_on(header(3, 10) + "0 1 2 3 -1 0\n1 1 2 3 -1 0\n");
    EXPECT_EQ(r.outcome, Outcome::error_line);
    EXPECT_EQ(r.out, header(3, 10) + "-1 0 0 0 0 0\n");
    r = run_on("", true);
    EXPECT_EQ(r.outcome, Outcome::error_line);
    EXPECT_EQ(r.out, "-1 0 0\n");
}

TEST(Run, ErrorLineAfterTheFirstTagEndsTheStream) {
    RunResult r = run_on(header(1, 2) + ticks(0, 6, 500) + "-1 0 0 0\n" + ticks(6, 2, 506));
    EXPECT_EQ(r.outcome, Outcome::error_line);
    std::string expect = header(1, 2);
    for (int k = 0; k < 6; ++k)
        expect += std::to_string(2 * k) + " 5 -" + std::to_string(500 + k) + " 0 \n" + std::to_string(2 * k + 1) +
                  " 6 -1 0 \n";
    expect += "-1 0 0 0\n";
    EXPECT_EQ(r.out, expect);
}

TEST(Blocks, FiftiethTagClosesAndTheFiftyFirstOpens) {
    RunResult r = run_on(header(1, 2) + ticks(0, 52, 2000), true);
    // 50 checked (0), then 2 in the final block (-4).
    int good = 0, final_block = 0;
    for (std::size_t p = 0; p < r.out.size();) {
        std::size_t e = r.out.find('\n', p);
        std::string code = r.out.substr(r.out.rfind(' ', e) + 1, e - r.out.rfind(' ', e) - 1);
        if (code == "0") ++good;
        if (code == "-4") ++final_block;
        p = e + 1;
    }
    EXPECT_EQ(good, 50);
    EXPECT_EQ(final_block, 2);
}

TEST(Blocks, NearlyFullBufferClosesOnUntimedLinesAndTheOpenerStaysUntimed) {
    // Limits shrunk: an untimed line beyond index 6 closes the block.
    Limits small;
    small.max_index = 10;
    small.untimed_close_index = 6;
    std::string body = "0 1 100 0\n";
    for (int n = 1; n <= 8; ++n) body += std::to_string(n) + " 1 -1 0\n";
    body += "9 1 101 0\n";
    RunResult r = run_on(header(1, 10) + body, false, small);
    EXPECT_EQ(r.outcome, Outcome::ok);
    // Block 1: lines 0..6 (tag 100, one point: -1). Line 7 (untimed) opens
    // block 2, whose next tag closes it at once (101 - (-1) >= 1.5): lines
    // 7 and 8 written untimed. The tag opens the final block.
    EXPECT_EQ(r.out, header(1, 10) +
                         "0 1 -100 0\n1 1 -1 0 \n2 1 -1 0 \n3 1 -1 0 \n4 1 -1 0 \n5 1 -1 0 \n6 1 -1 0 \n"
                         "7 1 -1 0 \n8 1 -1 0 \n9 1 -101 0 \n");
}

TEST(Blocks, BufferFullIsAnErrorAfterTheErrorLine) {
    Limits small;
    small.max_index = 4;
    small.untimed_close_index = 0;
    // Tags 0.2 s apart keep the block open until the index passes 4.
    std::string body;
    for (int n = 0; n < 6; ++n) body += std::to_string(n) + " 1 100 " + std::to_string(n * 200000) + "\n";
    RunResult r = run_on(header(1, 5) + body, false, small);
    EXPECT_EQ(r.outcome, Outcome::buffer_full);
    EXPECT_EQ(r.out, header(1, 5) + "-1 0 0 0\n");
    r = run_on(header(1, 5) + body, true, small);
    EXPECT_EQ(r.outcome, Outcome::buffer_full);
    EXPECT_EQ(r.out, "");
}

TEST(Blocks, SecondsZeroOpensTheFirstBlockButIsWrittenUntimed) {
    RunResult r = run_on(header(1, 1) + "0 7 0 250\n1 7 1 0\n2 7 -3 0\n3 7 2 0\n");
    EXPECT_EQ(r.outcome, Outcome::ok);
    EXPECT_EQ(r.out, header(1, 1) + "0 7 0 250 \n1 7 -1 0 \n2 7 -3 0 \n3 7 -2 0 \n");
    r = run_on(header(1, 1) + "0 7 0 250\n1 7 1 0\n2 7 -3 0\n3 7 2 0\n", true);
    EXPECT_EQ(r.out, "1 7 1 0 1970-01-01T00:00:01 -4\n3 7 2 0 1970-01-01T00:00:02 -4\n");
}

TEST(Blocks, TimeRunningBackwardsKeepsTheBlockOpen) {
    // The third tag steps back 0.8 s: the block stays open and its five tags
    // are checked together (the fit is not trusted: -3, not -1).
    RunResult r = run_on(header(1, 1) +
                             "0 1 100 0\n1 1 101 0\n2 1 100 200000\n3 1 101 200000\n4 1 102 200000\n5 1 110 0\n",
                         true);
    EXPECT_EQ(r.out,
              "0 1 100 0 1970-01-01T00:01:40 -3\n1 1 101 0 1970-01-01T00:01:41 -3\n"
              "2 1 100 200000 1970-01-01T00:01:40 -3\n3 1 101 200000 1970-01-01T00:01:41 -3\n"
              "4 1 102 200000 1970-01-01T00:01:42 -3\n5 1 110 0 1970-01-01T00:01:50 -4\n");
}

TEST(Blocks, TagsAtOneSampleNumberAreNotTrusted) {
    // x all 0: the line is no number; the tags must not pass as good.
    std::string body;
    for (int k = 0; k < 6; ++k) body += "7 1 " + std::to_string(100 + k) + " 0\n";
    body += "8 1 200 0\n";
    RunResult r = run_on(header(1, 1) + body, true);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "7 1 100 0 1970-01-01T00:01:40 -3");
}

TEST(Judge, FewPointsAreNotChecked) {
    double x[5] = {0, 0, 1, 2, 3}, y[5] = {0, 0, 0, 0, 0};
    int64_t v[5] = {9, 9, 9, 9, 9};
    timefit::judge_block(x, y, 4, v);
    EXPECT_EQ(v[0], 9);  // element 0 untouched
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(v[k], timefit::kTooFew);
}

TEST(Judge, ResidualThresholdIsStrict) {
    // Points on y = 0 except one: after its removal the line is y = 0 and
    // its residual is exactly its y.
    double x[21], y[21];
    for (int k = 1; k <= 20; ++k) x[k] = k, y[k] = 0.0;
    int64_t v[21];
    y[7] = 1e-4;  // chi2 < 1e-8: no removal; |r| < 1e-4 on the fitted line
    timefit::judge_block(x, y, 20, v);
    EXPECT_EQ(v[7], timefit::kGood);
    y[7] = 3e-4;
    timefit::judge_block(x, y, 20, v);
    EXPECT_EQ(v[7], timefit::kOffLine);
    EXPECT_EQ(v[8], timefit::kGood);
}

}  // namespace
