// grid2mseed: codes, archive paths, spans, and whole conversions read back
// with libmseed's own parser.
#include <libmseed.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive.hpp"
#include "cmdline.hpp"
#include "grid2mseed.hpp"
#include "packer.hpp"
#include "regrid.hpp"

using namespace vorn::grid2mseed;
using vorn::Exit;

namespace {

struct Record {
    std::string channel;
    int32_t seq;
    int64_t start;
    double rate;
    int encoding;
    std::vector<int32_t> values;
};

// Every record of a stream of records of length reclen, through msr_parse.
std::vector<Record> parse_records(const std::string& bytes, int32_t reclen) {
    std::vector<Record> records;
    EXPECT_EQ(bytes.size() % static_cast<std::size_t>(reclen), 0u);
    for (std::size_t off = 0; off + static_cast<std::size_t>(reclen) <= bytes.size();
         off += static_cast<std::size_t>(reclen)) {
        std::string rec = bytes.substr(off, static_cast<std::size_t>(reclen));
        MSRecord* msr = nullptr;
        EXPECT_EQ(msr_parse(rec.data(), reclen, &msr, reclen, 1, 0), MS_NOERROR);
        if (msr == nullptr) break;
        Record r{msr->channel, msr->sequence_number, msr->starttime, msr->samprate, msr->encoding, {}};
        const auto* v = static_cast<const int32_t*>(msr->datasamples);
        r.values.assign(v, v + msr->numsamples);
        EXPECT_EQ(msr->dataquality, 'D');
        EXPECT_EQ(msr->byteorder, 1);
        records.push_back(std::move(r));
        msr_free(&msr);
    }
    return records;
}

struct Grid {
    std::string text;
    std::vector<int64_t> t;
    std::vector<std::vector<int32_t>> v;  // per channel
};

// A grid of n instants from t0 with step step_us (gaps where gap_at says),
// values from values(k, c).
template <class Values>
Grid make_grid(int channels, int rate, int64_t t0, int64_t n, Values values, int64_t gap_at = -1,
               int64_t gap_us = 0) {
    Grid g;
    g.v.resize(static_cast<std::size_t>(channels));
    g.text = "1.0 V042 SIM 1 ";
    g.text.append(std::to_string(channels)).append(" ").append(std::to_string(rate));
    g.text.append(" 0 0 0 0 1 0 0 0 1 1 1 0 2500 N5007.12E00841.5 00:00:00 2017-01-01 5000 3300 12000 0001\n");
    const int64_t step = vorn::regrid::sample_interval(rate);
    int64_t t = t0;
    for (int64_t k = 0; k < n; ++k) {
        if (k == gap_at) t += gap_us;
        g.t.push_back(t);
        g.text.append(std::to_string(t / 1000000)).append(" ").append(std::to_string(t % 1000000));
        for (int c = 0; c < channels; ++c) {
            const int32_t x = values(k, c);
            g.v[static_cast<std::size_t>(c)].push_back(x);
            g.text.append(" ").append(std::to_string(x));
        }
        g.text += "\n";
        t += step;
    }
    return g;
}

RunSetup setup_for(int channels, int rate, int32_t reclen = 4096, Encoding e = Encoding::steim2) {
    RunSetup s;
    static const char* names[3] = {"HHZ", "HHN", "HHE"};
    s.codes = {"XX", "V042", "", {}};
    for (int c = 0; c < channels; ++c) s.codes.channels.push_back(names[c]);
    s.step_us = vorn::regrid::sample_interval(rate);
    s.reclen = reclen;
    s.encoding = e;
    s.max_samples = max_record_samples(s.step_us, header_rate(s.step_us, reclen));
    return s;
}

// Converts g and checks every record against it: each record starts at the
// grid instant of its first sample, holds consecutive instants, every
// sample's time is within 2 us, every value comes back once, and the
// records are numbered 1, 2, ... Returns the records.
std::vector<Record> convert_and_check(const Grid& g, const RunSetup& s, int64_t* breaks = nullptr) {
    vorn::LineReader in(g.text);
    vorn::PaddedLine header;
    EXPECT_TRUE(in.next(header));
    std::string bytes, messages;
    vorn::Writer out(&bytes), err(&messages);
    EXPECT_EQ(convert_grid(in, s, out, err), Exit::ok);
    out.flush();
    err.flush();
    EXPECT_EQ(messages, "");
    std::vector<Record> records = parse_records(bytes, s.reclen);
    std::vector<std::size_t> next(s.codes.channels.size(), 0);
    int32_t seq = 0;
    if (breaks) *breaks = 0;
    for (const Record& r : records) {
        EXPECT_EQ(r.seq, ++seq);
        std::size_t c = 0;
        while (c < s.codes.channels.size() && s.codes.channels[c] != r.channel) ++c;
        EXPECT_LT(c, s.codes.channels.size());
        if (c == s.codes.channels.size()) break;
        std::size_t k = next[c];
        EXPECT_EQ(r.start, g.t[k]) << "record " << r.seq;
        if (breaks && k > 0 && g.t[k] != g.t[k - 1] + s.step_us) ++*breaks;
        for (std::size_t j = 0; j < r.values.size(); ++j, ++k) {
            EXPECT_EQ(g.t[k], r.start + static_cast<int64_t>(j) * s.step_us) << "a record over a break";
            EXPECT_EQ(r.values[j], g.v[c][k]);
            const double t = static_cast<double>(r.start) + static_cast<double>(j) * 1e6 / r.rate;
            EXPECT_LE(std::fabs(t - static_cast<double>(g.t[k])), 2.0);
        }
        next[c] = k;
    }
    for (std::size_t c = 0; c < next.size(); ++c) EXPECT_EQ(next[c], g.t.size()) << "channel " << c;
    return records;
}

int32_t sine(int64_t k, int c) {
    return static_cast<int32_t>(std::lround(100000.0 * std::sin(0.0123 * static_cast<double>(k) + c)));
}

}  // namespace

