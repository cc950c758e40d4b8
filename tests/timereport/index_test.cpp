// The batch overview page: the folders it reads, the rows it shows, escaping
// of names and links.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "index.hpp"

namespace {

using namespace timereport;
namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string t = (fs::temp_directory_path() / "timereport-index-XXXXXX").string();
        path_ = ::mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

const char* kReport = R"({"station": "V042", "channels": 3, "rate": 100,
  "first_tag": "2017-01-01T12:00:34.000214Z", "last_tag": "2017-01-01T13:10:00.002199Z", "tags": 400,
  "verdicts": {"good": 300, "outlier": 1, "untrusted_fit": 0, "short_block": 0, "final_block": 99},
  "drift_ppm": 3.5002, "residual_us": {"rms": 1.9, "max": 4.1},
  "outages": [{"from": "x", "to": "y", "seconds": 62.0002}, {"from": "x", "to": "y", "seconds": 23}],
  "damaged_stretches": [{"from": "x", "position": 1, "count": 4}], "error_line": false})";

TEST(Text, HtmlEscape) {
    EXPECT_EQ(html_escape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    EXPECT_EQ(html_escape("Gr\xC3\xBC\xC3\x9F $x"), "Gr\xC3\xBC\xC3\x9F $x");
    EXPECT_EQ(html_escape("\xFF\x01z"), "\xEF\xBF\xBD\xEF\xBF\xBDz");
    EXPECT_EQ(html_escape("\xC3"), "\xEF\xBF\xBD");              // cut short
    EXPECT_EQ(html_escape("\xE0\x80\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(html_escape("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(Text, PercentEncode) {
    EXPECT_EQ(percent_encode("rec 1"), "rec%201");
    EXPECT_EQ(percent_encode("a:b/c?d#e%f&g\"h'i<j>$k"), "a%3Ab%2Fc%3Fd%23e%25f%26g%22h%27i%3Cj%3E%24k");
    EXPECT_EQ(percent_encode("\xC3\xBC-._~Az9"), "%C3%BC-._~Az9");
}

TEST(Text, TimesAndDurations) {
    EXPECT_EQ(parse_utc_text("2017-01-01T12:00:34.000214Z"), 1483272034000214);
    EXPECT_FALSE(parse_utc_text("2017-01-01T12:00:34Z"));
    EXPECT_FALSE(parse_utc_text("2017-01-01 12:00:34.000214Z"));
    EXPECT_EQ(duration_text(0), "0:00:00");
    EXPECT_EQ(duration_text(566'001'985), "0:09:26");
    EXPECT_EQ(duration_text(19'999'959), "0:00:20");
    EXPECT_EQ(duration_text((2 * 86400 + 3 * 3600 + 4 * 60 + 5) * int64_t{1000000}), "2 d 03:04:05");
}

// Three recordings, one failed, one split into segments, one not converted.
TEST(Page, RowsOfABatch) {
    TempDir t;
    const fs::path& o = t.path();
    write(o / "rec A" / "status.txt", "vornseq:rec0001.vrn 0\nvornjoin 0\nvornconv 0\ntimefit 0\n");
    write(o / "rec A" / "DONE", "");
    write(o / "rec A" / "timing.json", kReport);
    write(o / "rec A" / "timing.png", "png");
    write(o / "b<&\"'$" / "status.txt", "vornjoin 0\nvornconv 127\ntimefit 77\n");
    write(o / "long" / "part 1" / "status.txt", "vornconv 0\n");
    write(o / "long" / "part 1" / "DONE", "");
    write(o / "long" / "part 1" / "timing.json", "{ not json");
    write(o / "long" / "part 2" / "status.txt", "vornconv 0\ntimefit 0\n");  // still running, or killed
    write(o / "long" / "notes" / "x.txt", "");
    write(o / "fresh" / "files" / "rec0001.vrn", "");
    write(o / ".hidden" / "status.txt", "x 1\n");
    write(o / "index.html", "old");

    std::vector<Row> rows;
    std::string why;
    ASSERT_TRUE(scan_batch(o, rows, why));
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].name, "b<&\"'$");
    EXPECT_EQ(rows[0].href, "b%3C%26%22%27%24/");
    EXPECT_FALSE(rows[0].done);
    EXPECT_EQ(rows[0].failed_stage, "vornconv");
    EXPECT_EQ(rows[0].failed_status, 127);
    EXPECT_EQ(rows[1].name, "fresh");
    EXPECT_FALSE(rows[1].have_status);
    EXPECT_EQ(rows[2].name, "long/part 1");
    EXPECT_EQ(rows[2].href, "long/part%201/");
    EXPECT_TRUE(rows[2].bad_json);
    EXPECT_EQ(rows[3].name, "long/part 2");
    EXPECT_EQ(rows[3].last_stage, "timefit");
    EXPECT_EQ(rows[4].name, "rec A");
    EXPECT_TRUE(rows[4].done && rows[4].have_json && rows[4].have_png);

    const std::string page = index_page("batch & co", rows);
    EXPECT_NE(page.find("<title>vorn batch: batch &amp; co</title>"), std::string::npos);
    EXPECT_NE(page.find("5 recordings or segments: 2 done, 2 failed, 1 not converted."), std::string::npos);
    EXPECT_NE(page.find("<span class=\"name\">b&lt;&amp;&quot;&#39;$</span>"), std::string::npos);
    EXPECT_NE(page.find("failed: vornconv status 127"), std::string::npos);
    EXPECT_NE(page.find("not converted"), std::string::npos);
    EXPECT_NE(page.find("timing.json unreadable"), std::string::npos);
    EXPECT_NE(page.find("failed: unfinished after timefit"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"num\">1:09:26</td><td class=\"num\">75.0 %</td><td class=\"num\">3.500 ppm</td>"
                        "<td class=\"num\">2 (85.0 s)</td><td class=\"num\">1</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<a href=\"rec%20A/timing.png\"><img src=\"rec%20A/timing.png\""), std::string::npos);
    EXPECT_NE(page.find("<a href=\"rec%20A/\">folder</a>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos);  // nothing from outside
    EXPECT_EQ(page.find(".hidden"), std::string::npos);
}

TEST(Page, CompletedWithAFailedStageAndBrokenFiles) {
    TempDir t;
    const fs::path& o = t.path();
    write(o / "r" / "status.txt", "vornconv 0\n\ngarbage\ntimefit with spaces 77\nstampfill 77\n");
    write(o / "r" / "DONE", "");
    write(o / "r" / "timing.json", R"({"tags": "many", "verdicts": [], "drift_ppm": null, "outages": 3,
                                     "first_tag": "2017-01-01T00:00:00.000000Z", "error_line": true})");
    std::vector<Row> rows;
    std::string why;
    ASSERT_TRUE(scan_batch(o, rows, why));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].failed_stage, "timefit with spaces");
    EXPECT_EQ(rows[0].failed_status, 77);
    const std::string page = index_page("t", rows);
    EXPECT_NE(page.find("<span class=\"state warn\">done, timefit with spaces status 77</span>"), std::string::npos);
    EXPECT_NE(page.find("no useful data"), std::string::npos);
    // Members of the wrong kind leave their cells empty.
    EXPECT_NE(page.find("<td class=\"time\">2017-01-01T00:00:00.000000Z</td><td class=\"time\"><span class=\"none\">"),
              std::string::npos);
    EXPECT_EQ(page.find(" ppm</td>"), std::string::npos);
    EXPECT_EQ(page.find(" %</td>"), std::string::npos);
}

TEST(Page, EmptyAndMissingFolders) {
    TempDir t;
    std::vector<Row> rows;
    std::string why;
    ASSERT_TRUE(scan_batch(t.path(), rows, why));
    EXPECT_TRUE(rows.empty());
    EXPECT_NE(index_page("x", rows).find("no recordings in this folder"), std::string::npos);
    EXPECT_FALSE(scan_batch(t.path() / "absent", rows, why));
    EXPECT_FALSE(why.empty());
}

}  // namespace
