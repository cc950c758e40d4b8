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

namespace {
// The tests of judge_tag, each true when the tag fails it (the numbers are
// those of tagmodel.hpp).

// 2: a jump of more than 1.5 s from the previous tag.
bool jumped(const TagState& s) { return std::fabs(s.f1 - s.fold) > 1.5; }
// 3: not yet enough consecutive tags (gpscount counts this one).
bool too_few_tags(const TagState& s, const TagParams& p) { return s.gpscount < p.minimum_gps_counts; }
// 4 and 5: the time shift lies within 10 us of a sample boundary.
bool shift_near_sample_boundary(const TagState& s, const TagParams& p) {
    return s.tshift < 10.0 || s.tshift > 1000000.0 / p.s_rate - 10.0;
}
// 7: the time shift jitters against the two blocks before.
bool shift_jitters(const TagState& s) {
    const double j1 = s.tshift - s.tshift_old;
    const double j2 = s.tshift - s.tshift_old2;
    return std::sqrt(j1 * j1 + j2 * j2) > 100.0;
}
// 9: with -u the receiver must mark the offset as valid.
bool offset_not_valid(const TagState& s, const TagParams& p) { return p.gps_utc_valid && s.gpsoffset_flag == 0; }
}  // namespace

Verdict judge_tag(TagState& s, const TagParams& p, int64_t nsample) {
    Verdict v;
    // A jump starts the series of consecutive tags anew; this tag is the
    // first of the new series.
    const bool jump = jumped(s);
    if (jump) s.gpscount = 0;
    ++s.gpscount;

    v.moved = s.means.moved(s.gps_lat, s.gps_lon);  // 6
    bool bad = s.first_gps || jump || too_few_tags(s, p) || shift_near_sample_boundary(s, p) || v.moved ||
               shift_jitters(s);
    s.tshift_old2 = s.tshift_old;
    s.tshift_old = s.tshift;

    // 8 runs only for a tag that passed 1 to 7: it moves the clock model.
    if (!bad && !drift_check(s, s.f1, nsample, p.s_rate, p.obh_mode)) {
        bad = true;
        v.timing_problem = true;
    }
    if (offset_not_valid(s, p)) bad = true;

    v.valid = !bad;
    return v;
}

}  // namespace vorn::classic