TEST(Grid2mseedCodes, BandCodeFromRate) {
    EXPECT_EQ(band_code(1000.0), 'F');
    EXPECT_EQ(band_code(999.9), 'C');
    EXPECT_EQ(band_code(250.0), 'C');
    EXPECT_EQ(band_code(200.0), 'H');
    EXPECT_EQ(band_code(100.0), 'H');
    EXPECT_EQ(band_code(80.0), 'H');
    EXPECT_EQ(band_code(50.0), 'B');
    EXPECT_EQ(band_code(10.0), 'B');
    EXPECT_EQ(band_code(5.0), 'M');
    EXPECT_EQ(band_code(1.0), 'L');
}

TEST(Grid2mseedCodes, CodesCheckedAndDefaulted) {
    EXPECT_TRUE(valid_code("XX", 1, 2));
    EXPECT_FALSE(valid_code("", 1, 2));
    EXPECT_FALSE(valid_code("XXX", 1, 2));
    EXPECT_FALSE(valid_code("X-", 1, 2));
    EXPECT_TRUE(valid_code("", 0, 2));
    vorn::HeaderValues h;
    h.DEV_NO.set("V042");
    Options o;
    StreamCodes codes;
    EXPECT_EQ(resolve_codes(o, h, 3, 100.0, codes), "");
    EXPECT_EQ(codes.station, "V042");
    EXPECT_EQ(codes.channels, (std::vector<std::string>{"HHZ", "HHN", "HHE"}));
    EXPECT_EQ(resolve_codes(o, h, 2, 1e6 / 3333, codes), "");
    EXPECT_EQ(codes.channels, (std::vector<std::string>{"CHZ", "CHN"}));
    h.DEV_NO.set("V04.2");
    EXPECT_NE(resolve_codes(o, h, 1, 100.0, codes), "");
    o.station = "AB1";
    o.station_given = true;
    EXPECT_EQ(resolve_codes(o, h, 1, 100.0, codes), "");
    EXPECT_EQ(codes.station, "AB1");
    o.channels = {"EHZ", "EHN"};
    EXPECT_NE(resolve_codes(o, h, 3, 100.0, codes), "");
    EXPECT_EQ(resolve_codes(o, h, 2, 100.0, codes), "");
    EXPECT_EQ(codes.channels, o.channels);
}

TEST(Grid2mseedArchive, DayFilePaths) {
    const StreamCodes codes{"XX", "V042", "", {"HHZ", "HHN"}};
    EXPECT_EQ(day_file_path("arch", codes, 0, 1483228800250100), "arch/2017/XX/V042/HHZ.D/XX.V042..HHZ.D.2017.001");
    // The last microsecond of a day and the first of the next.
    EXPECT_EQ(day_file_path("a/", codes, 1, 1483315199999999), "a/2017/XX/V042/HHN.D/XX.V042..HHN.D.2017.001");
    EXPECT_EQ(day_file_path("a/", codes, 1, 1483315200000000), "a/2017/XX/V042/HHN.D/XX.V042..HHN.D.2017.002");
    // 31 December of a leap year is day 366.
    const StreamCodes loc{"GE", "ABC", "00", {"BHZ"}};
    EXPECT_EQ(day_file_path("d", loc, 0, 1483142400000000), "d/2016/GE/ABC/BHZ.D/GE.ABC.00.BHZ.D.2016.366");
    EXPECT_EQ(instant_text(1483228800250107), "2017-01-01T00:00:00.250107");
}

