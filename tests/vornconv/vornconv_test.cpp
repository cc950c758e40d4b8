#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "auxout.hpp"
#include "converter.hpp"
#include "convoptions.hpp"
#include "sampleout.hpp"
#include "streamgen.hpp"
#include "timetag.hpp"

#include "lines.hpp"

using namespace vornconv;
using vorn::aux_descriptor;
using vorn::AuxDescriptor;
using vorn::line_time;
using vorn::SampleSink;
using vorn::testing::GpsSpec;
using vorn::testing::StreamBuilder;

namespace {

struct Result {
    std::string out, err, aux;
    Exit status = Exit::ok;
};

Result convert(const std::vector<uint8_t>& bytes, const ConvOptions& o = {}, bool with_aux = false,
            int64_t max_samples = vorn::MXSMP) {
    Result r;
    vorn::ByteReader in(bytes.data(), bytes.size());
    vorn::Writer out(&r.out), err(&r.err), aux(&r.aux);
    Converter c(o, in, out, err, with_aux ? &aux : nullptr, "vornconv", max_samples);
    r.status = c.run();
    out.flush();
    err.flush();
    aux.flush();
    return r;
}

std::vector<uint8_t> script(std::string_view s) {
    StreamBuilder b;
    std::string error;
    EXPECT_TRUE(b.run(s, error)) << error;
    return b.bytes;
}

ConvOptions options(std::vector<std::string> args, Exit expect = Exit::ok) {
    args.insert(args.begin(), "vornconv");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ConvOptions o;
    std::string out, err;
    vorn::Writer wo(&out), we(&err);
    EXPECT_EQ(parse_command_line(static_cast<int>(args.size()), argv.data(), o, wo, we), expect);
    return o;
}

// Feeds GPS blocks one second apart to a model; returns the 1-based number of
// the first valid block, or 0.
struct ModelRun {
    TagModel model;
    std::string err;
    vorn::Writer w{&err};
    GpsSpec g;
    explicit ModelRun(const TagSettings& s) : model(s) {}
    bool block() {
        vorn::GpsString gps;
        const std::string s = StreamBuilder::gps_string(g);
        std::copy(s.begin(), s.end(), gps.bytes.begin());
        model.read_time(gps);
        model.read_fields(gps);
        model.check_offset(w);
        const bool valid = model.judge(g.shift, w);
        w.flush();
        g.time += 1;
        return valid;
    }
    int first_valid(int limit = 40) {
        for (int i = 1; i <= limit; ++i)
            if (block()) return i;
        return 0;
    }
};

TagSettings settings(TagMode mode, int32_t counts = 20, int32_t rate = 100) {
    TagSettings s;
    s.mode = mode;
    s.minimum_gps_counts = counts;
    s.S_RATE = rate;
    s.D_FILT = 0;
    return s;
}

}  // namespace

// ---- time-tag model ---------------------------------------------------------

TEST(VornconvTagModel, FirstValidBlockByMode) {
    EXPECT_EQ(ModelRun(settings(TagMode::normal)).first_valid(), 22);
    EXPECT_EQ(ModelRun(settings(TagMode::obh)).first_valid(), 20);
    EXPECT_EQ(ModelRun(settings(TagMode::normal, 1)).first_valid(), 3);
    EXPECT_EQ(ModelRun(settings(TagMode::obh, 1)).first_valid(), 2);
    EXPECT_EQ(ModelRun(settings(TagMode::raw, 0)).first_valid(), 2);
    // Raw mode leaves the count out of the verdict.
    EXPECT_EQ(ModelRun(settings(TagMode::raw, 5)).first_valid(), 2);
}

TEST(VornconvTagModel, TagTimeKeepsItsOrderOfOperations) {
    TagSettings s = settings(TagMode::normal, 1, 7);
    s.D_FILT = 3;
    ModelRun r(s);
    r.g.shift = 4097;
    r.block();
    const double expected = (4097 * 2.44140625 / 1000000.0 + static_cast<double>(r.model.t_new())) - 3 * (1.0 / 7);
    EXPECT_EQ(r.model.f1(), expected);
    EXPECT_EQ(r.model.t_new(), r.g.time - 1 + 18);  // the string's second plus the offset
}

