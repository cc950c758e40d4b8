#include "fit.hpp"

#include <cmath>
#include <limits>

namespace timefit {

void fit(const double x[], const double y[], int64_t ndata, double* a, double* b, double* siga, double* sigb,
         double* chi2) {
    // Every sum runs in ascending index order and every expression keeps the
    // order of its operations: the results are compared bit for bit.
    double sx = 0.0;
    double sy = 0.0;
    for (int64_t i = 1; i <= ndata; ++i) {
        sx = sx + x[i];
        sy = sy + y[i];
    }
    const double ss = static_cast<double>(ndata);
    const double sxoss = sx / ss;

    double bb = 0.0;
    double st2 = 0.0;
    for (int64_t i = 1; i <= ndata; ++i) {
        const double t = x[i] - sxoss;
        st2 = st2 + t * t;
        bb = bb + t * y[i];
    }
    bb = bb / st2;
    const double aa = (sy - sx * bb) / ss;
    double sa = std::sqrt((1.0 + sx * sx / (ss * st2)) / ss);
    double sb = std::sqrt(1.0 / st2);

    double c2 = 0.0;
    for (int64_t i = 1; i <= ndata; ++i) {
        const double r = (y[i] - aa) - x[i] * bb;
        c2 = c2 + r * r;
    }
    // ndata - 2 as an integer, converted once; an absurd count near the
    // bottom of the range must not overflow.
    int64_t dof = 0;
    const double ddof = __builtin_sub_overflow(ndata, int64_t{2}, &dof) ? ss - 2.0 : static_cast<double>(dof);
    const double sigdat = std::sqrt(c2 / ddof);
    sa = sa * sigdat;
    sb = sb * sigdat;

    *a = aa;
    *b = bb;
    *siga = sa;
    *sigb = sb;
    *chi2 = c2;
}

namespace {

// Fits made as a share of the points given, in per cent.
double fit_share(int64_t kcount, int64_t rndata) {
    return static_cast<double>(kcount) * 100.0 / static_cast<double>(rndata);
}

}  // namespace

void robust_fit(const double rx[], const double ry[], int64_t rndata, double* ra, double* rb, double* rsiga,
                double* rsigb, double* rchi2, int64_t* fl) {
    if (rndata > kRobustMaxPoints) {
        // More points than the working copies hold: no fit, not trusted.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        *ra = *rb = *rsiga = *rsigb = *rchi2 = nan;
        *fl = -1;
        return;
    }
    // Working copies, touched only as far as they are filled.
    double x[kRobustCapacity];
    double y[kRobustCapacity];
    int64_t n = rndata;
    for (int64_t k = 1; k <= n; ++k) {
        x[k] = rx[k];
        y[k] = ry[k];
    }
    int64_t kcount = 1;
    int64_t flag = 0;

    double a, b, siga, sigb, chi2;
    fit(x, y, n, &a, &b, &siga, &sigb, &chi2);

    while (chi2 * 1000000.0 > 0.01 && fit_share(kcount, rndata) < 30.0 && n > 4) {
        // The point farthest from the line; the first of equal ones.
        double dmax = -1.0;
        int64_t worst = 0;
        for (int64_t k = 1; k <= n; ++k) {
            const double r = y[k] - (b * x[k] + a);
            const double ar = std::sqrt(r * r);
            if (ar > dmax) {
                worst = k;
                dmax = ar;
            }
        }
        if (worst == 0) break;  // no residual is a number: nothing to discard
        for (int64_t k = worst; k < n; ++k) {
            x[k] = x[k + 1];
            y[k] = y[k + 1];
        }
        n = n - 1;
        kcount = kcount + 1;
        fit(x, y, n, &a, &b, &siga, &sigb, &chi2);
    }
    if (fit_share(kcount, rndata) >= 30.0) flag = -1;
    if (n <= 4) flag = -1;

    *ra = a;
    *rb = b;
    *rsiga = siga;
    *rsigb = sigb;
    *rchi2 = chi2;
    *fl = flag;
}

}  // namespace timefit
