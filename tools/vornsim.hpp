// vornsim: a synthetic recorder. Writes a recorder stream, or a recording
// split into consecutive numbered recorder files, from a seed and options:
// samples of a known sine signal, GPS blocks that tag one sample per true
// UTC second, aux groups, status blocks and runs, damaged stretches, an
// overrun and a trailer. Same options and seed give the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io.hpp"
#include "program.hpp"
#include "blocks.hpp"

namespace vornsim {

enum class ExitStatus : int {
    ok = static_cast<int>(vorn::ExitStatus::ok),
    usage = static_cast<int>(vorn::ExitStatus::usage),
    fatal = static_cast<int>(vorn::ExitStatus::fatal),
};

// A stretch of true time, in seconds after the start of the recording.
struct Window {
    double start = 0.0;
    double length = 0.0;
    bool contains(double t) const { return t >= start && t < start + length; }
};

inline constexpr double kDefaultStart = 1483228800.2501;

struct Options {
    uint64_t seed = 1;                 // -s
    int32_t channels = 3;              // -c
    int32_t rate = 100;                // -r  S_RATE
    double duration = 60.0;            // -d  seconds of true time
    double start = kDefaultStart;      // -t  true UTC time of sample 0
    int32_t dfilt = 0;                 // -f  D_FILT
    double ppm = 0.0;                  // -p  sample-clock drift
    double jitter_us = 0.0;            // -j  +- microseconds on each time shift
    int32_t offset = 18;               // -u  GPS-UTC offset in the strings
    bool offset_valid = true;          // -U  clears the offset flag
    std::vector<Window> lost_lock;     // -g  no GPS blocks
    std::vector<Window> no_fix;        // -G  fix digit 1
    int64_t outliers = 0;              // -O
    double aux_every = 0.0;            // -a
    double status_every = 0.0;         // -x
    double status_run_every = 0.0;     // -X
    int64_t damaged = 0;               // -z
    bool overrun = false;              // -V
    bool trailer = true;               // -n clears it
    std::string trailer_text = "END OF RECORDING";  // -T
    int32_t first_dat_no = 1;          // -N
    std::string dev_no = "V042";       // -D
    double amplitude = 100000.0;       // -A
    double frequency = 1.0;            // -F
    int32_t files = 0;                 // -k  (0: one stream on standard output)
    std::string prefix;                // -o
};

// Parses the command line into o. Writes one message per bad option or value
// to diag ("<program> ERROR: ...") and returns the number of errors.
int parse_arguments(int argc, char** argv, Options& o, vorn::Writer& diag);
// The usage text.
void write_usage(vorn::Writer& w);
// Checks the options together; returns an error text without the program
// name, or an empty string.
std::string check_options(const Options& o);

// ---------------------------------------------------------------------------
// Encoders of the recorder format.

// The blocks are written with the recorder library's encoders
// (recorder/blocks.hpp).

// The 76-character GPS string for a GPS second.
//
//   pos     written
//   0       "$"
//   1       "X" (the string carries temperature and elevation)
//   4-8     receiver temperature, "%5.1f" degrees
//   10-17   latitude "50" and minutes, "N"
//   18-25   longitude "008" and minutes, "E"
//   26-31   elevation word
//   32      source digit 1
//   33      fix digit: 2 (usable fix) or 1 (no usable fix)
//   43-48   hhmmss of the string time (true UTC second minus offset)
//   52-59   ddmmyyyy of the string time
//   60-61   GPS-UTC offset, "%2d"
//   62      second source digit 1
//   65      offset flag: 1 valid, 0 not valid
// Every other position is free text (spaces, satellites and a label).
struct GpsFields {
    int64_t string_seconds = 0;  // the string's own date and time, seconds since 1970
    int32_t offset = 18;
    bool fix = true;
    bool offset_valid = true;
    int32_t temperature_tenths = 235;
};
std::array<uint8_t, 76> make_gps_string(const GpsFields& f);

// The recorder header of one file: all 26 tags in canonical order, each pair
// ended by ";" (the next byte, the first block's type byte, ends the header).
std::string make_header(const Options& o, int32_t dat_no);

// ---------------------------------------------------------------------------
// The sample clock. Sample k lies at true time
//     t_k = start + k * (1 + ppm*1e-6) / rate
// kept as whole seconds of start plus a small remainder for precision:
//     rel(k) = (k * (1 + ppm*1e-6)) / rate          (t_k - start)
//     phi(k) = (frac(start) + rel(k)) + D_FILT/rate  (t_k + D_FILT/rate - floor(start))
class Clock {
public:
    explicit Clock(const Options& o);
    double rel(int64_t k) const { return (static_cast<double>(k) * scale_) / rate_; }
    double phi(int64_t k) const { return (start_frac_ + rel(k)) + dfilt_s_; }
    int64_t start_sec() const { return start_sec_; }
    double start_frac() const { return start_frac_; }
    // Number of samples: those with rel(k) < duration.
    int64_t sample_count(double duration) const;
    // The first sample k >= 0 with phi(k) >= g.
    int64_t first_at_or_after(double g) const;

private:
    int64_t start_sec_;
    double start_frac_;
    double rate_;
    double scale_;
    double dfilt_s_;
};

// Signal value of channel c (0-based) at sample k:
//     round(A * sin(2*pi*F*(t_k - start) + c*pi/2)), clamped to 24 bits.
int32_t signal_value(const Options& o, const Clock& clock, int64_t k, int channel);

// One GPS tag: the GPS second (whole seconds since 1970) and its tagged sample.
struct Tag {
    int64_t second = 0;  // G
    int64_t sample = 0;  // k: first sample with t_k + D_FILT/rate >= G
};

// The GPS seconds in recording order: every whole second G after sample 0's
// t_0 + D_FILT/rate whose tagged sample exists, outside lost lock, and not
// tagging the same sample as the second before (possible only when a sample
// period exceeds a second).
class TagSchedule {
public:
    TagSchedule(const Options& o, const Clock& clock, int64_t samples);
    // The next tag, or false when the recording has no more.
    bool next(Tag& t);

private:
    const Options& o_;
    const Clock& clock_;
    int64_t samples_;
    int64_t g_;               // next candidate, seconds after floor(start)
    int64_t last_sample_ = -1;
};

// Where the output goes: one writer per file, opened and closed in order.
class Output {
public:
    virtual ~Output() = default;
    // Opens file index (0-based) and returns its writer.
    virtual vorn::Writer& open(int32_t index, int32_t dat_no) = 0;
    // Flushes and closes the file last opened.
    virtual void close() = 0;
};

// What a run wrote, for messages and tests.
struct Summary {
    int64_t samples = 0;
    int64_t gps_blocks = 0;
    int64_t clamped_shifts = 0;  // time shifts above 39,997.5 microseconds
    int32_t files = 1;
};

// Writes the recording. The options must have passed check_options.
Summary simulate(const Options& o, Output& out);

// Output into strings (unit tests): one string per file.
class StringOutput : public Output {
public:
    vorn::Writer& open(int32_t index, int32_t dat_no) override;
    void close() override;
    std::vector<std::string> files;

private:
    std::vector<std::unique_ptr<vorn::Writer>> writers_;
};

// Output into standard output: one stream.
class StdoutOutput : public Output {
public:
    vorn::Writer& open(int32_t index, int32_t dat_no) override;
    void close() override;
};

// Output into files PREFIXnnnn.vrn.
class FileOutput : public Output {
public:
    explicit FileOutput(std::string prefix) : prefix_(std::move(prefix)) {}
    vorn::Writer& open(int32_t index, int32_t dat_no) override;
    void close() override;
    // "PREFIX" + DAT_NO in four digits + ".vrn".
    static std::string file_name(std::string_view prefix, int32_t dat_no);

private:
    std::string prefix_;
    std::string name_;
    int fd_ = -1;
    std::unique_ptr<vorn::Writer> writer_;
};

}  // namespace vornsim