TEST(VornconvTagModel, RepeatedTagWarnsAndRestartsTheCount) {
    ModelRun r(settings(TagMode::normal, 1));
    EXPECT_EQ(r.first_valid(), 3);
    r.g.time -= 1;  // the same string and shift again
    EXPECT_FALSE(r.block());
    EXPECT_EQ(r.model.gpscount(), 1);
    EXPECT_NE(r.err.find("Warning : repetitive GPS tag(s) around 2017-01-01T00:10:02\n"), std::string::npos) << r.err;
    EXPECT_TRUE(r.block());
}

TEST(VornconvTagModel, MidnightWindow) {
    // t_new mod 86400 is the string's second plus the offset of 18 s.
    struct Case {
        int64_t of_day;
        bool valid;
    };
    for (TagMode mode : {TagMode::normal, TagMode::obh}) {
        for (Case c : {Case{99, false}, Case{100, true}, Case{86300, true}, Case{86301, false}}) {
            ModelRun r(settings(mode, 1));
            r.g.time = 1483228800 + c.of_day - 18 - 3;
            r.block();
            r.block();
            r.block();
            EXPECT_EQ(r.block(), c.valid) << c.of_day;
        }
    }
    ModelRun raw(settings(TagMode::raw, 0));
    raw.g.time = 1483228800 - 18 - 1;
    raw.block();
    EXPECT_TRUE(raw.block());  // t_new mod 86400 == 0
}

TEST(VornconvTagModel, TimeShiftBoundsAt100Hz) {
    // 2.44140625 us per count; a sample period of 10,000 us.
    struct Case {
        int32_t count;
        bool valid;
    };
    for (Case c : {Case{8, false},      // 19.53 us
                   Case{9, true},       // 21.97 us
                   Case{4087, true},    // 9978.03 us
                   Case{4088, false},   // 9980.47 us
                   Case{4096, false},   // 10000 us
                   Case{4097, true},    // 10002.44 us
                   Case{6144, true}}) { // 15000 us
        ModelRun r(settings(TagMode::normal, 1, 100));
        r.g.shift = c.count;
        EXPECT_EQ(r.first_valid(5) == 3, c.valid) << c.count;
        ModelRun obh(settings(TagMode::obh, 1, 100));
        obh.g.shift = c.count;
        EXPECT_EQ(obh.first_valid(5), 2) << c.count;
    }
}

TEST(VornconvTagModel, JitterFailsTheOutlierAndTheTwoBlocksAfterIt) {
    ModelRun r(settings(TagMode::normal, 1));
    EXPECT_EQ(r.first_valid(), 3);
    r.g.shift = 2048 + 50;  // 122 us off
    EXPECT_FALSE(r.block());
    r.g.shift = 2048;
    EXPECT_FALSE(r.block());
    EXPECT_FALSE(r.block());
    EXPECT_TRUE(r.block());
}

TEST(VornconvTagModel, MovedStationAgainstFrozenMeans) {
    for (int lat : {52, 53}) {
        ModelRun r(settings(TagMode::normal, 1));
        r.g.lat = 50;
        for (int i = 0; i < 100; ++i) r.block();
        EXPECT_EQ(r.model.n_gps(), 100);
        r.g.lat = lat;
        const bool valid = r.block();
        EXPECT_EQ(r.model.gps_lat_mean(), 50);
        EXPECT_EQ(valid, lat == 52);
        EXPECT_EQ(r.err.find("Warning: GPS glitch or station has been moved >100km 50 53 10 10\n") != std::string::npos,
                  lat == 53);
    }
    // Before the means freeze they follow the fixes, truncated toward zero.
    ModelRun m(settings(TagMode::normal, 1));
    m.g.lat = 50;
    m.block();
    m.g.lat = 53;
    m.block();  // (1 * 50 + 53) / 2 = 51
    EXPECT_EQ(m.model.gps_lat_mean(), 51);
    // -m and OBH mode leave the check out.
    TagSettings s = settings(TagMode::normal, 1);
    s.check_for_gps_moved = false;
    ModelRun off(s);
    off.g.lat = 50;
    for (int i = 0; i < 100; ++i) off.block();
    off.g.lat = 60;
    EXPECT_TRUE(off.block());
}