TEST(Grid2mseedArchive, OverlapTakesHalfAStepEitherSide) {
    const std::vector<Span> spans{{1000, 2000}, {5000, 6000}};
    EXPECT_EQ(overlapping_span(spans, 0, 940, 100), nullptr);  // ends a step before
    EXPECT_EQ(overlapping_span(spans, 2100, 4900, 100), nullptr);  // between, adjacent both sides
    EXPECT_EQ(overlapping_span(spans, 2050, 2050, 100), &spans[0]);
    EXPECT_EQ(overlapping_span(spans, 0, 10000, 100), &spans[0]);
    EXPECT_EQ(overlapping_span(spans, 4000, 5000, 100), &spans[1]);
    EXPECT_EQ(overlapping_span(spans, 6100, 9000, 100), nullptr);
}

TEST(Grid2mseedPacker, SteimDifferenceLimits) {
    EXPECT_TRUE(steim_difference_fits(0, (1 << 29) - 1, Encoding::steim2));
    EXPECT_FALSE(steim_difference_fits(0, 1 << 29, Encoding::steim2));
    EXPECT_TRUE(steim_difference_fits(0, -(1 << 29), Encoding::steim2));
    EXPECT_FALSE(steim_difference_fits(-1, 1 << 29 | 0, Encoding::steim2));
    EXPECT_TRUE(steim_difference_fits(0, INT32_MAX, Encoding::steim1));
    EXPECT_FALSE(steim_difference_fits(-1, INT32_MAX, Encoding::steim1));
    EXPECT_FALSE(steim_difference_fits(INT32_MAX, INT32_MIN, Encoding::steim1));
}

TEST(Grid2mseedPacker, HeaderRateAndTheTwoMicrosecondLimit) {
    EXPECT_DOUBLE_EQ(header_rate(10000, 4096), 100.0);
    EXPECT_EQ(max_record_samples(10000, 100.0), INT64_MAX);
    // 300 Hz: the grid step is 3333 us; the header holds 30003/100 Hz.
    const double r300 = header_rate(3333, 4096);
    EXPECT_NEAR(r300, 1e6 / 3333, 1e-3);
    const int64_t m = max_record_samples(3333, r300);
    EXPECT_GT(m, 7168);  // no 4096-byte record comes near it
    EXPECT_LE(static_cast<double>(m - 1) * std::fabs(1e6 / r300 - 3333.0), 2.0);
    EXPECT_EQ(header_rate(30, 4096), 0.0);  // 33333 Hz: beyond the header's range
    EXPECT_GT(header_rate(31, 4096), 0.0);
}

TEST(Grid2mseedConvert, EveryValueAndRecordStartComesBack) {
    for (int rate : {100, 300}) {
        for (int ch = 1; ch <= 3; ++ch) {
            SCOPED_TRACE("rate " + std::to_string(rate) + " channels " + std::to_string(ch));
            const Grid g = make_grid(ch, rate, 1483228800250107, 30000, sine);
            const std::vector<Record> records = convert_and_check(g, setup_for(ch, rate));
            EXPECT_GT(records.size(), static_cast<std::size_t>(3 * ch));
            for (const Record& r : records) EXPECT_EQ(r.encoding, DE_STEIM2);
        }
    }
}

TEST(Grid2mseedConvert, EncodingsAndRecordLengths) {
    const Grid g = make_grid(2, 300, 1483228800000001, 20000, sine);
    for (Encoding e : {Encoding::steim1, Encoding::int32})
        for (int32_t reclen : {256, 512, 65536}) convert_and_check(g, setup_for(2, 300, reclen, e));
}

TEST(Grid2mseedConvert, GapsBreakRecords) {
    const Grid g = make_grid(3, 100, 1483228800000000, 10000, sine, 4321, 2500000);
    int64_t breaks = 0;
    convert_and_check(g, setup_for(3, 100), &breaks);
    EXPECT_EQ(breaks, 3);  // one per channel
    // A step one microsecond off is a break too.
    const Grid h = make_grid(1, 100, 1483228800000000, 10000, sine, 17, 1);
    convert_and_check(h, setup_for(1, 100), &breaks);
    EXPECT_EQ(breaks, 1);
}

