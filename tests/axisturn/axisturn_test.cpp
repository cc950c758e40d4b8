#include <gtest/gtest.h>

#include <random>
#include <string>

#include "axisturn.hpp"

using namespace vorn;
using namespace vorn::axisturn;

namespace {

struct Result {
    Exit status;
    std::string out;
    std::string err;
};

Result run(const std::string& input) {
    Result r;
    LineReader in(input);
    Writer out(&r.out);
    Writer err(&r.err);
    r.status = run_axisturn(in, out, err);
    out.flush();
    err.flush();
    return r;
}

}  // namespace

TEST(Axisturn, GridLineFields) {
    GridLine g;
    ASSERT_TRUE(parse_grid_line("1400000000  20000  12 -5 7", 3, g));
    EXPECT_EQ(g.ts2, 1400000000);
    EXPECT_EQ(g.tmks2, 20000);
    std::string s;
    {
        Writer w(&s);
        write_grid_line(w, g, 3);
        w.flush();
    }
    EXPECT_EQ(s, "1400000000 20000 12 -5 7 \n");
    // Fields after the required ones are ignored; missing or broken ones fail.
    EXPECT_TRUE(parse_grid_line("1 2 3 4", 1, g));
    EXPECT_FALSE(parse_grid_line("1 2", 1, g));
    EXPECT_FALSE(parse_grid_line("1 2 3x", 1, g));
    EXPECT_FALSE(parse_grid_line("1 2147483648 3", 1, g));  // microseconds are 32 bits
    EXPECT_FALSE(parse_grid_line("2016-12-31T23:59:59 950000  1 2 3", 3, g));
}

// A line read with readable bytes behind it (as the program reads them) gets
// the verdict and fields of the same line read on its own.
TEST(Axisturn, GridLinesReadAtOnceAgreeWithFieldByField) {
    std::mt19937_64 rng(23);
    const std::string alphabet = "0123456789  -+\tx";
    for (int round = 0; round < 50000; ++round) {
        std::string line;
        const int fields = static_cast<int>(rng() % 7);
        for (int f = 0; f < fields; ++f) {
            if (rng() % 3 == 0) line += '-';
            const int digits = 1 + static_cast<int>(rng() % 20);
            for (int d = 0; d < digits; ++d) line += static_cast<char>('0' + rng() % 10);
            if (rng() % 30 == 0) line += alphabet[rng() % alphabet.size()];
            line += std::string(1 + rng() % 3, ' ');
        }
        if (rng() % 4 == 0) line.resize(rng() % (line.size() + 1));
        const std::string padded = line + std::string(LineReader::kPadding, '5');
        for (int ch = 1; ch <= 3; ++ch) {
            GridLine a, b;
            const auto with_padding = PaddedLine::assume_padded(std::string_view(padded.data(), line.size()));
            const bool ra = parse_grid_line(with_padding, ch, a);
            const bool rb = parse_grid_line(line, ch, b);
            ASSERT_EQ(ra, rb) << "'" << line << "' " << ch;
            if (!ra) continue;
            ASSERT_EQ(a.ts2, b.ts2) << line;
            ASSERT_EQ(a.tmks2, b.tmks2) << line;
            for (int c = 0; c < ch; ++c) ASSERT_EQ(a.ampx[c], b.ampx[c]) << line;
        }
    }
}

TEST(Axisturn, PassesTheStreamThrough) {
    const std::string header = "Z D E 1 2 100 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";
    Result r = run(header + "1400000000      0  1 -2\n1400000000  10000  3 4\n");
    EXPECT_EQ(r.status, Exit::ok);
    EXPECT_EQ(r.out, header + "1400000000 0 1 -2 \n1400000000 10000 3 4 \n");
    EXPECT_EQ(r.err, "XXX 2\n");
}

TEST(Axisturn, MalformedLinesAreSkippedNotRepeated) {
    const std::string header = "Z D E 1 1 100 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n";
    Result r = run(header + "5 6 7\n5 6\n\n8 9 10\n");
    EXPECT_EQ(r.out, header + "5 6 7 \n8 9 10 \n");
    EXPECT_EQ(r.err, "XXX 1\nWarning: skipping malformed line 3: 5 6\nWarning: skipping malformed line 4: \n");
}

TEST(Axisturn, UnsupportedHeaderWithSampleLines) {
    Result r = run("Z D E 1 4 100 0 0 0 0 0 0 0 0 0 0 0 0 0 G T S 0 0 0 1\n1 2 3 4 5 6\n");
    EXPECT_EQ(r.status, Exit::no_useful_data);
    EXPECT_EQ(r.err, "XXX 4\nvorn ERROR: unsupported header: CH_NUM 4 S_RATE 100\n");
    Result empty = run("");
    EXPECT_EQ(empty.status, Exit::ok);
    EXPECT_EQ(empty.err, "XXX -1\n");
}
