// The plot: the data handed to gnuplot (not the pixels), the script's
// quoting, and one real gnuplot run whose PNG header gives the size.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "plot.hpp"
#include "taglines.hpp"

namespace {

using namespace timereport;
using timereport::testing::drifting_tags;
using timereport::testing::tag_line;

TagList read(const std::string& text) {
    std::string diag;
    vorn::LineReader in(text);
    vorn::Writer w(&diag);
    return read_tags(in, w);
}

// The rows of the inline data block $name of a script.
std::vector<std::pair<double, double>> block(const std::string& script, const std::string& name) {
    std::vector<std::pair<double, double>> rows;
    const std::string head = "$" + name + " << EOD\n";
    const std::size_t at = script.find(head);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no data block " << name;
        return rows;
    }
    std::istringstream in(script.substr(at + head.size()));
    std::string line;
    while (std::getline(in, line) && line != "EOD") {
        std::istringstream f(line);
        double x = 0, y = 0;
        f >> x >> y;
        rows.emplace_back(x, y);
    }
    return rows;
}

int count(const std::string& s, const std::string& what) {
    int n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

// A recording at 100 Hz whose clock runs 50 ppm slow: 30 good tags, a gap,
// an outlier 400 us late, a short block and a final block.
Report sample_report() {
    std::string text = drifting_tags(0, 1483228800, 100, 50, 30);
    text += tag_line(4000, 1483228840, 2000 + 400, -2);  // 40 s: 4000 samples take 40.002 s
    text += tag_line(4100, 1483228841, 2050, -1);
    text += tag_line(4200, 1483228842, 2100, -4);
    ConverterInfo conv;
    conv.have_bos = true;
    conv.station = "O'Neil";
    conv.rate = 100;
    conv.channels = 1;
    conv.damaged.push_back({1483228820, 1234, 3});
    return make_report(read(text), conv, std::nullopt);
}

TEST(PlotData, OffsetsAgainstTheNominalRateFromTheFirstGoodTag) {
    const Report r = sample_report();
    const std::string script = plot_script(plot_data(r));
    const auto good = block(script, "tags_good");
    ASSERT_EQ(good.size(), 30u);
    for (std::size_t k = 0; k < good.size(); ++k) {
        const Tag& t = r.list.tags[k];
        EXPECT_NEAR(good[k].first, static_cast<double>(t.t_us) * 1e-6, 1e-6);
        // 50 ppm of the elapsed time, in ms, less the tag's place after the second.
        const double expected = (static_cast<double>(t.t_us - r.list.tags[0].t_us) * 1e-6 - t.n / 100.0) * 1e3;
        EXPECT_NEAR(good[k].second, expected, 1e-6) << k;
    }
    EXPECT_NEAR(good.back().second, 29 * 50e-6 * 1e3, 0.01);
    const auto outlier = block(script, "tags_outlier");
    ASSERT_EQ(outlier.size(), 1u);
    EXPECT_NEAR(outlier[0].second, 2.4, 1e-6);
    EXPECT_EQ(block(script, "tags_short_block").size(), 1u);
    EXPECT_EQ(block(script, "tags_final_block").size(), 1u);
    EXPECT_EQ(block(script, "tags_untrusted_fit").size(), 0u);
    // The fitted line runs from the first to the last tag's sample with a slope of 50 ppm.
    const auto fit = block(script, "fit");
    ASSERT_EQ(fit.size(), 2u);
    EXPECT_NEAR((fit[1].second - fit[0].second) / (fit[1].first - fit[0].first), 50e-6 * 1e3, 1e-4);
    EXPECT_NEAR(fit[1].second, 4200 / 100.0 * 50e-6 * 1e3, 0.005);
    // Residuals of the good tags only, in microseconds, below one.
    const auto res = block(script, "residuals");
    ASSERT_EQ(res.size(), 30u);
    for (const auto& p : res) EXPECT_LT(std::abs(p.second), 1.0);
}

TEST(PlotData, OutagesAndDamagedStretchesAreShadedInBothPanels) {
    const Report r = sample_report();
    const PlotData d = plot_data(r);
    ASSERT_EQ(d.outages.size(), 1u);
    EXPECT_NEAR(d.outages[0].first, static_cast<double>(r.list.tags[29].t_us) * 1e-6, 1e-6);
    EXPECT_NEAR(d.outages[0].second, 1483228840.0024, 1e-6);
    ASSERT_EQ(d.damaged.size(), 1u);
    EXPECT_EQ(d.damaged[0].first, 1483228820.0);
    EXPECT_GE(d.damaged[0].second - d.damaged[0].first, 1.0);
    const std::string script = plot_script(d);
    // The rectangles are set once, before the multiplot, and so lie behind both panels.
    char outage[128];
    std::snprintf(outage, sizeof outage, " rect from %.6f, graph 0 to 1483228840.002400, graph 1 behind",
                  static_cast<double>(r.list.tags[29].t_us) * 1e-6);
    EXPECT_EQ(count(script, outage), 1);
    EXPECT_EQ(count(script, " rect from 1483228820.000000, graph 0 to 1483228821.000000, graph 1 behind"), 1);
    EXPECT_LT(script.find(" rect from "), script.find("set multiplot"));
    EXPECT_EQ(count(script, "\nplot "), 2);
    EXPECT_EQ(count(script, "keyentry"), 2);
    EXPECT_NE(script.find("set multiplot title 'O''Neil  first tag 2017-01-01T00:00:00.000000Z  drift 50.0"),
              std::string::npos);
    EXPECT_NE(script.find("set terminal pngcairo size 1400,800"), std::string::npos);
    EXPECT_NE(script.find("set ylabel 'residual of good tags (us)'"), std::string::npos);
    EXPECT_NE(script.find("set xlabel 'UTC time'"), std::string::npos);
}

TEST(PlotData, WithoutARateTheFittedIntervalIsTheReference) {
    Report r = sample_report();
    r.rate.reset();
    r.drift.reset();
    const std::string script = plot_script(plot_data(r));
    EXPECT_NE(script.find("against the fitted rate"), std::string::npos);
    for (const auto& p : block(script, "tags_good")) EXPECT_LT(std::abs(p.second), 0.001);
    EXPECT_NE(script.find("drift unknown"), std::string::npos);
}

TEST(PlotData, EmptyListStillGivesAScript) {
    const std::string script = plot_script(plot_data(make_report(TagList{}, ConverterInfo{}, std::nullopt)));
    EXPECT_NE(script.find("'no time tags'"), std::string::npos);
    EXPECT_NE(script.find("no fit: fewer than two good tags"), std::string::npos);
    EXPECT_EQ(count(script, "\nplot NaN notitle"), 2);
}

TEST(PlotData, ThinningKeepsEveryBucketsExtremes) {
    Points p;
    for (int k = 0; k < 100000; ++k) p.emplace_back(k, k % 7);
    p[54321].second = 1000;  // one excursion
    p[77].second = -1000;
    const Points t = thin_points(p, 2000);
    EXPECT_LE(t.size(), 2000u);
    EXPECT_GT(t.size(), 1500u);
    bool high = false, low = false;
    for (std::size_t k = 1; k < t.size(); ++k) EXPECT_LT(t[k - 1].first, t[k].first);
    for (const auto& q : t) {
        high |= q.second == 1000;
        low |= q.second == -1000;
    }
    EXPECT_TRUE(high);
    EXPECT_TRUE(low);
    EXPECT_EQ(thin_points(p, 200000).size(), p.size());
}

TEST(PlotData, SpansCloserThanAPixelAreJoined) {
    const Spans s = merge_spans({{50, 60}, {10, 20}, {20.5, 30}, {15, 18}, {61, 62}}, 1.0);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0], std::make_pair(10.0, 30.0));  // 15..18 inside, 20.5 less than 1 after 20
    EXPECT_EQ(s[1], std::make_pair(50.0, 60.0));
    EXPECT_EQ(s[2], std::make_pair(61.0, 62.0));  // exactly 1 apart: kept apart
    EXPECT_EQ(merge_spans({{10, 20}, {20.5, 30}}, 0.4).size(), 2u);
    // A month with a short outage every minute: no more shaded spans than pixels.
    std::string text;
    for (int64_t m = 0; m < 30 * 24 * 60; ++m) {
        text += tag_line(m * 6000, 1483228800 + 60 * m, 0, 0);
        text += tag_line(m * 6000 + 200, 1483228800 + 60 * m + 2, 0, 0);
    }
    const Report r = make_report(read(text), ConverterInfo{}, 100.0);
    EXPECT_EQ(r.outages.size(), 2u * 30 * 24 * 60 - 1);
    const PlotData d = plot_data(r);
    EXPECT_LE(d.outages.size(), static_cast<std::size_t>(kPlotWidth));
    EXPECT_GE(d.outages.size(), 1u);
}

