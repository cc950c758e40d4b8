// What both converter generations do with a recorder stream once its header
// is read: decode sample blocks into the buffer, find the next type byte and
// report damaged stretches, read GPS blocks, flush the buffered samples on a
// valid tag, write the -a tail and read the trailer. Each converter keeps
// its own header rule, block table, tag tests and messages, and drives this
// with them.
//
// The state is that of the one run:
//   nsample      samples decoded so far (one per sample block)
//   ibuf         samples buffered since the last flush; the next goes there
//   sample_tag   buffer index of the most recent tagged sample, -1 for none
//   problem      a damaged stretch was reported and no GPS block closed it
//   sec          whole second of the latest time, for the damage message
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "blocks.hpp"
#include "calendar.hpp"
#include "io.hpp"
#include "samplebuffer.hpp"
#include "sampleout.hpp"
#include "vorn.hpp"

namespace vorn {

// What differs between the converter generations in the shared part.
struct StreamRules {
    // Samples per channel that may wait for a valid tag.
    int64_t max_samples = MXSMP;
    // The block-problem messages begin with the program's name. The earlier
    // generation wrote them without it; kept on purpose: stored logs are
    // searched for those lines.
    bool name_in_problem_messages = true;
    // The earlier generation keeps sample_tag after a flush, so that a later
    // GPS block without a tagged sample of its own times the sample at that
    // index again; kept on purpose: old conversions must come out the same.
    // The newer one clears it: such a block times no sample.
    bool keep_sample_tag_after_flush = false;
    // -d: samples are decoded but not buffered.
    bool diag = false;
    // Grows the sample buffer (nullptr: the C library's realloc).
    SampleBuffer::Reallocate reallocate = nullptr;
};

// What a run of sample blocks ended with.
enum class SampleStep {
    ok,         // go on with the next type byte
    cut_short,  // the input ended inside a block (dropped)
    full,       // ibuf reached max_samples: the run must end
    no_memory,  // the buffer could not grow: the run must end
};

// next_type_byte at the end of input: right away, or after a damaged stretch
// that ran to the end.
inline constexpr int kEndOfInput = -1;
inline constexpr int kEndInDamage = -2;

// A GPS block as read: the string, whether the time-shift block follows,
// and the shift count (0 without one).
struct GpsBlock {
    GpsString gps;
    bool has_shift = false;
    int32_t count = 0;
};

// Which lines a flush writes.
struct FlushLines {
    bool untimed = true;  // the untimed lines (not with -t or -g)
    bool timed = true;    // the tagged sample's line (not with -g)
    bool dated = false;   // -t: the timed line carries its UTC date
};

class RecorderStream {
public:
    RecorderStream(ByteReader& in, Writer& out, Writer& err, std::string_view program);
    RecorderStream(const RecorderStream&) = delete;
    RecorderStream& operator=(const RecorderStream&) = delete;

    // The header values the converter fills in.
    HeaderValues& header() { return h_; }
    const HeaderValues& header() const { return h_; }

    // After the header (CH_NUM 1..3, S_RATE above 0): the sample buffer.
    void start(const StreamRules& rules);

    // Sample block: four bytes per channel (see sample24); the type byte has
    // been read. Runs of sample blocks (0x80, 0x90) are decoded straight
    // from the input buffer while whole blocks are there.
    SampleStep sample_blocks(bool tagged);

    // The next type byte. Bytes 0x00-0x0F before it are a damaged stretch,
    // reported when a byte of another kind ends it ("timing problem from");
    // kEndInDamage when the stretch runs to the end, kEndOfInput at the end.
    int next_type_byte();
    // "timing problem until" with the GPS string's own date and time, when a
    // damaged stretch is open.
    void close_problem(const CivilTime& own);

    // GPS block, the type byte read: the string and its time-shift block,
    // read whole before any of it is used, so that a block cut short by the
    // end of input is dropped whole (false). A string followed by a byte that
    // is no time-shift type byte leaves has_shift false.
    bool read_gps_block(GpsBlock& b);

    // A valid tag of time f1: every buffered sample is written, the tagged
    // one with the time, the others untimed; then the buffer is empty.
    void flush(double f1, const FlushLines& lines);

    // -a: the samples after the last valid tag; the last one with the time of
    // the last timed sample carried forward at the nominal rate, plus
    // drift_ms_per_day for each whole day. untimed: the other samples'
    // lines; dated: the timed line carries its date. Without a timed sample
    // before, every buffered sample goes out untimed (when untimed is set).
    void tail(double drift_ms_per_day, bool untimed, bool dated);

    // Trailer, the type byte read: its text to the end, then the EOS line.
    void trailer();

    // The error line on standard output.
    void write_error_line() { vorn::write_error_line(out_, h_.CH_NUM); }

    int channels() const { return ch_; }
    int64_t nsample() const { return nsample_; }
    int64_t ibuf() const { return ibuf_; }
    int64_t max_samples() const { return rules_.max_samples; }
    bool stream_written() const { return stream_written_; }
    int64_t sec() const { return sec_; }
    void set_sec(int64_t sec) { sec_ = sec; }

private:
    bool store_sample(const uint8_t* bytes, SampleStep& step);
    bool fast_samples(bool& tagged);
    bool check_count(SampleStep& step);
    void reset_check();
    void problem_prefix();

    ByteReader& in_;
    Writer& out_;
    Writer& err_;
    std::string_view program_;
    StreamRules rules_;
    HeaderValues h_;
    int ch_ = 1;

    std::unique_ptr<SampleBuffer> buf_;
    int64_t nsample_ = 0;
    int64_t ibuf_ = 0;
    int64_t sample_tag_ = -1;  // no tagged sample among the buffered ones
    int64_t next_check_ = 0;   // ibuf at which a warning or the limit is due

    bool stream_written_ = false;
    bool problem_ = false;
    int64_t sec_ = 0;  // before any time: 1970-01-01T00:00:00
    int64_t last_sample_with_time_ = -1;
    double last_f1_ = 0.0;
    DateText date_;
    SampleSink sink_;  // sample lines, straight into out_
};

// The options both generations read alike: -x n, -u, -g, -t, -d and -s.
struct SharedOptions {
    int32_t minimum_gps_counts = 20;  // -x: consecutive good GPS blocks before a valid tag
    bool gps_utc_valid = false;       // -u: a valid tag needs the offset flag
    bool gps_string_only = false;     // -g: GPS-string lines instead of sample lines
    bool gps_t_only = false;          // -t: timed sample lines only, dated
    bool diag = false;                // -d: diagnostic lines, samples not buffered
    bool obh_mode = false;            // -s: OBH mode (what it leaves out is the generation's)
};
// Takes one of those option letters with its operand; false for any other.
bool shared_option(SharedOptions& o, int letter, const char* operand);

// The running integer means of latitude and longitude: the first fix sets
// them, the next 99 move them ((n * mean + value) / (n + 1), truncated toward
// zero), then they stay. Which fixes count is the generation's rule.
struct PositionMeans {
    int32_t lat = 0;
    int32_t lon = 0;
    int64_t n = 0;
    void add(int32_t latitude, int32_t longitude);
    // More than 2 degrees (combined) from the means: a glitch, or the station
    // has moved by more than about 100 km.
    bool moved(int32_t latitude, int32_t longitude) const;
};

// "Warning: GPS UTC offset changed from %d to %d during recording" when a
// string marked valid (flag 1) names another offset than the string before;
// previous then takes the offset, whatever the flag (-1: none yet).
void check_offset_change(int32_t flag, int32_t offset, int32_t& previous, Writer& err);

}  // namespace vorn
