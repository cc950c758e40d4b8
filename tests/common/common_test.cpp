#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>

#include "calendar.hpp"
#include "format.hpp"
#include "io.hpp"
#include "recorder.hpp"
#include "textparse.hpp"
#include "vorn.hpp"

using namespace vorn;

namespace {
std::string header_line_of(const HeaderValues& h) {
    std::string s;
    Writer w(&s);
    write_header_line(w, h);
    w.flush();
    return s;
}
std::string datetime_of(int64_t t) {
    std::string s;
    Writer w(&s);
    write_datetime(w, utc_gmtime(t));
    w.flush();
    return s;
}
}  // namespace

TEST(HeaderTokensTest, PairsSpacesFillAndLimits) {
    HeaderTokens t;
    std::string text = "A=1;B=2;";
    for (char c : text) EXPECT_FALSE(header_byte(t, static_cast<uint8_t>(c)));
    EXPECT_EQ(t.separators(), 4);
    std::vector<std::pair<std::string, std::string>> pairs;
    t.for_each_pair([&](std::string_view n, std::string_view v) { pairs.emplace_back(n, v); });
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>{"A", "1"}));
    EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>{"B", "2"}));
    EXPECT_EQ(pairs[2], (std::pair<std::string, std::string>{"", ""}));

    t.clear();
    for (char c : std::string("E_NAME=my site;")) header_byte(t, static_cast<uint8_t>(c));
    EXPECT_EQ(t.token(1), "my_site");
    EXPECT_FALSE(header_byte(t, 0xF0));  // fill byte: skipped, header goes on
    EXPECT_TRUE(header_byte(t, 0x80));
    EXPECT_EQ(t.token(2), "");
    EXPECT_TRUE(header_byte(t, 0xD0));  // another type byte: appended, then ends
    EXPECT_EQ(t.token(2), "\xD0");

    t.clear();
    for (int i = 0; i < 150; ++i) t.separator();
    t.add('x');  // token 150 lies beyond the 100 kept
    EXPECT_EQ(t.token(150), "");
    t.clear();
    for (int i = 0; i < 2000; ++i) t.add('y');
    EXPECT_EQ(t.token(0).size(), 999u);
}

TEST(HeaderValuesTest, AssignmentAndHeaderLineRoundTrip) {
    HeaderValues h;
    EXPECT_EQ(header_line_of(h), ". . . -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 . . . -1 -1 -1 .\n");
    assign_tag(h, "CH_NUM", "12abc");
    EXPECT_EQ(h.CH_NUM, 12);
    assign_tag(h, "S_RATE", "abc");
    EXPECT_EQ(h.S_RATE, 0);
    assign_tag(h, "ch_num", "7");  // names match exactly, case included
    EXPECT_EQ(h.CH_NUM, 12);
    std::string v99(99, 'v');
    assign_tag(h, "DEV_NO", v99 + "extra");
    EXPECT_EQ(h.DEV_NO.view(), v99);
    assign_tag(h, "E_NAME", "");
    std::string line = header_line_of(h);
    EXPECT_NE(line.find(v99 + "  -1 12 0 -1"), std::string::npos);

    HeaderValues r;
    assign_tag(h, "E_NAME", "site");
    line = header_line_of(h);
    EXPECT_EQ(read_header_line(std::string_view(line).substr(0, line.size() - 1), r), 26);
    EXPECT_EQ(header_line_of(r), line);

    // A line that ends after its tenth field leaves the later tags alone.
    HeaderValues p;
    p.GPS_TI = 77;
    EXPECT_EQ(read_header_line("a b c 1 2 3 4 5 6 7", p), 10);
    EXPECT_EQ(p.F_TIME, 7);
    EXPECT_EQ(p.GPS_TI, 77);
    // scanf manner: "12abc" reads 12, and the parse stops at the next integer field.
    HeaderValues q;
    EXPECT_EQ(read_header_line("a b c 1 12abc 3", q), 5);
    EXPECT_EQ(q.CH_NUM, 12);
    EXPECT_EQ(q.S_RATE, -1);
}

TEST(TablesTest, ErrorLine) {
    std::string s;
    Writer w(&s);
    write_error_line(w, 1);
    write_error_line(w, 3);
    w.flush();
    EXPECT_EQ(s, "-1 0 0 0\n-1 0 0 0 0 0\n");
}

