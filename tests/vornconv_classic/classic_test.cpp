#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "classic.hpp"
#include "tagmodel.hpp"

#include "lines.hpp"
#include "streamgen.hpp"

using namespace vorn;
using namespace vorn::classic;

namespace {

// ---- Building streams ---------------------------------------------------------

// A stream of the earlier recorder, built with the shared stream builder:
// sample n of channel c holds 7n - 3 + c.
struct Stream {
    std::string bytes;
    int ch = 1;
    int64_t n = 0;

    Stream& header(const std::string& text) {
        bytes += text;
        return *this;
    }
    Stream& sample(uint8_t type = kSampleBlock) {
        std::vector<int32_t> v;
        for (int c = 0; c < ch; ++c) v.push_back(static_cast<int32_t>(n * 7 - 3 + c));
        vorn::testing::StreamBuilder b;
        b.channels = ch;
        b.sample(type == kTaggedSampleBlock, v);
        bytes.append(b.bytes.begin(), b.bytes.end());
        ++n;
        return *this;
    }
    // A GPS block at second t of 2017-01-01 (own time), offset 0, flag 1.
    Stream& gps(int t, int count = 2048, int lat = 50, int lon = 10, int flag = 1) {
        vorn::testing::GpsSpec g(vorn::testing::kEarlierForm);
        g.time = 1483228800 + t;
        g.shift = count;
        g.lat = lat;
        g.lon = lon;
        g.offset = 0;
        g.flag = flag;
        vorn::testing::StreamBuilder b;
        b.gps(g);
        bytes.append(b.bytes.begin(), b.bytes.end());
        return *this;
    }
    // seconds of `per` samples (the first tagged) and a GPS block each.
    Stream& seconds(int from, int count, int per) {
        for (int t = from; t < from + count; ++t) {
            sample(kTaggedSampleBlock);
            for (int k = 1; k < per; ++k) sample();
            gps(t);
        }
        return *this;
    }
};

Stream standard_stream(int ch = 1, int rate = 100) {
    Stream s;
    s.ch = ch;
    s.header("DEV_NO=T7;CH_NUM=" + std::to_string(ch) + ";S_RATE=" + std::to_string(rate) + ";D_FILT=0;");
    s.sample();
    return s;
}

struct Result {
    Status status;
    std::string out;
    std::string err;
};

Result convert(const std::string& bytes, Options opt = {}, int64_t limit = 0,
               SampleBuffer::Reallocate allocate = nullptr) {
    Result r;
    ByteReader in(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    Writer out(&r.out);
    Writer err(&r.err);
    Converter c(opt, in, out, err, "vcc");
    if (limit > 0) c.set_buffer_limit(limit);
    if (allocate != nullptr) c.set_allocator(allocate);
    r.status = c.run();
    out.flush();
    err.flush();
    return r;
}

// Timed sample lines: those whose second-to-last field is not -1.
std::vector<std::string> timed_lines(const std::string& text) {
    std::vector<std::string> v;
    for (const std::string& l : vorn::testing::split_lines(text)) {
        std::size_t last = l.rfind(' ');
        if (last == std::string::npos || last == 0) continue;
        std::size_t prev = l.rfind(' ', last - 1);
        std::string sec = l.substr(prev + 1, last - prev - 1);
        if (sec != "-1" && l.find("BOS") == std::string::npos && std::isdigit(static_cast<unsigned char>(l[0])))
            v.push_back(l);
    }
    return v;
}

// ---- The tag model --------------------------------------------------------------

// Feeds a block to the model the way the converter does.
Verdict feed(TagState& s, const TagParams& p, int64_t t_new, int32_t count, int64_t nsample, int32_t d_filt = 0) {
    s.tshift = tshift_microseconds(count);
    s.fold = s.f1;
    s.f1 = tag_time(t_new, s.tshift, d_filt, p.s_rate);
    Verdict v = judge_tag(s, p, nsample);
    s.first_gps = false;
    s.fold = s.f1;
    return v;
}

// The number (1-based) of each valid block among n steady blocks a second apart.
std::vector<int> valid_blocks(const TagParams& p, int n, int32_t count = 2048) {
    TagState s;
    std::vector<int> v;
    for (int k = 1; k <= n; ++k) {
        if (feed(s, p, 1483228800 + k, count, int64_t{k} * p.s_rate).valid) v.push_back(k);
    }
    return v;
}

TEST(TagTime, KeepsTheOrderOfOperations) {
    // (shift / 1e6 + t_new) - D_FILT * (1.0 / S_RATE), exactly.
    for (int32_t rate : {1, 3, 7, 100, 250, 1000}) {
        for (int32_t d_filt : {0, 1, 3, 29, 57}) {
            const double shift = tshift_microseconds(3333);
            const double expect = (shift / 1000000.0 + 1483228800.0) - d_filt * (1.0 / rate);
            EXPECT_EQ(tag_time(1483228800, shift, d_filt, rate), expect) << rate << " " << d_filt;
        }
    }
    // 3 * (1.0 / 10) is not 3 / 10.0 in binary: the product is what is subtracted.
    EXPECT_EQ(tag_time(0, 0.0, 3, 10), -(3 * (1.0 / 10)));
    EXPECT_NE(3 * (1.0 / 10), 3 / 10.0);
}

TEST(Validity, TwentiethSteadyBlockIsTheFirstValid) {
    TagParams p;
    p.s_rate = 100;
    std::vector<int> v = valid_blocks(p, 25);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.front(), 20);
    EXPECT_EQ(v.size(), 6u);
}

TEST(Validity, CountsZeroAndOneGiveTheThird) {
    for (int32_t x : {0, 1, -5}) {
        TagParams p;
        p.s_rate = 100;
        p.minimum_gps_counts = x;
        std::vector<int> v = valid_blocks(p, 6);
        EXPECT_EQ(v, (std::vector<int>{3, 4, 5, 6})) << x;
    }
    TagParams p;
    p.s_rate = 100;
    p.minimum_gps_counts = 2;
    EXPECT_EQ(valid_blocks(p, 4), (std::vector<int>{3, 4}));
    p.minimum_gps_counts = 4;
    EXPECT_EQ(valid_blocks(p, 5), (std::vector<int>{4, 5}));
}

TEST(Validity, JumpOverOneAndAHalfSecondsRestartsTheSeries) {
    TagParams p;
    p.s_rate = 100;
    TagState s;
    int64_t t = 1483228800;
    std::vector<bool> valid;
    for (int k = 1; k <= 60; ++k) {
        t += (k == 30) ? 2 : 1;  // block 30 jumps by 2 s
        valid.push_back(feed(s, p, t, 2048, k * 100).valid);
    }
    for (int k = 20; k <= 29; ++k) EXPECT_TRUE(valid[k - 1]) << k;
    for (int k = 30; k <= 48; ++k) EXPECT_FALSE(valid[k - 1]) << k;  // the jump and the 18 after it
    for (int k = 49; k <= 60; ++k) EXPECT_TRUE(valid[k - 1]) << k;   // from the 19th after it on
}

TEST(Validity, StepsOfExactlyOneAndAHalfSecondsAreNoJump) {
    TagParams p;
    p.s_rate = 100;
    p.minimum_gps_counts = 1;
    TagState s;
    // Tag times 1.5 s apart, exactly (a shift of 2^-7 s, half a second taken
    // off through D_FILT on odd blocks): never more than 1.5 s, no reset.
    std::vector<bool> valid;
    for (int k = 0; k < 8; ++k) {
        const int64_t t_new = 1000 + (3 * k + 1) / 2;
        const int32_t d_filt = (k % 2 == 0) ? 0 : 50;
        valid.push_back(feed(s, p, t_new, 3200, k * 100, d_filt).valid);
        if (k > 0) {
            ASSERT_EQ(s.f1 - (1000.0078125 + 1.5 * (k - 1)), 1.5) << k;
        }
    }
    EXPECT_EQ(s.gpscount, 8);
    EXPECT_EQ(valid, (std::vector<bool>{false, false, true, true, true, true, true, true}));
    // A hair more than 1.5 s restarts the series.
    feed(s, p, 1000 + 13, 3201, 900, 0);
    EXPECT_EQ(s.gpscount, 1);
}

TEST(Validity, TimeShiftBoundsAtOneHundredHertz) {
    struct Case {
        int32_t count;
        bool pass;
    } cases[] = {{4, false}, {5, true}, {6, true}, {2048, true}, {4091, true}, {4092, false}, {16383, false}};
    for (const Case& c : cases) {
        TagParams p;
        p.s_rate = 100;
        p.minimum_gps_counts = 1;
        std::vector<int> v = valid_blocks(p, 4, c.count);
        EXPECT_EQ(!v.empty(), c.pass) << c.count;
        if (c.pass) {
            EXPECT_EQ(v.front(), 3) << c.count;
        }
    }
    // The bounds are 10 us and 1,000,000 / S_RATE - 10 us, both inclusive.
    EXPECT_LT(tshift_microseconds(4), 10.0);
    EXPECT_GE(tshift_microseconds(5), 10.0);
    EXPECT_LE(tshift_microseconds(4091), 9990.0);
    EXPECT_GT(tshift_microseconds(4092), 9990.0);
}

TEST(Validity, JitterOutlierFailsItselfAndTheTwoAfterWithoutReset) {
    TagParams p;
    p.s_rate = 100;
    p.minimum_gps_counts = 1;
    TagState s;
    std::vector<bool> valid;
    for (int k = 1; k <= 10; ++k) valid.push_back(feed(s, p, 1000 + k, k == 5 ? 2200 : 2048, k * 100).valid);
    EXPECT_EQ(valid, (std::vector<bool>{false, false, true, true, false, false, false, true, true, true}));
    EXPECT_EQ(s.gpscount, 10);
}

TEST(Validity, PositionMeansAreFrozenAfterOneHundredBlocks) {
    TagState s;
    // Wandering first fixes: 44, then 50s. Integer means stick at 48.
    int32_t lats[] = {44, 50, 50, 50};
    int32_t means[] = {44, 47, 48, 48};
    for (int k = 0; k < 4; ++k) {
        s.gps_lat = lats[k];
        update_position_means(s);
        EXPECT_EQ(s.means.lat, means[k]) << k;
    }
    for (int k = 4; k < 100; ++k) {
        s.gps_lat = 50;
        update_position_means(s);
    }
    EXPECT_EQ(s.means.lat, 48);
    EXPECT_EQ(s.means.n, 100);
    // Frozen: nothing moves the means any more.
    for (int k = 0; k < 50; ++k) {
        s.gps_lat = -9;
        s.gps_lon = 999;
        update_position_means(s);
    }
    EXPECT_EQ(s.means.lat, 48);
    EXPECT_EQ(s.means.lon, 0);
    // Means truncate toward zero for negative values too.
    TagState n;
    n.gps_lat = -9;
    update_position_means(n);
    n.gps_lat = 0;
    update_position_means(n);
    EXPECT_EQ(n.means.lat, -4);  // -9/2 = -4.5 -> -4
}

TEST(Validity, MovedStationTestUsesTheMeansOfEveryBlock) {
    TagParams p;
    p.s_rate = 100;
    p.minimum_gps_counts = 1;
    TagState s;
    s.means.lat = 48;
    s.means.lon = 10;
    s.means.n = 100;
    struct Case {
        int32_t lat, lon;
        bool moved;
    } cases[] = {{50, 10, false}, {46, 10, false}, {51, 10, true}, {50, 11, true}, {49, 11, false}, {48, 12, false},
                 {48, 13, true}};
    for (const Case& c : cases) {
        TagState t = s;
        t.gps_lat = c.lat;
        t.gps_lon = c.lon;
        t.first_gps = false;
        t.tshift_old = t.tshift_old2 = tshift_microseconds(2048);
        t.tshift = tshift_microseconds(2048);
        t.f1 = 1000.0;
        t.fold = 999.0;
        Verdict v = judge_tag(t, p, 100);
        EXPECT_EQ(v.moved, c.moved) << c.lat << " " << c.lon;
        EXPECT_EQ(v.valid, !c.moved);
        EXPECT_EQ(t.gpscount, 1);  // the moved-station test resets nothing
    }
}

TEST(Validity, OffsetFlagCountsOnlyWithU) {
    TagParams p;
    p.s_rate = 100;
    p.minimum_gps_counts = 1;
    TagState s;
    s.gpsoffset_flag = 0;
    for (bool u : {false, true}) {
        TagParams q = p;
        q.gps_utc_valid = u;
        TagState t = s;
        std::vector<bool> v;
        for (int k = 1; k <= 4; ++k) v.push_back(feed(t, q, 1000 + k, 2048, k * 100).valid);
        EXPECT_EQ(v[3], !u);
    }
}

TEST(Validity, ReadsTheFieldsOfThisGeneration) {
    GpsString g;
    const std::string text =
        "GA  +21.5 47.1234N123.567E001234"
        "12 S08 H1.2"
        "123456.00"
        "31122016"
        "173  0"
        " CHK*5A   ";
    ASSERT_EQ(text.size(), 76u);
    for (std::size_t i = 0; i < 76; ++i) g.bytes[i] = static_cast<uint8_t>(text[i]);
    TagState s;
    read_gps_fields(g, s);
    EXPECT_EQ(s.gps_lat, 47);
    EXPECT_EQ(s.gps_lon, 123);
    EXPECT_EQ(s.gpsoffset_test, 17);
    EXPECT_EQ(s.gps_source, 3);
    EXPECT_EQ(s.gpsoffset_flag, 0);
    // Blank fields leave the values as they were.
    for (std::size_t i : {10u, 11u, 18u, 19u, 20u, 60u, 61u, 62u, 65u}) g.bytes[i] = ' ';
    read_gps_fields(g, s);
    EXPECT_EQ(s.gps_lat, 47);
    EXPECT_EQ(s.gps_lon, 123);
    EXPECT_EQ(s.gpsoffset_test, 17);
    EXPECT_EQ(s.gps_source, 3);
    EXPECT_EQ(s.gpsoffset_flag, 0);
}

// ---- The drift consistency check ----------------------------------------------------

TEST(Drift, FirstValidTagStartsTheModel) {
    TagState s;
    EXPECT_TRUE(drift_check(s, 1000.25, 500, 100, false));
    EXPECT_TRUE(s.first_valid_pps);
    EXPECT_EQ(s.tofvpps, 1000.25);
    EXPECT_EQ(s.nofvpps, 500);
    EXPECT_EQ(s.drift, 0.0);  // no samples since: no slope
    EXPECT_EQ(s.b, 1000.25 - 500 * 0.0);
    EXPECT_TRUE(drift_check(s, 1001.25, 600, 100, false));
    EXPECT_EQ(s.drift, (1001.25 - 1000.25) / static_cast<double>(600 - 500));
    EXPECT_EQ(s.b, 1001.25 - 600.0 * s.drift);
}

// A clock whose sample rate is off by `ppm`: tags every nominal second.
struct Clock {
    double t0 = 1483228800.0078125;
    int64_t n0 = 1000;
    int rate = 100;
    double ppm = 30.0;
    int64_t n_at(int k) const { return n0 + int64_t{k} * rate; }
    double t_at(int k) const { return t0 + k * (1.0 + ppm * 1e-6); }
};

TEST(Drift, ConsistentTagsStayValidForHours) {
    for (double ppm : {0.0, 30.0, -250.0}) {
        Clock c;
        c.ppm = ppm;
        TagState s;
        for (int k = 0; k <= 5 * 3600; k += 7) ASSERT_TRUE(drift_check(s, c.t_at(k), c.n_at(k), c.rate, false)) << k;
        EXPECT_NEAR(s.drift, (1.0 + ppm * 1e-6) / c.rate, 1e-12);
    }
}

TEST(Drift, AMissAfterTheHourIsRejectedAndTheModelKept) {
    Clock c;
    TagState s;
    for (int k = 0; k <= 3700; k += 10) ASSERT_TRUE(drift_check(s, c.t_at(k), c.n_at(k), c.rate, false));
    const double drift = s.drift, b = s.b;
    // One sample period late (0.0100 s) and more: rejected.
    for (double miss : {0.0101, 0.02, -0.0101, 0.5}) {
        TagState t = s;
        EXPECT_FALSE(drift_check(t, c.t_at(3710) + miss, c.n_at(3710), c.rate, false)) << miss;
        EXPECT_EQ(t.drift, drift);
        EXPECT_EQ(t.b, b);
        EXPECT_NEAR(t.difference, -miss, 1e-6);
        // OBH mode: the same tag passes and changes nothing.
        TagState o = s;
        EXPECT_TRUE(drift_check(o, c.t_at(3710) + miss, c.n_at(3710), c.rate, true));
        EXPECT_EQ(o.drift, drift);
        EXPECT_EQ(o.b, b);
    }
    // Less than a sample period: accepted and refitted from the whole span.
    TagState t = s;
    EXPECT_TRUE(drift_check(t, c.t_at(3710) + 0.009, c.n_at(3710), c.rate, false));
    EXPECT_EQ(t.drift, (c.t_at(3710) + 0.009 - s.tofvpps) / static_cast<double>(c.n_at(3710) - s.nofvpps));
    // After a rejected tag the next good one is checked against the same model.
    TagState r = s;
    EXPECT_FALSE(drift_check(r, c.t_at(3710) + 0.5, c.n_at(3710), c.rate, false));
    EXPECT_TRUE(drift_check(r, c.t_at(3720), c.n_at(3720), c.rate, false));
}

TEST(Drift, TheDifferenceKeepsItsOrderOfOperations) {
    TagState s;
    s.first_valid_pps = true;
    s.tofvpps = 0.0;
    s.nofvpps = 0;
    s.drift = 0.01 + 1e-9;
    s.b = 0.1;
    const double f1 = 3700.3;
    const int64_t n = 370017;
    drift_check(s, f1, n, 100, false);
    // Whatever the verdict, difference is (n * drift + b) - f1 of the old model.
    EXPECT_EQ(s.difference, static_cast<double>(n) * (0.01 + 1e-9) + 0.1 - f1);
}

TEST(Drift, ExactlyOneHourChangesNothing) {
    TagState s;
    ASSERT_TRUE(drift_check(s, 1000.0, 0, 10, false));
    ASSERT_TRUE(drift_check(s, 2000.0, 10000, 10, false));
    const double drift = s.drift, b = s.b;
    // Far off the model, but at a span of exactly 3600 s.
    EXPECT_TRUE(drift_check(s, 4600.0, 99999, 10, false));
    EXPECT_EQ(s.drift, drift);
    EXPECT_EQ(s.b, b);
}

TEST(Drift, WithinTheHourEveryTagRefits) {
    TagState s;
    ASSERT_TRUE(drift_check(s, 1000.0, 0, 10, false));
    // Wildly inconsistent tags within the hour pass and refit.
    EXPECT_TRUE(drift_check(s, 1500.0, 10, 10, false));
    EXPECT_EQ(s.drift, 50.0);
    EXPECT_TRUE(drift_check(s, 900.0, 20, 10, false));  // a negative span too
    EXPECT_EQ(s.drift, -5.0);
    EXPECT_EQ(s.b, 900.0 - 20 * -5.0);
}

// ---- Options ------------------------------------------------------------------------

struct Argv {
    std::vector<std::string> words;
    std::vector<char*> ptrs;
    explicit Argv(std::vector<std::string> w) : words(std::move(w)) {
        for (auto& s : words) ptrs.push_back(s.data());
        ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return ptrs.data(); }
};

std::string usage_text() {
    std::string u;
    Writer w(&u);
    write_usage(w);
    w.flush();
    return u;
}

TEST(Options, LettersAndOperands) {
    Argv a({"vcc", "-x", "7", "-u", "-a", "-g", "-t", "-d", "-s"});
    Options o;
    std::string e;
    Writer w(&e);
    EXPECT_TRUE(parse_command_line(a.argc(), a.argv(), o, w));
    w.flush();
    EXPECT_EQ(e, "");
    EXPECT_EQ(o.minimum_gps_counts, 7);
    EXPECT_TRUE(o.gps_utc_valid && o.data_beyond_gps && o.gps_string_only && o.gps_t_only && o.diag && o.obh_mode);

    Argv b({"vcc", "-xabc"});
    Options p;
    EXPECT_TRUE(parse_command_line(b.argc(), b.argv(), p, w));
    EXPECT_EQ(p.minimum_gps_counts, 0);
}

TEST(Options, BadOptionsGetTheirMessagesThenTheUsage) {
    Argv a({"vcc", "-o", "5", "-q", "-x"});
    Options o;
    std::string e;
    Writer w(&e);
    EXPECT_FALSE(parse_command_line(a.argc(), a.argv(), o, w));
    w.flush();
    EXPECT_EQ(e, "Unrecognized option: -o\nUnrecognized option: -q\nOption -x requires an operand\n" + usage_text());
    EXPECT_EQ(usage_text().substr(0, 19), "Version 2.0-290312\n");
}

// ---- The converter -------------------------------------------------------------------

TEST(Converter, NoHeaderAndUnsupportedHeaders) {
    Result r = convert("");
    EXPECT_EQ(r.status, Status::fatal);
    EXPECT_EQ(r.err, "vcc ERROR: no header/data in stream\n");
    r = convert("CH_NUM=1;S_RATE=100;\x90\xA0\xC0");  // no 0x80: the header never ends
    EXPECT_EQ(r.status, Status::fatal);
    EXPECT_EQ(r.err, "vcc ERROR: no header/data in stream\n");
    for (const char* h : {"CH_NUM=4;S_RATE=100;", "CH_NUM=0;S_RATE=100;", "CH_NUM=1;S_RATE=0;", "CH_NUM=1;",
                          "CH_NUM=2;S_RATE=-5;"}) {
        r = convert(std::string(h) + "\x80");
        EXPECT_EQ(r.status, Status::fatal) << h;
        EXPECT_EQ(r.out, "") << h;
        EXPECT_NE(r.err.find("\nvcc ERROR: unsupported header: CH_NUM "), std::string::npos) << h;
    }
}

TEST(Converter, BufferLimitStopsTheRun) {
    Stream s = standard_stream();
    for (int k = 0; k < 30; ++k) s.sample();
    Result r = convert(s.bytes, {}, 10);
    EXPECT_EQ(r.status, Status::fatal);
    EXPECT_EQ(vorn::testing::split_lines(r.err).back(), "max number of sample w/o GPS exceeds 10");
    EXPECT_EQ(vorn::testing::split_lines(r.out).size(), 1u);  // the header line only
    // Nine samples fit; with a flush in between the count starts again.
    Stream t = standard_stream();
    for (int k = 0; k < 8; ++k) t.sample();
    EXPECT_EQ(convert(t.bytes, {}, 10).status, Status::ok);
    Options x1;
    x1.minimum_gps_counts = 1;
    Stream u = standard_stream();
    u.seconds(100, 6, 2);  // 7 buffered before the first valid tag, 2 after each
    Result ru = convert(u.bytes, x1, 10);
    EXPECT_EQ(ru.status, Status::ok);
    EXPECT_EQ(timed_lines(ru.out).size(), 4u);
}

void* never(void*, std::size_t) { return nullptr; }
int g_allocations = 0;
void* twice(void* p, std::size_t bytes) {
    if (++g_allocations > 2) return nullptr;
    return std::realloc(p, bytes);
}

TEST(Converter, AllocationFailureEndsWithStatus200) {
    Stream s = standard_stream(2);
    Result r = convert(s.bytes, {}, 0, never);
    EXPECT_EQ(r.status, Status::fatal);
    EXPECT_EQ(vorn::testing::split_lines(r.err).back(), "vcc malloc failed");
    EXPECT_EQ(vorn::testing::split_lines(r.out).size(), 1u);
    // The buffer doubles from its first capacity: the third growth fails.
    g_allocations = 0;
    Stream t = standard_stream(2);
    for (int64_t k = 0; k < SampleBuffer::kFirstCapacity * 4 + 5; ++k) t.sample();
    r = convert(t.bytes, {}, 0, twice);
    EXPECT_EQ(r.status, Status::fatal);
    EXPECT_EQ(vorn::testing::split_lines(r.err).back(), "vcc malloc failed");
}

TEST(Converter, BufferGrowsAndKeepsValues) {
    // A flush after many growths of the buffer writes every value in order.
    Stream s = standard_stream(3);
    for (int64_t k = 0; k < SampleBuffer::kFirstCapacity * 16 + 100; ++k) s.sample();
    s.seconds(0, 3, 2);
    Options o;
    o.minimum_gps_counts = 1;
    Result r = convert(s.bytes, o);
    ASSERT_EQ(r.status, Status::ok);
    std::vector<std::string> l = vorn::testing::split_lines(r.out);
    ASSERT_EQ(static_cast<int64_t>(l.size()), 1 + s.n);  // the header line, then every sample
    for (int64_t n = 0; n < s.n; ++n) {
        const int32_t v = static_cast<int32_t>(n * 7 - 3);
        const std::string head = std::to_string(n) + " " + std::to_string(v) + " " + std::to_string(v + 1) + " " +
                                 std::to_string(v + 2) + " ";
        ASSERT_EQ(l[static_cast<std::size_t>(n + 1)].substr(0, head.size()), head) << n;
    }
}

TEST(Converter, TruncatedStreamsEndNormallyWithAPrefixOfTheTimedLines) {
    Stream s = standard_stream(2);
    s.seconds(0, 8, 3);
    s.sample().sample();
    Options o;
    o.minimum_gps_counts = 1;
    o.data_beyond_gps = false;
    const std::vector<std::string> full = timed_lines(convert(s.bytes, o).out);
    ASSERT_EQ(full.size(), 6u);
    const std::size_t header_end = s.bytes.find('\x80');
    for (std::size_t len = header_end + 1; len <= s.bytes.size(); ++len) {
        Result r = convert(s.bytes.substr(0, len), o);
        ASSERT_EQ(r.status, Status::ok) << len;
        std::vector<std::string> t = timed_lines(r.out);
        ASSERT_LE(t.size(), full.size());
        for (std::size_t i = 0; i < t.size(); ++i) ASSERT_EQ(t[i], full[i]) << len;
        EXPECT_EQ(r.err.find("abrupt"), std::string::npos);
    }
}

TEST(Converter, SmallReadsGiveTheSameOutput) {
    // A descriptor read in tiny pieces splits blocks across refills.
    Stream s = standard_stream(3);
    s.seconds(0, 25, 4);
    s.bytes += std::string("\x00\x00\xB3\x35", 4);
    s.seconds(25, 3, 2);
    s.bytes += "\xE5 END;";
    Options o;
    o.data_beyond_gps = true;
    const Result mem = convert(s.bytes, o);
    char path[] = "/tmp/vcc_testXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, s.bytes.data(), s.bytes.size()), static_cast<ssize_t>(s.bytes.size()));
    for (std::size_t cap : {16u, 17u, 23u, 77u, 80u}) {
        lseek(fd, 0, SEEK_SET);
        Result r;
        ByteReader in(fd, "", cap);
        Writer out(&r.out);
        Writer err(&r.err);
        Converter c(o, in, out, err, "vcc");
        r.status = c.run();
        out.flush();
        err.flush();
        EXPECT_EQ(r.status, mem.status) << cap;
        EXPECT_EQ(r.out, mem.out) << cap;
        EXPECT_EQ(r.err, mem.err) << cap;
    }
    close(fd);
    unlink(path);
}

TEST(Converter, SampleTagFromBeforeAFlushIsReused) {
    // After a flush the index of the last tagged sample stays in force: a
    // later GPS block without a tagged block before it times that index.
    Stream s = standard_stream();
    s.seconds(0, 3, 3);  // samples 1-9; the third GPS block is valid at -x 1
    Options o;
    o.minimum_gps_counts = 1;
    // Samples 0-9 at indices 0-9, the tagged sample 7 at index 7.
    std::vector<std::string> t = timed_lines(convert(s.bytes, o).out);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].substr(0, 5), "7 46 ");
    // Four samples: index 7 is not buffered, so only untimed lines.
    Stream u = s;
    u.sample().sample().sample().sample();
    u.gps(3);
    Result ru = convert(u.bytes, o);
    EXPECT_EQ(timed_lines(ru.out).size(), 1u);
    EXPECT_EQ(vorn::testing::split_lines(ru.out).size(), 1u + 10 + 4);
    // Nine samples (10-18 at indices 0-8): sample 17 takes the block's time.
    Stream v = s;
    for (int k = 0; k < 9; ++k) v.sample();
    v.gps(3);
    std::vector<std::string> tv = timed_lines(convert(v.bytes, o).out);
    ASSERT_EQ(tv.size(), 2u);
    EXPECT_EQ(tv[1].substr(0, 6), "17 116");
    EXPECT_NE(tv[1].find(" 1483228803 "), std::string::npos);
}

