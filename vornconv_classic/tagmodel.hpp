// The earlier recorder generation's time-tag model: what a GPS block tells
// about the tagged sample, and the tests a tag must pass before its time is
// trusted.
//
// Every GPS block gives the time of the most recent tagged sample:
//
//   f1 = (tshift / 1,000,000 + t_new) - D_FILT * (1.0 / S_RATE)
//
// t_new is the GPS second (the string's UTC date and time plus its GPS-UTC
// offset), tshift the delay from that second to the tagged sample in
// microseconds. A tag is valid only when it passes all of these, run in this
// order (none of them clears a failure of an earlier one):
//
//   1  not the first GPS block of the run
//   2  |f1 - fold| <= 1.5 s                   (else the series restarts: gpscount = 0)
//   3  ++gpscount >= minimum_gps_counts
//   4  tshift >= 10 us
//   5  tshift <= 1,000,000 / S_RATE - 10 us
//   6  position within 2 degrees of the means of the first 100 GPS blocks
//   7  time-shift jitter against the two previous shifts <= 100 us
//   8  drift consistency (only while still valid): beyond one hour after the
//      first valid tag, the straight-line clock model must predict the tag
//      to better than one sample period (skipped as a verdict in OBH mode)
//   9  with -u: the string marks the GPS-UTC offset valid
#pragma once

#include <cstdint>

#include "blocks.hpp"
#include "stream.hpp"

namespace vorn::classic {

// State of the model for the whole run, with its start values.
struct TagState {
    // Current GPS block.
    double tshift = 0.0;  // microseconds
    double f1 = -1.0;     // tag time, seconds since 1970 UTC
    double fold = 0.0;    // tag time of the previous block
    int32_t gpsoffset_flag = 1;
    int32_t gpsoffset_test = 0;
    int32_t gps_source = 0;  // read, not used
    int32_t gps_lat = 0;
    int32_t gps_lon = 0;

    // Across blocks.
    double tshift_old = 1000000.0;
    double tshift_old2 = 1000000.0;
    bool first_gps = true;
    int64_t gpscount = 0;
    int32_t gpsoffset = -1;
    PositionMeans means;  // of every GPS block, whatever its fix

    // Clock model, from the first valid tag on.
    bool first_valid_pps = false;
    double tofvpps = 0.0;
    int64_t nofvpps = 0;
    double drift = 0.0;       // seconds per sample
    double b = 0.0;           // seconds
    double difference = 0.0;  // prediction minus tag, seconds
};

// What the run's options make of the tests.
struct TagParams {
    int32_t minimum_gps_counts = 20;
    int32_t s_rate = 1;  // positive
    bool obh_mode = false;
    bool gps_utc_valid = false;
};

// The verdict on one tag and the warnings it calls for.
struct Verdict {
    bool valid = true;
    bool moved = false;           // "station has been moved" (test 6)
    bool timing_problem = false;  // the clock model missed the tag (test 8)
};

// The fields this generation reads from the string: offset flag (65),
// GPS-UTC offset (60-61), source digit (62), longitude (18-20) and latitude
// (10-11). A field without a number leaves its value as it was.
void read_gps_fields(const GpsString& gps, TagState& s);

// The running integer means of latitude and longitude over the first 100
// GPS blocks, whatever their fix.
void update_position_means(TagState& s);

// Runs tests 1 to 9 on the block whose f1, fold and tshift are in s;
// nsample is the number of samples decoded so far.
Verdict judge_tag(TagState& s, const TagParams& p, int64_t nsample);

// Test 8 alone, for a tag that passed tests 1 to 7: starts the clock model
// at the first valid tag, refits it within the first hour, and beyond the
// hour checks the tag against it (refitting when it agrees). Returns false
// when the tag is to be rejected (never in OBH mode).
bool drift_check(TagState& s, double f1, int64_t nsample, int32_t s_rate, bool obh_mode);

}  // namespace vorn::classic
