// The one-pass field reader gives the same tokens and verdicts as the
// shared FieldCursor, on every kind of token.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fieldscan.hpp"
#include "textparse.hpp"

using namespace vorn;

namespace {

template <class T>
void expect_same(const std::string& line) {
    FieldCursor a(line);
    FieldScan b(line);
    for (int k = 0; k < 8; ++k) {
        T va = 0, vb = 0;
        const bool ra = a.integer(va);
        const bool rb = b.integer(vb);
        ASSERT_EQ(ra, rb) << "'" << line << "' field " << k;
        if (!ra) return;  // the readers stop at the first bad field
        ASSERT_EQ(va, vb) << "'" << line << "' field " << k;
    }
}

}  // namespace

TEST(FieldScan, AgreesWithFieldCursorOnChosenTokens) {
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

TEST(FieldScan, AgreesWithFieldCursorOnRandomText) {
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

TEST(FieldScan, SampleLinesAsTheSharedParserReadsThem) {
    std::mt19937_64 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        const int fields = static_cast<int>(rng() % 8);
        for (int f = 0; f < fields; ++f) {
            if (rng() % 2) line += '-';
            const int digits = 1 + static_cast<int>(rng() % 21);
            for (int d = 0; d < digits; ++d) line += static_cast<char>('0' + rng() % 10);
            line += rng() % 5 ? " " : "  ";
        }
        for (int ch = 1; ch <= 3; ++ch) {
            SampleLine a, b;
            const bool ra = parse_sample_line(line, ch, a);
            const bool rb = scan_sample_line(line, ch, b);
            ASSERT_EQ(ra, rb) << line;
            if (!ra) continue;
            EXPECT_EQ(a.n, b.n);
            for (int c = 0; c < ch; ++c) EXPECT_EQ(a.v[c], b.v[c]);
            EXPECT_EQ(a.sec, b.sec);
            EXPECT_EQ(a.usec, b.usec);
        }
    }
}
