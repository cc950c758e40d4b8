#include "packer.hpp"

#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "program.hpp"

namespace vorn::grid2mseed {

namespace {

// The template of every record: codes, quality D, big-endian, and a
// blockette 1001 so that libmseed writes the start time's microseconds.
MSRecord* make_template(const StreamCodes& codes, int channel, int32_t reclen, int64_t step_us) {
    MSRecord* msr = msr_init(nullptr);
    if (msr == nullptr) fail(Exit::fatal, "%s ERROR: no memory for a record\n", {program_name()});
    std::snprintf(msr->network, sizeof msr->network, "%s", codes.network.c_str());
    std::snprintf(msr->station, sizeof msr->station, "%s", codes.station.c_str());
    std::snprintf(msr->location, sizeof msr->location, "%s", codes.location.c_str());
    if (channel >= 0 && channel < static_cast<int>(codes.channels.size()))
        std::snprintf(msr->channel, sizeof msr->channel, "%s", codes.channels[static_cast<std::size_t>(channel)].c_str());
    msr->dataquality = 'D';
    msr->reclen = reclen;
    msr->byteorder = 1;  // big-endian
    msr->sampletype = 'i';
    msr->samprate = 1000000.0 / static_cast<double>(step_us);
    struct blkt_1001_s b1001;
    std::memset(&b1001, 0, sizeof b1001);
    if (msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0) == nullptr)
        fail(Exit::fatal, "%s ERROR: no memory for a record\n", {program_name()});
    msr->ststate = static_cast<StreamState*>(std::calloc(1, sizeof(StreamState)));
    if (msr->ststate == nullptr) fail(Exit::fatal, "%s ERROR: no memory for a record\n", {program_name()});
    return msr;
}

void keep_first(char* record, int length, void* data) {
    auto* kept = static_cast<std::vector<char>*>(data);
    if (kept->empty()) kept->assign(record, record + length);
}

}  // namespace

void set_sequence_number(char* record, int64_t seq) {
    for (int i = 5; i >= 0; --i) {
        record[i] = static_cast<char>('0' + seq % 10);
        seq /= 10;
    }
}

int8_t libmseed_encoding(Encoding e) {
    switch (e) {
        case Encoding::steim1: return DE_STEIM1;
        case Encoding::int32: return DE_INT32;
        case Encoding::steim2: break;
    }
    return DE_STEIM2;
}

