#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "header_scan.hpp"
#include "io.hpp"
#include "program.hpp"
#include "recorder.hpp"
#include "vornhead.hpp"
#include "vornjoin.hpp"
#include "vornseq.hpp"

using namespace vorn;
using namespace vorn::filetools;

namespace {

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

struct Scanned {
    HeaderScan status;
    uint8_t type_byte = 0;
    int64_t consumed = 0;
    std::string echo;
    HeaderTokens tokens;
};

Scanned scan(const std::string& file) {
    Scanned r;
    ByteReader in(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    Writer w(&r.echo);
    r.status = scan_header(in, r.tokens, r.type_byte, &w);
    w.flush();
    r.consumed = in.count();
    return r;
}

int32_t seqno(const std::string& file, int32_t none = kSeqNoNumber) {
    Scanned r = scan(file);
    EXPECT_EQ(r.status, HeaderScan::ended);
    return find_fileno(r.tokens, none);
}

// A file in a temporary folder, removed with the fixture.
class TempFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/filetools_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        ::rmdir(dir_.c_str());
    }
    std::string make(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        files_.push_back(path);
        return path;
    }
    std::string dir_;
    std::vector<std::string> files_;
};

struct Joined {
    JoinStatus status;
    std::string out;
    std::string diag;
};

Joined join(std::vector<std::string> paths, int output_fd = -1) {
    std::vector<char*> names;
    for (std::string& p : paths) names.push_back(p.data());
    Joined r;
    Writer out(&r.out);
    Writer diag(&r.diag);
    r.status = join_files(names, out, diag, output_fd);
    out.flush();
    diag.flush();
    return r;
}

}  // namespace

TEST(HeaderScanTest, ByteClassesEndOfHeaderAndEcho) {
    // Fill bytes are skipped and written; spaces become '_' in tokens and echo.
    Scanned r = scan("A B=1" + bytes({0xF0}) + "2;" + bytes({0x90, 0x01, 0x02}));
    ASSERT_EQ(r.status, HeaderScan::ended);
    EXPECT_EQ(r.type_byte, 0x90);
    EXPECT_EQ(r.consumed, 9);  // nothing after the header-ending byte is read
    EXPECT_EQ(r.echo, "A_B=1" + bytes({0xF0}) + "2;" + bytes({0x90}));
    EXPECT_EQ(r.tokens.token(0), "A_B");
    EXPECT_EQ(r.tokens.token(1), "12");
    // Another type byte is appended to the current token before it ends the header.
    EXPECT_EQ(r.tokens.token(2), bytes({0x90}));

    // 0x80, 0xC0 and 0xCF end the header without being text.
    for (int end : {0x80, 0xC0, 0xCF}) {
        Scanned e = scan("DAT_NO=7" + bytes({end, 0x41}));
        ASSERT_EQ(e.status, HeaderScan::ended);
        EXPECT_EQ(e.type_byte, end);
        EXPECT_EQ(e.tokens.token(1), "7");
        EXPECT_EQ(e.echo, "DAT_NO=7" + bytes({end}));
    }
    // NUL adds nothing to a token but is still written as read.
    Scanned n = scan(bytes({'D', 0, 'A', 'T', '_', 'N', 'O', '=', '3', 0xEF}));
    EXPECT_EQ(n.tokens.token(0), "DAT_NO");
    EXPECT_EQ(n.echo.size(), 10u);
    EXPECT_EQ(find_fileno(n.tokens, -1), 3);
    // CR and LF are token characters.
    EXPECT_EQ(scan("A=1\r\nDAT_NO=4" + bytes({0x80})).tokens.token(1), "1\r\nDAT_NO");
}

TEST(HeaderScanTest, FileEndingInsideTheHeader) {
    EXPECT_EQ(scan("").status, HeaderScan::no_header);
    Scanned r = scan("DAT_NO=5;" + bytes({0xF0, 0xF0}));
    EXPECT_EQ(r.status, HeaderScan::no_header);
    EXPECT_EQ(r.echo, "DAT_NO=5;" + bytes({0xF0, 0xF0}));  // what was read went out
}