TEST(PlotScript, QuotingKeepsTheScriptWhole) {
    EXPECT_EQ(gnuplot_quote("a'b"), "'a''b'");
    EXPECT_EQ(gnuplot_quote("x\ny\"z\\"), "'x?y\"z\\'");
    EXPECT_EQ(gnuplot_quote("\xC3\xBC"), "'\xC3\xBC'");
}

TEST(Gnuplot, RealRunGivesAPngOfTheStatedSize) {
    std::string png, why;
    ASSERT_TRUE(run_gnuplot(plot_script(plot_data(sample_report())), png, why)) << why;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(png_size(png, w, h));
    EXPECT_EQ(w, 1400u);
    EXPECT_EQ(h, 800u);
}

TEST(Gnuplot, AFailingScriptIsReported) {
    std::string png, why;
    EXPECT_FALSE(run_gnuplot("this is no gnuplot command\n", png, why));
    EXPECT_NE(why.find("gnuplot failed with exit status"), std::string::npos) << why;
    EXPECT_FALSE(run_gnuplot("print 1\n", png, why));  // runs, draws nothing
    EXPECT_EQ(why, "gnuplot wrote no PNG picture");
}

TEST(Gnuplot, PngHeader) {
    uint32_t w = 0, h = 0;
    const std::string head("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x05\x78\0\0\x03\x20", 24);
    ASSERT_TRUE(png_size(head, w, h));
    EXPECT_EQ(w, 1400u);
    EXPECT_EQ(h, 800u);
    EXPECT_FALSE(png_size(head.substr(0, 23), w, h));
    EXPECT_FALSE(png_size("GIF89a" + head, w, h));
}

}  // namespace
