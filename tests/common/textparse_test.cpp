// The one-pass integer reader of the text stages gives the same tokens and
// verdicts as a plain reference (whole token, then std::from_chars), on every
// kind of token.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "textparse.hpp"

using namespace vorn;

namespace {

template <class T>
void expect_same(const std::string& line) {
    FieldCursor fast(line);
    FieldCursor tokens(line);
    for (int k = 0; k < 8; ++k) {
        T va = 0, vb = 0;
        std::string_view tok;
        const bool ra = fast.integer(va);
        const bool rb = tokens.token(tok) && FieldCursor::parse_integer(tok, vb);
        ASSERT_EQ(ra, rb) << "'" << line << "' field " << k;
        if (!ra) return;  // the readers stop at the first bad field
        ASSERT_EQ(va, vb) << "'" << line << "' field " << k;
    }
}

}  // namespace

TEST(FieldCursorTest, OnePassReadingAgreesOnChosenTokens) {
    const char* lines[] = {
        "0", "-0", "+0", "+", "-", "+-1", "-+1", "--1", "12abc", "1 2 3", "  7\t-8\v9\f10\r",
        "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
        "2147483647 2147483648 -2147483648 -2147483649", "00000000000000000000000000042",
        "-00000000000000000000009223372036854775808", "18446744073709551615", "18446744073709551616",
        "99999999999999999999", "123456789 1234567890123 12345678", "12345678x", "1234567 ", "abc",
        "1483229022 10097", "0x10", "1e5", "", "   ",
    };
    for (const char* l : lines) {
        expect_same<int64_t>(l);
        expect_same<int32_t>(l);
    }
}

