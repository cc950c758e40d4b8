// Tests of the synthetic recorder: the encoders against the shared decoders,
// the header and GPS string against the recorder's reading rules, and whole
// recordings decoded block by block against the signal formula and the GPS
// placement rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "calendar.hpp"
#include "blocks.hpp"
#include "recorder.hpp"
#include "vorn.hpp"
#include "vornsim.hpp"

using namespace vornsim;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A recorder stream taken apart strictly: any byte that the simulator should
// not write fails the test.
struct Gps {
    int64_t samples_before = 0;  // sample blocks written before this GPS block
    int64_t tag = -1;            // most recent tagged sample
    vorn::GpsString s;
    int32_t count = 0;
};

struct Decoded {
    vorn::HeaderTokens tokens;
    vorn::HeaderValues h;
    std::string header;
    uint8_t first_type = 0;
    std::vector<std::array<int32_t, 3>> samples;
    std::vector<int64_t> tagged;
    std::vector<Gps> gps;
    int64_t damage_runs = 0;
    int64_t damage_bytes = 0;
    int64_t stray_bytes = 0;
    int64_t aux_values = 0;
    int64_t aux_texts = 0;
    int64_t status_blocks = 0;
    int64_t status_runs = 0;
    int64_t overruns = 0;
    bool overrun_last = false;
    bool trailer = false;
    std::string trailer_text;
    std::vector<std::array<int32_t, 2>> aux_readings;  // unit, value pairs flattened per entry
};

Decoded decode(const std::string& bytes) {
    Decoded d;
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<uint8_t>(bytes[k]); };
    for (; i < bytes.size(); ++i) {
        const uint8_t b = at(i);
        if (vorn::header_byte(d.tokens, b)) break;
        if (b != 0xF0) d.header.push_back(static_cast<char>(b));
    }
    EXPECT_LT(i, bytes.size()) << "header never ends";
    if (i >= bytes.size()) return d;
    d.tokens.for_each_pair([&](std::string_view n, std::string_view v) { vorn::assign_tag(d.h, n, v); });
    d.first_type = at(i);
    const int ch = d.h.CH_NUM;
    bool after_data = false;  // the byte before was a damage byte
    uint8_t last_block = 0;
    while (i < bytes.size()) {
        const uint8_t b = at(i);
        if (!vorn::is_type_byte(b)) {
            if (b <= 0x0F) {
                if (!after_data) ++d.damage_runs;
                ++d.damage_bytes;
                after_data = true;
            } else {
                ++d.stray_bytes;
                after_data = false;
            }
            ++i;
            continue;
        }
        after_data = false;
        d.overrun_last = false;
        last_block = b;
        if (b == vorn::kSampleBlock || b == vorn::kTaggedSampleBlock) {
            EXPECT_LE(i + 1 + 4 * ch, bytes.size());
            std::array<int32_t, 3> v{};
            for (int c = 0; c < ch; ++c) {
                const std::size_t p = i + 1 + 4 * c;
                EXPECT_EQ(at(p + 3) & 0x78, 0) << "s3 carries only three bits";
                v[static_cast<std::size_t>(c)] = vorn::sample24(at(p), at(p + 1), at(p + 2), at(p + 3));
            }
            if (b == vorn::kTaggedSampleBlock) d.tagged.push_back(static_cast<int64_t>(d.samples.size()));
            d.samples.push_back(v);
            i += 1 + 4 * ch;
        } else if (b == vorn::kGpsBlock) {
            EXPECT_LE(i + vorn::kGpsBlockLength, bytes.size());
            Gps g;
            g.samples_before = static_cast<int64_t>(d.samples.size());
            g.tag = d.tagged.empty() ? -1 : d.tagged.back();
            for (std::size_t k = 0; k < vorn::GpsString::kLength; ++k) {
                g.s.bytes[k] = at(i + 1 + k);
                EXPECT_FALSE(vorn::is_type_byte(g.s.bytes[k]));
            }
            EXPECT_TRUE(vorn::is_shift_type(at(i + 77)));
            g.count = vorn::tshift_count(at(i + 78), at(i + 79));
            EXPECT_FALSE(vorn::is_type_byte(at(i + 78)) || vorn::is_type_byte(at(i + 79)));
            d.gps.push_back(g);
            i += vorn::kGpsBlockLength;
        } else if (b == vorn::kStatusBlock) {
            EXPECT_LE(i + 3, bytes.size());
            EXPECT_LE(at(i + 1), 1);
            EXPECT_FALSE(vorn::is_type_byte(at(i + 2)));
            if (at(i + 1) == vorn::kOverrunFlag) {
                ++d.overruns;
                d.overrun_last = true;
            } else {
                ++d.status_blocks;
            }
            i += 3;
        } else if (b == vorn::kStatusRun) {
            ++d.status_runs;
            ++i;
            int64_t n = 0;
            while (i < bytes.size() && !vorn::is_type_byte(at(i))) ++i, ++n;
            EXPECT_GE(n, 1);
            EXPECT_LE(n, 4);
        } else if (b == vorn::kAuxBlock) {
            const vorn::AuxDescriptor desc = vorn::aux_descriptor(at(i + 1));
            const int type = desc.type;
            const int len = desc.length;
            EXPECT_GE(len, 2);
            EXPECT_EQ(desc.payload(), static_cast<std::size_t>(len - 2));
            if (type == 2) {
                ++d.aux_values;
                EXPECT_EQ((len - 2) % 4, 0);
                for (int e = 0; e < (len - 2) / 4; ++e) {
                    const std::size_t p = i + 2 + 4 * static_cast<std::size_t>(e);
                    d.aux_readings.push_back({at(p) & 0x7F, vorn::aux21(at(p + 1), at(p + 2), at(p + 3))});
                }
            } else {
                EXPECT_TRUE(type == 4 || type == 6);
                ++d.aux_texts;
            }
            for (int k = 0; k < len - 2; ++k) EXPECT_FALSE(vorn::is_type_byte(at(i + 2 + static_cast<std::size_t>(k))));
            i += 2 + static_cast<std::size_t>(len - 2);
        } else if (b == vorn::kTrailer) {
            d.trailer = true;
            vorn::TrailerText t;
            for (std::size_t k = i + 1; k < bytes.size(); ++k) t.add(at(k));
            d.trailer_text = std::string(t.view());
            i = bytes.size();
        } else {
            ADD_FAILURE() << "unexpected type byte " << static_cast<int>(b);
            ++i;
        }
    }
    (void)last_block;
    return d;
}