TEST(HeaderScanTest, SequenceNumberInTheMannerOfAtoi) {
    const std::string end = bytes({0x80});
    EXPECT_EQ(seqno("DAT_NO=0042;" + end), 42);
    EXPECT_EQ(seqno("DEV_NO=12;" + end), -1);
    EXPECT_EQ(seqno("DEV_NO=12;" + end, kJoinNoNumber), 0);
    EXPECT_EQ(seqno("DAT_NO=abc;" + end), 0);
    EXPECT_EQ(seqno("DAT_NO=12x;" + end), 12);
    EXPECT_EQ(seqno("DAT_NO=-5;" + end), -5);
    EXPECT_EQ(seqno("DAT_NO=+6;" + end), 6);
    EXPECT_EQ(seqno("DAT_NO=\t8;" + end), 8);   // white space other than a space is skipped
    EXPECT_EQ(seqno("DAT_NO= 12;" + end), 0);   // the space has become '_'
    EXPECT_EQ(seqno("DAT_NO=" + end), 0);       // no value token
    EXPECT_EQ(seqno("DAT_NO" + end), 0);        // pair 0 still has an (empty) value
    EXPECT_EQ(seqno("A=1;DAT_NO" + end), 0);
    EXPECT_EQ(seqno("A=DAT_NO;9=3;" + end), -1);  // a value position does not count
    EXPECT_EQ(seqno("dat_no=3;" + end), -1);      // case matters
    EXPECT_EQ(seqno("DAT_NO=3;DAT_NO=9;" + end), 9);  // the last pair wins
    EXPECT_EQ(seqno("DAT NO=3;" + end), 3);           // a space in a name is an underscore
    EXPECT_EQ(seqno("DAT_NO=3;DAT_NO=;" + end), 0);
    EXPECT_EQ(seqno("DAT_NO==3;" + end), 0);      // "=3" is not a name
    EXPECT_EQ(seqno("DAT_NO=4294967297;" + end), 1);  // atoi's long cut to 32 bits
    EXPECT_EQ(seqno("DAT_NO=5" + bytes({0x90})), 5);  // the appended type byte ends the digits
    EXPECT_EQ(seqno("DAT_NO=" + bytes({0xF0}) + "1" + bytes({0xF0}) + "7;" + end), 17);
}

TEST(HeaderScanTest, TokenLimits) {
    const std::string end = bytes({0x80});
    // Tokens 98 and 99 are the last pair kept.
    std::string h;
    for (int k = 0; k < 49; ++k) h += "N=v;";
    EXPECT_EQ(seqno(h + "DAT_NO=7;" + end), 7);
    EXPECT_EQ(seqno(h + "DAT_NO=7;X=1;DAT_NO=8;" + end), 7);
    // A pair beyond the 100th token is dropped, but the header still ends where it ends.
    Scanned r = scan(h + "X=1;DAT_NO=8;Y" + end + "rest");
    EXPECT_EQ(r.status, HeaderScan::ended);
    EXPECT_EQ(r.tokens.separators(), 102);
    EXPECT_EQ(find_fileno(r.tokens, -1), -1);
    // A token keeps its first 999 characters.
    EXPECT_EQ(seqno("DAT_NO=" + std::string(999, '0') + "5;" + end), 0);
    EXPECT_EQ(seqno("DAT_NO=" + std::string(998, '0') + "5;" + end), 5);
    // A long name is cut without disturbing the pairs; a long value saturates
    // as atoi's long does and is then cut to 32 bits.
    EXPECT_EQ(seqno(std::string(2000, 'x') + "=1;DAT_NO=" + std::string(3000, '2') + "x;" + end), -1);
    EXPECT_EQ(seqno(std::string(2000, 'x') + "=1;DAT_NO=" + std::string(9, '2') + "x;" + end), 222222222);
    EXPECT_EQ(scan(std::string(5000, 'x') + end).tokens.token(0).size(), 999u);
}

// Property: on random headers the scan agrees with a plain model of the
// rules (split the text at the separators, then keep the limits).
TEST(HeaderScanTest, AgreesWithAPlainModelOnRandomHeaders) {
    std::mt19937 rng(20240611);
    const std::vector<std::string> pieces = {"DAT_NO", "=", ";", " ", "0", "7", "42", "-", "x", "\t",
                                             std::string(1, '\0'), bytes({0xF0}), "A_B", "DAT_N"};
    for (int iter = 0; iter < 3000; ++iter) {
        std::string text;
        int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
        const int enders[] = {0x80, 0x90, 0xA0, 0xC0, 0xCF, 0xD1, 0xE0, 0xEF, 0xFF};
        int ender = enders[rng() % 9];
        Scanned r = scan(text + bytes({ender, 'z'}));
        ASSERT_EQ(r.status, HeaderScan::ended);
        ASSERT_EQ(r.type_byte, ender);
        ASSERT_EQ(r.consumed, static_cast<int64_t>(text.size()) + 1);

        // Model.
        std::string clean;
        for (char c : text) {
            if (static_cast<uint8_t>(c) == 0xF0 || c == '\0') continue;
            clean.push_back(c == ' ' ? '_' : c);
        }
        if (ender != 0x80 && ender != 0xC0 && ender != 0xCF) clean.push_back(static_cast<char>(ender));
        std::vector<std::string> tokens(1);
        for (char c : clean) {
            if (c == '=' || c == ';') tokens.emplace_back();
            else tokens.back().push_back(c);
        }
        int64_t sep = static_cast<int64_t>(tokens.size()) - 1;
        int32_t expect = -1;
        for (int64_t k = 0; k <= sep / 2; ++k) {
            std::string name = static_cast<std::size_t>(2 * k) < tokens.size() ? tokens[2 * k] : "";
            std::string value = static_cast<std::size_t>(2 * k + 1) < tokens.size() ? tokens[2 * k + 1] : "";
            if (name == "DAT_NO") expect = std::atoi(value.c_str());
        }
        ASSERT_EQ(r.tokens.separators(), sep);
        ASSERT_EQ(find_fileno(r.tokens, -1), expect) << "header of " << text.size() << " bytes";
    }
}

