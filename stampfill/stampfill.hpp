// The time-filling stage: gives every sample line of a text record stream
// its own time. A good tag (seconds > 0) keeps its time; every other line is
// timed linearly by sample number between the good tags before and after it,
// at the nominal rate from the first good tag before it, and after the last
// one at the clock rate measured over the last minute of good tags.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "decimal.hpp"
#include "io.hpp"
#include "program.hpp"
#include "textlines.hpp"
#include "waiting.hpp"

namespace vorn::stampfill {

enum class StampfillExit : int {
    ok = static_cast<int>(ExitStatus::ok),
    // the error line met, no good tag at all, or an unsupported header
    no_useful_data = static_cast<int>(ExitStatus::no_useful_data),
    // waiting lines cannot be kept, or output cannot be written
    fatal = static_cast<int>(ExitStatus::fatal),
};

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

// A good tag: its sample number and its time in double seconds.
struct GoodTag {
    int64_t n = 0;
    double t = 0.0;
};

// Good tags before the last one that the clock rate is measured from.
inline constexpr std::size_t kRateTags = 64;

// The tag the clock rate after the last good tag b is measured from: among
// the last kRateTags entries of before (the good tags before b, in input
// order), the one with the smallest sample number na such that
// 10 * rate <= nb - na <= 60 * rate; of equal sample numbers the earliest.
// Its index in before, or -1 when no tag qualifies.
std::ptrdiff_t rate_tag(std::span<const GoodTag> before, const GoodTag& b, int32_t rate);

// The time of sample n after the last good tag b: with a tag a to measure
// the rate from, tb + ((n - nb) * (tb - ta)) / (nb - na); without one
// (a == nullptr) at the nominal rate, tb + (n - nb) / rate.
double tail_time(int64_t n, const GoodTag& b, const GoodTag* a, int32_t rate);

// Seconds = floor(t), microseconds = floor((t - floor(t)) * 1e6); a time
// beyond the 64-bit second range saturates.
SplitTime split_seconds(double t);

// The lines since the last good tag, and the last good tags.
class Filler {
public:
    Filler(int channels, int32_t rate, SpillSettings spill = {})
        : channels_(channels), rate_(rate), waiting_(channels, std::move(spill)) {}

    // Takes one sample line: a good tag writes the waiting lines and itself;
    // any other line waits. False when the waiting lines cannot be kept
    // (error() tells why); the lines still kept wait for flush_waiting.
    bool add(const SampleLine& s, Writer& out) {
        if (s.sec > 0) return add_tag(s, out);
        if (!waiting_.add(s.n, s.v)) {
            error_ = waiting_.error();
            return false;
        }
        return true;
    }
    // Writes the waiting lines timed from the last good tag (none without
    // one) by the tail rule and forgets them. False when some could not be
    // read back (error() tells why).
    bool flush_waiting(Writer& out);

    bool has_tag() const { return tag_count_ > 0; }
    int64_t waiting() const { return waiting_.size(); }
    int64_t waiting_in_file() const { return waiting_.lines_in_file(); }
    const std::string& error() const { return error_; }

private:
    bool add_tag(const SampleLine& s, Writer& out);
    void write_line(Writer& out, int64_t n, const int32_t* values, int64_t sec, int64_t usec);
    template <class TimeOf>
    bool write_waiting(Writer& out, TimeOf time_of);
    const GoodTag& last_tag() const { return tags_[(tag_count_ - 1) % tags_.size()]; }

    int channels_;
    int32_t rate_;
    WaitingLines waiting_;
    // The last good tags in input order, kept round: the newest is
    // tags_[(tag_count_ - 1) % size], and kRateTags before it.
    std::array<GoodTag, kRateTags + 1> tags_{};
    uint64_t tag_count_ = 0;
    std::string error_;
    // Texts of the last sample number and whole second written.
    NumberText number_text_;
    NumberText sec_text_;
};

// The whole run: header line, sample lines with their times. Messages go to
// err. spill: where the waiting lines go when there are many.
StampfillExit run_stampfill(LineReader& in, Writer& out, Writer& err, const SpillSettings& spill = {});

// The spill settings from the environment: STAMPFILL_SPILL_LINES (lines held
// in memory; a whole number of at least 1, else a warning on err and the
// default) and TMPDIR (the folder; /tmp when unset or empty). Either may be
// null.
SpillSettings spill_settings(const char* lines, const char* tmpdir, Writer& err);

}  // namespace vorn::stampfill