std::string one_stream(const Options& o) {
    EXPECT_EQ(check_options(o), "");
    StringOutput out;
    simulate(o, out);
    EXPECT_EQ(out.files.size(), 1u);
    return out.files.empty() ? std::string() : out.files[0];
}

// GPS second G of a GPS block, as the converter computes it.
int64_t gps_second(const vorn::GpsString& s) {
    vorn::CivilTime own;
    int64_t t = s.own_seconds(own);
    int32_t offset = 0;
    EXPECT_TRUE(s.scan_int(vorn::kGpsOffset, offset));
    return t + offset;
}

// t_k with the sample-clock drift, as whole seconds of start plus the rest.
double rel_time(const Options& o, int64_t k) { return (static_cast<double>(k) * (1.0 + o.ppm * 1e-6)) / o.rate; }

Options small(double duration = 30.0) {
    Options o;
    o.duration = duration;
    o.start = 1483315200.3125;  // 2017-01-02T00:00:00.3125
    return o;
}

}  // namespace

// ---------------------------------------------------------------------------
// Encoders

TEST(Encoders, SampleRoundTripsThroughTheRecorderDecoder) {
    for (int32_t v : {0, 1, -1, 7, 8, -8, 1023, 1024, 8388607, -8388608, 4194304, -4194305}) {
        uint8_t b[4];
        vorn::encode_sample(v, b);
        for (uint8_t x : b) EXPECT_LT(x, 0x80);
        EXPECT_LT(b[3], 8);
        EXPECT_EQ(vorn::sample24(b[0], b[1], b[2], b[3]), v);
    }
    std::mt19937_64 g(5);
    for (int i = 0; i < 100000; ++i) {
        int32_t v = static_cast<int32_t>(g() % 16777216) - 8388608;
        uint8_t b[4];
        vorn::encode_sample(v, b);
        ASSERT_EQ(vorn::sample24(b[0], b[1], b[2], b[3]), v);
    }
    uint8_t b[4];
    vorn::encode_sample(-1, b);
    EXPECT_EQ(b[0], 0x7F);
    EXPECT_EQ(b[1], 0x7F);
    EXPECT_EQ(b[2], 0x7F);
    EXPECT_EQ(b[3], 0x07);
}

