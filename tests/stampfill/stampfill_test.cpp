#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "stampfill.hpp"

using namespace vorn;
using namespace vorn::stampfill;

namespace {

struct Result {
    StampfillExit status;
    std::string out;
    std::string err;
};

Result run(const std::string& input, const SpillSettings& spill = {}) {
    Result r;
    LineReader in(input);
    Writer out(&r.out);
    Writer err(&r.err);
    r.status = run_stampfill(in, out, err, spill);
    out.flush();
    err.flush();
    return r;
}

const std::string kHeader = "Z D E 1 1 100 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";

}  // namespace

TEST(Stampfill, InterpolationFormula) {
    // Halfway between two tags one second apart: half a second.
    EXPECT_EQ(interpolate(150, 100, 10.0, 200, 11.0, 100), 10.5);
    // The same expression, in the same order: ta + ((n - na) * (tb - ta)) / (nb - na).
    const double ta = tag_time(1400000000, 123456);
    const double tb = tag_time(1400000001, 123999);
    EXPECT_EQ(interpolate(1234, 1000, ta, 1100 + 1000, tb, 1000), ta + (234.0 * (tb - ta)) / 1100.0);
    // At the tags themselves the interpolation gives the tags' times.
    EXPECT_EQ(interpolate(1000, 1000, ta, 2100, tb, 1000), ta);
    EXPECT_NEAR(interpolate(2100, 1000, ta, 2100, tb, 1000), tb, 1e-6);
    // Linear: equal steps in n give (nearly) equal steps in t.
    const double a = interpolate(1300, 1000, ta, 2100, tb, 1000);
    const double b = interpolate(1301, 1000, ta, 2100, tb, 1000);
    const double c = interpolate(1302, 1000, ta, 2100, tb, 1000);
    // (to the resolution of a double near 1.4e9 seconds, 2.4e-7 s)
    EXPECT_NEAR(b - a, c - b, 5e-7);
    EXPECT_NEAR(b - a, (tb - ta) / 1100.0, 5e-7);
}

TEST(Stampfill, EqualSampleNumbersUseTheEarlierTime) {
    EXPECT_EQ(interpolate(100, 100, 10.0, 100, 12.0, 100), 10.0);
    EXPECT_EQ(interpolate(101, 100, 10.0, 100, 12.0, 100), 10.01);
    EXPECT_FALSE(std::isnan(interpolate(99, 100, 10.0, 100, 12.0, 100)));
}

TEST(Stampfill, ExtrapolationAtTheNominalRate) {
    EXPECT_EQ(extrapolate(110, 100, 10.0, 100), 10.0 + 10.0 / 100.0);
    EXPECT_EQ(extrapolate(90, 100, 10.0, 100), 10.0 + -10.0 / 100.0);
    EXPECT_EQ(extrapolate(0, 0, 7.25, 3), 7.25);
}

TEST(Stampfill, SampleDistanceBeyond64Bits) {
    EXPECT_EQ(sample_distance(5, 3), 2.0);
    EXPECT_EQ(sample_distance(INT64_MAX, INT64_MIN), 18446744073709551615.0);
    EXPECT_EQ(sample_distance(INT64_MIN, INT64_MAX), -18446744073709551615.0);
}

TEST(Stampfill, SplitFloorsAndSaturates) {
    SplitTime s = split_seconds(10.25);
    EXPECT_EQ(s.sec, 10);
    EXPECT_EQ(s.usec, 250000);
    s = split_seconds(-0.25);
    EXPECT_EQ(s.sec, -1);
    EXPECT_EQ(s.usec, 750000);
    s = split_seconds(1e30);
    EXPECT_EQ(s.sec, INT64_MAX);
    s = split_seconds(-1e30);
    EXPECT_EQ(s.sec, INT64_MIN);
}

// Times are split with floor: 100.49 and 100.02 are held as doubles just
// below those values, so their microseconds read 489999 and 19999.
TEST(Stampfill, EveryLineGetsATime) {
    Result r = run(kHeader +
                "0 10 -1 0\n"
                "1 11 -1 0\n"
                "2 12 100 500000\n"
                "3 13 -1 0\n"
                "4 14 -100 0\n"
                "5 15 -1 0\n"
                "6 16 101 0\n"
                "7 17 -1 0\n");
    EXPECT_EQ(r.status, StampfillExit::ok);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kHeader +
                         "0 10 100 480000\n"
                         "1 11 100 489999\n"
                         "2 12 100 500000\n"
                         "3 13 100 625000\n"
                         "4 14 100 750000\n"
                         "5 15 100 875000\n"
                         "6 16 101 0\n"
                         "7 17 101 10000\n");
}

