// The recorder library: its block decoders against their encoders, and the
// shared part of a conversion (sample runs, damaged stretches, GPS blocks,
// the flush and the -a tail) under the rules of either generation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "blocks.hpp"
#include "calendar.hpp"
#include "io.hpp"
#include "stream.hpp"

#include "lines.hpp"

using namespace vorn;

TEST(Decoding, SamplesAuxValuesAndTimeShift) {
    EXPECT_EQ(sample24(0x7F, 0x7F, 0x7F, 0x07), -1);
    EXPECT_EQ(sample24(0x40, 0x00, 0x00, 0x00), -8388608);
    EXPECT_EQ(sample24(0x3F, 0x7F, 0x7F, 0x07), 8388607);
    EXPECT_EQ(sample24(0, 0, 0, 0), 0);
    EXPECT_EQ(aux21(0x7F, 0x7F, 0x7F), -1);
    EXPECT_EQ(aux21(0x3F, 0x7F, 0x7F), 1048575);
    EXPECT_EQ(tshift_count(0x01, 0x00), 128);
    EXPECT_DOUBLE_EQ(tshift_microseconds(128), 312.5);
    // Every 24-bit value survives encoding into four bytes and decoding.
    for (int32_t v = -8388608; v <= 8388607; v += 4099) {
        uint32_t u = static_cast<uint32_t>(v) & 0xFFFFFF;
        EXPECT_EQ(sample24((u >> 17) & 0x7F, (u >> 10) & 0x7F, (u >> 3) & 0x7F, u & 7), v);
    }
}

TEST(GpsStringTest, FieldsReadLikeScanf) {
    GpsString g;
    std::string s(76, ' ');
    s.replace(10, 2, "50");
    s.replace(18, 3, " 8x");
    s.replace(43, 6, "120005");
    s.replace(56, 4, "2017");
    s[1] = 'X';
    s.replace(4, 5, " 21.5");
    g.bytes.fill(0);
    for (std::size_t i = 0; i < 76; ++i) g.bytes[i] = static_cast<uint8_t>(s[i]);
    int32_t v = -7;
    EXPECT_TRUE(g.scan_int(10, 11, v));
    EXPECT_EQ(v, 50);
    EXPECT_TRUE(g.scan_int(18, 20, v));
    EXPECT_EQ(v, 8);
    EXPECT_TRUE(g.scan_int(47, 48, v));
    EXPECT_EQ(v, 5);
    v = -7;
    EXPECT_FALSE(g.scan_int(60, 61, v));  // blank: unchanged
    EXPECT_EQ(v, -7);
    std::string w = "-99.9";
    EXPECT_TRUE(g.scan_word(4, 8, w));
    EXPECT_EQ(w, "21.5");
    EXPECT_TRUE(g.scan_word(1, 1, w));
    EXPECT_EQ(w, "X");
    g.bytes[10] = 0;  // a NUL ends the field's text
    v = 3;
    EXPECT_FALSE(g.scan_int(10, 11, v));
    EXPECT_EQ(v, 3);
    std::string printed;
    Writer pw(&printed);
    g.write(pw);
    pw.flush();
    EXPECT_EQ(printed.size(), 76u);
    EXPECT_EQ(printed[0], ' ');
}

TEST(TrailerTest, SeparatorsBecomeSpaces) {
    TrailerText t;
    for (uint8_t b : {uint8_t('X'), uint8_t('='), uint8_t('1'), uint8_t(';'), uint8_t('\r'), uint8_t('\n'),
                      uint8_t(0xF0), uint8_t(0x80), uint8_t(0), uint8_t(0xEF)})
        t.add(b);
    EXPECT_EQ(t.view(), "X 1    ");
}

TEST(GpsStringTest, OwnTimeNormalisesLikeTheCalendar) {
    GpsString g;
    std::string s(76, ' ');
    s.replace(43, 6, "000005");
    s.replace(52, 8, "01012017");
    for (std::size_t i = 0; i < 76; ++i) g.bytes[i] = static_cast<uint8_t>(s[i]);
    CivilTime own;
    EXPECT_EQ(g.own_seconds(own), 1483228805);
    EXPECT_EQ(own.tm_year, 117);
    std::string blank(76, ' ');
    for (std::size_t i = 0; i < 76; ++i) g.bytes[i] = static_cast<uint8_t>(blank[i]);
    g.own_seconds(own);  // no date at all: 30 November of year -1
    EXPECT_EQ(own.tm_year + 1900, -1);
    EXPECT_EQ(own.tm_mon, 10);
    EXPECT_EQ(own.tm_mday, 30);
}