TEST(Encoders, AuxValueRoundTripsThroughTheRecorderDecoder) {
    for (int32_t v = -1048576; v <= 1048575; v += 997) {
        uint8_t b[3];
        vorn::encode_aux21(v, b);
        ASSERT_EQ(vorn::aux21(b[0], b[1], b[2]), v);
    }
    uint8_t b[3];
    vorn::encode_aux21(1048575, b);
    EXPECT_EQ(b[0], 0x3F);
    EXPECT_EQ(b[1], 0x7F);
    EXPECT_EQ(b[2], 0x7F);
}

TEST(Encoders, ShiftCountIsTheFloorOfWholeQuantaWithinFourteenBits) {
    EXPECT_EQ(vorn::shift_count(0.0), 0);
    EXPECT_EQ(vorn::shift_count(-5.0), 0);
    EXPECT_EQ(vorn::shift_count(2.44140625), 1);
    EXPECT_EQ(vorn::shift_count(2.44), 0);
    EXPECT_EQ(vorn::shift_count(312.5), 128);
    EXPECT_EQ(vorn::shift_count(39997.5), 16382);
    EXPECT_EQ(vorn::shift_count(vorn::tshift_microseconds(16383)), 16383);
    EXPECT_EQ(vorn::shift_count(40000.0), 16383);
    EXPECT_EQ(vorn::shift_count(1e6), 16383);
    for (int32_t n = 0; n <= 16383; n += 7) EXPECT_EQ(vorn::shift_count(vorn::tshift_microseconds(n) + 1e-6), n);
}

// ---------------------------------------------------------------------------
// Header and GPS string read back by the recorder's rules

TEST(Header, CarriesAll26TagsInCanonicalOrder) {
    Options o;
    o.channels = 2;
    o.rate = 250;
    o.dfilt = 7;
    o.dev_no = "B117";
    const std::string h = make_header(o, 42);
    vorn::HeaderTokens tokens;
    for (char c : h) ASSERT_FALSE(vorn::header_byte(tokens, static_cast<uint8_t>(c)));
    EXPECT_TRUE(vorn::header_byte(tokens, 0x80));
    EXPECT_EQ(tokens.separators(), 52);
    for (std::size_t k = 0; k < vorn::kTagCount; ++k) {
        EXPECT_EQ(tokens.token(static_cast<int64_t>(2 * k)), vorn::kTags[k].name);
        EXPECT_FALSE(tokens.token(static_cast<int64_t>(2 * k + 1)).empty());
    }
    vorn::HeaderValues v;
    tokens.for_each_pair([&](std::string_view n, std::string_view val) { vorn::assign_tag(v, n, val); });
    EXPECT_EQ(v.DEV_NO.view(), "B117");
    EXPECT_EQ(v.CH_NUM, 2);
    EXPECT_EQ(v.S_RATE, 250);
    EXPECT_EQ(v.D_FILT, 7);
    EXPECT_EQ(v.DAT_NO.view(), "0042");
    EXPECT_EQ(v.S_DATE.view(), "2017-01-01");
    EXPECT_EQ(v.S_TIME.view(), "00:00:00");
    EXPECT_EQ(h.find(' '), std::string::npos);
    // Every integer tag is set (none left at -1).
    for (const vorn::TagInfo& t : vorn::kTags)
        if (t.kind == vorn::TagKind::integer) {
            EXPECT_NE(v.*(t.integer), -1) << t.name;
        }
}

