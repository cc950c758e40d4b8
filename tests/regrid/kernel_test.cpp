#include <gtest/gtest.h>

#include <cmath>

#include "kernel.hpp"

using namespace vorn::regrid;

TEST(Kernel, CentreWeightIsOneForEveryInterval) {
    EXPECT_EQ(sinc(0.0, 1000.0), 1.0);
    EXPECT_EQ(window(0.0, 1000.0, 25), 1.0);
    for (int64_t hx : {1, 2, 3, 999, 1000, 3333, 10000, 20000}) {
        KernelTable k(hx);
        EXPECT_EQ(k.at(0), 1.0) << hx;
        EXPECT_EQ(k.last(), 52 * hx);
    }
}

TEST(Kernel, ValuesBetweenSamplesFor1000Hz) {
    KernelTable k(1000);
    EXPECT_NEAR(k.at(500), 0.6352, 5e-5);
    EXPECT_NEAR(k.at(1500), -0.2080, 5e-5);
    // Symmetric in use: the table is looked up by absolute distance, and the
    // window and sinc are even functions.
    EXPECT_EQ(window(-1500.0, 1000.0, 25), window(1500.0, 1000.0, 25));
    EXPECT_EQ(sinc(-1500.0, 1000.0), sinc(1500.0, 1000.0));
}

TEST(Kernel, SincZerosAtMultiplesOfTheInterval) {
    KernelTable k(1000);
    // Zero up to rounding, not exactly zero.
    EXPECT_NE(k.at(1000), 0.0);
    EXPECT_LT(std::fabs(k.at(1000)), 1e-16);
    EXPECT_NEAR(k.at(1000), 3.9e-17, 0.1e-17);
    for (int64_t m = 1; m <= 25; ++m) {
        EXPECT_LT(std::fabs(k.at(m * 1000)), 1e-15) << m;
        EXPECT_LT(std::fabs(sinc(static_cast<double>(m) * 3333.0, 3333.0)), 1e-15) << m;
    }
    EXPECT_LT(std::fabs(k.at(25000)), 1e-19);
}

TEST(Kernel, WindowEdgeIsInsideAndBeyondIsZero) {
    // At |t| = n T the formula still applies; the test is strict.
    EXPECT_NEAR(window(25000.0, 1000.0, 25), 0.0003628, 1e-10);
    EXPECT_NEAR(window(-25000.0, 1000.0, 25), 0.0003628, 1e-10);
    EXPECT_EQ(window(25000.000001, 1000.0, 25), 0.0);
    EXPECT_EQ(window(-25001.0, 1000.0, 25), 0.0);
    KernelTable k(1000);
    EXPECT_EQ(k.at(25001), 0.0);
    EXPECT_EQ(k.at(52000), 0.0);
}

TEST(Kernel, DistanceBeyondTheFilledRangeContributesZero) {
    KernelTable k(10);
    EXPECT_EQ(k.at(520), 0.0);
    EXPECT_EQ(k.at(521), 0.0);
    EXPECT_EQ(k.at(kCoeffCapacity), 0.0);
    EXPECT_EQ(k.at(INT64_MAX), 0.0);
    EXPECT_EQ(k.at(-1), 0.0);
}

TEST(Kernel, FullTableFor50Hz) {
    KernelTable k(20000);
    EXPECT_EQ(k.last(), kCoeffCapacity - 1);
    EXPECT_EQ(k.last(), 1'040'000);
    // Every entry is the product of the window and the sinc, in that order,
    // and zero beyond 25 intervals.
    for (int64_t d = 0; d <= k.last(); d += 997) {
        const double t = static_cast<double>(d);
        const double expected = d > 25 * 20000 ? 0.0 : window(t, 20000.0, 25) * sinc(t, 20000.0);
        ASSERT_EQ(k.at(d), expected) << d;
    }
    EXPECT_EQ(k.at(1'040'000), 0.0);
    EXPECT_EQ(k.at(500'001), 0.0);
    EXPECT_NE(k.at(499'999), 0.0);
    EXPECT_NEAR(k.at(10000), 0.6352, 5e-5);
}

TEST(Kernel, RejectsIntervalsOutsideTheTable) {
    EXPECT_THROW(KernelTable(0), std::invalid_argument);
    EXPECT_THROW(KernelTable(20001), std::invalid_argument);
}

TEST(Kernel, WeightsSumToAboutOneAtEveryOffset) {
    // A constant signal is reproduced between samples to within the
    // window's ripple.
    const int64_t hx = 1000;
    KernelTable k(hx);
    for (int64_t off = 0; off < hx; off += 37) {
        double sum = 0.0;
        for (int64_t p = -25; p <= 25; ++p) sum += k.at(std::llabs(p * hx - off));
        EXPECT_NEAR(sum, 1.0, 0.01) << off;
    }
}
