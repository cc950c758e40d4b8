#include "tagmodel.hpp"

#include <cmath>

namespace vorn::classic {

void read_gps_fields(const GpsString& gps, TagState& s) {
    gps.scan_int(kGpsOffsetFlag, s.gpsoffset_flag);
    gps.scan_int(kGpsOffset, s.gpsoffset_test);
    gps.scan_int(kGpsSource2, s.gps_source);
    gps.scan_int(kGpsLongitude, s.gps_lon);
    gps.scan_int(kGpsLatitude, s.gps_lat);
}

void update_position_means(TagState& s) { s.means.add(s.gps_lat, s.gps_lon); }

namespace {
// drift from the whole span since the first valid tag, and the intercept.
void refit(TagState& s, double f1, int64_t nsample, double span) {
    if (nsample == s.nofvpps) s.drift = 0.0;
    else s.drift = span / static_cast<double>(nsample - s.nofvpps);
    s.b = f1 - static_cast<double>(nsample) * s.drift;
}
}  // namespace

bool drift_check(TagState& s, double f1, int64_t nsample, int32_t s_rate, bool obh_mode) {
    if (!s.first_valid_pps) {
        s.first_valid_pps = true;
        s.tofvpps = f1;
        s.nofvpps = nsample;
    }
    const double span = f1 - s.tofvpps;
    if (span < 3600.0) {
        refit(s, f1, nsample, span);
        return true;
    }
    if (span > 3600.0) {
        s.difference = static_cast<double>(nsample) * s.drift + s.b - f1;
        if (std::fabs(s.difference) < 1.0 / s_rate) {
            refit(s, f1, nsample, span);
            return true;
        }
        // The model stays as it was; the next tag meets the same prediction.
        return obh_mode;
    }
    return true;  // exactly one hour: nothing changes
}

Verdict judge_tag(TagState& s, const TagParams& p, int64_t nsample) {
    Verdict v;
    bool bad = false;

    if (s.first_gps) bad = true;

    if (std::fabs(s.f1 - s.fold) > 1.5) {
        bad = true;
        s.gpscount = 0;
    }

    ++s.gpscount;
    if (s.gpscount < p.minimum_gps_counts) bad = true;

    if (s.tshift < 10.0) bad = true;
    if (s.tshift > 1000000.0 / p.s_rate - 10.0) bad = true;

    if (s.means.moved(s.gps_lat, s.gps_lon)) {
        bad = true;
        v.moved = true;
    }

    const double j1 = s.tshift - s.tshift_old;
    const double j2 = s.tshift - s.tshift_old2;
    if (std::sqrt(j1 * j1 + j2 * j2) > 100.0) bad = true;
    s.tshift_old2 = s.tshift_old;
    s.tshift_old = s.tshift;

    if (!bad && !drift_check(s, s.f1, nsample, p.s_rate, p.obh_mode)) {
        bad = true;
        v.timing_problem = true;
    }

    if (p.gps_utc_valid && s.gpsoffset_flag == 0) bad = true;

    v.valid = !bad;
    return v;
}

}  // namespace vorn::classic
