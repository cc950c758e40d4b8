#include "kernel.hpp"

#include <cmath>
#include <stdexcept>

namespace vorn::regrid {

double sinc(double t, double T) {
    if (t == 0.0) return 1.0;
    const double u = (kPi * t) / T;
    return std::sin(u) / u;
}

double window(double t, double T, int64_t n) {
    const double L = static_cast<double>(n) * T;
    if (std::fabs(t) > L) return 0.0;
    return ((0.4891775 * std::cos((kPi * t) / L) + 0.3635819) + 0.1365995 * std::cos((kTwoPi * t) / L)) +
           0.0106411 * std::cos((kThreePi * t) / L);
}

KernelTable::KernelTable(int64_t hx)
    : coeff_(std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(kCoeffCapacity))),
      hx_(hx),
      last_(kTableSpan * hx) {
    if (hx < 1 || hx > kMaxHx) throw std::invalid_argument("sample interval outside 1..20000 us");
    const double T = static_cast<double>(hx);
    for (int64_t d = 0; d <= last_; ++d) {
        const double t = static_cast<double>(d);
        coeff_[static_cast<std::size_t>(d)] = window(t, T, kHalfTaps) * sinc(t, T);
    }
}

}  // namespace vorn::regrid