TEST(Converter, RandomAndMutatedStreamsNeverBreakTheRun) {
    std::mt19937 rng(20120329);
    Stream base = standard_stream(2);
    base.seconds(0, 30, 3);
    base.bytes += std::string("\x00\x01\xB3\xC0\x01\x02\xCF\x11\xD1\x26\x01\x00\x01\x7A", 14);
    base.seconds(30, 5, 2);
    base.bytes += "\xE0 STOP=1;";
    const uint8_t special[] = {0x80, 0x90, 0xA0, 0xB0, 0xB3, 0xC0, 0xCF, 0xD1, 0xE0, 0xE5, 0xF0, 0x00, 0x0F, 0x20};
    for (int round = 0; round < 1500; ++round) {
        std::string b;
        if (round % 5 == 0) {
            // Wholly random bytes after a valid header.
            b = std::string("CH_NUM=") + std::to_string(1 + round % 3) + ";S_RATE=" + std::to_string(1 + round % 200) +
                ";\x80";
            std::size_t n = rng() % 3000;
            for (std::size_t i = 0; i < n; ++i) b.push_back(static_cast<char>(rng() % 3 == 0 ? special[rng() % 14] : rng()));
        } else {
            b = base.bytes;
            int edits = 1 + static_cast<int>(rng() % 10);
            for (int e = 0; e < edits && !b.empty(); ++e) {
                std::size_t p = rng() % b.size();
                switch (rng() % 5) {
                case 0: b[p] = static_cast<char>(rng()); break;
                case 1: b.insert(b.begin() + static_cast<long>(p), static_cast<char>(special[rng() % 14])); break;
                case 2: b.erase(p, 1 + rng() % 30); break;
                case 3: b.insert(p, b.substr(p, 1 + rng() % 120)); break;
                default: b.resize(p); break;
                }
            }
        }
        Options o;
        o.minimum_gps_counts = static_cast<int32_t>(rng() % 4);
        o.data_beyond_gps = rng() % 2;
        o.gps_t_only = rng() % 4 == 0;
        o.gps_string_only = rng() % 5 == 0;
        o.diag = rng() % 6 == 0;
        o.obh_mode = rng() % 2;
        o.gps_utc_valid = rng() % 3 == 0;
        Result r = convert(b, o, 5000);
        ASSERT_TRUE(r.status == Status::ok || r.status == Status::fatal || r.status == Status::no_time_shift)
            << round << " " << status_name(r.status);
        if (r.status == Status::no_time_shift) {
            EXPECT_EQ(vorn::testing::split_lines(r.err).back(), "no t shift after GPS string");
        }
    }
}

}  // namespace
