// The timing check: reads a converter's text record stream, cuts it into
// blocks of consecutive time tags, fits the clock model to each block and
// writes the stream again with every doubtful tag's seconds negated, or
// (tag-list mode) the tags with their calendar time and verdict code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "calendar.hpp"
#include "decimal.hpp"
#include "io.hpp"
#include "program.hpp"
#include "textlines.hpp"
#include "vorn.hpp"

namespace timefit {

// Exit statuses: ok, no_useful_data, fatal (vorn::Exit).
using vorn::Exit;

// Verdict codes of a tag point.
inline constexpr int64_t kGood = 0;         // block checked, tag within 1e-4 s of the line
inline constexpr int64_t kTooFew = -1;      // block of 4 tags or fewer, not checked
inline constexpr int64_t kOffLine = -2;     // block checked, tag farther than 1e-4 s from the line
inline constexpr int64_t kUntrusted = -3;   // block checked, the fit not trusted
inline constexpr int64_t kFinalBlock = -4;  // final block at end of input, never checked

// Lines a block buffer can hold.
inline constexpr int64_t MAXTMP = 11'000'000;
// Tag points a block can hold.
inline constexpr int64_t kMaxTagPoints = 50;

// Where blocks are cut. The program uses the defaults; tests shrink them.
struct Limits {
    int64_t max_tags = kMaxTagPoints;          // tag points per block (at most kMaxTagPoints)
    int64_t max_index = MAXTMP - 2;            // highest buffer index a line may take
    int64_t untimed_close_index = MAXTMP - 6;  // an untimed line beyond this index closes the block
};

struct Options {
    bool tag_list = false;  // -t
};

// Options "o:t": -t sets tag-list mode, -o takes a value and ignores it.
// Anything else is reported on diag and ignored.
Options parse_command_line(int argc, char** argv, vorn::Writer& diag);

// How a run ended.
enum class Outcome {
    ok,                  // end of input, everything written
    error_line,          // the error line was passed on (or no tag at all)
    unsupported_header,  // CH_NUM outside 1..3 or S_RATE not positive
    buffer_full,         // a block outgrew the buffer
    no_memory_columns,   // the sample-number and time columns could not grow
    no_memory_channels,  // the amplitude columns could not grow
};
std::string_view outcome_name(Outcome o);

// Verdicts of tag points 1..j (1-based arrays) of one block: with 5 points
// or more the robust fit decides, otherwise every point is kTooFew.
void judge_block(const double x[], const double y[], int64_t j, int64_t verdict[]);

// The lines of the current block, in input order, indexed from 0: sample
// number, seconds, microseconds and one amplitude per channel. The columns
// grow geometrically with the lines actually held, up to a fixed capacity.
class BlockBuffer {
public:
    BlockBuffer(int channels, int64_t capacity);
    ~BlockBuffer();
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;

    int64_t size() const { return size_; }
    // Appends a line; Outcome::ok, or which columns could not grow.
    Outcome append(const vorn::SampleLine& s) {
        if (size_ == cap_) {
            Outcome o = grow();
            if (o != Outcome::ok) return o;
        }
        const std::size_t i = static_cast<std::size_t>(size_);
        n_[i] = s.n;
        sec_[i] = s.sec;
        usec_[i] = s.usec;
        for (int c = 0; c < channels_; ++c) amp_[c][i] = s.v[c];
        ++size_;
        return Outcome::ok;
    }
    // Keeps only line i, as line 0.
    void restart_from(int64_t i);
    void clear() { size_ = 0; }

    int64_t n(int64_t i) const { return n_[i]; }
    int64_t sec(int64_t i) const { return sec_[i]; }
    int64_t usec(int64_t i) const { return usec_[i]; }
    int32_t amp(int c, int64_t i) const { return amp_[c][i]; }
    int64_t capacity() const { return cap_; }

private:
    Outcome grow();

    int channels_;
    int64_t limit_;
    int64_t size_ = 0;
    int64_t cap_ = 0;
    int64_t* n_ = nullptr;
    int64_t* sec_ = nullptr;
    int64_t* usec_ = nullptr;
    int32_t* amp_[3] = {nullptr, nullptr, nullptr};
};

// A tag point of a block: the line it stands for and its point of the fit.
struct TagPoint {
    int64_t index = 0;  // buffer index of the line
    int64_t sec = 0;    // the line's seconds and microseconds
    int64_t usec = 0;
    double x = 0.0;           // seconds since the block's first tag, by sample count
    double y = 0.0;           // the tag's time less x and the first tag's whole second
    int64_t verdict = kGood;  // set when the block closes
};

// Cuts the sample lines after the first tag into blocks, judges each block
// when it closes and writes its lines.
class TagChecker {
public:
    // channels 1..3 and s_rate > 0 (the header checked by the caller).
    TagChecker(vorn::Writer& out, int channels, int32_t s_rate, bool tag_list, const Limits& limits);

    // Opens the first block with the first tag (its seconds >= 0).
    Outcome open(const vorn::SampleLine& s);
    // Every later sample line.
    Outcome add(const vorn::SampleLine& s);
    // End of input: the lines of the current block as the final block.
    void write_final();

    int64_t tag_points() const { return j_; }

private:
    void start_block();
    void add_point(int64_t index);
    void close_block(int64_t i);
    void judge_points();
    // Lines 0..count-1 of the buffer: all of them, or with -t the timed tag
    // points only.
    void write_lines(int64_t count, bool final_block);
    void write_tag_list(int64_t count, bool final_block);
    char* write_head(char* p, int64_t i);
    double elapsed(int64_t n) const;

    vorn::Writer& out_;
    int channels_;
    double rate_;
    bool tag_list_;
    Limits limits_;
    BlockBuffer buf_;
    vorn::DateText date_;
    // Texts of the last sample number and whole second written.
    vorn::NumberText number_text_;
    vorn::NumberText sec_text_;

    int64_t nsamp0_ = 0;  // sample number of the block's first tag
    int64_t t0_ = 0;      // seconds of the block's first tag
    // Tag points 1..j_ of the block (element 0 unused, as in the fit).
    int64_t j_ = 0;
    TagPoint points_[kMaxTagPoints + 1] = {};
};

// The whole run: header line, search for the first tag, blocks, final
// block. Warnings go to diag. Before an error outcome the error line is
// written as the stream needs it; the caller writes the message (end_run).
Outcome run(vorn::LineReader& in, vorn::Writer& out, vorn::Writer& diag, vorn::HeaderValues& h,
            const Options& opt, const Limits& limits = {});

// The message and exit status of an outcome; the one exit path.
[[noreturn]] void end_run(Outcome o, const vorn::HeaderValues& h);

}  // namespace timefit