double header_rate(int64_t step_us, int32_t reclen) {
    if (step_us <= 0) return 0.0;
    const StreamCodes codes{"XX", "PROBE", "", {"HHZ"}};
    MSRecord* msr = make_template(codes, 0, reclen, step_us);
    int32_t sample = 0;
    msr->datasamples = &sample;
    msr->numsamples = 1;
    msr->encoding = DE_INT32;
    msr->starttime = 0;
    std::vector<char> kept;
    int64_t packed = 0;
    const int records = msr_pack(msr, keep_first, &kept, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    if (records != 1 || kept.size() != static_cast<std::size_t>(reclen)) return 0.0;
    MSRecord* back = nullptr;
    double rate = 0.0;
    if (msr_parse(kept.data(), reclen, &back, reclen, 0, 0) == MS_NOERROR) rate = back->samprate;
    msr_free(&back);
    return rate;
}

int64_t max_record_samples(int64_t step_us, double header_rate) {
    if (!(header_rate > 0.0)) return 1;
    const double error = std::fabs(1000000.0 / header_rate - static_cast<double>(step_us));  // us per sample
    if (error < 1e-9) return INT64_MAX;
    // Sample i lies i * error away from its instant: at most 2 us.
    return static_cast<int64_t>(std::floor(2.0 / error)) + 1;
}

ChannelPacker::ChannelPacker(const StreamCodes& codes, int channel, int32_t reclen, Encoding encoding,
                             int64_t step_us, int64_t max_samples)
    : encoding_(encoding), de_(libmseed_encoding(encoding)), step_(step_us) {
    msr_ = make_template(codes, channel, reclen, step_us);
    msr_->encoding = de_;
    // The data begin after 64 header bytes (fixed section and the two
    // blockettes); Steim-2 holds at most 7 samples in a 4-byte word.
    int32_capacity_ = static_cast<std::size_t>(reclen - 64) / 4;
    full_ = encoding == Encoding::int32 ? int32_capacity_ : static_cast<std::size_t>(reclen) / 4 * 7;
    limit_ = max_samples < static_cast<int64_t>(full_) ? static_cast<std::size_t>(std::max<int64_t>(max_samples, 1))
                                                        : full_;
    capped_ = limit_ < full_;
    buf_.assign(4 * full_, 0);
    captured_.reserve(static_cast<std::size_t>(reclen));
}

ChannelPacker::~ChannelPacker() {
    msr_->datasamples = nullptr;  // the buffer is ours
    msr_free(&msr_);
}

void ChannelPacker::begin(int64_t start_us, RecordSink* sink) {
    n_ = 0;
    start_ = start_us;
    has_prev_ = false;
    sink_ = sink;
}

void ChannelPacker::end() {
    drain(true);
    n_ = 0;
    has_prev_ = false;
}

// The samples from pos on up to the first difference Steim cannot hold.
std::size_t ChannelPacker::steim_run(std::size_t pos) {
    if (encoding_ == Encoding::int32) return n_ - pos;
    const int32_t* b = buf_.data();
    for (std::size_t i = pos + 1; i < n_; ++i)
        if (!steim_difference_fits(b[i - 1], b[i], encoding_)) return i - pos;
    return n_ - pos;
}

void ChannelPacker::drain(bool final) {
    std::size_t pos = 0;
    while (pos < n_) {
        const std::size_t avail = n_ - pos;
        if (!final && avail <= full_) break;  // the next record may not be full yet
        const std::size_t run = steim_run(pos);
        std::size_t done = 0;
        if (!capped_) {
            // Full records as libmseed fills them; without flush it leaves
            // the samples of a record that is not full.
            if (run == avail) done = pack(pos, avail, final, de_, false);
            else if (run > full_) done = pack(pos, run, false, de_, false);
        }
        if (done == 0) done = pack_one(pos, avail, run);
        pos += done;
    }
    if (pos == 0) return;
    has_prev_ = true;
    prev_ = buf_[pos - 1];
    std::memmove(buf_.data(), buf_.data() + pos, (n_ - pos) * sizeof(int32_t));
    n_ -= pos;
    start_ += static_cast<int64_t>(pos) * step_;
}

// One record from pos: as many samples as the encoding fits, up to the
// 2-us limit. A record that would need a difference too wide for Steim is
// written with 32-bit integers instead; when the samples before that
// difference are more than a 32-bit record holds, they go into a Steim
// record of their own that ends before it. Returns the samples it holds.
std::size_t ChannelPacker::pack_one(std::size_t pos, std::size_t avail, std::size_t run) {
    const std::size_t m = std::min({avail, run, limit_});
    pack(pos, m, true, de_, true);
    int64_t count = record_sample_count(captured_.data());
    if (static_cast<std::size_t>(count) == m && run < avail && m == run && run < int32_capacity_) {
        pack(pos, std::min({avail, int32_capacity_, limit_}), true, DE_INT32, true);
        count = record_sample_count(captured_.data());
    }
    sink_->put_record(captured_.data(), captured_.size(), start_ + static_cast<int64_t>(pos) * step_, count);
    return static_cast<std::size_t>(count);
}

std::size_t ChannelPacker::pack(std::size_t pos, std::size_t count, bool flush, int8_t encoding, bool capture) {
    msr_->encoding = encoding;
    msr_->starttime = start_ + static_cast<int64_t>(pos) * step_;
    msr_->datasamples = buf_.data() + pos;
    msr_->numsamples = static_cast<int64_t>(count);
    msr_->sequence_number = 1;  // the sink numbers the records
    // Steim's first difference is taken from the sample before, when the run
    // has one and the difference fits; otherwise it is 0 (readers start
    // from the record's first value either way).
    bool has_before = has_prev_;
    int32_t before = prev_;
    if (pos > 0) {
        has_before = true;
        before = buf_[pos - 1];
    }
    msr_->ststate->lastintsample = before;
    msr_->ststate->comphistory =
        (has_before && encoding != DE_INT32 && steim_difference_fits(before, buf_[pos], encoding_)) ? 1 : 0;
    call_start_ = msr_->starttime;
    call_done_ = 0;
    capture_ = capture;
    captured_.clear();
    int64_t packed = 0;
    const int records = msr_pack(msr_, &ChannelPacker::on_record, this, &packed, flush ? 1 : 0, 0);
    if (records < 0 || (capture && captured_.empty()))
        fail(Exit::fatal, "%s ERROR: libmseed could not pack the records of %s\n", {program_name(), msr_->channel});
    return static_cast<std::size_t>(packed);
}

void ChannelPacker::on_record(char* record, int length, void* self) {
    static_cast<ChannelPacker*>(self)->record(record, length);
}

void ChannelPacker::record(char* record, int length) {
    if (capture_) {
        if (captured_.empty()) captured_.assign(record, record + length);
        return;
    }
    const int64_t count = record_sample_count(record);
    sink_->put_record(record, static_cast<std::size_t>(length), call_start_ + call_done_ * step_, count);
    call_done_ += count;
}

}  // namespace vorn::grid2mseed