TEST(GpsStringFields, ReadBackAsTheConverterReadsThem) {
    GpsFields f;
    f.string_seconds = 1483228800 - 18 + 3601;  // 2016-12-31T23:59:42 + 3601 s
    f.offset = 18;
    f.fix = false;
    f.offset_valid = false;
    f.temperature_tenths = -57;
    vorn::GpsString s;
    s.bytes = make_gps_string(f);
    for (uint8_t b : s.bytes) {
        EXPECT_GE(b, 0x20);
        EXPECT_LT(b, 0x7F);
    }
    std::string word;
    ASSERT_TRUE(s.scan_word(1, 1, word));
    EXPECT_EQ(word, "X");
    ASSERT_TRUE(s.scan_word(4, 8, word));
    EXPECT_EQ(word, "-5.7");
    ASSERT_TRUE(s.scan_word(26, 31, word));
    EXPECT_EQ(word, "0112.5");
    int32_t v = -1;
    ASSERT_TRUE(s.scan_int(10, 11, v));
    EXPECT_EQ(v, 50);
    ASSERT_TRUE(s.scan_int(18, 20, v));
    EXPECT_EQ(v, 8);
    ASSERT_TRUE(s.scan_int(32, 32, v));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(s.scan_int(33, 33, v));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(s.scan_int(62, 62, v));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(s.scan_int(65, 65, v));
    EXPECT_EQ(v, 0);
    EXPECT_EQ(gps_second(s), 1483228800 + 3601);

    f.fix = true;
    f.offset_valid = true;
    for (int32_t offset : {-9, -1, 0, 5, 18, 99}) {
        f.offset = offset;
        f.string_seconds = 1700000000 - offset;
        s.bytes = make_gps_string(f);
        EXPECT_EQ(gps_second(s), 1700000000) << offset;
        ASSERT_TRUE(s.scan_int(33, 33, v));
        EXPECT_EQ(v, 2);
        ASSERT_TRUE(s.scan_int(65, 65, v));
        EXPECT_EQ(v, 1);
    }
}

TEST(GpsStringFields, DateFieldsHoldTheStringTime) {
    GpsFields f;
    f.string_seconds = 951782400;  // 2000-02-29T00:00:00
    vorn::GpsString s;
    s.bytes = make_gps_string(f);
    std::string text(s.bytes.begin(), s.bytes.end());
    EXPECT_EQ(text.substr(43, 6), "000000");
    EXPECT_EQ(text.substr(52, 8), "29022000");
    EXPECT_EQ(text.substr(60, 2), "18");
}

// ---------------------------------------------------------------------------
// The sample clock

TEST(ClockModel, SampleCountHoldsTheSamplesBeforeTheEnd) {
    for (double ppm : {0.0, 3.5, -250.0, 99999.0}) {
        Options o;
        o.ppm = ppm;
        o.rate = 100;
        Clock c(o);
        for (double d : {0.001, 0.01, 0.015, 1.0, 60.0, 3600.5}) {
            const int64_t n = c.sample_count(d);
            EXPECT_LT(c.rel(n - 1), d);
            EXPECT_GE(c.rel(n), d);
        }
    }
}

TEST(ClockModel, TaggedSampleIsTheFirstAtOrAfterTheSecond) {
    Options o;
    o.ppm = 12.5;
    o.rate = 1000;
    o.dfilt = 3;
    o.start = 1483228800.987654;
    Clock c(o);
    for (int g = 1; g < 200; ++g) {
        const int64_t k = c.first_at_or_after(g);
        EXPECT_GE(c.phi(k), g);
        if (k > 0) {
            EXPECT_LT(c.phi(k - 1), g);
        }
    }
}

TEST(Signal, FollowsTheFormula) {
    Options o;
    o.amplitude = 5000;
    o.frequency = 2.5;
    o.rate = 200;
    o.ppm = 40;
    Clock c(o);
    for (int64_t k : {0, 1, 17, 199, 12345}) {
        const double t = (static_cast<double>(k) * (1 + o.ppm * 1e-6)) / o.rate;
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_EQ(signal_value(o, c, k, ch), std::lround(5000 * std::sin(2 * kPi * 2.5 * t + ch * kPi / 2)));
    }
    EXPECT_EQ(signal_value(o, c, 0, 0), 0);
    EXPECT_EQ(signal_value(o, c, 0, 1), 5000);
    EXPECT_EQ(signal_value(o, c, 0, 2), 0);
    o.amplitude = 1e8;  // clamped to 24 bits
    EXPECT_EQ(signal_value(o, c, 0, 1), 8388607);
    o.amplitude = -1e8;
    EXPECT_EQ(signal_value(o, c, 0, 1), -8388608);
}