TEST(VornconvTagModel, OffsetFlagUnderMinusU) {
    for (bool u : {false, true}) {
        TagSettings s = settings(TagMode::normal, 1);
        s.gps_utc_valid = u;
        ModelRun r(s);
        r.g.flag = 0;
        EXPECT_EQ(r.first_valid(5), u ? 0 : 3);
        EXPECT_EQ(r.model.t_new() % 86400, (r.g.time - 1 + 18) % 86400);
    }
}

TEST(VornconvTagModel, OffsetChangeWarning) {
    ModelRun r(settings(TagMode::normal, 1));
    r.block();
    r.g.time += 5;
    r.g.offset = 17;
    r.block();
    EXPECT_EQ(r.err, "Warning: GPS UTC offset changed from 18 to 17 during recording\n");
    r.g.time += 5;
    r.g.offset = 16;
    r.g.flag = 0;  // not marked valid: no warning, the offset is still taken
    r.block();
    r.g.flag = 1;
    r.block();
    EXPECT_EQ(r.err, "Warning: GPS UTC offset changed from 18 to 17 during recording\n");
    EXPECT_EQ(r.model.gpsoffset_test(), 16);
}

TEST(VornconvTagModel, RawModeKeepsOnlyRepeatAndJumpTests) {
    ModelRun r(settings(TagMode::raw, 0));
    r.g.age = 0;
    r.g.shift = 1;
    r.g.flag = 0;
    r.block();
    EXPECT_TRUE(r.block());
    r.g.shift = 6000;  // jitter is no test here
    EXPECT_TRUE(r.block());
    r.g.time += 5;  // a jump
    EXPECT_FALSE(r.block());
    EXPECT_TRUE(r.block());
}

TEST(VornconvTagModel, FieldsThatHoldNoNumberKeepTheirValues) {
    ModelRun r(settings(TagMode::normal, 1));
    r.g.puts = {{1, " "}, {32, " "}};  // no identifier, source from position 62
    r.g.source2 = 1;
    r.block();
    EXPECT_EQ(r.model.identifier(), '\0');
    EXPECT_EQ(r.model.gps_source(), 1);
    EXPECT_EQ(r.model.gps_age(), 2);
    EXPECT_EQ(r.model.temperature(), "-99.9");
    r.g.puts.clear();
    r.g.id = 'X';
    r.g.temp = "-3.5";
    r.g.elev = "88";
    r.block();
    EXPECT_EQ(r.model.temperature(), "-3.5");
    EXPECT_EQ(r.model.elevation(), "88");
    r.g.puts = {{1, " "}, {4, "     "}};  // X stays in force; an empty word keeps the default
    r.block();
    EXPECT_EQ(r.model.identifier(), 'X');
    EXPECT_EQ(r.model.temperature(), "-99.9");
    EXPECT_EQ(r.model.elevation(), "88");
    r.g.puts.clear();
    r.g.source = 3;  // a source other than 0 or 1 spoils the fix
    r.block();
    EXPECT_EQ(r.model.gps_age(), 0);
}

// ---- sample lines -----------------------------------------------------------

TEST(VornconvSampleLines, MatchPrintfForAnyValues) {
    std::mt19937_64 rng(7);
    std::vector<int32_t> values;
    std::string expected;
    for (int k = 0; k < 3000; ++k) {
        for (int c = 0; c < 3; ++c) {
            int32_t v;
            switch (rng() % 5) {
                case 0: v = static_cast<int32_t>(rng()); break;
                case 1: v = static_cast<int32_t>(rng() % 20) - 10; break;
                case 2: v = (rng() % 2) ? INT32_MIN : INT32_MAX; break;
                default: v = static_cast<int32_t>(rng() % 16777216) - 8388608; break;
            }
            values.push_back(v);
        }
    }
    for (int64_t first : {int64_t{0}, int64_t{99999990}, int64_t{9999999999999990}, INT64_MAX - 3000}) {
        std::string out;
        {
            vorn::Writer w(&out);
            SampleSink sink(w);
            sink.untimed_run(first, values.data(), 3, 3000);
            w.flush();
        }
        expected.clear();
        char line[128];
        for (int k = 0; k < 3000; ++k) {
            std::snprintf(line, sizeof line, "%lld %d %d %d -1 0\n", static_cast<long long>(first + k), values[3 * k],
                          values[3 * k + 1], values[3 * k + 2]);
            expected += line;
        }
        EXPECT_EQ(out, expected) << first;
    }
}

