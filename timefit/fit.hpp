// Straight-line fits of the clock model: y = a + b*x by unweighted least
// squares, and the robust fit that discards the worst point until the line
// fits well enough.
//
// Point arrays are indexed from 1, as the recorder's fitting code has always
// done: point k is element k and element 0 is never read or written. The
// caller's arrays are never modified.
#pragma once

#include <cstdint>

namespace timefit {

// robust_fit works on copies with room for this many elements (points 1 to
// kRobustCapacity - 1).
inline constexpr int64_t kRobustCapacity = 10'000;
inline constexpr int64_t kRobustMaxPoints = kRobustCapacity - 1;

// Least-squares line through points 1..ndata: intercept a, slope b, their
// standard errors siga and sigb (scaled by the scatter of the residuals) and
// the sum of squared residuals chi2. Needs x values that are not all equal
// and ndata >= 3 for finite results; does not check.
void fit(const double x[], const double y[], int64_t ndata, double* a, double* b, double* siga, double* sigb,
         double* chi2);

// Fits, then discards the point with the largest absolute residual and fits
// again while chi2 * 1e6 > 0.01, fewer than 30 % of rndata fits have been
// made and more than 4 points remain. Returns the last fit's results and
// fl = 0 when that fit is trusted, -1 when it is not. With more than
// kRobustMaxPoints points nothing is fitted: all results are NaN and fl = -1.
void robust_fit(const double rx[], const double ry[], int64_t rndata, double* ra, double* rb, double* rsiga,
                double* rsigb, double* rchi2, int64_t* fl);

}  // namespace timefit
