// vornjoin: joins consecutive recorder files into one recorder stream.
//
// The stream is the first file's header (spaces written as '_'), ending with
// its header-ending byte, then the rest of the first file, then for every
// further file its header-ending byte and the rest of it. Each file's DAT_NO
// must be one more than the one before. Bytes 0xEF after the header are
// dropped from every file but the last.
#pragma once

#include <cstdint>
#include <span>

#include "io.hpp"
#include "program.hpp"

namespace vorn::filetools {

// Exit statuses (vorn::Exit): ok; fatal for no file, a file that cannot be
// opened, no header, a gap, or the input being the output.

// The byte the recorder drops from every file but the last.
inline constexpr uint8_t kDroppedByte = 0xEF;

// Copies what is left of in to out in large blocks; with drop_ef, without
// its 0xEF bytes.
void copy_body(ByteReader& in, Writer& out, bool drop_ef);

// Joins the files in the order given. Progress and error lines go to diag.
// output_fd is the descriptor out writes to (-1 when none): a regular file
// that is also one of the inputs is refused, as reading it would chase its
// own growing end.
Exit join_files(std::span<char* const> names, Writer& out, Writer& diag, int output_fd = -1);

}  // namespace vorn::filetools