namespace {

TEST(Encoders, EveryBlockDecodesToWhatWasEncoded) {
    // Sample blocks of one to three channels, both type bytes.
    const int32_t values[3] = {-8388608, 8388607, -1};
    for (int ch = 1; ch <= 3; ++ch) {
        for (bool tagged : {false, true}) {
            uint8_t b[kMaxSampleBlock];
            ASSERT_EQ(encode_sample_block(tagged, values, ch, b), 1 + 4 * static_cast<std::size_t>(ch));
            EXPECT_EQ(b[0], tagged ? kTaggedSampleBlock : kSampleBlock);
            for (int c = 0; c < ch; ++c) {
                const uint8_t* p = b + 1 + 4 * c;
                EXPECT_FALSE(is_type_byte(p[0]) || is_type_byte(p[1]) || is_type_byte(p[2]) || is_type_byte(p[3]));
                EXPECT_EQ(sample24(p[0], p[1], p[2], p[3]), values[c]);
            }
        }
    }
    // Aux entries and descriptors.
    for (int32_t v : {-1048576, -1, 0, 250, 1048575}) {
        uint8_t e[kAuxEntryBytes];
        encode_aux_entry(0x8E, v, e);
        EXPECT_EQ(e[0], 0x0E);
        EXPECT_EQ(aux21(e[1], e[2], e[3]), v);
    }
    for (int type = 0; type < 8; ++type) {
        for (int length = 0; length < 16; ++length) {
            const AuxDescriptor d = aux_descriptor(encode_aux_descriptor(type, length));
            EXPECT_EQ(d.type, type);
            EXPECT_EQ(d.length, length);
        }
    }
    // Time-shift counts: every count and its shift give each other back.
    for (int32_t n = 0; n <= kMaxShiftCount; n += 13) {
        uint8_t t[kShiftBytes];
        encode_shift_count(n, t);
        EXPECT_EQ(tshift_count(t[0], t[1]), n);
        EXPECT_EQ(shift_count(tshift_microseconds(n) + 1e-6), n);
    }
    EXPECT_EQ(shift_count(-3.0), 0);
    EXPECT_EQ(shift_count(1e9), kMaxShiftCount);
}

// A stream of blocks after a header, for the RecorderStream tests.
struct Bytes {
    std::vector<uint8_t> b;
    void put(const uint8_t* p, std::size_t n) { b.insert(b.end(), p, p + n); }
    void samples(int ch, int n, bool first_tagged = false, int32_t from = 0) {
        for (int k = 0; k < n; ++k) {
            const int32_t v[3] = {from + k, -(from + k), 7};
            uint8_t blk[kMaxSampleBlock];
            put(blk, encode_sample_block(first_tagged && k == 0, v, ch, blk));
        }
    }
};

struct Feed {
    std::string out, err;
    Writer wo{&out}, we{&err};
    std::vector<uint8_t> bytes;
    ByteReader in;
    RecorderStream s;
    Feed(std::vector<uint8_t> b, int ch, const StreamRules& rules)
        : bytes(std::move(b)), in(bytes.data(), bytes.size()), s(in, wo, we, "prog") {
        s.header().CH_NUM = ch;
        s.header().S_RATE = 100;
        s.header().DEV_NO.set("D7");
        s.start(rules);
    }
    // Takes blocks as a converter does, up to the first type byte that is
    // not a sample block; returns that byte (or the end).
    int samples() {
        int t = in.get();
        while (t == kSampleBlock || t == kTaggedSampleBlock) {
            if (s.sample_blocks(t == kTaggedSampleBlock) != SampleStep::ok) return kEndOfInput;
            t = s.next_type_byte();
        }
        return t;
    }
    void done() {
        wo.flush();
        we.flush();
    }
};

TEST(RecorderStream, FlushKeepsOrClearsTheSampleTagByRule) {
    // Ten samples, the fourth tagged; a flush; five more without a tag; a
    // second flush times index 3 again only under the earlier rule.
    Bytes b;
    b.samples(2, 3);
    b.samples(2, 7, true, 3);
    b.b.push_back(kGpsBlock);
    b.samples(2, 5, false, 10);
    b.b.push_back(kGpsBlock);
    for (bool keep : {false, true}) {
        StreamRules rules;
        rules.keep_sample_tag_after_flush = keep;
        Feed r(b.b, 2, rules);
        ASSERT_EQ(r.samples(), kGpsBlock);
        r.s.flush(1483228801.25, FlushLines{});
        EXPECT_TRUE(r.s.stream_written());
        ASSERT_EQ(r.samples(), kGpsBlock);
        r.s.flush(1483228802.5, FlushLines{});
        r.done();
        const std::vector<std::string> l = vorn::testing::split_lines(r.out);
        ASSERT_EQ(l.size(), 15u);
        EXPECT_EQ(l[2], "2 2 -2 -1 0");
        EXPECT_EQ(l[3], "3 3 -3 1483228801 250000");
        EXPECT_EQ(l[13], keep ? "13 13 -13 1483228802 500000" : "13 13 -13 -1 0") << keep;
        EXPECT_EQ(l[14], "14 14 -14 -1 0");
    }
}

TEST(RecorderStream, FlushLinesForTAndG) {
    Bytes b;
    b.samples(1, 4, true);
    b.samples(1, 2, false, 4);
    b.b.push_back(kGpsBlock);
    FlushLines t_only{false, true, true};
    Feed r(b.b, 1, {});
    ASSERT_EQ(r.samples(), kGpsBlock);
    r.s.flush(1483228805.0, t_only);
    r.done();
    EXPECT_EQ(r.out, "0 0 1483228805 0 2017-01-01T00:00:05\n");
    FlushLines g_only{false, false, false};
    Feed g(b.b, 1, {});
    ASSERT_EQ(g.samples(), kGpsBlock);
    g.s.flush(1483228805.0, g_only);
    g.done();
    EXPECT_EQ(g.out, "");
    EXPECT_FALSE(g.s.stream_written());
    EXPECT_EQ(g.s.sec(), 1483228805);  // the tag's second is kept for messages
}

TEST(RecorderStream, DamagedStretchWithAndWithoutTheProgramName) {
    Bytes b;
    b.samples(1, 2);
    b.b.insert(b.b.end(), {0x00, 0x0F, 0x03});
    b.samples(1, 1);
    b.b.insert(b.b.end(), {0x01, 0x02});  // runs to the end: no message
    for (bool name : {true, false}) {
        StreamRules rules;
        rules.name_in_problem_messages = name;
        Feed r(b.b, 1, rules);
        EXPECT_EQ(r.samples(), kEndInDamage);
        CivilTime own = utc_gmtime(1483228861);
        r.s.close_problem(own);
        r.s.close_problem(own);  // closed once only
        r.done();
        const std::string who = name ? "prog " : "";
        EXPECT_EQ(r.err, who + "ERROR: Vorn D7 timing problem from  1970-01-01T00:00:00 with block problem at "
                               "position 11 occured 3 times\n" +
                             who + "ERROR: Vorn D7 timing problem until 2017-01-01T00:01:01\n");
    }
}

TEST(RecorderStream, GpsBlockReadWholeOrNotAtAll) {
    GpsString g;
    g.bytes.fill('x');
    uint8_t blk[kGpsBlockLength];
    encode_gps_block(g, 4097, blk, 0xB7);
    for (std::size_t len = 1; len <= kGpsBlockLength; ++len) {
        std::vector<uint8_t> v(blk + 1, blk + len);
        Feed r(v, 1, {});
        GpsBlock got;
        EXPECT_EQ(r.s.read_gps_block(got), len == kGpsBlockLength) << len;
    }
    std::vector<uint8_t> v(blk + 1, blk + kGpsBlockLength);
    Feed r(v, 1, {});
    GpsBlock got;
    ASSERT_TRUE(r.s.read_gps_block(got));
    EXPECT_TRUE(got.has_shift);
    EXPECT_EQ(got.count, 4097);
    EXPECT_EQ(got.gps.bytes, g.bytes);
    // A string followed by another type byte has no time shift.
    v[GpsString::kLength] = kStatusBlock;
    Feed n(v, 1, {});
    ASSERT_TRUE(n.s.read_gps_block(got));
    EXPECT_FALSE(got.has_shift);
}

TEST(RecorderStream, LimitNoMemoryAndTheLongStretchWarning) {
    Bytes b;
    b.samples(3, 30);
    StreamRules small;
    small.max_samples = 10;
    Feed full(b.b, 3, small);
    full.in.get();
    EXPECT_EQ(full.s.sample_blocks(false), SampleStep::full);
    EXPECT_EQ(full.s.ibuf(), 10);
    StreamRules none;
    none.reallocate = [](void*, std::size_t) -> void* { return nullptr; };
    Feed empty(b.b, 3, none);
    empty.in.get();
    EXPECT_EQ(empty.s.sample_blocks(false), SampleStep::no_memory);
    // At one sample per second, the 21600th buffered sample warns.
    Bytes day;
    day.samples(1, 21601);
    Feed w(day.b, 1, {});
    w.s.header().S_RATE = 1;
    w.s.start({});
    EXPECT_EQ(w.samples(), kEndOfInput);
    w.done();
    EXPECT_EQ(w.err, "Warning: no GPS signal for more than 6 hours!\n");
    EXPECT_EQ(w.s.nsample(), 21601);
    // With -d nothing is buffered.
    StreamRules diag;
    diag.diag = true;
    Feed d(b.b, 3, diag);
    EXPECT_EQ(d.samples(), kEndOfInput);
    EXPECT_EQ(d.s.ibuf(), 0);
    EXPECT_EQ(d.s.nsample(), 30);
}

TEST(RecorderStream, TailCarriesTheLastTimeForwardWithTheDrift) {
    // One sample per second: a timed sample, then one day and a second.
    Bytes b;
    b.samples(1, 1, true);
    b.b.push_back(kGpsBlock);
    b.samples(1, 86401, false, 1);
    Feed r(b.b, 1, {});
    r.s.header().S_RATE = 1;
    r.s.start({});
    ASSERT_EQ(r.samples(), kGpsBlock);
    r.s.flush(1483228800.5, FlushLines{false, true, false});
    EXPECT_EQ(r.samples(), kEndOfInput);
    r.s.tail(86.4, false, true);
    r.done();
    // 86401 s later at the nominal rate, and 86.4 ms for the whole day.
    const std::vector<std::string> l = vorn::testing::split_lines(r.out);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1], "86401 86401 1483315201 586400 2017-01-02T00:00:01");
    // Without a timed sample before, the tail is untimed.
    Feed u(b.b, 1, {});
    EXPECT_EQ(u.samples(), kGpsBlock);
    EXPECT_EQ(u.samples(), kEndOfInput);
    u.s.tail(0.0, true, false);
    u.done();
    EXPECT_EQ(vorn::testing::split_lines(u.out).size(), 86402u);
    EXPECT_EQ(vorn::testing::split_lines(u.out).back(), "86401 86401 -1 0");
}

TEST(PositionMeansTest, FirstFixThenIntegerMeansFrozenAtAHundred) {
    PositionMeans m;
    m.add(-9, 10);
    m.add(0, 10);
    EXPECT_EQ(m.lat, -4);  // -9/2 = -4.5 -> -4
    for (int k = 0; k < 200; ++k) m.add(50, 10);
    EXPECT_EQ(m.n, 202);
    const int32_t frozen = m.lat;
    m.add(90, 90);
    EXPECT_EQ(m.lat, frozen);
    EXPECT_FALSE(m.moved(frozen + 2, 10));
    EXPECT_TRUE(m.moved(frozen + 2, 11));
}

TEST(OffsetChange, WarnsOnlyForAValidStringAfterAnother) {
    std::string err;
    Writer w(&err);
    int32_t previous = -1;
    check_offset_change(1, 17, previous, w);  // the first
    check_offset_change(0, 18, previous, w);  // not marked valid
    check_offset_change(1, 18, previous, w);  // the same
    check_offset_change(1, 19, previous, w);
    w.flush();
    EXPECT_EQ(err, "Warning: GPS UTC offset changed from 18 to 19 during recording\n");
    EXPECT_EQ(previous, 19);
}

}  // namespace
