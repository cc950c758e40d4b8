// The GPS time-tag model: the fields of each GPS string, the time of the
// tagged sample, and the tests that decide whether that time can be trusted.
//
// A GPS block names a GPS second (the string's date and time plus its
// GPS-UTC offset) and the delay from the start of that second to the tagged
// sample (the time shift). The tagged sample's time is
//   f1 = (tshift / 1,000,000 + t_new) - D_FILT * (1.0 / S_RATE)
// and a tag is valid only when a run of steady, plausible tags leads up to it.
//
// The converter calls, for each GPS block, in this order:
//   read_time      the string's own date and time, t_new before the offset
//   read_fields    offset, source, fix, position, identifier, temperature,
//                  elevation; the position means; the offset added to t_new
//   check_offset   the warning on a changed GPS-UTC offset
//   judge          the time shift, f1 and the validity tests
#pragma once

#include <cstdint>
#include <string>

#include "calendar.hpp"
#include "io.hpp"
#include "blocks.hpp"
#include "stream.hpp"

namespace vornconv {

// Normal mode runs every test; OBH mode (-s) leaves out the fix, time-shift,
// moved-station and jitter tests; raw mode (-c, which also sets OBH mode)
// keeps only the repeated-tag and jump tests.
enum class TagMode { normal, obh, raw };

struct TagSettings {
    TagMode mode = TagMode::normal;
    int32_t minimum_gps_counts = 20;
    bool check_for_gps_moved = true;
    bool gps_utc_valid = false;  // -u: a valid tag needs the offset flag
    int32_t D_FILT = -1;
    int32_t S_RATE = 1;
};

class TagModel {
public:
    explicit TagModel(const TagSettings& settings) : s_(settings) {}

    // The string's date and time (positions 43-59) taken as UTC: t_new
    // before the offset, and the date and time kept for messages.
    void read_time(const vorn::GpsString& gps);
    // Offset flag (65), offset (60-61), source digit (62, then 32), fix digit
    // (33), longitude (18-20), latitude (10-11), identifier (1) and with "X"
    // temperature (4-8) and elevation (26-31). A field without a number keeps
    // the previous block's value. Then the position means and the offset.
    void read_fields(const vorn::GpsString& gps);
    // "Warning: GPS UTC offset changed from %d to %d during recording".
    void check_offset(vorn::Writer& err);
    // Takes the time shift count of the block, computes f1 and runs the
    // validity tests (their warnings go to err). Returns true for a valid tag.
    // Afterwards the block counts as seen: fold holds this f1.
    bool judge(int32_t shift_count, vorn::Writer& err);

    // Per block.
    int64_t t_new() const { return t_new_; }
    const vorn::CivilTime& own_time() const { return own_; }
    double tshift() const { return tshift_; }
    double f1() const { return f1_; }
    bool not_valid() const { return gps_not_valid_; }
    const std::string& temperature() const { return temperature_; }
    const std::string& elevation() const { return elevation_; }

    // Across blocks.
    bool first_valid_pps() const { return first_valid_pps_; }
    int64_t gpscount() const { return gpscount_; }
    int64_t n_gps() const { return means_.n; }
    int32_t gps_lat_mean() const { return means_.lat; }
    int32_t gps_lon_mean() const { return means_.lon; }
    int32_t gps_source() const { return gps_source_; }
    int32_t gps_age() const { return gps_age_; }
    int32_t gpsoffset_test() const { return gpsoffset_test_; }
    char identifier() const { return identifier_; }

private:
    bool normal() const { return s_.mode == TagMode::normal; }
    bool raw() const { return s_.mode == TagMode::raw; }

    TagSettings s_;

    int64_t t_new_ = 0;
    // Before the first GPS block the date for messages reads 1900-01-01T00:00:00.
    vorn::CivilTime own_{0, 0, 1, 0, 0, 0};
    double tshift_ = 0.0;
    double f1_ = -1.0;
    double fold_ = 0.0;
    bool gps_not_valid_ = false;

    int32_t gpsoffset_test_ = 0;
    int32_t gpsoffset_flag_ = 1;
    int32_t gpsoffset_ = -1;
    int32_t gps_source_ = 0;
    int32_t gps_age_ = 0;
    int32_t latitude_ = 0;
    int32_t longitude_ = 0;
    char identifier_ = '\0';  // none until a string names one
    std::string temperature_ = "-99.9";
    std::string elevation_ = "-99999";

    int64_t gpscount_ = 0;
    double tshift_old_ = 1000000.0;
    double tshift_old2_ = 1000000.0;
    bool first_gps_ = true;
    bool first_valid_pps_ = false;
    vorn::PositionMeans means_;
};

}  // namespace vornconv