// ---------------------------------------------------------------------------
// Whole recordings

TEST(Recording, SampleBlocksDecodeToTheSignal) {
    Options o = small(5.0);
    o.ppm = -17.0;
    o.amplitude = 2e6;
    o.frequency = 3.0;
    o.aux_every = 1.0;
    o.status_every = 0.7;
    o.status_run_every = 1.3;
    o.damaged = 6;
    const Decoded d = decode(one_stream(o));
    Clock c(o);
    ASSERT_EQ(static_cast<int64_t>(d.samples.size()), c.sample_count(5.0));
    for (std::size_t k = 0; k < d.samples.size(); ++k)
        for (int ch = 0; ch < 3; ++ch)
            ASSERT_EQ(d.samples[k][static_cast<std::size_t>(ch)], signal_value(o, c, static_cast<int64_t>(k), ch));
    EXPECT_EQ(d.first_type, 0x80);
    EXPECT_TRUE(d.trailer);
    EXPECT_EQ(d.trailer_text, "END OF RECORDING");
    EXPECT_EQ(d.damage_runs, 6);
    EXPECT_EQ(d.aux_values, 4);  // at 1, 2, 3 and 4 s
    EXPECT_EQ(d.aux_texts, 8);
    EXPECT_EQ(d.status_blocks, 7);
    EXPECT_EQ(d.status_runs, 3);
    EXPECT_EQ(d.overruns, 0);
}

TEST(Recording, GpsBlocksTagOneSamplePerSecondWithTheRightShift) {
    for (int32_t rate : {1, 7, 50, 100, 1000}) {
        for (int32_t dfilt : {0, 4}) {
            Options o = small(25.0);
            o.rate = rate;
            o.dfilt = dfilt;
            o.ppm = 30.0;
            o.channels = 1;
            const Decoded d = decode(one_stream(o));
            Clock c(o);
            ASSERT_FALSE(d.gps.empty());
            int64_t last_second = 0;
            for (std::size_t i = 0; i < d.gps.size(); ++i) {
                const Gps& g = d.gps[i];
                const int64_t G = gps_second(g.s);
                if (i > 0) {
                    EXPECT_EQ(G, last_second + 1) << "one GPS block per second";
                }
                last_second = G;
                // The tagged sample precedes its GPS block, and the next
                // tagged sample follows it.
                ASSERT_GE(g.tag, 0);
                EXPECT_LT(g.tag, g.samples_before);
                EXPECT_EQ(d.tagged[i], g.tag);
                if (i + 1 < d.tagged.size()) {
                    EXPECT_LT(g.samples_before, d.tagged[i + 1] + 1);
                }
                // The tag is the first sample with t_k + D_FILT/rate >= G.
                const double gs = static_cast<double>(G - c.start_sec());
                EXPECT_GE(c.phi(g.tag), gs);
                EXPECT_LT(c.phi(g.tag - 1), gs);
                // The converter's f1 lies within one count below t_k.
                const double shift = vorn::tshift_microseconds(g.count) / 1e6;
                const double t_k = c.start_frac() + rel_time(o, g.tag);
                const double f1 = (shift + gs) - dfilt * (1.0 / rate);
                if (c.phi(g.tag) - gs < 0.0399975) {
                    EXPECT_LE(f1, t_k + 1e-9);
                    EXPECT_GT(f1, t_k - 2.45e-6);
                } else {
                    EXPECT_EQ(g.count, 16383);
                }
            }
            EXPECT_EQ(d.tagged.size(), d.gps.size());
            EXPECT_GT(d.tagged.front(), 0) << "sample 0 is never tagged";
        }
    }
}

TEST(Recording, DefaultStartKeepsShiftsClearOfSampleBoundaries) {
    for (int32_t rate : {50, 100, 200, 250, 500, 1000, 2000, 4000}) {
        Options o;
        o.rate = rate;
        o.duration = 5;
        o.channels = 1;
        const Decoded d = decode(one_stream(o));
        for (const Gps& g : d.gps) {
            const double us = vorn::tshift_microseconds(g.count);
            EXPECT_GE(us, 20.0) << rate;
            EXPECT_LE(us, 1e6 / rate - 20.0) << rate;
        }
    }
}

