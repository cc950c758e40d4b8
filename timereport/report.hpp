// The timing report: reads the tag list that `timefit -t` writes (and the
// converter's messages), and sums the recording's timing up: verdict counts,
// the clock drift from a least-squares line over the good tags, the
// residuals against it, outages between tags and damaged stretches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "calendar.hpp"
#include "io.hpp"

namespace timereport {

// Verdict codes of the tag list.
inline constexpr int kGood = 0;
inline constexpr int kShortBlock = -1;
inline constexpr int kOutlier = -2;
inline constexpr int kUntrustedFit = -3;
inline constexpr int kFinalBlock = -4;

// The verdicts in the order the report and the plot name them; the JSON
// member name and the legend text of each.
struct VerdictInfo {
    int code;
    std::string_view member;
    std::string_view label;
};
inline constexpr VerdictInfo kVerdicts[5] = {
    {kGood, "good", "good"},
    {kOutlier, "outlier", "outlier (-2)"},
    {kUntrustedFit, "untrusted_fit", "untrusted fit (-3)"},
    {kShortBlock, "short_block", "short block (-1)"},
    {kFinalBlock, "final_block", "final block (-4)"},
};
// Index of a verdict code in kVerdicts, or -1.
int verdict_index(int code);

// One tag of the list: sample number, time in microseconds since 1970, verdict.
struct Tag {
    int64_t n;
    int64_t t_us;
    int verdict;
};

// What one line of the tag list is.
enum class LineKind { tag, error_line, malformed };

// Reads tag-list lines: sample number (0 or more), the channel values,
// seconds (above 0), microseconds (0..999999), "YYYY-MM-DDTHH:MM:SS" (the
// calendar time of those seconds) and the verdict (0, -1 .. -4). The first
// good line sets the channel count (1..3 values); later lines must have as
// many. The error line ("-1", zeros, "0 0") is recognised by its sample
// number -1.
class TagParser {
public:
    LineKind parse(std::string_view line, Tag& tag);
    int channels() const { return channels_; }

private:
    int channels_ = 0;
    vorn::DateText date_;
};

// The whole tag list, in input order.
struct TagList {
    std::vector<Tag> tags;
    int channels = 0;  // 0 when no line told
    bool error_line = false;
    int64_t malformed = 0;
};
// Reads every line; malformed lines are skipped with the shared warning on diag.
TagList read_tags(vorn::LineReader& in, vorn::Writer& diag);

// A damaged stretch as the converter reported it.
struct DamagedStretch {
    int64_t from_s;    // the converter's time of the report, whole seconds
    int64_t position;  // 1-based byte position in the recorder stream
    int64_t count;     // bytes in the run
};

// What the converter's messages tell.
struct ConverterInfo {
    bool have_bos = false;
    std::string station;  // DEV_NO
    int32_t channels = -1;
    int32_t rate = -1;
    bool no_useful_data = false;
    std::vector<DamagedStretch> damaged;
};
// Reads the converter's standard error: the first BOS line, every
// "timing problem from ... with block problem at position P occured N times"
// line and the "No useful data in vornconv!" message. A block-problem line
// that cannot be read is skipped with a warning on diag.
ConverterInfo read_messages(vorn::LineReader& in, vorn::Writer& diag);
// One block-problem message; false when line is none or cannot be read.
bool parse_block_problem(std::string_view line, DamagedStretch& d);

// The least-squares line t = t_mean + slope (n - n_mean) over the good tags,
// computed on centred values (sample numbers and times as differences from
// the first good tag, then from their means).
struct ClockFit {
    int64_t points = 0;
    bool valid = false;      // at least two good tags at different sample numbers
    int64_t n_ref = 0;       // first good tag
    int64_t t_ref_us = 0;
    double x_mean = 0;       // samples after n_ref
    double y_mean = 0;       // seconds after t_ref
    double slope = 0;        // seconds per sample
    double rms_us = 0;
    double max_us = 0;
    // The line's time, in seconds after t_ref, at sample number n.
    double at(int64_t n) const { return y_mean + slope * (static_cast<double>(n - n_ref) - x_mean); }
    // Residual in seconds of a tag against the line.
    double residual(const Tag& t) const { return static_cast<double>(t.t_us - t_ref_us) * 1e-6 - at(t.n); }
};
ClockFit fit_clock(const std::vector<Tag>& tags);
// How much longer the actual sample interval is than 1 / rate, in ppm.
double drift_ppm(const ClockFit& fit, double rate);

// Consecutive tags (any verdict) more than 1.5 s apart.
struct Outage {
    int64_t from_us;
    int64_t to_us;
};
inline constexpr int64_t kOutageGapUs = 1'500'000;
std::vector<Outage> find_outages(const std::vector<Tag>& tags);

// Everything the report says, computed once.
struct Report {
    std::optional<std::string> station;
    std::optional<int> channels;
    std::optional<double> rate;
    TagList list;
    ConverterInfo conv;
    ClockFit fit;
    std::optional<double> drift;
    std::vector<Outage> outages;
    int64_t verdicts[5] = {0, 0, 0, 0, 0};  // by kVerdicts order
};
// rate_option: -r, overrides the BOS line's rate when given.
Report make_report(TagList list, ConverterInfo conv, std::optional<double> rate_option);

// "YYYY-MM-DDTHH:MM:SS.ffffffZ" of a time in microseconds since 1970.
std::string utc_text(int64_t t_us);

// The JSON document, members in the order of the report's description.
nlohmann::ordered_json report_json(const Report& r);
// The document as text: two-space indentation, one member per line, invalid
// UTF-8 replaced; ends with a line feed.
std::string json_text(const nlohmann::ordered_json& j);

}  // namespace timereport