TEST(Grid2mseedConvert, DifferencesTooWideForSteimComeBackExactly) {
    std::mt19937 rng(7);
    for (Encoding e : {Encoding::steim2, Encoding::steim1}) {
        // Quiet stretches with bursts of values from all over the 32-bit range.
        const Grid g = make_grid(2, 100, 1483228800000000, 40000, [&](int64_t k, int c) -> int32_t {
            if ((k / 3000) % 4 == 1 && k % 3 != 0)
                return static_cast<int32_t>(rng());
            if (k == 39999) return c == 0 ? INT32_MIN : INT32_MAX;
            return sine(k, c);
        });
        const std::vector<Record> records = convert_and_check(g, setup_for(2, 100, 512, e));
        int int32_records = 0;
        for (const Record& r : records) int32_records += r.encoding == DE_INT32;
        EXPECT_GT(int32_records, 0);
        EXPECT_LT(int32_records, static_cast<int>(records.size()));
    }
}

TEST(Grid2mseedConvert, BigRecordsKeepTheTwoMicrosecondRule) {
    // 65536-byte Steim-2 records of a flat signal hold more samples than the
    // 300 Hz header rate allows: the records are cut shorter.
    const Grid g = make_grid(1, 300, 1483228800000000, 300000, [](int64_t k, int) { return static_cast<int32_t>(k % 5); });
    const RunSetup s = setup_for(1, 300, 65536);
    const std::vector<Record> records = convert_and_check(g, s);
    std::size_t largest = 0;
    for (const Record& r : records) largest = std::max(largest, r.values.size());
    EXPECT_EQ(static_cast<int64_t>(largest), s.max_samples);
}

TEST(Grid2mseedConvert, ErrorLineEndsTheRunAfterItsRecords) {
    Grid g = make_grid(1, 100, 1483228800000000, 5000, sine);
    g.text += "-1 0 0 0\n1483228900 0 5\n";
    vorn::LineReader in(g.text);
    vorn::PaddedLine header;
    in.next(header);
    std::string bytes, messages;
    vorn::Writer out(&bytes), err(&messages);
    EXPECT_EQ(convert_grid(in, setup_for(1, 100), out, err), Exit::no_useful_data);
    out.flush();
    err.flush();
    int64_t samples = 0;
    for (const Record& r : parse_records(bytes, 4096)) samples += static_cast<int64_t>(r.values.size());
    EXPECT_EQ(samples, 5000);
    EXPECT_NE(messages.find("No useful data in"), std::string::npos);
}

TEST(Grid2mseedArchive, SpansOfAFileReadBackWithLibmseed) {
    // Two stretches with a gap of a minute: two spans, their first and last
    // instants exact, and the last sequence number.
    const Grid g = make_grid(2, 300, 1483228800000007, 12000, sine, 5000, 60000000);
    vorn::LineReader in(g.text);
    vorn::PaddedLine header;
    in.next(header);
    std::string bytes, messages;
    vorn::Writer out(&bytes), err(&messages);
    ASSERT_EQ(convert_grid(in, setup_for(2, 300), out, err), Exit::ok);
    out.flush();
    const std::string path = ::testing::TempDir() + "grid2mseed_spans.mseed";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    std::vector<Span> spans;
    int64_t last = 0;
    EXPECT_EQ(read_spans(path, spans, last), "");
    ASSERT_EQ(spans.size(), 2u);
    // The end of a span comes from the header rate: within 2 us.
    EXPECT_EQ(spans[0].first, g.t[0]);
    EXPECT_NEAR(static_cast<double>(spans[0].last), static_cast<double>(g.t[4999]), 2.0);
    EXPECT_EQ(spans[1].first, g.t[5000]);
    EXPECT_NEAR(static_cast<double>(spans[1].last), static_cast<double>(g.t[11999]), 2.0);
    EXPECT_EQ(last, static_cast<int64_t>(bytes.size() / 4096));
    EXPECT_EQ(overlapping_span(spans, g.t[4999] + 3333, g.t[5000] - 3333, 3333), nullptr);
    EXPECT_EQ(overlapping_span(spans, g.t[4999], g.t[4999], 3333), &spans[0]);
    // A file that is no miniSEED says so.
    f = std::fopen(path.c_str(), "wb");
    std::fputs("no records here\n", f);
    std::fclose(f);
    EXPECT_NE(read_spans(path, spans, last), "");
    std::remove(path.c_str());
}