TEST(Recording, LostLockNoFixAndOffsetFlag) {
    Options o = small(40.0);
    o.lost_lock.push_back({10.0, 5.0});
    o.lost_lock.push_back({30.0, 2.5});
    o.no_fix.push_back({20.0, 3.0});
    o.offset_valid = false;
    o.offset = 17;
    const Decoded d = decode(one_stream(o));
    std::vector<int64_t> seconds;
    for (const Gps& g : d.gps) {
        const int64_t G = gps_second(g.s);
        const double since = static_cast<double>(G) - o.start;
        EXPECT_FALSE(since >= 10.0 && since < 15.0);
        EXPECT_FALSE(since >= 30.0 && since < 32.5);
        int32_t fix = -1, flag = -1, offset = -1;
        ASSERT_TRUE(g.s.scan_int(33, 33, fix));
        ASSERT_TRUE(g.s.scan_int(65, 65, flag));
        ASSERT_TRUE(g.s.scan_int(60, 61, offset));
        EXPECT_EQ(fix, (since >= 20.0 && since < 23.0) ? 1 : 2);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(offset, 17);
        seconds.push_back(G);
    }
    // 40 seconds (0.6875 .. 39.6875 s after the start), 5 + 2 of them lost.
    EXPECT_EQ(seconds.size(), 40u - 5u - 2u);
    EXPECT_EQ(d.tagged.size(), d.gps.size());
}

TEST(Recording, OutliersJitterAndTheirOwnRandomNumbers) {
    Options o = small(60.0);
    o.rate = 200;
    o.outliers = 4;
    const Decoded d = decode(one_stream(o));
    Clock c(o);
    int64_t off = 0;
    for (const Gps& g : d.gps) {
        const double gs = static_cast<double>(gps_second(g.s) - c.start_sec());
        const double exact = (c.phi(g.tag) - gs) * 1e6;
        const double got = vorn::tshift_microseconds(g.count);
        const double diff = std::fabs(got - exact);
        if (diff > 3.0) {
            ++off;
            EXPECT_GE(diff, 300.0 - 2.5);
            EXPECT_LE(diff, 900.0 + 2.5);
        }
    }
    EXPECT_EQ(off, 4);

    // Jitter stays within its bound; switching other features on leaves the
    // time shifts as they were.
    Options j = small(60.0);
    j.jitter_us = 40.0;
    const Decoded a = decode(one_stream(j));
    j.aux_every = 2;
    j.damaged = 10;
    j.status_every = 3;
    j.status_run_every = 5;
    const Decoded b = decode(one_stream(j));
    const Clock cj(j);
    ASSERT_EQ(a.gps.size(), b.gps.size());
    bool varied = false;
    for (std::size_t i = 0; i < a.gps.size(); ++i) {
        EXPECT_EQ(a.gps[i].count, b.gps[i].count);
        const double gs = static_cast<double>(gps_second(a.gps[i].s) - cj.start_sec());
        const double exact = (cj.phi(a.gps[i].tag) - gs) * 1e6;
        const double diff = vorn::tshift_microseconds(a.gps[i].count) - exact;
        EXPECT_LE(std::fabs(diff), 40.0 + 2.5);
        if (std::fabs(diff) > 5.0) varied = true;
    }
    EXPECT_TRUE(varied);
}

TEST(Recording, SameSeedSameBytesOtherSeedOtherBytes) {
    Options o = small(20.0);
    o.jitter_us = 10;
    o.damaged = 5;
    o.aux_every = 3;
    o.status_every = 4;
    o.status_run_every = 2;
    o.outliers = 2;
    const std::string a = one_stream(o);
    const std::string b = one_stream(o);
    EXPECT_EQ(a, b);
    o.seed = 2;
    const std::string c = one_stream(o);
    EXPECT_NE(a, c);
}

TEST(Recording, OverrunNoTrailerAndTrailerText) {
    Options o = small(3.0);
    o.overrun = true;
    o.trailer_text = "A=1;B 2";
    Decoded d = decode(one_stream(o));
    EXPECT_EQ(d.overruns, 1);
    EXPECT_TRUE(d.trailer);
    EXPECT_EQ(d.trailer_text, "A 1 B 2");
    o.trailer = false;
    d = decode(one_stream(o));
    EXPECT_FALSE(d.trailer);
    EXPECT_TRUE(d.overrun_last);
}

