// The report's reading of tag lists and converter messages, the clock line
// and the JSON document.
#include <gtest/gtest.h>

#include <string>

#include "report.hpp"
#include "taglines.hpp"

namespace {

using namespace timereport;
using timereport::testing::drifting_tags;
using timereport::testing::tag_line;

TagList read(const std::string& text, std::string* diag_text = nullptr) {
    std::string diag;
    vorn::LineReader in(text);
    vorn::Writer w(&diag);
    TagList list = read_tags(in, w);
    w.flush();
    if (diag_text) *diag_text = diag;
    return list;
}

ConverterInfo messages(const std::string& text, std::string* diag_text = nullptr) {
    std::string diag;
    vorn::LineReader in(text);
    vorn::Writer w(&diag);
    ConverterInfo info = read_messages(in, w);
    w.flush();
    if (diag_text) *diag_text = diag;
    return info;
}

TEST(TagLines, ReadsEveryChannelCountAndVerdict) {
    for (int ch = 1; ch <= 3; ++ch) {
        std::string text;
        const int codes[5] = {0, -1, -2, -3, -4};
        for (int k = 0; k < 5; ++k) text += tag_line(100 * k, 1483228800 + k, 250 + k, codes[k], ch);
        std::string diag;
        TagList list = read(text, &diag);
        EXPECT_EQ(diag, "");
        EXPECT_EQ(list.channels, ch);
        ASSERT_EQ(list.tags.size(), 5u);
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(list.tags[k].n, 100 * k);
            EXPECT_EQ(list.tags[k].t_us, (1483228800 + k) * int64_t{1000000} + 250 + k);
            EXPECT_EQ(list.tags[k].verdict, codes[k]);
        }
    }
}

TEST(TagLines, MalformedLinesAreSkippedWithTheSharedWarning) {
    const std::string good = tag_line(5, 1483228800, 7, 0, 2);
    const std::string bad[] = {
        "5 1 2 1483228800 7 2017-01-01T00:00:01 0",    // the date is not that of the seconds
        "5 1 2 1483228800 7 2017-01-01T00:00:00 -5",   // no such verdict
        "5 1 2 1483228800 7 2017-01-01T00:00:00 1",    // no such verdict
        "5 1 2 1483228800 1000000 2017-01-01T00:00:00 0",  // microseconds beyond a second
        "5 1 2 -1483228800 7 2017-01-01T00:00:00 0",   // negated seconds do not belong in the list
        "5 1 1483228800 7 2017-01-01T00:00:00 0",      // one value where the first line had two
        "5 1 2 3 4 1483228800 7 2017-01-01T00:00:00 0",  // four values
        "5x 1 2 1483228800 7 2017-01-01T00:00:00 0",
        "-7 1 2 1483228800 7 2017-01-01T00:00:00 0",   // negative sample number
        "",
        "-1 0 0 1",                                    // an error line with a time
    };
    std::string text = good;
    for (const std::string& b : bad) text += b + "\n";
    text += good;
    std::string diag;
    TagList list = read(text, &diag);
    EXPECT_EQ(list.tags.size(), 2u);
    EXPECT_EQ(list.malformed, 11);
    EXPECT_FALSE(list.error_line);
    std::string expected;
    for (int k = 0; k < 11; ++k)
        expected.append("Warning: skipping malformed line ").append(std::to_string(k + 2)).append(": ").append(bad[k]).append("\n");
    EXPECT_EQ(diag, expected);
}

TEST(TagLines, ErrorLineIsRecognised) {
    TagList only = read("-1 0 0 0 0 0\n");
    EXPECT_TRUE(only.error_line);
    EXPECT_TRUE(only.tags.empty());
    TagList after = read(tag_line(1, 1483228800, 0, -4, 3) + "-1 0 0 0 0 0\n");
    EXPECT_TRUE(after.error_line);
    EXPECT_EQ(after.tags.size(), 1u);
    // After one-channel tags a three-channel error line does not fit.
    std::string diag;
    TagList wrong = read(tag_line(1, 1483228800, 0, -4, 1) + "-1 0 0 0 0 0\n", &diag);
    EXPECT_FALSE(wrong.error_line);
    EXPECT_NE(diag.find("malformed line 2"), std::string::npos);
}

