#include "timetag.hpp"

#include <cmath>

#include "format.hpp"

namespace vornconv {

void TagModel::read_time(const vorn::GpsString& gps) { t_new_ = gps.own_seconds(own_); }

void TagModel::read_fields(const vorn::GpsString& gps) {
    gps.scan_int(vorn::kGpsOffsetFlag, gpsoffset_flag_);
    gps.scan_int(vorn::kGpsOffset, gpsoffset_test_);
    // Position 32 wins whenever it holds a digit.
    gps.scan_int(vorn::kGpsSource2, gps_source_);
    gps.scan_int(vorn::kGpsSource, gps_source_);
    gps.scan_int(vorn::kGpsFix, gps_age_);
    if (gps_source_ != 0 && gps_source_ != 1) gps_age_ = 0;
    gps.scan_int(vorn::kGpsLongitude, longitude_);
    gps.scan_int(vorn::kGpsLatitude, latitude_);
    std::string id;
    if (gps.scan_word(vorn::kGpsIdentifier, id)) identifier_ = id[0];
    temperature_ = "-99.9";
    elevation_ = "-99999";
    if (identifier_ == 'X') {
        gps.scan_word(vorn::kGpsTemperature, temperature_);
        gps.scan_word(vorn::kGpsElevation, elevation_);
    }

    // The means are taken over the usable fixes only (the earlier
    // generation takes every block).
    if (gps_age_ == vorn::kUsableFix) means_.add(latitude_, longitude_);

    t_new_ += gpsoffset_test_;
}

void TagModel::check_offset(vorn::Writer& err) {
    vorn::check_offset_change(gpsoffset_flag_, gpsoffset_test_, gpsoffset_, err);
}

bool TagModel::judge(int32_t shift_count, vorn::Writer& err) {
    tshift_ = vorn::tshift_microseconds(shift_count);
    fold_ = f1_;
    f1_ = vorn::tag_time(t_new_, tshift_, s_.D_FILT, s_.S_RATE);

    bool bad = false;
    // 1. A tag that repeats the previous one exactly.
    if (f1_ == fold_) {
        bad = true;
        gpscount_ = 0;
        // "Warning :" with a space: kept on purpose, stored scripts expect it.
        vorn::format_to(err, "Warning : repetitive GPS tag(s) around %4d-%02d-%02dT%02d:%02d:%02d\n",
                        {own_.tm_year + 1900, own_.tm_mon + 1, own_.tm_mday, own_.tm_hour, own_.tm_min,
                         own_.tm_sec});
        err.flush();
    }
    // 2. The fix must count for position and time.
    if (normal() && gps_age_ != vorn::kUsableFix) bad = true;
    // 3. The first block has nothing to be compared with.
    if (!raw() && first_gps_) bad = true;
    // 4. The first 100 and the last 99 seconds of a day.
    if (!raw()) {
        const int64_t of_day = t_new_ % 86400;
        if (of_day < 100 || of_day > 86300) bad = true;
    }
    // 5. A jump of more than 1.5 s restarts the count.
    if (std::fabs(f1_ - fold_) > 1.5) {
        bad = true;
        gpscount_ = 0;
    }
    // 6. Enough consecutive tags.
    ++gpscount_;
    if (!raw() && gpscount_ < s_.minimum_gps_counts) bad = true;
    // 7. The tagged sample must not lie within 20 us of a sample boundary.
    if (normal()) {
        const double period = 1000000.0 / s_.S_RATE;
        if (tshift_ < 20.0 || (period - 20.0 < tshift_ && tshift_ < period + 1.0)) bad = true;
    }
    // 8. The station must not have moved (more than about 100 km).
    if (!raw() && s_.mode != TagMode::obh && s_.check_for_gps_moved && gps_age_ == vorn::kUsableFix &&
        means_.moved(latitude_, longitude_)) {
        bad = true;
        vorn::format_to(err, "Warning: GPS glitch or station has been moved >100km %d %d %d %d\n",
                        {means_.lat, latitude_, means_.lon, longitude_});
        err.flush();
    }
    // 9. Jitter of the time shift against the two blocks before.
    if (normal()) {
        const double a = tshift_ - tshift_old_;
        const double b = tshift_ - tshift_old2_;
        if (std::sqrt(a * a + b * b) > 100.0) {
            bad = true;
            gpscount_ = 0;
        }
    }
    // 10.
    tshift_old2_ = tshift_old_;
    tshift_old_ = tshift_;
    // 11.
    if (normal() && !bad) first_valid_pps_ = true;
    // 12. With -u the receiver must mark the offset as valid.
    if (!raw() && s_.gps_utc_valid && gpsoffset_flag_ == 0) bad = true;

    gps_not_valid_ = bad;
    first_gps_ = false;
    fold_ = f1_;
    return !bad;
}

}  // namespace vornconv
