// The overview page of a batch's output folder: one row per recording (or
// per segment of a split recording) with its state, the figures of its
// timing report and its plot. Plain HTML and CSS on standard output.
//
// Layout read: every sub-folder R of OUTDIR is a recording; R is one row
// when it holds status.txt (or when none of its sub-folders does), else each
// sub-folder S of R holding status.txt is a row named "R/S". A row folder
// may hold status.txt ("stage status" per line), DONE, timing.json and
// timing.png.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "timereport.hpp"

namespace timereport {

struct Row {
    std::string name;  // "R" or "R/S", as the folder names are (bytes)
    std::string href;  // the folder, percent-encoded, relative to OUTDIR, ending in "/"
    bool have_status = false;
    bool done = false;
    std::string failed_stage;  // first stage with a non-zero status
    int64_t failed_status = 0;
    std::string last_stage;    // last stage named in status.txt
    bool have_json = false;
    bool bad_json = false;
    nlohmann::json report;
    bool have_png = false;
};

// Reads one row folder.
Row read_row(const std::filesystem::path& dir, std::string name, std::string href);
// Every row of OUTDIR, sorted by name; false with the reason when OUTDIR
// cannot be read.
bool scan_batch(const std::filesystem::path& outdir, std::vector<Row>& rows, std::string& why);

// The page for those rows; title names the batch.
std::string index_page(std::string_view title, const std::vector<Row>& rows);

// Text for HTML: & < > " ' as references; bytes that are not UTF-8, and
// control characters, as U+FFFD.
std::string html_escape(std::string_view s);
// One path segment for a URL: every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string percent_encode(std::string_view segment);
// "YYYY-MM-DDTHH:MM:SS.ffffffZ" as microseconds since 1970.
std::optional<int64_t> parse_utc_text(std::string_view s);
// A duration to the nearest second as "H:MM:SS" (with "N d " in front from
// one day on).
std::string duration_text(int64_t us);

// -i OUTDIR: the page on standard output.
Exit run_index(const std::string& outdir);

}  // namespace timereport
