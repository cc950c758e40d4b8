#include <gtest/gtest.h>

#include <cmath>
#include <array>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "regrid.hpp"

#include "lines.hpp"

using namespace vorn;
using namespace vorn::regrid;

namespace {

const char* kHeader100 = "Z D E 1 3 100 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1";

struct Result {
    Exit status;
    std::string out;
    std::string err;
};

Result run(const std::string& input, bool calendar = false, bool wide_sums = true) {
    Result r;
    LineReader in(input);
    Writer out(&r.out);
    Writer err(&r.err);
    RegridOptions options;
    options.calendar = calendar;
    options.wide_sums = wide_sums;
    r.status = run_regrid(in, out, err, options);
    out.flush();
    err.flush();
    return r;
}

// Output values of one grid line (after the two time fields).
std::vector<int64_t> values_of(const std::string& line) {
    std::istringstream is(line);
    int64_t sec, usec, v;
    std::vector<int64_t> out;
    is >> sec >> usec;
    while (is >> v) out.push_back(v);
    return out;
}

}  // namespace

TEST(Regrid, SampleIntervalAndFirstInstant) {
    EXPECT_EQ(sample_interval(100), 10000);
    EXPECT_EQ(sample_interval(300), 3333);
    EXPECT_EQ(sample_interval(50), 20000);
    EXPECT_EQ(sample_interval(49), 20408);
    EXPECT_EQ(sample_interval(30), 33333);
    EXPECT_EQ(sample_interval(1000000), 1);
    // The first point at or after T25 of a grid from T25's whole second.
    EXPECT_EQ(first_instant(5'000'000, 10000), 5'000'000);
    EXPECT_EQ(first_instant(5'000'001, 10000), 5'010'000);
    EXPECT_EQ(first_instant(5'253'000, 10000), 5'260'000);
    EXPECT_EQ(first_instant(5'995'000, 10000), 6'000'000);  // r = 1,000,000 carries
    EXPECT_EQ(first_instant(5'990'000, 3333), 5'993'234);
    EXPECT_EQ(first_instant(5'999'999, 3333), 6'003'233);  // r past the second stays
}

TEST(Regrid, RoundingHalfAwayFromZero) {
    EXPECT_EQ(round_half_away(2.5), 3);
    EXPECT_EQ(round_half_away(-2.5), -3);
    EXPECT_EQ(round_half_away(2.4999), 2);
    EXPECT_EQ(round_half_away(-2.4999), -2);
    EXPECT_EQ(round_half_away(0.0), 0);
    EXPECT_EQ(round_half_away(-0.4), 0);
    EXPECT_EQ(round_half_away(2147483647.4), 2147483647);
    EXPECT_EQ(round_half_away(-2147483648.4), -2147483647 - 1);
    // Beyond 32 bits the value saturates instead of wrapping.
    EXPECT_EQ(round_half_away(6e9), INT32_MAX);
    EXPECT_EQ(round_half_away(-6e9), INT32_MIN);
}

TEST(Regrid, LineTimesThatCannotOverflow) {
    int64_t t = 0;
    EXPECT_TRUE(line_time(1400000000, 123456, t));
    EXPECT_EQ(t, 1'400'000'000'123'456);
    EXPECT_TRUE(line_time(0, -5, t));
    EXPECT_EQ(t, -5);
    EXPECT_FALSE(line_time(INT64_MAX, 0, t));
    EXPECT_FALSE(line_time(0, INT64_MIN, t));
    EXPECT_FALSE(line_time(kMaxTimeUs / 1000000, kMaxTimeUs, t));
}

TEST(Regrid, InstantsOnInputTimesReproduceTheValues) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int32_t> amp(-8388608, 8388607);
    std::string in = std::string(kHeader100) + "\n";
    std::vector<std::array<int32_t, 3>> vals;
    const int n = 400;
    for (int i = 0; i < n; ++i) {
        std::array<int32_t, 3> v{amp(rng), amp(rng), amp(rng)};
        vals.push_back(v);
        in += std::to_string(i) + " " + std::to_string(v[0]) + " " + std::to_string(v[1]) + " " +
              std::to_string(v[2]) + " " + std::to_string(1500000000 + i / 100) + " " +
              std::to_string(i % 100 * 10000) + "\n";
    }
    Result r = run(in);
    ASSERT_EQ(r.status, Exit::ok);
    auto out = vorn::testing::split_lines(r.out);
    // Instants from line 26 up to (not including) line n - 24.
    ASSERT_EQ(out.size(), 1u + (n - 24 - 26));
    for (std::size_t k = 1; k < out.size(); ++k) {
        auto v = values_of(out[k]);
        const auto& want = vals[24 + k];
        ASSERT_EQ(v.size(), 3u);
        EXPECT_EQ(v[0], want[0]) << k;
        EXPECT_EQ(v[1], want[1]) << k;
        EXPECT_EQ(v[2], want[2]) << k;
    }
}

