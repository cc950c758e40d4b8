// vornconv_classic: the earlier converter generation. Reads a recorder
// stream and writes the text record stream (header line, one line per
// sample, the tagged sample of every valid GPS tag with its UTC time).
//
// The blocks and what is done with them besides the rules of this
// generation are the recorder library's (recorder/blocks.hpp, stream.hpp).
// This generation's own rules:
//
//   header   7-bit text of name/value pairs; " ", "=" and ";" separate
//            tokens, 0xF0 is skipped, only 0x80 ends it (every other type
//            byte, 0xC0 and 0xCF too, is header text). The 0x80 is the type
//            byte of the first block.
//
//   blocks, by the upper four bits of the type byte:
//     0x8_  sample block         4 bytes per channel (s0 s1 s2 s3, 24 bits)
//     0x9_  tagged sample block  as 0x8_; the sample the next GPS block times
//     0xA_  GPS block            76-byte GPS string, then a time-shift block:
//                                type byte 0xB_ and two bytes t0 t1,
//                                count t0*128 + t1 in units of 2.44140625 us
//     0xB_  stray time-shift type byte: "<bytes read> flag = 11"
//     0xC_, 0xD_                 type byte only (no payload is known)
//     0xE_  trailer              everything to the end of the stream
//     0x1_-0x7_, 0xF_            passed over, one byte at a time
//   Bytes 0x00-0x0F where a type byte is due form a bad-byte run, reported
//   once the run ends.
//
//   tags     the tests of tagmodel.hpp; sample_tag stays after a flush
//   -a       zero drift; the tail's lines whatever -t and -g say, undated
//   messages the block-problem messages without the program's name; no
//            warning when the recording stops abruptly
#pragma once

#include <cstdint>
#include <string_view>

#include "io.hpp"
#include "program.hpp"
#include "stream.hpp"
#include "tagmodel.hpp"
#include "vorn.hpp"

namespace vorn::classic {

inline constexpr std::string_view kVersion = "2.0-290312";
// Samples per channel buffered without a valid tag before the run gives up.
inline constexpr int64_t kMaxBufferedSamples = 300'000'000;

enum class Status : int {
    ok = static_cast<int>(ExitStatus::ok),
    usage = static_cast<int>(ExitStatus::usage),
    no_time_shift = static_cast<int>(ExitStatus::no_time_shift),
    fatal = static_cast<int>(ExitStatus::fatal),
};
std::string_view status_name(Status s);

// -x, -u, -g, -t, -d and -s as the newer generation has them; -s leaves
// out only the drift check here.
struct Options : SharedOptions {
    bool data_beyond_gps = false;  // -a (no operand: zero drift)
};

// Parses "x:ugtads". Each bad option gets its message on err; after all of
// them, the usage text. Returns false when any option was bad.
bool parse_command_line(int argc, char** argv, Options& opt, Writer& err);
void write_usage(Writer& err);

class Converter {
public:
    Converter(const Options& opt, ByteReader& in, Writer& out, Writer& err, std::string_view program);

    // Test hooks: a smaller buffer limit, and what grows the sample memory.
    void set_buffer_limit(int64_t limit) { limit_ = limit; }
    void set_allocator(SampleBuffer::Reallocate reallocate) { reallocate_ = reallocate; }

    // The whole run, from the header to the end of input. Standard output is
    // left unflushed.
    Status run();

    const HeaderValues& header() const { return s_.header(); }

private:
    enum class Step { next, end, fail };

    bool read_header();
    Step block(int type);
    Step sample_block(bool tagged);
    Step gps_block();
    void end_of_run();
    void note(std::string_view fmt, std::initializer_list<FmtArg> args = {});

    Options opt_;
    ByteReader& in_;
    Writer& out_;
    Writer& err_;
    std::string_view program_;
    int64_t limit_ = kMaxBufferedSamples;
    SampleBuffer::Reallocate reallocate_ = nullptr;
    Status status_ = Status::ok;

    RecorderStream s_;
    TagState tag_;
    TagParams params_;
};

}  // namespace vorn::classic