TEST(CalendarTest, MatchesTheCLibraryUnderGmt) {
    setenv("TZ", "GMT", 1);
    tzset();
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        CivilTime c;
        c.tm_year = static_cast<int64_t>(rng() % 300) - 100;
        c.tm_mon = static_cast<int64_t>(rng() % 30) - 10;
        c.tm_mday = static_cast<int64_t>(rng() % 70) - 20;
        c.tm_hour = static_cast<int64_t>(rng() % 50) - 10;
        c.tm_min = static_cast<int64_t>(rng() % 130) - 30;
        c.tm_sec = static_cast<int64_t>(rng() % 130) - 30;
        std::tm t{};
        t.tm_year = static_cast<int>(c.tm_year);
        t.tm_mon = static_cast<int>(c.tm_mon);
        t.tm_mday = static_cast<int>(c.tm_mday);
        t.tm_hour = static_cast<int>(c.tm_hour);
        t.tm_min = static_cast<int>(c.tm_min);
        t.tm_sec = static_cast<int>(c.tm_sec);
        std::time_t expected = std::mktime(&t);
        ASSERT_EQ(utc_mktime(c), expected);
        EXPECT_EQ(c.tm_year, t.tm_year);
        EXPECT_EQ(c.tm_mon, t.tm_mon);
        EXPECT_EQ(c.tm_mday, t.tm_mday);
        EXPECT_EQ(c.tm_hour, t.tm_hour);
        EXPECT_EQ(c.tm_min, t.tm_min);
        EXPECT_EQ(c.tm_sec, t.tm_sec);
    }
}

TEST(CalendarTest, OutOfRangeFieldsNormalise) {
    CivilTime c;  // month 13 of 2016 is January 2017
    c.tm_year = 116;
    c.tm_mon = 12;
    c.tm_mday = 1;
    EXPECT_EQ(utc_mktime(c), 1483228800);
    CivilTime z;  // an all-zero date: year 1900-1900, month 0-1, day 0
    z.tm_year = -1900;
    z.tm_mon = -1;
    int64_t t = utc_mktime(z);
    EXPECT_EQ(datetime_of(t), "  -1-11-30T00:00:00");
    CivilTime s60;
    s60.tm_year = 117;
    s60.tm_mday = 1;
    s60.tm_sec = 60;
    EXPECT_EQ(utc_mktime(s60), 1483228860);
    EXPECT_EQ(datetime_of(0), "1970-01-01T00:00:00");
    DateText d;
    EXPECT_EQ(d.of(1483228805), "2017-01-01T00:00:05");
    EXPECT_EQ(d.of(1483228806), "2017-01-01T00:00:06");
    EXPECT_EQ(d.of(1483228800 - 1), "2016-12-31T23:59:59");
    EXPECT_EQ(d.of(-1), "1969-12-31T23:59:59");
}

TEST(TextParseTest, StrictFieldsAndAtoi) {
    FieldCursor f("  12 -5\t+7 9999999999 1x");
    int64_t a;
    int32_t b, c, d;
    EXPECT_TRUE(f.integer(a));
    EXPECT_EQ(a, 12);
    EXPECT_TRUE(f.integer(b));
    EXPECT_EQ(b, -5);
    EXPECT_TRUE(f.integer(c));
    EXPECT_EQ(c, 7);
    EXPECT_FALSE(f.integer(d));  // does not fit 32 bits
    EXPECT_FALSE(f.integer(a));  // "1x"
    EXPECT_FALSE(f.integer(a));  // no token left
    int64_t x;
    EXPECT_FALSE(FieldCursor::parse_integer("+-1", x));
    EXPECT_FALSE(FieldCursor::parse_integer("-", x));
    EXPECT_EQ(atoi_like("  -42abc"), -42);
    EXPECT_EQ(atoi_like("abc"), 0);
    EXPECT_EQ(atoi_like("0042"), 42);
    EXPECT_EQ(atoi_like("99999999999999999999"), -1);  // LONG_MAX cut to int
    EXPECT_EQ(atoi_like("4294967297"), 1);
    // Digits beyond 64 bits saturate too, however the sum would wrap (found
    // by the decimal-scan fuzzer).
    EXPECT_EQ(atoi_like("222222222222222222222"), -1);
    EXPECT_EQ(atoi_like("18446744073709551617"), -1);
    EXPECT_EQ(atoi_like("-222222222222222222222"), 0);  // LONG_MIN cut to int
    EXPECT_EQ(atoi_like("-9223372036854775808"), 0);
    EXPECT_EQ(atoi_like("-9223372036854775807"), 1);
}

TEST(WriterTest, PrintfWidthsAndFormats) {
    std::string s;
    Writer w(&s, 300);
    w.num(-5, 3, '0');
    w.put('|');
    w.num(7, 4, ' ');
    w.put('|');
    w.num(123456, 2, '0');
    w.put('|');
    w.right("ab", 5);
    w.put('|');
    format_to(w, "%s %d %ld %4d-%02d %6ld %c %1c %lf %% %5s|%-4d|\n",
              {"x", -3, int64_t{1} << 40, 999, 7, int64_t{42}, 'q', 'r', 0.5, "ab", 7});
    for (int i = 0; i < 1000; ++i) w.num(i);  // forces buffer flushes
    w.flush();
    std::string expected = "-05|   7|123456|   ab|x -3 1099511627776  999-07     42 q r 0.500000 %    ab|7   |\n";
    for (int i = 0; i < 1000; ++i) expected += std::to_string(i);
    EXPECT_EQ(s, expected);
}

