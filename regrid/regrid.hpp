// The grid interpolator: moves a text record stream whose every sample line
// carries its own time onto an exact grid of the nominal sample interval,
// with the windowed-sinc kernel over 51 consecutive input lines.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "calendar.hpp"
#include "decimal.hpp"
#include "io.hpp"
#include "kernel.hpp"
#include "program.hpp"
#include "vorn.hpp"

namespace vorn::regrid {

// Exit statuses (vorn::Exit): ok; no_useful_data for the error line met, a
// line without time, an unsupported rate or header; fatal when standard
// output cannot be written (reported by the writer itself).

struct RegridOptions {
    bool calendar = false;  // -t: instants as UTC calendar time
    // Sums four channels wide (in one instruction where the processor has
    // AVX); off, they go two wide (the same bits either way).
    bool wide_sums = true;
};

// Window positions 0..50; the centre is position 25.
inline constexpr int kWindow = 51;
inline constexpr int kCentre = 25;
// Sample lines read before the rate check and the first instant.
inline constexpr int64_t kFillLines = 50;
// Highest sampling rate with a sample interval of at least 1 microsecond.
inline constexpr int32_t kMaxRate = 1'000'000;
// Line times (microseconds since 1970) are accepted within +-2^61 (about
// 73,000 years), so that no difference of times can overflow.
inline constexpr int64_t kMaxTimeUs = int64_t{1} << 61;

// A line more than this many grid steps after the line before it ends the
// run (a damaged time: filling the gap would write grid lines for years).
inline constexpr int64_t kMaxGapSteps = 1'000'000;

// floor(1,000,000 / S_RATE) in double, truncated; s_rate 1 .. kMaxRate.
int64_t sample_interval(int32_t s_rate);

// The line's time in microseconds, seconds * 1,000,000 + microseconds;
// false when it lies outside +-kMaxTimeUs. seconds >= 0.
bool line_time(int64_t seconds, int64_t microseconds, int64_t& time_us);

// The first grid instant at or after t25 on a grid that starts at t25's
// whole second and steps by hx.
int64_t first_instant(int64_t t25, int64_t hx);

// v rounded half away from zero as a 32-bit integer; values beyond the
// 32-bit range saturate.
inline int32_t round_half_away(double v) {
    // v + 0.5 or v - 0.5 by the sign of v, without a branch (signs of
    // measured values change at random); -0.0 gives 0 either way.
    const double r = v + std::copysign(0.5, v);
    if (r >= 2147483648.0) return INT32_MAX;
    if (r <= -2147483649.0) return INT32_MIN;
    return static_cast<int32_t>(r);
}

// The sliding window of 51 lines and the grid instants. Lines 1 to 50 fill
// positions 0 to 49 (fill); begin() places the first instant; from the 51st
// line on, step() puts each line at position 50, takes every instant before
// the time at position 26 and slides the window by one line.
//
// The instants are computed a few at a time: each value is a chain of 51
// dependent additions, and the chains of several instants (and channels)
// run side by side. Every sum keeps its own order of operations, so the
// values are the same as one instant at a time. finish() writes the
// instants still pending; call it before anything else goes to the output.
class Grid {
public:
    Grid(int channels, bool calendar, bool wide_sums = true);

    void fill(int64_t time_us, const int32_t* values);
    void begin(const KernelTable& kernel);
    void step(int64_t time_us, const int32_t* values, Writer& out);
    void finish(Writer& out);

    int64_t next_instant() const { return tsrl_; }

    // Lines kept in the ring: the window and the lines since the oldest
    // pending instant's window.
    static constexpr int kRing = 64;
    // Instants computed together.
    static constexpr int kBatch = 8;
    // Sets of weights kept, by distance of the instant from its centre line.
    static constexpr int kWeightSets = 16;

private:
    struct Pending {
        int64_t tsrl;  // the instant
        int head;      // ring index of window position 0
        int weights;   // its set of weights in weights_
    };

    void store(int position, int64_t time_us, const int32_t* values);
    void weights_for(int64_t delta_t, double* weights);
    int weight_set(int64_t delta_t, Writer& out);
    void compute_pending(Writer& out);
    template <int Count>
    void interpolate(const Pending* pending, double (*values)[4]) const;
    template <int Count>
    void interpolate_any(const Pending* pending, double (*values)[4]) const;
    template <int Ch>
    char* write_instants(char* p, const double (*values)[4]);

    // A ring of kRing slots kept twice (slot k at k and k + kRing), so that
    // the 51 positions from any head lie in one piece.
    int64_t ts1l_[2 * kRing] = {};
    // The amplitudes as read (32-bit), held as doubles (the products of the
    // sums take them as doubles anyway, and the conversion is exact): the
    // channels of one line side by side, with room for a fourth.
    alignas(32) double ampx_[2 * kRing][4] = {};
    unsigned head_ = 0;
    int filled_ = 0;
    int channels_;
    bool calendar_;
    bool wide_;
    const KernelTable* kernel_ = nullptr;
    int64_t hx_ = 0;
    int64_t tsrl_ = 0;
    DateText date_;
    Pending pending_[kBatch] = {};
    int npending_ = 0;
    // The weights depend only on the distance from the instant to its centre
    // line, and that distance takes few values while the clock is steady:
    // each set is kept in the slot its distance hashes to until another
    // distance needs the slot.
    double weights_[kWeightSets][kWindow] = {};
    int64_t weights_delta_[kWeightSets] = {};
    bool weights_valid_[kWeightSets] = {};
    // A grid line is at most kMaxLine bytes: a 64-character date or
    // 20-digit seconds, 20 for the microseconds, 12 per value, and scratch.
    static constexpr std::size_t kMaxLine = 160;
    // The text of the last whole second written.
    NumberText sec_text_;
};

// The whole run: header line, sample lines, grid lines. Messages go to err.
Exit run_regrid(LineReader& in, Writer& out, Writer& err, const RegridOptions& options);

}  // namespace vorn::regrid