TEST_F(TempFiles, CopyBodyDropsEveryEfAcrossBlocks) {
    std::mt19937 rng(7);
    std::string body;
    for (int i = 0; i < 5000; ++i) body.push_back(static_cast<char>(rng() % 5 == 0 ? 0xEF : rng() % 256));
    body += bytes({0xEF, 0xEF});
    std::string path = make("body", body);
    std::string kept;
    for (char c : body)
        if (static_cast<uint8_t>(c) != 0xEF) kept.push_back(c);
    for (bool drop : {true, false}) {
        int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ByteReader in(fd, path, 37);  // small blocks: runs cross block edges
        std::string got;
        Writer out(&got, 256);
        copy_body(in, out, drop);
        out.flush();
        ::close(fd);
        EXPECT_EQ(got, drop ? kept : body);
    }
}

TEST_F(TempFiles, JoinChecksTheNumbersWithoutOverflow) {
    const std::string end = bytes({0x80});
    // The number after 2147483647 is no 32-bit number: the file is refused.
    std::string a = make("a", "DAT_NO=2147483647;" + end + "A");
    std::string b = make("b", "DAT_NO=2147483648;" + end + "B");
    Joined r = join({a, b});
    EXPECT_EQ(r.status, JoinStatus::fatal);
    EXPECT_EQ(r.out, "DAT_NO=2147483647;" + end + "A");
    EXPECT_NE(r.diag.find("seqno -2147483648"), std::string::npos);
    EXPECT_NE(r.diag.find("ERROR: File " + b + " can not be merged with File " + a + "\n"), std::string::npos);
    // Negative numbers follow each other like any others.
    std::string c = make("c", "DAT_NO=-2;" + end);
    std::string d = make("d", "DAT_NO=-1;" + bytes({0xEF}) + "x" + bytes({0xEF}));
    std::string e = make("e", "X=1;" + end + bytes({0xEF}));
    Joined ok = join({c, d, e});
    EXPECT_EQ(ok.status, JoinStatus::ok);
    EXPECT_EQ(ok.out, "DAT_NO=-2;" + end + bytes({0xEF}) + "x" + end + bytes({0xEF}));
}

