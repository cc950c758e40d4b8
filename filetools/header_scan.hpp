// The header scan of the file tools: reads a recorder file's header byte by
// byte and finds its file sequence number (the tag DAT_NO).
//
// Header bytes, read from the start of the file:
//
//   byte              in the header
//   0x00-0x7F         text: ' ' becomes '_', '=' and ';' separate tokens,
//                     NUL adds nothing; the header goes on
//   0xF0              fill byte: skipped, the header goes on
//   0x80 0xC0 0xCF    end the header without being text
//   other 0x81-0xFF   appended to the current token, then end the header
//
// The byte that ends the header is the type byte of the file's first block.
// Tokens are numbered from 0; token 2k is a name, token 2k+1 its value, for
// k = 0 .. separators/2. At most 100 tokens of 999 characters are kept;
// every byte is still scanned, so the header ends where it ends.
#pragma once

#include <cstdint>

#include "io.hpp"
#include "recorder.hpp"

namespace vorn::filetools {

enum class HeaderScan {
    ended,      // a type byte ended the header
    no_header,  // the file ended first
};

// Scans the header from in. On `ended`, type_byte holds the byte that ended
// it. With an echo writer, every byte read is written to it at once, in the
// order read, a space as '_' and every other byte as it is (fill bytes and
// the header-ending byte included).
HeaderScan scan_header(ByteReader& in, HeaderTokens& tokens, uint8_t& type_byte, Writer* echo = nullptr);

// The number of the file: the value of the last pair named exactly "DAT_NO"
// converted in the manner of atoi, or `none` when no pair is so named.
int32_t find_fileno(const HeaderTokens& tokens, int32_t none);

// `none` of vornseq and of vornjoin.
inline constexpr int32_t kSeqNoNumber = -1;
inline constexpr int32_t kJoinNoNumber = 0;

}  // namespace vorn::filetools
