// The interpolation kernel: a sinc whose zeros fall on the multiples of the
// sample interval, tapered by a four-term Blackman-Nuttall window spanning 25
// sample intervals on each side. It is evaluated once per run, for every
// whole microsecond of distance from 0 to 52 sample intervals, into the
// table `coeff`; interpolation then needs no trigonometry per value.
#pragma once

#include <cstdint>
#include <memory>

namespace vorn::regrid {

// The doubles nearest to pi, 2 pi and 3 pi.
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kThreePi = 9.42477796076938;

// Taps on each side of the centre, and the table's span in sample intervals.
inline constexpr int64_t kHalfTaps = 25;
inline constexpr int64_t kTableSpan = 52;
// Largest accepted sample interval in microseconds (50 Hz).
inline constexpr int64_t kMaxHx = 20'000;
// Entries for the largest accepted interval: 52 * 20,000 + 1.
inline constexpr int64_t kCoeffCapacity = kTableSpan * kMaxHx + 1;

// sin(u) / u with u = (pi t) / T; exactly 1.0 at t = 0.
double sinc(double t, double T);

// Blackman-Nuttall window of half-width L = n T, centred on 0: 1.0 at 0,
// 0.0003628 at |t| = L (the test is strict) and 0.0 beyond.
double window(double t, double T, int64_t n);

// coeff[d] = window(d, hx, 25) * sinc(d, hx) for d = 0 .. 52 hx. The storage
// holds the capacity for the largest interval; only the filled part is ever
// touched. A distance beyond the filled range has kernel value 0.
class KernelTable {
public:
    // hx: 1 .. kMaxHx microseconds.
    explicit KernelTable(int64_t hx);

    // Kernel value at a non-negative distance d in microseconds.
    double at(int64_t d) const { return d >= 0 && d <= last_ ? coeff_[static_cast<std::size_t>(d)] : 0.0; }
    // Kernel value at a distance known to lie in 0 .. last().
    double coeff(int64_t d) const { return coeff_[static_cast<std::size_t>(d)]; }
    // The last filled index, 52 hx.
    int64_t last() const { return last_; }
    int64_t hx() const { return hx_; }

private:
    std::unique_ptr<double[]> coeff_;
    int64_t hx_;
    int64_t last_;
};

}  // namespace vorn::regrid