TEST(Regrid, BandLimitedSignalBetweenJitteredSamples) {
    // A slow sine sampled at times off the grid (a constant 3,217 us late):
    // the grid values follow the sine at the grid instants.
    const double f = 3.0;  // Hz, well below the 50 Hz Nyquist of 100 Hz
    std::string in = std::string(kHeader100) + "\n";
    const int64_t t0 = 1'500'000'000'000'000;
    const int n = 600;
    for (int i = 0; i < n; ++i) {
        const int64_t t = t0 + i * 10000 + 3217;
        const double x = 1e6 * std::sin(2 * kPi * f * static_cast<double>(t - t0) / 1e6);
        const int32_t v = static_cast<int32_t>(std::lround(x));
        in += std::to_string(i) + " " + std::to_string(v) + " 0 " + std::to_string(-v) + " " +
              std::to_string(t / 1000000) + " " + std::to_string(t % 1000000) + "\n";
    }
    Result r = run(in);
    ASSERT_EQ(r.status, Exit::ok);
    auto out = vorn::testing::split_lines(r.out);
    ASSERT_GT(out.size(), 500u);
    for (std::size_t k = 1; k < out.size(); ++k) {
        std::istringstream is(out[k]);
        int64_t sec, usec, a, b, c;
        is >> sec >> usec >> a >> b >> c;
        ASSERT_EQ(usec % 10000, 0);  // on the 100 Hz grid
        const int64_t t = sec * 1000000 + usec;
        const double want = 1e6 * std::sin(2 * kPi * f * static_cast<double>(t - t0) / 1e6);
        EXPECT_NEAR(static_cast<double>(a), want, 100.0) << out[k];
        EXPECT_EQ(b, 0);
        EXPECT_EQ(c, -a);  // the kernel is linear and the sum odd-symmetric
    }
}

// The sums four wide (where the processor has AVX), with and without weights
// shared by a whole batch, and two wide give the same bytes: a drifting,
// jittered clock makes instants of every distance, alone and in runs.
TEST(Regrid, WideAndNarrowSumsGiveTheSameBytes) {
    std::mt19937_64 rng(31);
    for (int channels = 1; channels <= 3; ++channels) {
        std::string in = "Z D E 1 ";
        in += std::to_string(channels);
        in += " 1000 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";
        int64_t t = 1'500'000'000'000'000;
        for (int i = 0; i < 20000; ++i) {
            const int stretch = i / 2000 % 3;  // steady, drifting, jittered
            t += 1000 + (stretch == 1 ? (i % 7 == 0) : stretch == 2 ? static_cast<int64_t>(rng() % 5) - 2 : 0);
            in += std::to_string(i);
            for (int c = 0; c < channels; ++c) {
                in += ' ';
                in += std::to_string(static_cast<int32_t>(rng() % 2000001) - 1000000);
            }
            in += ' ';
            in += std::to_string(t / 1000000);
            in += ' ';
            in += std::to_string(t % 1000000);
            in += '\n';
        }
        const Result wide = run(in, false, true);
        const Result narrow = run(in, false, false);
        ASSERT_EQ(wide.status, Exit::ok);
        EXPECT_GT(wide.out.size(), 19000u * 20);
        EXPECT_TRUE(wide.out == narrow.out) << channels << " channels";
    }
}