TEST(Stampfill, WaitingLinesAreWrittenBeforeTheErrorLine) {
    Result r = run(kHeader + "0 1 100 0\n1 2 -1 0\n2 3 -1 0\n-1 0 0 0\n3 4 101 0\n");
    EXPECT_EQ(r.status, StampfillExit::no_useful_data);
    EXPECT_EQ(r.out, kHeader + "0 1 100 0\n1 2 100 10000\n2 3 100 19999\n-1 0 0 0\n");
    EXPECT_EQ(r.err, "vorn ERROR: No useful data in stampfill!\n");
}

TEST(Stampfill, NoGoodTagIsNoUsefulData) {
    Result r = run(kHeader + "0 1 -1 0\n1 2 -5 0\n");
    EXPECT_EQ(r.status, StampfillExit::no_useful_data);
    EXPECT_EQ(r.out, kHeader + "-1 0 0 0\n");
    Result header_only = run(kHeader);
    EXPECT_EQ(header_only.status, StampfillExit::no_useful_data);
    EXPECT_EQ(header_only.out, kHeader + "-1 0 0 0\n");
}

SpillSettings spill_after(int64_t lines, std::string dir = "/tmp") {
    SpillSettings s;
    s.lines = lines;
    s.dir = std::move(dir);
    return s;
}

TEST(Stampfill, WaitingLinesHaveNoCountLimit) {
    std::string in = kHeader + "0 0 100 0\n";
    for (int i = 1; i <= 6; ++i) in += std::to_string(i) + " 0 -1 0\n";
    in += "7 0 101 0\n";
    const std::string expect = kHeader +
                               "0 0 100 0\n1 0 100 142857\n2 0 100 285714\n3 0 100 428571\n4 0 100 571428\n"
                               "5 0 100 714285\n6 0 100 857142\n7 0 101 0\n";
    // Held in memory, or in the temporary file from the first, second or
    // fifth line on: the same output.
    for (int64_t lines : {int64_t{1'000'000}, int64_t{1}, int64_t{2}, int64_t{5}}) {
        Result r = run(in, spill_after(lines));
        EXPECT_EQ(r.status, StampfillExit::ok) << lines;
        EXPECT_EQ(r.err, "") << lines;
        EXPECT_EQ(r.out, expect) << lines;
    }
}

TEST(Stampfill, WaitingLinesThatCannotBeKept) {
    std::string in = kHeader + "0 0 100 0\n";
    for (int i = 1; i <= 6; ++i) in += std::to_string(i) + " 0 -1 0\n";
    in += "7 0 101 0\n";
    // The temporary file cannot be created: the five lines that waited are
    // timed from the last good tag (at the nominal rate: one tag only), then
    // the error line ends the stream.
    Result r = run(in, spill_after(5, "/nonexistent/folder"));
    EXPECT_EQ(r.status, StampfillExit::fatal);
    EXPECT_EQ(r.err, "vorn ERROR: cannot keep waiting lines: No such file or directory\n");
    EXPECT_EQ(r.out, kHeader +
                         "0 0 100 0\n1 0 100 10000\n2 0 100 19999\n3 0 100 30000\n4 0 100 40000\n"
                         "5 0 100 49999\n-1 0 0 0\n");
    // Before the first good tag nothing can be timed: the error line only.
    Result untimed = run(kHeader + "0 0 -1 0\n1 0 -1 0\n2 0 100 0\n", spill_after(2, "/nonexistent"));
    EXPECT_EQ(untimed.status, StampfillExit::fatal);
    EXPECT_EQ(untimed.out, kHeader + "-1 0 0 0\n");
    EXPECT_EQ(untimed.err, "vorn ERROR: cannot keep waiting lines: No such file or directory\n");
    // A file where the folder should be.
    Result file = run(in, spill_after(3, "/proc/self/status"));
    EXPECT_EQ(file.status, StampfillExit::fatal);
    EXPECT_EQ(file.err, "vorn ERROR: cannot keep waiting lines: Not a directory\n");
}

