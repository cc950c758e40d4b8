// The least-squares and robust fits of the clock model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "fit.hpp"

namespace {

using timefit::fit;
using timefit::robust_fit;

struct Result {
    double a = 0, b = 0, siga = 0, sigb = 0, chi2 = 0;
    int64_t fl = 99;
};

// 1-based point arrays: element 0 holds a sentinel that must never be read
// into a result nor be written.
struct Points {
    std::vector<double> x{std::nan("")}, y{std::nan("")};
    void add(double xv, double yv) {
        x.push_back(xv);
        y.push_back(yv);
    }
    int64_t n() const { return static_cast<int64_t>(x.size()) - 1; }
};

Result do_fit(const Points& p) {
    Result r;
    fit(p.x.data(), p.y.data(), p.n(), &r.a, &r.b, &r.siga, &r.sigb, &r.chi2);
    return r;
}

Result do_robust(const Points& p) {
    Result r;
    robust_fit(p.x.data(), p.y.data(), p.n(), &r.a, &r.b, &r.siga, &r.sigb, &r.chi2, &r.fl);
    return r;
}

// The points of a clock running on a line: one per second.
Points line_points(int n, double a, double b) {
    Points p;
    for (int i = 0; i < n; ++i) p.add(i, a + b * i);
    return p;
}

TEST(Fit, RecoversALineExactly) {
    Points p;
    for (int i = 0; i < 7; ++i) p.add(i, 3.0 + 0.5 * i);  // exactly representable
    Result r = do_fit(p);
    EXPECT_EQ(r.a, 3.0);
    EXPECT_EQ(r.b, 0.5);
    EXPECT_EQ(r.chi2, 0.0);
    EXPECT_EQ(r.siga, 0.0);
    EXPECT_EQ(r.sigb, 0.0);
}

TEST(Fit, KnownSmallExample) {
    // x = 1 2 3, y = 1 2 4: b = 1.5, a = -2/3, residuals 1/6 -1/3 1/6.
    Points p;
    p.add(1, 1);
    p.add(2, 2);
    p.add(3, 4);
    Result r = do_fit(p);
    EXPECT_DOUBLE_EQ(r.b, 1.5);
    EXPECT_DOUBLE_EQ(r.a, -2.0 / 3.0);
    EXPECT_NEAR(r.chi2, 1.0 / 6.0, 1e-15);
    // sigdat = sqrt(chi2 / 1); sigb = sqrt(1 / st2) * sigdat with st2 = 2.
    EXPECT_NEAR(r.sigb, std::sqrt(0.5) * std::sqrt(1.0 / 6.0), 1e-15);
    EXPECT_NEAR(r.siga, std::sqrt((1.0 + 36.0 / 6.0) / 3.0) * std::sqrt(1.0 / 6.0), 1e-15);
}

TEST(Fit, ArithmeticInTheStatedOrder) {
    // A reference written step by step from the recipe, on awkward values:
    // the routine must match it bit for bit.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-1e3, 1e3);
    for (int trial = 0; trial < 200; ++trial) {
        Points p;
        const int n = 3 + trial % 40;
        for (int i = 0; i < n; ++i) p.add(u(rng), u(rng) * 1e-3 + 1e9);
        double sx = 0, sy = 0;
        for (int i = 1; i <= n; ++i) sx = sx + p.x[i], sy = sy + p.y[i];
        double ss = n, sxoss = sx / ss, b = 0, st2 = 0;
        for (int i = 1; i <= n; ++i) {
            double t = p.x[i] - sxoss;
            st2 = st2 + t * t;
            b = b + t * p.y[i];
        }
        b = b / st2;
        double a = (sy - sx * b) / ss;
        double siga = std::sqrt((1.0 + sx * sx / (ss * st2)) / ss), sigb = std::sqrt(1.0 / st2);
        double chi2 = 0;
        for (int i = 1; i <= n; ++i) {
            double r = (p.y[i] - a) - p.x[i] * b;
            chi2 = chi2 + r * r;
        }
        double sigdat = std::sqrt(chi2 / (n - 2));
        Result r = do_fit(p);
        ASSERT_EQ(std::memcmp(&r.a, &a, sizeof a), 0);
        ASSERT_EQ(std::memcmp(&r.b, &b, sizeof b), 0);
        ASSERT_EQ(r.siga, siga * sigdat);
        ASSERT_EQ(r.sigb, sigb * sigdat);
        ASSERT_EQ(r.chi2, chi2);
    }
}

TEST(Fit, EqualXGivesNoNumberAndTwoPointsNoErrors) {
    Points same;
    for (int i = 0; i < 5; ++i) same.add(2.0, i);
    Result r = do_fit(same);
    EXPECT_FALSE(std::isfinite(r.b));
    EXPECT_FALSE(std::isfinite(r.a));

    Points two;
    two.add(0, 1);
    two.add(1, 3);
    r = do_fit(two);
    EXPECT_EQ(r.a, 1.0);
    EXPECT_EQ(r.b, 2.0);
    EXPECT_FALSE(std::isfinite(r.siga));  // 0 / 0 scatter
}

TEST(RobustFit, PointsOnALineAreAllKept) {
    for (int n : {5, 6, 10, 50}) {
        Points p = line_points(n, 0.25, 1e-6);
        Result r = do_robust(p);
        EXPECT_EQ(r.fl, 0) << n;
        Result plain = do_fit(p);
        EXPECT_EQ(r.a, plain.a);
        EXPECT_EQ(r.b, plain.b);
        EXPECT_EQ(r.chi2, plain.chi2);
    }
}

TEST(RobustFit, OneOutlierIsDiscardedAndTheFitTrusted) {
    Points p = line_points(20, 0.0, 0.0);
    p.y[9] = 150e-6;
    Result r = do_robust(p);
    EXPECT_EQ(r.fl, 0);
    EXPECT_EQ(r.a, 0.0);
    EXPECT_EQ(r.b, 0.0);
    EXPECT_EQ(r.chi2, 0.0);
}

// A clock with k bad points far off the line (each worse than the next, so
// that the order of removal is known).
Points with_outliers(int n, int k) {
    Points p = line_points(n, 0.0, 0.0);
    for (int i = 0; i < k; ++i) p.y[1 + i * (n / (k + 1) + 1) % n] = 1e-3 * (i + 1);
    return p;
}

TEST(RobustFit, FiftyPointsAtTheirLimit) {
    // 13 removals end trusted (kcount 14: 28 %).
    Result r = do_robust(with_outliers(50, 13));
    EXPECT_EQ(r.fl, 0);
    EXPECT_EQ(r.chi2, 0.0);
    // The 14th removal makes kcount 15: 30 % flags the result even though
    // the last fit meets the chi2 test.
    r = do_robust(with_outliers(50, 14));
    EXPECT_EQ(r.chi2, 0.0);
    EXPECT_EQ(r.fl, -1);
    // More bad points than that: removal stops after 14, still flagged.
    r = do_robust(with_outliers(50, 20));
    EXPECT_GT(r.chi2, 0.0);
    EXPECT_EQ(r.fl, -1);
}

TEST(RobustFit, TenPointsAtTheirLimit) {
    // One removal: kcount 2, 20 %: trusted.
    Result r = do_robust(with_outliers(10, 1));
    EXPECT_EQ(r.fl, 0);
    EXPECT_EQ(r.chi2, 0.0);
    // Two removals reach 30 %: flagged although the line is clean again.
    r = do_robust(with_outliers(10, 2));
    EXPECT_EQ(r.chi2, 0.0);
    EXPECT_EQ(r.fl, -1);
    // Three bad points: only two are removed.
    r = do_robust(with_outliers(10, 3));
    EXPECT_GT(r.chi2, 0.0);
    EXPECT_EQ(r.fl, -1);
}

TEST(RobustFit, FivePointsAtTheirLimit) {
    Result r = do_robust(line_points(5, 1.0, 2.0));
    EXPECT_EQ(r.fl, 0);
    // One bad point in the middle: it is removed (kcount 2: 40 %, n = 4):
    // the clean line is always flagged.
    Points p = line_points(5, 0.0, 0.0);
    p.y[3] = 1e-3;
    r = do_robust(p);
    EXPECT_EQ(r.chi2, 0.0);
    EXPECT_EQ(r.fl, -1);
}

TEST(RobustFit, SmallScatterBelowTheThresholdIsTrusted) {
    // chi2 * 1e6 <= 0.01: nothing is removed.
    Points p = line_points(10, 0.0, 0.0);
    p.y[3] = 5e-5;  // chi2 about 2.25e-9
    Result r = do_robust(p);
    Result plain = do_fit(p);
    EXPECT_EQ(r.fl, 0);
    EXPECT_EQ(r.chi2, plain.chi2);
    EXPECT_EQ(r.a, plain.a);
}

TEST(RobustFit, EqualLargestResidualsDiscardTheLowestIndex) {
    // Six points on y = 0 except x = 1 and x = 4, both at +d and symmetric
    // about the middle: the first line is flat and the two residuals are
    // equal. The first of them (point 2) must go. With 6 points the second
    // fit already reaches 2 * 100 / 6 >= 30, so the result is that fit.
    Points p;
    for (int i = 0; i < 6; ++i) p.add(i, 0.0);
    p.y[2] = 1e-3;
    p.y[5] = 1e-3;
    Result first = do_fit(p);
    ASSERT_EQ(first.b, 0.0);
    ASSERT_EQ(std::abs(p.y[2] - (first.b * p.x[2] + first.a)), std::abs(p.y[5] - (first.b * p.x[5] + first.a)));

    Points without2, without5;
    for (int i = 1; i <= 6; ++i) {
        if (i != 2) without2.add(p.x[i], p.y[i]);
        if (i != 5) without5.add(p.x[i], p.y[i]);
    }
    Result expect = do_fit(without2);
    ASSERT_NE(expect.b, do_fit(without5).b);  // the two choices differ
    Result r = do_robust(p);
    EXPECT_EQ(r.a, expect.a);
    EXPECT_EQ(r.b, expect.b);
    EXPECT_EQ(r.chi2, expect.chi2);
    EXPECT_EQ(r.fl, -1);
}

TEST(RobustFit, CallersArraysAreUntouched) {
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 2e-4);
    for (int trial = 0; trial < 100; ++trial) {
        const int n = 5 + trial % 46;
        Points p;
        for (int i = 0; i < n; ++i) p.add(i * 0.999, 0.3 + noise(rng));
        const Points before = p;
        do_robust(p);
        ASSERT_EQ(std::memcmp(p.x.data(), before.x.data(), p.x.size() * sizeof(double)), 0);
        ASSERT_EQ(std::memcmp(p.y.data(), before.y.data(), p.y.size() * sizeof(double)), 0);
    }
}