TEST(ReaderTest, BytesAndLines) {
    const uint8_t data[] = {1, 2, 3, 4, 5};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.get(), 1);
    uint8_t buf[8];
    EXPECT_EQ(r.read(buf, 8), 4u);
    EXPECT_EQ(r.count(), 5);
    EXPECT_EQ(r.get(), -1);
    EXPECT_TRUE(r.at_end());

    LineReader l("a b\n\nlast");
    vorn::PaddedLine line;
    ASSERT_TRUE(l.next(line));
    EXPECT_EQ(line, "a b");
    ASSERT_TRUE(l.next(line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(l.next(line));
    EXPECT_EQ(line, "last");
    EXPECT_EQ(l.line_number(), 3);
    EXPECT_FALSE(l.next(line));
}

TEST(ReaderTest, LinesFromADescriptorAcrossSmallBuffers) {
    FILE* f = std::tmpfile();
    std::string text;
    for (int i = 0; i < 500; ++i) text += std::string(static_cast<std::size_t>(i % 97), 'a' + i % 26) + "\n";
    text += "tail";
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    LineReader l(fileno(f), 64);
    vorn::PaddedLine line;
    std::string back;
    while (l.next(line)) {
        back += line;
        back += '\n';
    }
    EXPECT_EQ(back, text + "\n");
    std::fclose(f);
}

// A pipe hands the reader its bytes in pieces of any size: every line comes
// back whole, and the padding behind each line may be read (the sanitizer
// build checks that it lies inside the buffer).
TEST(ReaderTest, LinesFromAPipeInPiecesWithReadablePadding) {
    std::mt19937_64 rng(41);
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        const std::size_t len = rng() % 4 == 0 ? rng() % 300 : rng() % 70;
        for (std::size_t k = 0; k < len; ++k) text += static_cast<char>('0' + rng() % 10);
        text += '\n';
    }
    text += "no line feed";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        std::mt19937_64 r(43);
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t n = std::min<std::size_t>(text.size() - at, 1 + r() % 200);
            ASSERT_EQ(write(fds[1], text.data() + at, n), static_cast<ssize_t>(n));
            at += n;
        }
        close(fds[1]);
    });
    LineReader l(fds[0], 256);
    vorn::PaddedLine line;
    std::string back;
    unsigned touched = 0;
    while (l.next(line)) {
        back += line;
        back += '\n';
        for (std::size_t k = 0; k < LineReader::kPadding; ++k) touched += static_cast<unsigned char>(line.data()[line.size() + k]);
        // The byte behind every line ends it, the last line (no line feed,
        // older digits of the buffer behind it) included.
        ASSERT_EQ(line.data()[line.size()], '\n') << "line " << l.line_number();
    }
    writer.join();
    close(fds[0]);
    EXPECT_EQ(back, text + "\n");
    EXPECT_GT(touched, 0u);
}

// A line beyond the reader's cap keeps its first 16 MB, and the next line,
// moved up behind it, is parted from it by a written line feed: a scanner
// that runs to the end of the kept text stops there.
TEST(ReaderTest, OverlongLineIsCutAndStillEnded) {
    const std::size_t cap = std::size_t{16} << 20;
    std::string text(cap + 300000, '0');
    text += "\n7 8\n9";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t n = std::min<std::size_t>(text.size() - at, 65536);
            ASSERT_EQ(write(fds[1], text.data() + at, n), static_cast<ssize_t>(n));
            at += n;
        }
        close(fds[1]);
    });
    LineReader l(fds[0], 4096);
    vorn::PaddedLine line;
    ASSERT_TRUE(l.next(line));
    EXPECT_EQ(line.size(), cap);
    EXPECT_EQ(line.find_first_not_of('0'), std::string_view::npos);
    EXPECT_EQ(line.data()[line.size()], '\n');
    ASSERT_TRUE(l.next(line));
    EXPECT_EQ(line, "7 8");
    ASSERT_TRUE(l.next(line));
    EXPECT_EQ(line, "9");
    EXPECT_EQ(line.data()[line.size()], '\n');
    EXPECT_FALSE(l.next(line));
    writer.join();
    close(fds[0]);
}

// room(n) with n beyond the writer's capacity grows the buffer instead of
// handing out bytes past its end (found by the vornconv fuzzer: the sample
// lines ask for 64 KB at a time from a writer built smaller).
TEST(WriterTest, RoomBeyondTheCapacityGrows) {
    std::string sink;
    Writer w(&sink, 256);
    w.put("ab");
    char* p = w.room(std::size_t{64} << 10);
    std::memset(p, 'x', std::size_t{64} << 10);
    w.advance(p + (std::size_t{64} << 10));
    w.put('\n');
    w.flush();
    ASSERT_EQ(sink.size(), 2 + (std::size_t{64} << 10) + 1);
    EXPECT_EQ(sink.substr(0, 3), "abx");
    EXPECT_EQ(sink.back(), '\n');
}
