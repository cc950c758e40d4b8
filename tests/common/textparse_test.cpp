// The one-pass integer reader of the text stages gives the same tokens and
// verdicts as a plain reference (whole token, then std::from_chars), on every
// kind of token.
#include <gtest/gtest.h>

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
