#include "vornhead.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "format.hpp"
#include "header_scan.hpp"
#include "recorder.hpp"
#include "vorn.hpp"

namespace vorn::filetools {

namespace {
// The header is short; a small block keeps the read close to it.
constexpr std::size_t kHeaderBlock = std::size_t{1} << 16;
}  // namespace

HeadValues read_head(ByteReader& in) {
    HeadValues v;
    HeaderTokens tokens;
    uint8_t type_byte = 0;
    if (scan_header(in, tokens, type_byte) == HeaderScan::no_header) return v;
    // The same pairs the converters read, the last of a name winning.
    HeaderValues h;
    bool has_dat_no = false;
    tokens.for_each_pair([&](std::string_view name, std::string_view value) {
        assign_tag(h, name, value);
        if (name == std::string_view("DAT_NO")) has_dat_no = true;
    });
    if (!has_dat_no) return v;
    v.kind = HeadKind::recorder;
    v.dat_no = find_fileno(tokens, kSeqNoNumber);
    v.ch_num = h.CH_NUM;
    v.s_rate = h.S_RATE;
    v.dev_no = std::string(h.DEV_NO.view());
    return v;
}

std::string escaped_word(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s;
    s.reserve(text.size());
    for (char ch : text) {
        auto b = static_cast<unsigned char>(ch);
        if (b > ' ' && b < 0x7F && b != '\\') {
            s.push_back(ch);
        } else {
            s += "\\x";
            s.push_back(kHex[b >> 4]);
            s.push_back(kHex[b & 0xF]);
        }
    }
    return s;
}

void write_head_line(Writer& out, const HeadValues& v) {
    switch (v.kind) {
    case HeadKind::recorder:
        out.put("recorder ");
        out.num(v.dat_no);
        out.put(' ');
        out.num(v.ch_num);
        out.put(' ');
        out.num(v.s_rate);
        out.put(' ');
        out.put(escaped_word(v.dev_no));
        out.put('\n');
        break;
    case HeadKind::other:
        out.put("other\n");
        break;
    case HeadKind::unreadable:
        out.put("unreadable\n");
        break;
    }
}

HeadStatus run_vornhead(std::span<char* const> names, Writer& out, Writer& diag) {
    if (names.empty()) {
        format_to(diag, "usage: %s FILE...\n", {program_name()});
        diag.flush();
        return HeadStatus::usage;
    }
    for (const char* name : names) {
        HeadValues v;
        v.kind = HeadKind::unreadable;
        int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (fd < 0) {
            format_to(diag, "%s ERROR: opening input file: %s\n", {program_name(), name});
            diag.flush();
        } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            format_to(diag, "%s ERROR: not a regular file: %s\n", {program_name(), name});
            diag.flush();
        } else {
            ByteReader in(fd, name, kHeaderBlock);
            v = read_head(in);
        }
        if (fd >= 0) ::close(fd);
        write_head_line(out, v);
    }
    return HeadStatus::ok;
}

}  // namespace vorn::filetools