TEST(VornconvSampleLines, TimedAndDated) {
    std::string out;
    vorn::Writer w(&out);
    SampleSink sink(w);
    const int32_t v[2] = {-5, 17};
    sink.timed(1200, v, 2, {1483228805, 500000}, "");
    sink.timed(1201, v, 1, {1483228805, 7}, "2017-01-01T00:00:05");
    w.flush();
    EXPECT_EQ(out, "1200 -5 17 1483228805 500000\n1201 -5 1483228805 7 2017-01-01T00:00:05\n");
    EXPECT_FALSE(line_time(std::nan("")).valid);
    EXPECT_FALSE(line_time(1e300).valid);
    EXPECT_EQ(line_time(-0.25).t.sec, -1);
    EXPECT_EQ(line_time(-0.25).t.usec, 750000);
}

// ---- AUX file ---------------------------------------------------------------

namespace {
std::string aux_of(const std::vector<std::pair<std::vector<uint8_t>, double>>& blocks, bool with_file = true) {
    std::string s;
    vorn::Writer w(&s);
    AuxOutput aux(with_file ? &w : nullptr);
    for (const auto& [b, t] : blocks) {
        const AuxDescriptor d = aux_descriptor(b[0]);
        const AuxTime at = aux_record_time(true, t, 0, 100);
        aux.record(d, b.data() + 1, at.sec, at.ms);
    }
    w.flush();
    return s;
}
const double kT = 1483228805.5;  // 2017-01-01T00:00:05.5
}  // namespace

TEST(VornconvAuxFile, ValuesTextsAndGroups) {
    // Type 2, one entry: unit 1, value 250.
    EXPECT_EQ(aux_of({{{0x26, 1, 0, 1, 122}, kT}}), "\n2017-01-01T00:00:05.500 250 cnts ");
    // Type 6 "ab", then type 4 "c", then a new line.
    EXPECT_EQ(aux_of({{{0x64, 'a', 'b'}, kT}, {{0x43, 'c'}, kT}, {{0x26, 40, 0x7F, 0x7F, 0x7F}, kT + 1}}),
              "\n2017-01-01T00:00:05.500 ab c \n2017-01-01T00:00:06.500 -1 T ");
    // A type-0 record between two type-2 records ends the group.
    EXPECT_EQ(aux_of({{{0x26, 14, 0, 0, 5}, kT}, {{0x06, 1, 0, 0, 1}, kT}, {{0x26, 2, 0x3F, 0x7F, 0x7F}, kT}}),
              "\n2017-01-01T00:00:05.500 5 m\xC2\xB0" "C \n2017-01-01T00:00:05.500 1048575 CPS ");
    // Unit codes without a name.
    EXPECT_EQ(aux_of({{{0x2A, 0, 0, 0, 3, 41, 0, 0, 4}, kT}}), "\n2017-01-01T00:00:05.500 3 unit0 4 unit41 ");
    // An empty closing text still writes its space; odd types and short
    // lengths write nothing and leave the group open.
    EXPECT_EQ(aux_of({{{0x64, 'a', 'b'}, kT}, {{0x51}, kT}, {{0x61}, kT}, {{0x42}, kT}, {{0x64, 'd', 'e'}, kT}}),
              "\n2017-01-01T00:00:05.500 ab  \n2017-01-01T00:00:05.500 de ");
    // Without a file nothing is written.
    EXPECT_EQ(aux_of({{{0x26, 1, 0, 1, 122}, kT}}, false), "");
}