TEST(Recording, AuxReadingsCarryTheirUnits) {
    Options o = small(10.0);
    o.aux_every = 2.5;
    const Decoded d = decode(one_stream(o));
    EXPECT_EQ(d.aux_values, 3);  // at 2.5, 5 and 7.5 s
    ASSERT_EQ(d.aux_readings.size(), 6u);
    for (std::size_t i = 0; i < d.aux_readings.size(); i += 2) {
        EXPECT_EQ(vorn::aux_unit(d.aux_readings[i][0]), "m\xC2\xB0" "C");
        EXPECT_NEAR(d.aux_readings[i][1], 23000, 2050);
        EXPECT_EQ(vorn::aux_unit(d.aux_readings[i + 1][0]), "mV");
        EXPECT_NEAR(d.aux_readings[i + 1][1], 12000, 20);
    }
}

TEST(Files, SplitRecordingJoinsToTheSingleStream) {
    Options o = small(12.0);
    o.jitter_us = 5;
    o.damaged = 4;
    o.aux_every = 1.5;
    o.status_every = 2;
    o.status_run_every = 2.5;
    o.first_dat_no = 7;
    o.overrun = true;
    const std::string single = one_stream(o);
    for (int32_t k : {1, 2, 3, 5, 1200}) {
        o.files = k;
        o.prefix.assign(1, 'x');  // (not a literal assignment: a false -Wrestrict of this compiler)
        ASSERT_EQ(check_options(o), "");
        StringOutput out;
        simulate(o, out);
        ASSERT_EQ(out.files.size(), static_cast<std::size_t>(k));
        std::string joined;
        for (int32_t f = 0; f < k; ++f) {
            const std::string& bytes = out.files[static_cast<std::size_t>(f)];
            const Decoded d = decode(bytes);
            char dat[16];
            std::snprintf(dat, sizeof dat, "%04d", 7 + f);
            EXPECT_EQ(d.h.DAT_NO.view(), dat);
            EXPECT_EQ(d.trailer, f == k - 1);
            EXPECT_EQ(d.overruns, f == k - 1 ? 1 : 0);
            EXPECT_FALSE(d.samples.empty());
            if (f == 0) {
                joined = bytes;
            } else {
                joined.append(bytes, d.header.size(), std::string::npos);
            }
        }
        // The joined stream is the single stream, whose header names the
        // first file's number.
        EXPECT_EQ(joined, single) << k;
    }
    o.files = 1201;  // 1200 samples: one more file than sample blocks
    EXPECT_NE(check_options(o), "");
}

TEST(Files, FileNamesCarryTheNumberInFourDigits) {
    EXPECT_EQ(FileOutput::file_name("rec/a", 1), "rec/a0001.vrn");
    EXPECT_EQ(FileOutput::file_name("", 9999), "9999.vrn");
    EXPECT_EQ(FileOutput::file_name("p", 42), "p0042.vrn");
}

TEST(OptionChecks, RejectValuesOutsideTheirLimits) {
    auto bad = [](auto change) {
        Options o;
        change(o);
        return !check_options(o).empty();
    };
    EXPECT_FALSE(bad([](Options&) {}));
    EXPECT_TRUE(bad([](Options& o) { o.channels = 0; }));
    EXPECT_TRUE(bad([](Options& o) { o.channels = 4; }));
    EXPECT_TRUE(bad([](Options& o) { o.rate = 0; }));
    EXPECT_TRUE(bad([](Options& o) { o.duration = 0; }));
    EXPECT_TRUE(bad([](Options& o) { o.offset = 100; }));
    EXPECT_TRUE(bad([](Options& o) { o.offset = -10; }));
    EXPECT_TRUE(bad([](Options& o) { o.dev_no = "A;B"; }));
    EXPECT_TRUE(bad([](Options& o) { o.dev_no = "A B"; }));
    EXPECT_TRUE(bad([](Options& o) { o.dev_no = ""; }));
    EXPECT_TRUE(bad([](Options& o) { o.trailer_text = std::string(1000, 'x'); }));
    EXPECT_TRUE(bad([](Options& o) { o.trailer_text = "\x90"; }));
    EXPECT_TRUE(bad([](Options& o) { o.files = 2; }));  // no prefix
    EXPECT_TRUE(bad([](Options& o) {
        o.first_dat_no = 9999;
        o.files = 2;
        o.prefix = "p";
    }));
    EXPECT_TRUE(bad([](Options& o) { o.damaged = 6000; }));  // 6000 samples, 5999 gaps
    EXPECT_FALSE(bad([](Options& o) { o.damaged = 5999; }));
    EXPECT_TRUE(bad([](Options& o) { o.outliers = 61; }));   // 60 GPS blocks in the default minute
    EXPECT_FALSE(bad([](Options& o) { o.outliers = 60; }));
    EXPECT_TRUE(bad([](Options& o) { o.start = 253402300000.0; }));
    EXPECT_TRUE(bad([](Options& o) { o.start = -1; }));
}

