// The converter: reads one recorder stream and writes the text record
// stream, the BOS and EOS lines, its messages and the AUX file.
//
// Recorder stream: a text header of name/value pairs ended by the first type
// byte (top bit set) other than the fill byte 0xF0, then blocks, each a type
// byte and its payload:
//
//   type byte   block               payload
//   0x80        sample              4 bytes per channel, channel 0 first
//   0x90        tagged sample       as 0x80; the next GPS block gives its time
//   0xA0        GPS                 76-character GPS string, then a
//                                   time-shift block 0xB0-0xBF with 2 bytes
//   0xC0        status              overrun flag byte, status value byte
//   0xCF        status run          data bytes up to the next type byte
//   0xD1        aux                 descriptor byte and its records
//   0xE0        trailer             text to the end of the stream
//   others      no payload
//
// Bytes 0x00-0x0F where a type byte belongs mark a damaged stretch; other
// data bytes there are passed over.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "auxout.hpp"
#include "calendar.hpp"
#include "convoptions.hpp"
#include "io.hpp"
#include "recorder.hpp"
#include "samplebuffer.hpp"
#include "sampleout.hpp"
#include "textlines.hpp"
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

    const vorn::HeaderValues& header() const { return h_; }

private:
    // What follows a block.
    enum class Flow {
        read_next,   // read the next type byte
        have_next,   // the block has read the next type byte already
        ended,       // the input ended where a block may end (trailer, status run)
        cut_short,   // the input ended inside the block
        failed,      // the run has failed (status_ set)
    };

    ConvStatus convert();
    bool read_header(int& first_type);
    Flow sample_blocks(bool tagged);
    bool store_sample(const uint8_t* bytes);
    bool fast_samples(bool& tagged);
    bool check_count();
    void reset_check();
    Flow gps_block();
    Flow status_block();
    Flow status_run();
    Flow aux_block();
    Flow trailer();
    void flush();
    void data_beyond_gps();
    void end_of_run();
    void buffer_failure(bool full);
    void info_prefix(const char* kind);
    void abrupt_stop();

    const ConvOptions& o_;
    vorn::ByteReader& in_;
    vorn::Writer& out_;
    vorn::Writer& err_;
    std::string_view program_;
    int64_t max_samples_;

    vorn::HeaderValues h_;
    bool header_line_written_ = false;
    int ch_ = 1;

    std::unique_ptr<SampleBuffer> buf_;
    int64_t nsample_ = 0;
    int64_t ibuf_ = 0;
    int64_t sample_tag_ = -1;  // no tagged sample among the buffered ones
    int64_t next_check_ = 0;   // ibuf at which a warning or the limit is due

    bool stream_written_ = false;
    bool problem_ = false;
    int64_t sec_ = 0;
    int64_t last_sample_with_time_ = -1;
    double last_f1_ = 0.0;
    int next_type_ = 0;
    ConvStatus status_ = ConvStatus::ok;

    std::unique_ptr<TagModel> model_;
    AuxOutput aux_;
    vorn::DateText date_;
    SampleSink sink_;  // sample lines, straight into out_
};

}  // namespace vornconv