TEST_F(TempFiles, JoinRefusesItsOwnOutputFile) {
    const std::string end = bytes({0x80});
    std::string a = make("a", "DAT_NO=1;" + end + "A");
    std::string out = make("out", "DAT_NO=2;" + end + "B");
    int fd = ::open(out.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    Joined r = join({a, out}, fd);
    ::close(fd);
    EXPECT_EQ(r.status, JoinStatus::fatal);
    EXPECT_EQ(r.out, "DAT_NO=1;" + end + "A");
    EXPECT_NE(r.diag.find("ERROR: input file " + out + " is the output file\n"), std::string::npos);
    // Output to a regular file that is not an input is fine.
    std::string other = make("other", "");
    int ofd = ::open(other.c_str(), O_WRONLY);
    EXPECT_EQ(join({a, out}, ofd).status, JoinStatus::ok);
    ::close(ofd);
}

TEST_F(TempFiles, SequenceNumberStaysPrintedWhenTheFileDoesNotClose) {
    std::string a = make("a", "DAT_NO=0042;" + bytes({0x80}));
    std::string out_text, diag_text;
    Writer out(&out_text), diag(&diag_text);
    int closed_fd = -1;
    static int* seen = nullptr;
    seen = &closed_fd;
    auto failing_close = [](int fd) -> int {
        *seen = fd;
        ::close(fd);
        return -1;
    };
    EXPECT_EQ(print_sequence_number(a.c_str(), out, diag, failing_close), SeqStatus::fatal);
    out.flush();
    diag.flush();
    EXPECT_GE(closed_fd, 0);
    EXPECT_EQ(out_text, "42\n");
    EXPECT_EQ(diag_text, std::string(program_name()) + " ERROR: closing input file: " + a + "\n");

    std::string ok_text;
    Writer ok(&ok_text);
    EXPECT_EQ(print_sequence_number(a.c_str(), ok, diag), SeqStatus::ok);
    ok.flush();
    EXPECT_EQ(ok_text, "42\n");
}

// ---- vornhead ---------------------------------------------------------------

HeadValues head(const std::string& file) {
    ByteReader in(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    return read_head(in);
}

std::string head_line(const HeadValues& v) {
    std::string text;
    Writer w(&text);
    write_head_line(w, v);
    w.flush();
    return text;
}

TEST(Head, RecorderHeaderGivesTheValuesThatMustAgree) {
    HeadValues v = head("DEV_NO=V042;CH_NUM=3;S_RATE=100;DAT_NO=0007;" + bytes({0x80, 1, 2, 3, 4}));
    EXPECT_EQ(v.kind, HeadKind::recorder);
    EXPECT_EQ(v.dat_no, 7);
    EXPECT_EQ(v.ch_num, 3);
    EXPECT_EQ(v.s_rate, 100);
    EXPECT_EQ(v.dev_no, "V042");
    EXPECT_EQ(head_line(v), "recorder 7 3 100 V042\n");
}

TEST(Head, LastPairWinsAndMissingTagsKeepTheirInitialValues) {
    // As the converters read it: the last CH_NUM counts; no DEV_NO gives ".",
    // no S_RATE -1; fill bytes are skipped.
    HeadValues v = head("CH_NUM=1;DAT_NO=3;" + bytes({0xF0}) + "CH_NUM=2;" + bytes({0xC0}));
    EXPECT_EQ(head_line(v), "recorder 3 2 -1 .\n");
    // The number is read as vornseq reads it (atoi): letters give 0.
    EXPECT_EQ(head("DAT_NO=abc;" + bytes({0x80})).dat_no, 0);
    EXPECT_EQ(head("DAT_NO=12x;" + bytes({0x80})).dat_no, 12);
}

TEST(Head, FilesWithoutAHeaderOrANumberAreOther) {
    // A plain text file never ends its header; a UTF-8 one ends it at its first
    // non-ASCII byte but names no DAT_NO; the tag in a value position does not count.
    EXPECT_EQ(head("notes about the site\n").kind, HeadKind::other);
    EXPECT_EQ(head("Stati\xc3\xb3n notes\n").kind, HeadKind::other);
    EXPECT_EQ(head("X=DAT_NO;" + bytes({0x80})).kind, HeadKind::other);
    EXPECT_EQ(head("").kind, HeadKind::other);
    EXPECT_EQ(head_line(head("")), "other\n");
    HeadValues u;
    u.kind = HeadKind::unreadable;
    EXPECT_EQ(head_line(u), "unreadable\n");
}

TEST(Head, DeviceNumberIsAlwaysOneWord) {
    EXPECT_EQ(escaped_word("V042"), "V042");
    EXPECT_EQ(escaped_word(std::string("a\tb\nc\\d\x7f") + '\0' + "\xc3\xa9"), "a\\x09b\\x0ac\\x5cd\\x7f\\x00\\xc3\\xa9");
    // A space in the header reads as '_'; a byte with its top bit set that ends
    // the header is part of the value.
    EXPECT_EQ(head_line(head("DAT_NO=1;DEV_NO=A B" + bytes({0x81}))), "recorder 1 -1 -1 A_B\\x81\n");
}

TEST_F(TempFiles, HeadListsEveryFileInOrder) {
    std::string a = make("a", "DAT_NO=2;CH_NUM=3;S_RATE=200;DEV_NO=X1;" + bytes({0x80}));
    std::string b = make("b", "just text");
    std::string missing = dir_ + "/missing";
    std::vector<std::string> list = {a, b, missing, dir_};
    std::vector<char*> argv;
    for (std::string& s : list) argv.push_back(s.data());
    std::string out_text, diag_text;
    Writer out(&out_text), diag(&diag_text);
    EXPECT_EQ(run_vornhead(argv, out, diag), HeadStatus::ok);
    out.flush();
    diag.flush();
    EXPECT_EQ(out_text, "recorder 2 3 200 X1\nother\nunreadable\nunreadable\n");
    std::string p(program_name());
    EXPECT_EQ(diag_text, p + " ERROR: opening input file: " + missing + "\n" + p + " ERROR: not a regular file: " + dir_ + "\n");
    EXPECT_EQ(run_vornhead({}, out, diag), HeadStatus::usage);
}
