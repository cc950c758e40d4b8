// The timing plot: the data of its two panels, the gnuplot script that
// draws them (pngcairo, data inline), and the run of gnuplot through pipes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report.hpp"

namespace timereport {

// Points as (UTC time in seconds since 1970, value).
using Points = std::vector<std::pair<double, double>>;
// Time spans (from, to), seconds since 1970.
using Spans = std::vector<std::pair<double, double>>;

struct PlotData {
    std::string title;
    std::string offset_label;  // upper panel's y label
    bool have_offset = false;  // a reference interval was known (rate or fit)
    Points tags[5];            // clock offset in ms by verdict (kVerdicts order)
    Points fit_line;           // the fitted line in the same terms (2 points)
    Points residuals;          // good tags: residual in microseconds
    std::string residual_note; // why the lower panel is empty, if it is
    Spans outages;  // shaded spans
    Spans damaged;
    double x_min = 0, x_max = 1;
};

// Upper panel: tag time minus the time the reference interval (1 / rate,
// or the fitted interval when the rate is unknown) gives from the first good
// tag (the first tag when none is good). Series of more than max_points
// points keep the lowest and highest point of each of max_points / 2 time
// buckets, which keeps every excursion visible.
PlotData plot_data(const Report& r, std::size_t max_points = 20000);

// Sorts spans and joins those that overlap or lie less than gap apart.
Spans merge_spans(Spans spans, double gap);

// Thins points (sorted by time or not) to at most max_points as above.
Points thin_points(const Points& p, std::size_t max_points);

inline constexpr int kPlotWidth = 1400;
inline constexpr int kPlotHeight = 800;

// The whole gnuplot script: pngcairo of width x height to standard output,
// every series as an inline data block.
std::string plot_script(const PlotData& d, int width = kPlotWidth, int height = kPlotHeight);

// A text as a gnuplot single-quoted string: quotes doubled, control
// characters shown as '?'.
std::string gnuplot_quote(std::string_view s);

// Runs gnuplot (found on PATH, with its default settings: no init file)
// with script on its standard input and
// returns its standard output in png. On failure returns false with a
// one-line reason in why.
bool run_gnuplot(const std::string& script, std::string& png, std::string& why);

// True when bytes start with the PNG signature and an IHDR chunk; gives
// the picture's size.
bool png_size(std::string_view bytes, uint32_t& width, uint32_t& height);

}  // namespace timereport