TEST(Regrid, CalendarFormAndPaddedMicroseconds) {
    std::string in = std::string(kHeader100) + "\n";
    for (int i = 0; i < 60; ++i)
        in += std::to_string(i) + " 1 2 3 1483228799 " + std::to_string(700000 + i * 10000) + "\n";
    Result plain = run(in);
    Result cal = run(in, true);
    auto p = vorn::testing::split_lines(plain.out);
    auto c = vorn::testing::split_lines(cal.out);
    ASSERT_EQ(p.size(), c.size());
    EXPECT_EQ(p[1], "1483228799 950000  1 2 3");
    EXPECT_EQ(c[1], "2016-12-31T23:59:59 950000  1 2 3");
    EXPECT_EQ(p[6], "1483228800      0  1 2 3");
    EXPECT_EQ(c[6], "2017-01-01T00:00:00      0  1 2 3");
    EXPECT_EQ(p[7], "1483228800  10000  1 2 3");
}

TEST(Regrid, ErrorAndUntimedLinesAnywhere) {
    std::string body;
    for (int i = 0; i < 80; ++i) body += std::to_string(i) + " 5 6 7 1400000000 " + std::to_string(i * 10000) + "\n";
    {
        Result r = run(std::string(kHeader100) + "\n" + body + "-1 0 0 0 0 0\n" + body);
        EXPECT_EQ(r.status, Exit::no_useful_data);
        auto out = vorn::testing::split_lines(r.out);
        EXPECT_EQ(out.back(), "-1 0 0 0 0 0");
        EXPECT_EQ(out.size(), 1u + 30u + 1u);
        EXPECT_EQ(r.err, "vorn ERROR: No useful data in regrid!\n");
    }
    {
        Result r = run(std::string(kHeader100) + "\n" + body + "80 1 2 3 -1 0\n" + body);
        EXPECT_EQ(r.status, Exit::no_useful_data);
        EXPECT_EQ(vorn::testing::split_lines(r.out).back(), "-1 0 0 0 0 0");
        EXPECT_EQ(r.err, "vorn ERROR: sample line 82 has no time\n");
    }
}

TEST(Regrid, RateCheckAndUnsupportedHeaders) {
    auto header = [](int ch, int rate) {
        return "Z D E 1 " + std::to_string(ch) + " " + std::to_string(rate) + " 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";
    };
    Result few = run(header(2, 30) + "0 1 2 1400000000 0\n");
    EXPECT_EQ(few.status, Exit::no_useful_data);
    EXPECT_EQ(few.err, "vorn sample rate of 30 not supported in regrid!\n");
    EXPECT_EQ(vorn::testing::split_lines(few.out).back(), "-1 0 0 0 0");

    Result none = run(header(1, 49));
    EXPECT_EQ(none.status, Exit::no_useful_data);
    EXPECT_EQ(none.err, "vorn sample rate of 49 not supported in regrid!\n");

    Result fast = run(header(1, 1000001) + "0 1 1400000000 0\n");
    EXPECT_EQ(fast.status, Exit::no_useful_data);
    EXPECT_EQ(fast.err, "vorn ERROR: unsupported header: CH_NUM 1 S_RATE 1000001\n");
    EXPECT_EQ(vorn::testing::split_lines(fast.out).size(), 1u);

    Result zero = run(header(0, 100) + "0 1 1400000000 0\n");
    EXPECT_EQ(zero.status, Exit::no_useful_data);

    Result max_rate = run(header(1, 1000000) + "0 1 1400000000 0\n");
    EXPECT_EQ(max_rate.status, Exit::ok);

    Result empty = run("");
    EXPECT_EQ(empty.status, Exit::ok);
    EXPECT_EQ(empty.out, ". . . -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 . . . -1 -1 -1 .\n");
}
