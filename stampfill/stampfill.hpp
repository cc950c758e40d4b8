// The time-filling stage: gives every sample line of a text record stream
// its own time. A good tag (seconds > 0) keeps its time; every other line is
// timed linearly by sample number between the good tags before and after it,
// and at the nominal rate from the nearest good tag before the first and
// after the last one.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "decimal.hpp"
#include "io.hpp"
#include "program.hpp"
#include "textlines.hpp"

namespace vorn::stampfill {

enum class StampfillExit : int {
    ok = static_cast<int>(ExitStatus::ok),
    // the error line met, no good tag at all, or an unsupported header
    no_useful_data = static_cast<int>(ExitStatus::no_useful_data),
    // too many lines wait for a good tag, or output cannot be written
    fatal = static_cast<int>(ExitStatus::fatal),
};

// Lines that may wait for their next good tag (as many as the timing check
// holds in one block).
inline constexpr int64_t kMaxWaiting = 11'000'000;

// A tag's time in double seconds: seconds + microseconds / 1e6.
double tag_time(int64_t seconds, int64_t microseconds);

// n - na as a double (exact when the difference fits 64 bits).
double sample_distance(int64_t n, int64_t na);

// Linear in the sample number between tag a and tag b:
// ta + ((n - na) * (tb - ta)) / (nb - na). Two tags with the same sample
// number: the earlier tag's time is used, at the nominal rate.
double interpolate(int64_t n, int64_t na, double ta, int64_t nb, double tb, int32_t rate);

// At the nominal rate from tag a: ta + (n - na) / rate.
double extrapolate(int64_t n, int64_t na, double ta, int32_t rate);

// Seconds = floor(t), microseconds = floor((t - floor(t)) * 1e6); a time
// beyond the 64-bit second range saturates.
SplitTime split_seconds(double t);

// The lines since the last good tag, and the tag itself.
class Filler {
public:
    Filler(int channels, int32_t rate, int64_t limit = kMaxWaiting)
        : channels_(channels), rate_(rate), limit_(limit) {}

    // Takes one sample line: a good tag writes the waiting lines and itself;
    // any other line waits. False when the line cannot wait (limit reached).
    bool add(const SampleLine& s, Writer& out);
    // Writes the waiting lines timed from the last good tag (none without
    // one) and forgets them.
    void flush_waiting(Writer& out);

    bool has_tag() const { return has_tag_; }
    int64_t waiting() const { return static_cast<int64_t>(nums_.size()); }

private:
    void write_line(Writer& out, int64_t n, const int32_t* values, int64_t sec, int64_t usec);
    void write_waiting(Writer& out, bool until_tag, int64_t nb, double tb);

    int channels_;
    int32_t rate_;
    int64_t limit_;
    bool has_tag_ = false;
    int64_t na_ = 0;
    double ta_ = 0.0;
    // Waiting lines: sample numbers, and channels_ values per line.
    std::vector<int64_t> nums_;
    std::vector<int32_t> vals_;
    // Texts of the last sample number and whole second written.
    NumberText number_text_;
    NumberText sec_text_;
};

// The whole run: header line, sample lines with their times. Messages go to
// err. limit: lines that may wait for a good tag.
StampfillExit run_stampfill(LineReader& in, Writer& out, Writer& err, int64_t limit = kMaxWaiting);

}  // namespace vorn::stampfill