TEST(Stampfill, SpillingChangesNoOutput) {
    // Random streams with long and short waits, two channels: every spill
    // threshold gives the output of the run that holds everything in memory.
    std::mt19937_64 rng(5);
    for (int round = 0; round < 20; ++round) {
        std::string in = "Z D E 1 2 250 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";
        const int n = 1 + static_cast<int>(rng() % 3000);
        for (int i = 0; i < n; ++i) {
            const bool tag = rng() % (round % 2 ? 40 : 700) == 0;
            in += std::to_string(i) + " " + std::to_string(i * 7) + " " + std::to_string(-i) + " " +
                  (tag ? std::to_string(1400000000 + i / 250) + " " + std::to_string((i % 250) * 4000) : "-1 0") +
                  "\n";
            if (round % 5 == 4 && i == n / 2) in += "-1 0 0 0 0\n";
        }
        const Result whole = run(in);
        for (int64_t lines : {int64_t{1}, int64_t{3}, int64_t{64}, int64_t{1000}}) {
            const Result r = run(in, spill_after(lines));
            ASSERT_EQ(r.status, whole.status) << lines;
            ASSERT_EQ(r.err, whole.err) << lines;
            ASSERT_EQ(r.out, whole.out) << lines;
        }
    }
}

TEST(Stampfill, SpillSettingsFromTheEnvironment) {
    std::string text;
    Writer err(&text);
    SpillSettings s = spill_settings(nullptr, nullptr, err);
    EXPECT_EQ(s.lines, kSpillLines);
    EXPECT_EQ(s.dir, "/tmp");
    s = spill_settings("250", "/var/tmp", err);
    EXPECT_EQ(s.lines, 250);
    EXPECT_EQ(s.dir, "/var/tmp");
    s = spill_settings("1", "", err);
    EXPECT_EQ(s.lines, 1);
    EXPECT_EQ(s.dir, "/tmp");
    err.flush();
    EXPECT_EQ(text, "");
    for (const char* bad : {"0", "-3", "12x", "", " 5", "99999999999999999999"}) {
        text.clear();
        s = spill_settings(bad, nullptr, err);
        err.flush();
        EXPECT_EQ(s.lines, kSpillLines) << bad;
        EXPECT_EQ(text, "Warning: STAMPFILL_SPILL_LINES=" + std::string(bad) +
                            " is not a whole number of at least 1; 1000000 used\n");
    }
}

TEST(Stampfill, RandomStreamsKeepEveryLineInOrder) {
    std::mt19937_64 rng(99);
    for (int round = 0; round < 50; ++round) {
        std::string in = "Z D E 1 2 250 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";
        const int n = 1 + static_cast<int>(rng() % 400);
        int good = 0;
        for (int i = 0; i < n; ++i) {
            const bool tag = rng() % 50 == 0 || i == n / 2;
            good += tag;
            const int64_t sec = tag ? 1400000000 + i / 250 : (rng() % 2 ? -1 : -(1400000000 + i / 250));
            in += std::to_string(i) + " " + std::to_string(i * 3) + " " + std::to_string(-i) + " " +
                  std::to_string(sec) + " " + std::to_string(tag || sec != -1 ? (i % 250) * 4000 : 0) + "\n";
        }
        Result r = run(in);
        ASSERT_EQ(r.status, StampfillExit::ok);
        // Header plus one line per sample line, numbers in order, times
        // never going backwards (the tags lie on one straight line).
        std::istringstream is(r.out);
        std::string line;
        std::getline(is, line);
        int64_t expect_n = 0;
        double last_t = -1e300;
        while (std::getline(is, line)) {
            std::istringstream ls(line);
            int64_t num, a, b, sec, usec;
            ls >> num >> a >> b >> sec >> usec;
            ASSERT_EQ(num, expect_n);
            ASSERT_EQ(a, 3 * num);
            ASSERT_GT(sec, 0);
            ASSERT_GE(usec, 0);
            ASSERT_LT(usec, 1000000);
            const double t = static_cast<double>(sec) + static_cast<double>(usec) / 1e6;
            ASSERT_GE(t, last_t - 2e-6) << line;
            ASSERT_NEAR(t, 1400000000.0 + static_cast<double>(num) / 250.0, 2e-6) << line;
            last_t = t;
            ++expect_n;
        }
        ASSERT_EQ(expect_n, n);
    }
}