TEST(RobustFit, NotANumberChi2DiscardsNothing) {
    // All x equal: every fit is NaN, the loop never runs, and the flag comes
    // only from the closing tests (here 1 * 100 / 6 < 30 and n = 6 > 4).
    Points p;
    for (int i = 0; i < 6; ++i) p.add(4.0, i * 1e-3);
    Result r = do_robust(p);
    EXPECT_TRUE(std::isnan(r.chi2));
    EXPECT_EQ(r.fl, 0);
    // A NaN y value poisons the fit the same way.
    Points q = line_points(8, 0, 0);
    q.y[4] = std::numeric_limits<double>::quiet_NaN();
    r = do_robust(q);
    EXPECT_TRUE(std::isnan(r.chi2));
    EXPECT_EQ(r.fl, 0);
}

TEST(RobustFit, CapacityIsEnforced) {
    Points big = line_points(static_cast<int>(timefit::kRobustMaxPoints), 0.5, 0.0);
    Result r = do_robust(big);
    EXPECT_EQ(r.fl, 0);
    EXPECT_EQ(r.a, 0.5);
    big.add(1e5, 0.5);  // one more than the copies hold
    r = do_robust(big);
    EXPECT_EQ(r.fl, -1);
    EXPECT_TRUE(std::isnan(r.a));
    EXPECT_TRUE(std::isnan(r.chi2));
}

TEST(RobustFit, DegenerateCountsDoNotReadOutside) {
    Points none;
    Result r = do_robust(none);
    EXPECT_EQ(r.fl, -1);
    Points p = line_points(3, 0, 0);
    r = do_robust(p);
    EXPECT_EQ(r.fl, -1);  // n <= 4
    r = Result{};
    robust_fit(p.x.data(), p.y.data(), -5, &r.a, &r.b, &r.siga, &r.sigb, &r.chi2, &r.fl);
    EXPECT_EQ(r.fl, -1);
}

}  // namespace
