// vornhead: the header values of recorder files that decide whether they
// belong to one recording, for scripts that check files before joining them.
//
//   vornhead FILE...
//
// One line per FILE on standard output, in the order given:
//
//   recorder DAT_NO CH_NUM S_RATE DEV_NO   a recorder file: its header ends
//                                           with a type byte and names DAT_NO
//   other                                  no recorder header, or no DAT_NO
//   unreadable                             cannot be opened (message on
//                                           standard error) or not a file
//
// The header is scanned as vornseq and vornjoin scan it (the last pair of a
// name wins); DAT_NO, CH_NUM and S_RATE are read in the manner of atoi,
// DEV_NO keeps its first 99 characters ("." when the header has none) with
// every byte outside '!'..'~' and the backslash written as \xHH, so that the
// value is one word (empty only when the header's value is empty).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "io.hpp"
#include "program.hpp"

namespace vorn::filetools {

enum class HeadStatus : int {
    ok = static_cast<int>(ExitStatus::ok),        // also when some files are other or unreadable
    usage = static_cast<int>(ExitStatus::usage),  // no file named
};

enum class HeadKind { recorder, other, unreadable };

struct HeadValues {
    HeadKind kind = HeadKind::other;
    int32_t dat_no = -1;
    int32_t ch_num = -1;
    int32_t s_rate = -1;
    std::string dev_no = ".";
};

// The values of one header read from in.
HeadValues read_head(ByteReader& in);

// DEV_NO as one word: bytes outside '!'..'~' and '\' as \xHH.
std::string escaped_word(std::string_view text);

// Writes the line of one result (with its line feed).
void write_head_line(Writer& out, const HeadValues& v);

// The whole program over the named files.
HeadStatus run_vornhead(std::span<char* const> names, Writer& out, Writer& diag);

}  // namespace vorn::filetools
