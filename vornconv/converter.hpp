// The converter: reads one recorder stream and writes the text record
// stream, the BOS and EOS lines, its messages and the AUX file.
//
// The blocks and what is done with them besides the rules of this
// generation are the recorder library's (recorder/blocks.hpp, stream.hpp).
// This generation's own rules:
//   header     ends at the first type byte other than 0xF0 (header_byte)
//   blocks     matched by the whole type byte: 0x80, 0x90, 0xA0, 0xC0,
//              0xCF, 0xD1, 0xE0; every other type byte has no payload
//   tags       the tests of TagModel (timetag.hpp)
//   -a         a drift in ms per day; the tail's timed line is dated with -t
//   messages   the program's name before every ERROR; a warning when the
//              recording stops inside a block or before a type byte
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "auxout.hpp"
#include "convoptions.hpp"
#include "io.hpp"
#include "stream.hpp"
#include "timetag.hpp"
#include "vorn.hpp"

namespace vornconv {

class Converter {
public:
    // aux is the AUX file's writer, or nullptr without -f. max_samples is the
    // capacity of the sample buffer in samples per channel.
    Converter(const ConvOptions& options, vorn::ByteReader& in, vorn::Writer& out, vorn::Writer& err,
              vorn::Writer* aux, std::string_view program, int64_t max_samples = vorn::MXSMP);
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The whole run: header, blocks, end of run. Everything the run writes
    // has been handed to the writers when it returns; the caller flushes
    // them and exits with the status.
    ConvStatus run();

    const vorn::HeaderValues& header() const { return s_.header(); }

private:
    // What follows a block.
    enum class Flow {
        read_next,   // read the next type byte
        have_next,   // the block has read the next type byte already
        ended,       // the input ended where a block may end (trailer, status run)
        cut_short,   // the input ended inside the block
        failed,      // the run has failed (status_ set)
    };

    bool read_header(int& first_type);
    Flow sample_blocks(bool tagged);
    Flow gps_block();
    Flow status_block();
    Flow status_run();
    Flow aux_block();
    void info_prefix(const char* kind);
    void abrupt_stop();
    void end_of_run();

    const ConvOptions& o_;
    vorn::ByteReader& in_;
    vorn::Writer& out_;
    vorn::Writer& err_;
    std::string_view program_;
    int64_t max_samples_;

    vorn::RecorderStream s_;
    bool header_line_written_ = false;
    int next_type_ = 0;
    ConvStatus status_ = ConvStatus::ok;

    std::unique_ptr<TagModel> model_;
    AuxOutput aux_;
};

}  // namespace vornconv