TEST(FieldCursorTest, OnePassReadingAgreesOnRandomText) {
    std::mt19937_64 rng(5);
    const std::string alphabet = "0123456789000000999999-+ \t\nx.:";
    for (int round = 0; round < 200000; ++round) {
        std::string line;
        const std::size_t len = rng() % 48;
        for (std::size_t i = 0; i < len; ++i) line += alphabet[rng() % alphabet.size()];
        expect_same<int64_t>(line);
        expect_same<int32_t>(line);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

#include <cinttypes>
#include <cstdio>

#include "decimal.hpp"

TEST(DecimalTest, AgreesWithPrintf) {
    std::mt19937_64 rng(3);
    char a[64], b[64];
    for (int i = 0; i < 300000; ++i) {
        const int64_t wide = static_cast<int64_t>(rng()) >> (rng() % 64);
        const int32_t narrow = static_cast<int32_t>(rng()) >> (rng() % 32);
        *put_int(a, wide) = '\0';
        std::snprintf(b, sizeof b, "%" PRId64, wide);
        ASSERT_STREQ(a, b);
        *put_int(a, narrow) = '\0';
        std::snprintf(b, sizeof b, "%" PRId32, narrow);
        ASSERT_STREQ(a, b);
        const int64_t usec = i < 1000100 ? i - 20 : wide;
        *put_int_width6(a, usec) = '\0';
        std::snprintf(b, sizeof b, "%6" PRId64, usec);
        ASSERT_STREQ(a, b);
    }
    for (int64_t v : {INT64_MIN, INT64_MAX, int64_t{0}, int64_t{-1}, int64_t{99999999}, int64_t{100000000},
                      int64_t{9999999999999999}, int64_t{10000000000000000}}) {
        *put_int(a, v) = '\0';
        std::snprintf(b, sizeof b, "%" PRId64, v);
        EXPECT_STREQ(a, b);
    }
    for (int32_t v : {INT32_MIN, INT32_MAX, int32_t{-8388608}, int32_t{8388607}}) {
        *put_int(a, v) = '\0';
        std::snprintf(b, sizeof b, "%" PRId32, v);
        EXPECT_STREQ(a, b);
    }
}

// Repeats, steps of one across every carry, jumps, signs, and a short text
// after a long one of nines (whose bytes stay behind it).
TEST(DecimalTest, NumberTextFollowsAnySequence) {
    std::mt19937_64 rng(29);
    NumberText t;
    char a[64], b[64];
    const auto check = [&](int64_t v) {
        *t.put(a, v) = '\0';
        std::snprintf(b, sizeof b, "%" PRId64, v);
        ASSERT_STREQ(a, b);
    };
    for (int64_t v : {int64_t{0}, int64_t{1}, int64_t{9}, int64_t{10}, int64_t{999}, int64_t{9}, int64_t{10},
                      int64_t{-1}, int64_t{0}, int64_t{1}, INT64_MAX, INT64_MIN, int64_t{-9}, int64_t{-8}})
        check(v);
    int64_t v = 0;
    for (int round = 0; round < 200000; ++round) {
        switch (rng() % 6) {
        case 0: break;
        case 1:
        case 2: ++v; break;
        case 3: v = static_cast<int64_t>(rng() % 100) * (rng() % 2 ? 1 : -1); break;
        case 4: v = static_cast<int64_t>(rng() % 10000000000000ULL) - 99; break;
        default: v = 999999 - static_cast<int64_t>(rng() % 3); break;
        }
        check(v);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

#include "io.hpp"
#include "textlines.hpp"

namespace {

// The sample-line reader gives the verdicts and values of the plain
// token-by-token reading.
bool reference_sample_line(const std::string& line, int ch, SampleLine& s) {
    FieldCursor tokens(line);
    std::string_view tok;
    if (!(tokens.token(tok) && FieldCursor::parse_integer(tok, s.n))) return false;
    for (int c = 0; c < ch; ++c)
        if (!(tokens.token(tok) && FieldCursor::parse_integer(tok, s.v[c]))) return false;
    return tokens.token(tok) && FieldCursor::parse_integer(tok, s.sec) && tokens.token(tok) &&
           FieldCursor::parse_integer(tok, s.usec);
}

// The line is read twice: as it stands, and as a LineReader hands it out,
// with readable bytes behind it (digits, which must not count as the line's,
// or white space).
void expect_same_sample_line(const std::string& line, char padding = '7') {
    std::string padded = line + std::string(LineReader::kPadding, padding);
    const std::string_view with_padding(padded.data(), line.size());
    for (int ch = 1; ch <= 3; ++ch) {
        SampleLine b;
        const bool rb = reference_sample_line(line, ch, b);
        for (const bool padded_line : {false, true}) {
            SampleLine a;
            const bool ra = padded_line ? parse_sample_line(PaddedLine::assume_padded(with_padding), ch, a)
                                        : parse_sample_line(with_padding, ch, a);
            ASSERT_EQ(ra, rb) << "'" << line << "' ch " << ch << (padded_line ? " padded" : " bare");
            if (!ra) continue;
            ASSERT_EQ(a.n, b.n) << line;
            for (int c = 0; c < ch; ++c) ASSERT_EQ(a.v[c], b.v[c]) << line;
            ASSERT_EQ(a.sec, b.sec) << line;
            ASSERT_EQ(a.usec, b.usec) << line;
        }
    }
}

}  // namespace

TEST(SampleLineTest, AgreesWithTokenByTokenReading) {
    const char* lines[] = {
        "1200 -5 17 3 -1 0", "0 0 100000 0 -1 0", "3599999 -628 99998 628 1483232399 999000",
        "-1 0 0 0 0 0", "1 2 3 4 5 6 7 8 9", "1 2 3", "", " ", "1\t2\v3\f4\r5 6",
        "9223372036854775807 2147483647 -2147483648 0 -9223372036854775808 9223372036854775807",
        "9223372036854775808 1 1 1 1 1", "1 2147483648 1 1 1 1", "00000000000000000001 2 3 4 5 6",
        "+5 +6 -7 +8 +9 -0", "+-5 6 7 8 9 10", "12a 1 1 1 1 1", "1 2 3 4 5 6x",
        "1234567890123456789012345678901234567890123456789012345678901234",
        "1 2 3 4 1483228800 1234567 tail that is long enough to pass sixty-four characters",
        "7 -8388608 8388607 -1 1483228800 999999",
        // around the 64 bytes read at once: fields that end at, cross or
        // start at the 64th byte, signs just before it
        "1000000000000000 -2000000000 300000000 -400000000 1483228800 99999",
        "1000000000000000 -2000000000 300000000 -400000000 1483228800 999999",
        "1000000000000000 -2000000000 300000000 -400000000 1483228800 9999999",
        "100000000000000 -2000000000 300000000 -400000000 1483228800 -999999",
        "1000000000000000 -2000000000 300000000 -400000000 148322880 -999999",
        "1 2 3 4 5 6                                                    -7 8",
        "1 2 3 4 5                                                      -7 8",
        "1 2 3 4 5                                                     12345678",
        "1 2 3 4 5                                                      12345678",
        "1 2 3 4 5                                                      1-",
        "12345678901234567 1 2 3 4 5", "1234567890123456 1 2 3 4 5", "-1234567890123456 1 2 3 4 5",
        "1 2 3 4 5 -", "- 1 2 3 4 5", "1 2 3 4 5 6-", "1 2 3 4 5 6--", "1 2 3 4 5 -6-7", "1- 2 3 4 5 6",
        "1 2 3 4 5 1-6",
    };
    for (const char* l : lines) {
        expect_same_sample_line(l);
        expect_same_sample_line(l, ' ');
    }
}

// A line from a LineReader carries its padding: an empty one too, and one
// shortened over digits that are then no longer the line's.
TEST(SampleLineTest, PaddedLinesKeepTheirPadding) {
    static_assert(!std::is_assignable_v<PaddedLine&, std::string_view>);
    static_assert(!std::is_constructible_v<PaddedLine, std::string_view>);
    SampleLine s;
    GridLine g;
    const PaddedLine empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_NE(empty.data(), nullptr);
    EXPECT_FALSE(parse_sample_line(empty, 1, s));
    EXPECT_FALSE(parse_grid_line(empty, 1, g));

    LineReader in("5 -6 7 8 99\n1 2 3");
    PaddedLine line;
    ASSERT_TRUE(in.next(line));
    line.remove_suffix(3);  // "5 -6 7 8", the digits " 99" behind it
    ASSERT_TRUE(parse_sample_line(line, 1, s));
    EXPECT_EQ(s.n, 5);
    EXPECT_EQ(s.v[0], -6);
    EXPECT_EQ(s.sec, 7);
    EXPECT_EQ(s.usec, 8);
    line.remove_prefix(2);  // "-6 7 8"
    ASSERT_TRUE(parse_grid_line(line, 1, g));
    EXPECT_EQ(g.ts2, -6);
    EXPECT_EQ(g.tmks2, 7);
    EXPECT_EQ(g.ampx[0], 8);
    line.remove_suffix(2);  // "-6 7": one field short
    EXPECT_FALSE(parse_grid_line(line, 1, g));
    ASSERT_TRUE(in.next(line));  // the last line, without a line feed
    ASSERT_TRUE(parse_grid_line(line, 1, g));
    EXPECT_EQ(g.ampx[0], 3);
    EXPECT_FALSE(parse_grid_line(line, 2, g));
}

// A bare line, not from a LineReader, is read only inside itself: a short
// last field at the end of a line of 64 to 70 bytes must not be loaded
// eight bytes at a time past the line's end (found by the fuzzer; the
// sanitizer build sees the overrun, the heap buffer is exactly the line).
TEST(SampleLineTest, BareLinesAreReadOnlyInsideThemselves) {
    const auto on_heap = [](const std::string& text) {
        std::unique_ptr<char[]> heap(new char[text.size()]);
        std::memcpy(heap.get(), text.data(), text.size());
        return heap;
    };
    for (std::size_t size = 56; size <= 76; ++size) {
        const std::string sample = "1 -1234567890 1234567890 -1234567890 22 7";
        const std::string grid = "22 33 -1234567890 1234567890 7";
        const std::string s_text = std::string(size - sample.size(), ' ') + sample;
        const std::string g_text = std::string(size - grid.size(), ' ') + grid;
        const auto s_heap = on_heap(s_text);
        const auto g_heap = on_heap(g_text);
        SampleLine s;
        ASSERT_TRUE(parse_sample_line(std::string_view(s_heap.get(), size), 3, s)) << size;
        EXPECT_EQ(s.v[2], -1234567890);
        EXPECT_EQ(s.sec, 22);
        EXPECT_EQ(s.usec, 7);
        GridLine g;
        ASSERT_TRUE(parse_grid_line(std::string_view(g_heap.get(), size), 3, g)) << size;
        EXPECT_EQ(g.tmks2, 33);
        EXPECT_EQ(g.ampx[2], 7);
    }
}

TEST(SampleLineTest, AgreesOnRandomLines) {
    std::mt19937_64 rng(17);
    const std::string alphabet = "0123456789 -+\t.x";
    for (int round = 0; round < 100000; ++round) {
        std::string line;
        if (rng() % 2) {
            // Well-formed fields of every length, with damage now and then.
            const int fields = static_cast<int>(rng() % 8);
            for (int f = 0; f < fields; ++f) {
                if (rng() % 3 == 0) line += (rng() % 2) ? '-' : '+';
                const int digits = 1 + static_cast<int>(rng() % 22);
                for (int d = 0; d < digits; ++d) line += static_cast<char>('0' + rng() % 10);
                if (rng() % 40 == 0) line += alphabet[rng() % alphabet.size()];
                line += rng() % 7 ? " " : "  \t";
            }
        } else {
            const std::size_t len = rng() % 70;
            for (std::size_t i = 0; i < len; ++i) line += alphabet[rng() % alphabet.size()];
        }
        if (line.size() > 64 && rng() % 2) line.resize(64 - rng() % 3);
        expect_same_sample_line(line, "7 -"[rng() % 3]);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// A field of more than nineteen digits is read to the end of its line and
// no further, whatever lies behind the line in memory (here more zeros and
// digits, as in a read buffer's older bytes).
TEST(FieldCursorTest, LongFieldStopsAtTheLineEnd) {
    const std::string zeros25(25, '0');
    for (const std::string& behind : {std::string(100, '0'), std::string(100, '0') + "7", std::string("5 1")}) {
        const std::string buffer = zeros25 + behind;
        FieldCursor f(std::string_view(buffer.data(), zeros25.size()));
        int64_t v = -1;
        ASSERT_TRUE(f.integer(v)) << behind;
        EXPECT_EQ(v, 0);
        EXPECT_FALSE(f.integer(v));
    }
    // Leading zeros before a number that fits; twenty significant digits do not.
    const std::string fits = std::string(30, '0') + "9223372036854775807";
    FieldCursor g(fits);
    int64_t v = 0;
    ASSERT_TRUE(g.integer(v));
    EXPECT_EQ(v, INT64_MAX);
    const std::string over = std::string(30, '0') + "10000000000000000000";
    FieldCursor h(over);
    EXPECT_FALSE(h.integer(v));
}