TEST(VornconvAuxFile, DescriptorAndRecordTime) {
    EXPECT_EQ(aux_descriptor(0x26).type, 2);
    EXPECT_EQ(aux_descriptor(0x26).payload(), 4u);
    EXPECT_EQ(aux_descriptor(0x27).payload(), 4u);   // 5 bytes: one entry
    EXPECT_EQ(aux_descriptor(0x4F).payload(), 13u);
    EXPECT_EQ(aux_descriptor(0x41).payload(), 0u);   // length below 2
    EXPECT_EQ(aux_descriptor(0x3F).payload(), 0u);   // odd type
    const AuxTime none = aux_record_time(false, 1e9, 50, 100);
    EXPECT_EQ(none.sec, 0);
    EXPECT_EQ(none.ms, 0);
    const AuxTime t = aux_record_time(true, 1000.25, 50, 100);  // 1000.25 + 0.5
    EXPECT_EQ(t.sec, 1000);
    EXPECT_EQ(t.ms, 750);
}

// ---- command line -----------------------------------------------------------

TEST(VornconvCommandLine, LaterOptionsOverride) {
    EXPECT_EQ(options({"-x", "5", "-c"}).minimum_gps_counts, 0);
    EXPECT_EQ(options({"-c", "-x", "5"}).minimum_gps_counts, 5);
    ConvOptions o = options({"-c", "-x", "5"});
    EXPECT_TRUE(o.obh_mode);
    EXPECT_TRUE(o.gps_raw_mode);
    o = options({"-a", "86.4", "-m", "-u", "-x", "12abc"});
    EXPECT_TRUE(o.data_beyond_gps);
    EXPECT_EQ(o.adrift, 86.4);
    EXPECT_FALSE(o.check_for_gps_moved);
    EXPECT_EQ(o.minimum_gps_counts, 12);
    options({"-o", "5"}, Exit::usage);
    options({"-x"}, Exit::usage);
    options({"-f", "/nonexistent-dir/aux.txt", "-q"}, Exit::aux_file);
}

TEST(VornconvCommandLine, DriftOperandReadAsAtof) {
    EXPECT_EQ(atof_like("86.4"), 86.4);
    EXPECT_EQ(atof_like("  -1.5e2ms"), -150.0);
    EXPECT_EQ(atof_like("abc"), 0.0);
    EXPECT_EQ(atof_like(""), 0.0);
    EXPECT_EQ(atof_like("0x10"), 16.0);
}

// ---- the converter ----------------------------------------------------------

namespace {
const char* kHead = "header DEV_NO=T1;CH_NUM=1;S_RATE=4;D_FILT=0;\n";
}

TEST(VornconvConverter, EveryCutShortBlockEndsWithOneWarning) {
    const std::string base = std::string(kHead) + "samples 2\n";
    for (const char* tail : {"bytes 80 01 02", "bytes 90", "gps cut=10", "gps cut=76", "gps cut=77", "gps cut=78",
                             "bytes c0", "bytes c0 00", "bytes d1", "bytes d1 26 01 02", "bytes d1 4f 41 42"}) {
        const Result r = convert(script(base + tail + "\n"));
        EXPECT_EQ(r.status, Exit::ok) << tail;
        const std::string warning = "Warning: Vorn T1 data acquisition stopped abruptly\n";
        const std::size_t at = r.err.find(warning);
        ASSERT_NE(at, std::string::npos) << tail << "\n" << r.err;
        EXPECT_EQ(r.err.find(warning, at + 1), std::string::npos) << tail;
        EXPECT_NE(r.out.find("-1 0 0 0\n"), std::string::npos) << tail;
    }
    // A GPS string followed by something other than a time shift is an error.
    const Result bad = convert(script(base + "gps tsb=80\n"));
    EXPECT_EQ(bad.status, Exit::no_time_shift);
    EXPECT_NE(bad.err.find("vornconv ERROR: no t shift after GPS string, data stream not valid\n"), std::string::npos);
}