TEST(Messages, BosLineDamagedStretchesAndNoUsefulData) {
    std::string diag;
    ConverterInfo info = messages(
        "BOS: 1.0 V042 SIM 1 3 100 0 0 0 0 1 0 0 0 1 1 1 0 2500 N5007.12E00841.5 12:00:00 2017-01-01 5000 3300 12000 0001\n"
        "vornconv ERROR: Vorn V042 timing problem from  2017-01-01T12:01:29 with block problem at position 124122 occured 4 times\n"
        "vornconv ERROR: Vorn V042 timing problem until 2017-01-01T12:01:12\n"
        "ERROR: Vorn V042 timing problem from   900-01-01T00:00:00 with block problem at position 17 occured 12345678901 times\n"
        "vornconv ERROR: Vorn V042 timing problem from  2017-01-01T12:01:29 with block problem at position x occured 4 times\n"
        "BOS: 1.0 OTHER SIM 1 1 50 0 0 0 0 1 0 0 0 1 1 1 0 2500 N E 12:00:00 2017-01-01 5000 3300 12000 0002\n",
        &diag);
    EXPECT_TRUE(info.have_bos);
    EXPECT_EQ(info.station, "V042");
    EXPECT_EQ(info.channels, 3);
    EXPECT_EQ(info.rate, 100);
    EXPECT_FALSE(info.no_useful_data);
    ASSERT_EQ(info.damaged.size(), 2u);
    EXPECT_EQ(info.damaged[0].from_s, 1483272089);
    EXPECT_EQ(info.damaged[0].position, 124122);
    EXPECT_EQ(info.damaged[0].count, 4);
    EXPECT_EQ(info.damaged[1].position, 17);
    EXPECT_EQ(info.damaged[1].count, 12345678901);
    EXPECT_EQ(utc_text(info.damaged[1].from_s * 1000000), "0900-01-01T00:00:00.000000Z");
    EXPECT_EQ(diag,
              "Warning: skipping malformed converter message line 5: vornconv ERROR: Vorn V042 timing problem from  "
              "2017-01-01T12:01:29 with block problem at position x occured 4 times\n");

    ConverterInfo none = messages("BOS: a b c 1 2 100\n/x/vornconv ERROR: No useful data in vornconv! Check if input are actually VORN files\n");
    EXPECT_TRUE(none.no_useful_data);
    EXPECT_EQ(none.station, "b");
    ConverterInfo classic = messages("No useful data in vornconv!\n");
    EXPECT_TRUE(classic.no_useful_data);
    EXPECT_FALSE(classic.have_bos);
}

