#include "timetag.hpp"

#include <cmath>

#include "format.hpp"

namespace vornconv {

void TagModel::read_time(const vorn::GpsString& gps) { t_new_ = gps.own_seconds(own_); }

void TagModel::read_fields(const vorn::GpsString& gps) {
    gps.scan_int(65, 65, gpsoffset_flag_);
    gps.scan_int(60, 61, gpsoffset_test_);
    // Position 32 wins whenever it holds a digit.
    gps.scan_int(62, 62, gps_source_);
    gps.scan_int(32, 32, gps_source_);
    gps.scan_int(33, 33, gps_age_);
    if (gps_source_ != 0 && gps_source_ != 1) gps_age_ = 0;
    gps.scan_int(18, 20, longitude_);
    gps.scan_int(10, 11, latitude_);
    std::string id;
    if (gps.scan_word(1, 1, id)) identifier_ = id[0];
    temperature_ = "-99.9";
    elevation_ = "-99999";
    if (identifier_ == 'X') {
        gps.scan_word(4, 8, temperature_);
        gps.scan_word(26, 31, elevation_);
    }

    // Running means of the usable fixes, frozen after the hundredth.
    if (gps_age_ == 2) {
        if (n_gps_ == 0) {
            gps_lat_mean_ = latitude_;
            gps_lon_mean_ = longitude_;
        } else if (n_gps_ <= 99) {
            gps_lat_mean_ = static_cast<int32_t>((n_gps_ * gps_lat_mean_ + latitude_) / (n_gps_ + 1));
            gps_lon_mean_ = static_cast<int32_t>((n_gps_ * gps_lon_mean_ + longitude_) / (n_gps_ + 1));
        }
        ++n_gps_;
    }

    t_new_ += gpsoffset_test_;
}

void TagModel::check_offset(vorn::Writer& err) {
    if (gpsoffset_flag_ == 1 && gpsoffset_test_ != gpsoffset_ && gpsoffset_ != -1) {
        vorn::format_to(err, "Warning: GPS UTC offset changed from %d to %d during recording\n",
                        {gpsoffset_, gpsoffset_test_});
        err.flush();
    }
    gpsoffset_ = gpsoffset_test_;
}

bool TagModel::judge(int32_t shift_count, vorn::Writer& err) {
    tshift_ = vorn::tshift_microseconds(shift_count);
    fold_ = f1_;
    f1_ = (tshift_ / 1000000.0 + static_cast<double>(t_new_)) - s_.D_FILT * (1.0 / s_.S_RATE);

    bool bad = false;
    // 1. A tag that repeats the previous one exactly.
    if (f1_ == fold_) {
        bad = true;
        gpscount_ = 0;
        vorn::format_to(err, "Warning : repetitive GPS tag(s) around %4d-%02d-%02dT%02d:%02d:%02d\n",
                        {own_.tm_year + 1900, own_.tm_mon + 1, own_.tm_mday, own_.tm_hour, own_.tm_min,
                         own_.tm_sec});
        err.flush();
    }
    // 2. The fix must count for position and time.
    if (normal() && gps_age_ != 2) bad = true;
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
    if (!raw() && s_.mode != TagMode::obh && s_.check_for_gps_moved && gps_age_ == 2) {
        const int64_t dlat = int64_t{gps_lat_mean_} - latitude_;
        const int64_t dlon = int64_t{gps_lon_mean_} - longitude_;
        if (std::sqrt(static_cast<double>(dlat * dlat + dlon * dlon)) > 2.0) {
            bad = true;
            vorn::format_to(err, "Warning: GPS glitch or station has been moved >100km %d %d %d %d\n",
                            {gps_lat_mean_, latitude_, gps_lon_mean_, longitude_});
            err.flush();
        }
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