TEST(VornconvConverter, BlockProblemPositionAndCount) {
    // Header of 37 bytes, a sample block at 38-42, bad bytes from 43.
    const Result r = convert(script(std::string(kHead) + "samples 1\nbytes 00 05 0f\nsamples 1\nbytes 01\nbytes 80 00 00 00 00\n"));
    EXPECT_NE(r.err.find("vornconv ERROR: Vorn T1 timing problem from  1970-01-01T00:00:00 with block problem at "
                         "position 43 occured 3 times\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("at position 51 occured 1 times\n"), std::string::npos) << r.err;
}

TEST(VornconvConverter, BufferLimitEndsTheRun) {
    const Result r = convert(script(std::string(kHead) + "samples 10\n"), {}, false, 8);
    EXPECT_EQ(r.status, Exit::fatal);
    EXPECT_NE(r.err.find("vornconv ERROR: max number of sample w/o GPS exceeds 8, increase MXSMP in vorn and recompile\n"),
              std::string::npos);
    EXPECT_EQ(vorn::testing::split_lines(r.out).back(), "-1 0 0 0");
    // A flush in time keeps the run going.
    const Result ok = convert(script(std::string(kHead) + "seconds 4 spr=3\n"), options({"-c"}), false, 8);
    EXPECT_EQ(ok.status, Exit::ok) << ok.err;
}

TEST(VornconvConverter, GpsBlockWithoutItsOwnTaggedSample) {
    // Before any tagged sample: a valid tag flushes every sample untimed.
    const Result r = convert(script(std::string(kHead) + "samples 3\ngps\ngps\ngps\nsamples 1\n"), options({"-c", "-a", "0"}));
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "0 0 -1 0\n1 1 -1 0\n2 2 -1 0\n3 3 -1 0\n-1 0 0 0\n");
    // After a flush, a GPS block without a new tagged sample gives no sample
    // a time that belongs to another.
    const Result s = convert(script(std::string(kHead) + "samples 2\ntagged\nsamples 1\ngps\ntagged\ngps\nsamples 6\ngps\n"),
                          options({"-c"}));
    EXPECT_EQ(s.out.substr(s.out.find('\n') + 1),
              "0 0 -1 0\n1 1 -1 0\n2 2 -1 0\n3 3 -1 0\n4 4 1483229419 5000\n5 5 -1 0\n6 6 -1 0\n7 7 -1 0\n"
              "8 8 -1 0\n9 9 -1 0\n10 10 -1 0\n");
}

TEST(VornconvConverter, DataBeyondGpsOverOneDay) {
    // S_RATE 1: 86,400 samples after the last timed one are one day.
    const std::string head = "header CH_NUM=1;S_RATE=1;D_FILT=0;\n";
    const Result r = convert(script(head + "seconds 3 spr=1\nsamples 86400\n"), options({"-c", "-t", "-a", "86.4"}));
    const std::vector<std::string> l = vorn::testing::split_lines(r.out);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[1], "2 2 1483229420 5000 2017-01-01T00:10:20");
    // 1483229420.005 + 86400 s + 86.4 ms
    EXPECT_EQ(l[2], "86402 86402 1483315820 91400 2017-01-02T00:10:20");
    const Result none = convert(script(head + "samples 2\n"), options({"-a", "1"}));
    EXPECT_EQ(none.out.substr(none.out.find('\n') + 1), "0 0 -1 0\n1 1 -1 0\n-1 0 0 0\n");
}

TEST(VornconvConverter, RandomStreamsEndWithADefinedStatus) {
    std::mt19937_64 rng(20170101);
    const std::vector<std::vector<std::string>> modes = {{}, {"-c"}, {"-s", "-x", "1"}, {"-d", "-i"}, {"-g", "-a", "3"},
                                                         {"-t", "-a", "-1e9", "-u"}};
    for (int i = 0; i < 600; ++i) {
        const std::vector<uint8_t> s = vorn::testing::random_stream(rng);
        const Result r = convert(s, options(modes[static_cast<std::size_t>(i) % modes.size()]), true, 5000);
        const int st = static_cast<int>(r.status);
        EXPECT_TRUE(st == 0 || st == 100 || st == 127 || st == 200) << i << " " << st;
    }
}

TEST(AuxUnits, NamesByCode) {
    using vornconv::aux_unit;
    EXPECT_EQ(aux_unit(1), "cnts");
    EXPECT_EQ(aux_unit(30), "Mhz");
    EXPECT_EQ(aux_unit(40), "T");
    EXPECT_EQ(aux_unit(14), "m\xC2\xB0" "C");
    EXPECT_EQ(aux_unit(16), "\xC2\xB0");
    EXPECT_EQ(aux_unit(35), "0/00 rel. F");
    EXPECT_EQ(aux_unit(0), "");
    EXPECT_EQ(aux_unit(41), "");
}