// Random option sets: every recording decodes strictly, its samples follow
// the formula and every GPS block follows its tagged sample.
TEST(Robustness, RandomOptionSetsGiveWellFormedRecordings) {
    std::mt19937_64 g(20240601);
    auto pick = [&](int64_t n) { return static_cast<int64_t>(g() % static_cast<uint64_t>(n)); };
    for (int run = 0; run < 60; ++run) {
        Options o;
        o.seed = g();
        o.channels = static_cast<int32_t>(1 + pick(3));
        const int32_t rates[] = {1, 3, 10, 40, 100, 250, 1000};
        o.rate = rates[pick(7)];
        o.duration = 0.5 + static_cast<double>(pick(3000)) / 100.0;
        o.start = 1483228800.0 + static_cast<double>(pick(200000)) + static_cast<double>(pick(1000000)) / 1e6;
        o.dfilt = static_cast<int32_t>(pick(5));
        o.ppm = static_cast<double>(pick(2001) - 1000) / 10.0;
        o.jitter_us = static_cast<double>(pick(3) * 20);
        o.offset = static_cast<int32_t>(pick(109) - 9);
        if (pick(2)) o.lost_lock.push_back({static_cast<double>(pick(20)), static_cast<double>(pick(10))});
        if (pick(2)) o.no_fix.push_back({static_cast<double>(pick(20)), static_cast<double>(pick(10))});
        o.aux_every = static_cast<double>(pick(4));
        o.status_every = static_cast<double>(pick(4)) * 0.75;
        o.status_run_every = static_cast<double>(pick(3));
        o.overrun = pick(4) == 0;
        o.trailer = pick(4) != 0;
        Clock c(o);
        const int64_t n = c.sample_count(o.duration);
        o.damaged = pick(std::min<int64_t>(n, 8));
        if (pick(2)) {
            o.files = static_cast<int32_t>(1 + pick(std::min<int64_t>(n, 5)));
            o.prefix = "p";
        }
        ASSERT_EQ(check_options(o), "") << run;
        StringOutput out;
        simulate(o, out);
        std::string joined;
        for (std::size_t f = 0; f < out.files.size(); ++f) {
            const Decoded d = decode(out.files[f]);
            if (f == 0) joined = out.files[f];
            else joined.append(out.files[f], d.header.size(), std::string::npos);
        }
        const Decoded d = decode(joined);
        ASSERT_EQ(static_cast<int64_t>(d.samples.size()), n);
        for (int64_t k = 0; k < n; k += 1 + n / 50)
            for (int ch = 0; ch < o.channels; ++ch)
                ASSERT_EQ(d.samples[static_cast<std::size_t>(k)][static_cast<std::size_t>(ch)], signal_value(o, c, k, ch));
        EXPECT_EQ(d.damage_runs, o.damaged);
        EXPECT_EQ(d.overruns, o.overrun ? 1 : 0);
        EXPECT_EQ(d.trailer, o.trailer);
        ASSERT_EQ(d.tagged.size(), d.gps.size());
        for (std::size_t i = 0; i < d.gps.size(); ++i) {
            EXPECT_EQ(d.gps[i].tag, d.tagged[i]);
            EXPECT_LT(d.gps[i].tag, d.gps[i].samples_before);
            if (i + 1 < d.tagged.size()) {
                EXPECT_LE(d.gps[i].samples_before, d.tagged[i + 1]);
            }
        }
    }
}