// The clock line over tags with sample numbers near 1e9 and times near
// 1.5e9 s: a naive sum of squares would lose the drift entirely.
TEST(ClockFit, RecoversTheDriftOfLargeSampleNumbersAndTimes) {
    for (double ppm : {-37.5, 0.0, 0.02, 3.5, 120.0}) {
        TagList list = read(drifting_tags(999'000'000, 1'700'000'000, 1000, ppm, 3600));
        const ClockFit fit = fit_clock(list.tags);
        ASSERT_TRUE(fit.valid);
        EXPECT_EQ(fit.points, 3600);
        // Times are whole microseconds: the line is off by less than one.
        EXPECT_NEAR(drift_ppm(fit, 1000), ppm, 1e-4) << ppm;
        EXPECT_LT(fit.max_us, 1.0);
        EXPECT_LT(fit.rms_us, 0.6);
    }
}

TEST(ClockFit, UsesOnlyGoodTags) {
    std::string text = drifting_tags(0, 1483228800, 100, 3.5, 100);
    // A tag 800 us late, judged an outlier, and a final block far off the line.
    text += tag_line(10000, 1483228900, 350 + 800, -2);
    text += tag_line(10150, 1483228901, 900000, -4);
    TagList list = read(text);
    const ClockFit fit = fit_clock(list.tags);
    EXPECT_EQ(fit.points, 100);
    EXPECT_NEAR(drift_ppm(fit, 100), 3.5, 1e-3);
    EXPECT_LT(fit.max_us, 1.0);
    EXPECT_NEAR(fit.residual(list.tags[100]) * 1e6, 800.0, 2.0);
}

TEST(ClockFit, NeedsTwoGoodTagsAtDifferentSamples) {
    EXPECT_FALSE(fit_clock(read(tag_line(5, 1483228800, 0, 0)).tags).valid);
    EXPECT_FALSE(fit_clock(read(tag_line(5, 1483228800, 0, 0) + tag_line(5, 1483228801, 0, 0)).tags).valid);
    EXPECT_FALSE(fit_clock(read(tag_line(5, 1483228800, 0, -1) + tag_line(105, 1483228801, 0, -1)).tags).valid);
    const ClockFit two = fit_clock(read(tag_line(5, 1483228800, 0, 0) + tag_line(105, 1483228801, 10, 0)).tags);
    ASSERT_TRUE(two.valid);
    EXPECT_NEAR(drift_ppm(two, 100), 10.0, 1e-6);
    EXPECT_NEAR(two.max_us, 0.0, 1e-6);
}

TEST(Outages, MoreThanOneAndAHalfSecondsBetweenTagsOfAnyVerdict) {
    TagList list = read(tag_line(0, 1000, 0, 0) + tag_line(150, 1001, 500000, -1) +  // exactly 1.5 s: none
                        tag_line(300, 1003, 1, -2) +                                  // 1.500001 s
                        tag_line(400, 1004, 0, -3) + tag_line(300, 1003, 0, 0) +     // backwards: none
                        tag_line(3400, 1034, 0, -4));
    const std::vector<Outage> o = find_outages(list.tags);
    ASSERT_EQ(o.size(), 2u);
    EXPECT_EQ(o[0].from_us, 1001'500'000);
    EXPECT_EQ(o[0].to_us, 1003'000'001);
    EXPECT_EQ(o[1].from_us, 1003'000'000);
    EXPECT_EQ(o[1].to_us, 1034'000'000);
}

TEST(Document, MembersInOrderAndNullsForAnEmptyList) {
    const Report r = make_report(TagList{}, ConverterInfo{}, std::nullopt);
    EXPECT_EQ(json_text(report_json(r)),
              "{\n"
              "  \"station\": null,\n"
              "  \"channels\": null,\n"
              "  \"rate\": null,\n"
              "  \"first_tag\": null,\n"
              "  \"last_tag\": null,\n"
              "  \"tags\": 0,\n"
              "  \"verdicts\": {\n"
              "    \"good\": 0,\n"
              "    \"outlier\": 0,\n"
              "    \"untrusted_fit\": 0,\n"
              "    \"short_block\": 0,\n"
              "    \"final_block\": 0\n"
              "  },\n"
              "  \"drift_ppm\": null,\n"
              "  \"residual_us\": {\n"
              "    \"rms\": null,\n"
              "    \"max\": null\n"
              "  },\n"
              "  \"outages\": [],\n"
              "  \"damaged_stretches\": [],\n"
              "  \"error_line\": false\n"
              "}\n");
}

TEST(Document, FiguresOfASmallList) {
    std::string text = drifting_tags(0, 1483228800, 100, 3.5, 20);
    text += tag_line(5000, 1483228850, 2, -1, 1) + tag_line(5100, 1483228851, 3, -4, 1);
    ConverterInfo conv = messages(
        "BOS: 1.0 St\"a\\tion SIM 1 1 100 0\n"
        "vornconv ERROR: Vorn S timing problem from  2017-01-01T00:00:30 with block problem at position 9 occured 2 times\n");
    const Report r = make_report(read(text), conv, 99.5);  // -r overrides the BOS line's rate
    const nlohmann::ordered_json j = report_json(r);
    EXPECT_EQ(j["station"], "St\"a\\tion");
    EXPECT_EQ(j["channels"], 1);
    EXPECT_EQ(j["rate"], 99.5);
    EXPECT_EQ(j["first_tag"], "2017-01-01T00:00:00.000000Z");
    EXPECT_EQ(j["last_tag"], "2017-01-01T00:00:51.000003Z");
    EXPECT_EQ(j["tags"], 22);
    EXPECT_EQ(j["verdicts"]["good"], 20);
    EXPECT_EQ(j["verdicts"]["short_block"], 1);
    EXPECT_EQ(j["verdicts"]["final_block"], 1);
    EXPECT_NEAR(j["drift_ppm"].get<double>(), ((1 + 3.5e-6) / 100 * 99.5 - 1) * 1e6, 0.1);
    ASSERT_EQ(j["outages"].size(), 1u);
    EXPECT_EQ(j["outages"][0]["from"], "2017-01-01T00:00:19.000066Z");
    EXPECT_EQ(j["outages"][0]["to"], "2017-01-01T00:00:50.000002Z");
    EXPECT_EQ(j["outages"][0]["seconds"], 30.999936);
    ASSERT_EQ(j["damaged_stretches"].size(), 1u);
    EXPECT_EQ(j["damaged_stretches"][0]["from"], "2017-01-01T00:00:30.000000Z");
    EXPECT_EQ(j["damaged_stretches"][0]["position"], 9);
    EXPECT_EQ(j["damaged_stretches"][0]["count"], 2);
    EXPECT_EQ(j["error_line"], false);
    // Without any rate there is no drift, but the line and its residuals remain.
    const Report no_rate = make_report(read(text), ConverterInfo{}, std::nullopt);
    const nlohmann::ordered_json k = report_json(no_rate);
    EXPECT_TRUE(k["rate"].is_null());
    EXPECT_TRUE(k["drift_ppm"].is_null());
    EXPECT_TRUE(k["residual_us"]["rms"].is_number());
    EXPECT_EQ(k["channels"], 1);  // from the tag lines
}

TEST(Document, StationThatIsNotUtf8IsStillAValidDocument) {
    ConverterInfo conv;
    conv.have_bos = true;
    conv.station = "V\xff" "42";
    const std::string text = json_text(report_json(make_report(TagList{}, conv, 100.0)));
    EXPECT_NE(text.find("\"station\": \"V\xEF\xBF\xBD" "42\""), std::string::npos);
    EXPECT_NO_THROW((void)nlohmann::json::parse(text).size());
}

TEST(Document, UtcText) {
    EXPECT_EQ(utc_text(0), "1970-01-01T00:00:00.000000Z");
    EXPECT_EQ(utc_text(1483272034000214), "2017-01-01T12:00:34.000214Z");
    EXPECT_EQ(utc_text(-1), "1969-12-31T23:59:59.999999Z");
}

}  // namespace
