#include "stream.hpp"

#include <cmath>

#include "format.hpp"
#include "textparse.hpp"

namespace vorn {

RecorderStream::RecorderStream(ByteReader& in, Writer& out, Writer& err, std::string_view program)
    : in_(in), out_(out), err_(err), program_(program), sink_(out) {}

void RecorderStream::start(const StreamRules& rules) {
    rules_ = rules;
    ch_ = h_.CH_NUM;
    buf_ = std::make_unique<SampleBuffer>(ch_, rules_.max_samples, rules_.reallocate);
    reset_check();
}

// ---- samples ----------------------------------------------------------------

inline bool RecorderStream::store_sample(const uint8_t* p, SampleStep& step) {
    if (!buf_->make_room(ibuf_)) {
        step = SampleStep::no_memory;
        return false;
    }
    int32_t* d = buf_->at(ibuf_);
    switch (ch_) {
        case 3: d[2] = sample24(p[8], p[9], p[10], p[11]); [[fallthrough]];
        case 2: d[1] = sample24(p[4], p[5], p[6], p[7]); [[fallthrough]];
        default: d[0] = sample24(p[0], p[1], p[2], p[3]);
    }
    if (!rules_.diag) ++ibuf_;
    if (ibuf_ >= next_check_ && !check_count(step)) return false;
    ++nsample_;
    return true;
}

SampleStep RecorderStream::sample_blocks(bool tagged) {
    const auto need = kSampleBytes * static_cast<std::size_t>(ch_);
    uint8_t spare[kSampleBytes * kMaxChannels];
    SampleStep step = SampleStep::ok;
    for (;;) {
        if (!rules_.diag && fast_samples(tagged)) return SampleStep::ok;
        if (tagged) sample_tag_ = ibuf_;
        const uint8_t* p;
        if (in_.available() >= need) {
            p = in_.data();
            in_.consume(need);
        } else {
            if (in_.read(spare, need) < need) return SampleStep::cut_short;
            p = spare;
        }
        if (!store_sample(p, step)) return step;
        if (in_.available() > need) {
            const uint8_t next = *in_.data();
            if (next == kSampleBlock || next == kTaggedSampleBlock) {
                in_.consume(1);
                tagged = next == kTaggedSampleBlock;
                continue;
            }
        }
        return SampleStep::ok;
    }
}

namespace {

// What decode_run did.
struct DecodedRun {
    std::size_t taken = 0;  // bytes consumed
    int64_t stored = 0;     // samples stored
    bool stopped = false;   // it stopped before a type byte of another block
};

// The common case of the loop above, for the bulk of a recording: decodes
// consecutive sample blocks of ch channels from start while the block and
// the type byte after it lie before last, and fewer than count samples have
// been stored at d (the buffer has room and no warning is due). It stops
// before a type byte that is not 0x80 or 0x90 (left unread: stopped), or
// after the type byte of the next sample block (tagged then tells which;
// the general path takes that block). tag takes the index (first + i) of
// each tagged sample.
template <int ch>
DecodedRun decode_run(const uint8_t* const start, const uint8_t* const last, int32_t* d, int64_t count,
                      int64_t first, bool& tagged, int64_t& tag) {
    constexpr std::size_t need = kSampleBytes * ch;
    const uint8_t* p = start;
    DecodedRun r;
    int64_t i = 0;
    while (p < last && i < count) {
        if (tagged) tag = first + i;
        for (int c = 0; c < ch; ++c) d[c] = sample24(p[4 * c], p[4 * c + 1], p[4 * c + 2], p[4 * c + 3]);
        d += ch;
        ++i;
        const uint8_t next = p[need];
        if (next != kSampleBlock && next != kTaggedSampleBlock) {
            p += need;
            r.stopped = true;
            break;
        }
        p += need + 1;
        tagged = next == kTaggedSampleBlock;
    }
    r.stored = i;
    r.taken = static_cast<std::size_t>(p - start);
    return r;
}

}  // namespace

// True when it stopped at a type byte of another block (left unread); false
// when the general path must take the next block.
bool RecorderStream::fast_samples(bool& tagged) {
    const auto need = kSampleBytes * static_cast<std::size_t>(ch_);
    const std::size_t avail = in_.available();
    const uint8_t* const start = in_.data();
    const uint8_t* const last = start + (avail > need ? avail - need - 1 : 0);
    int64_t limit = next_check_ - 1;
    if (buf_->capacity() < limit) limit = buf_->capacity();
    if (ibuf_ >= limit) return false;
    int32_t* d = buf_->at(ibuf_);
    DecodedRun r;
    switch (ch_) {
        case 1: r = decode_run<1>(start, last, d, limit - ibuf_, ibuf_, tagged, sample_tag_); break;
        case 2: r = decode_run<2>(start, last, d, limit - ibuf_, ibuf_, tagged, sample_tag_); break;
        default: r = decode_run<3>(start, last, d, limit - ibuf_, ibuf_, tagged, sample_tag_); break;
    }
    ibuf_ += r.stored;
    nsample_ += r.stored;
    in_.consume(r.taken);
    return r.stopped;
}

// The buffer limit and the warnings on long stretches without a valid tag.
bool RecorderStream::check_count(SampleStep& step) {
    if (ibuf_ > rules_.max_samples - 1) {
        step = SampleStep::full;
        return false;
    }
    const int64_t rate = h_.S_RATE;
    // "1   day" with three spaces: kept on purpose, stored scripts expect it.
    if (ibuf_ == rate * 21600) format_to(err_, "Warning: no GPS signal for more than 6 hours!\n");
    if (ibuf_ == rate * 86400) format_to(err_, "Warning: no GPS signal for more than 1   day!\n");
    if (ibuf_ == rate * 864000) format_to(err_, "Warning: no GPS signal for more than 10 days!\n");
    err_.flush();
    next_check_ = rules_.max_samples;
    for (int64_t t : {rate * 21600, rate * 86400, rate * 864000})
        if (t > ibuf_ && t < next_check_) next_check_ = t;
    return true;
}

void RecorderStream::reset_check() {
    const int64_t rate = h_.S_RATE;
    next_check_ = rules_.max_samples;
    for (int64_t t : {rate * 21600, rate * 86400, rate * 864000})
        if (t > 0 && t < next_check_) next_check_ = t;
}

// ---- type bytes and damaged stretches -------------------------------------------

void RecorderStream::problem_prefix() {
    if (rules_.name_in_problem_messages) {
        err_.put(program_);
        err_.put(' ');
    }
    err_.put("ERROR: Vorn ");
    err_.put(h_.DEV_NO.view());
}

int RecorderStream::next_type_byte() {
    int b = in_.get();
    if (b < 0 || !is_damage_byte(b)) return b < 0 ? kEndOfInput : b;
    int64_t ecount = 0;
    while (b >= 0 && is_damage_byte(b)) {
        ++ecount;
        b = in_.get();
    }
    if (b < 0) return kEndInDamage;
    problem_prefix();
    err_.put(" timing problem from  ");
    write_datetime(err_, utc_gmtime(sec_));
    // Two spaces after "from" and "occured": kept on purpose, stored scripts
    // search the logs for this text.
    format_to(err_, " with block problem at position %ld occured %ld times\n", {in_.count() - ecount, ecount});
    err_.flush();
    problem_ = true;
    return b;
}

void RecorderStream::close_problem(const CivilTime& own) {
    if (!problem_) return;
    problem_prefix();
    err_.put(" timing problem until ");
    write_datetime(err_, own);
    err_.put('\n');
    err_.flush();
    problem_ = false;
}

// ---- GPS block --------------------------------------------------------------

bool RecorderStream::read_gps_block(GpsBlock& b) {
    if (in_.read(b.gps.bytes.data(), GpsString::kLength) < GpsString::kLength) return false;
    const int shift_type = in_.get();
    if (shift_type < 0) return false;
    b.has_shift = is_shift_type(shift_type);
    b.count = 0;
    if (b.has_shift) {
        uint8_t t[kShiftBytes];
        if (in_.read(t, kShiftBytes) < kShiftBytes) return false;
        b.count = tshift_count(t[0], t[1]);
    }
    return true;
}

void RecorderStream::flush(double f1, const FlushLines& lines) {
    const int64_t base = nsample_ - ibuf_;
    int64_t from = 0;
    if (sample_tag_ >= 0 && sample_tag_ < ibuf_) {
        if (lines.untimed) sink_.untimed_run(base, buf_->at(0), ch_, sample_tag_);
        const SplitTime t = split_time(f1);
        sec_ = t.sec;
        if (lines.timed) {
            sink_.timed(base + sample_tag_, buf_->at(sample_tag_), ch_, t,
                        lines.dated ? date_.of(t.sec) : std::string_view());
            stream_written_ = true;
            last_sample_with_time_ = base + sample_tag_;
            last_f1_ = f1;
        }
        from = sample_tag_ + 1;
    }
    if (lines.untimed && from < ibuf_) sink_.untimed_run(base + from, buf_->at(from), ch_, ibuf_ - from);
    ibuf_ = 0;
    if (!rules_.keep_sample_tag_after_flush) sample_tag_ = -1;
    reset_check();
}

void RecorderStream::tail(double drift_ms_per_day, bool untimed, bool dated) {
    if (ibuf_ == 0) return;
    if (!stream_written_) {
        // No time to carry forward.
        if (untimed) sink_.untimed_run(nsample_ - ibuf_, buf_->at(0), ch_, ibuf_);
        return;
    }
    if (untimed) sink_.untimed_run(nsample_ - ibuf_, buf_->at(0), ch_, ibuf_ - 1);
    const int64_t e = nsample_ - 1 - last_sample_with_time_;
    const int64_t E = e / h_.S_RATE;
    const double t = last_f1_ + static_cast<double>(e) / h_.S_RATE +
                     static_cast<double>(E) / 86400.0 * drift_ms_per_day / 1000.0;
    const LineTime lt = line_time(t);
    if (!lt.valid) {
        // A drift that carries the time beyond any calendar gives no time.
        if (untimed) sink_.untimed_run(nsample_ - 1, buf_->at(ibuf_ - 1), ch_, 1);
        return;
    }
    sec_ = lt.t.sec;
    sink_.timed(nsample_ - 1, buf_->at(ibuf_ - 1), ch_, lt.t, dated ? date_.of(lt.t.sec) : std::string_view());
}

void RecorderStream::trailer() {
    TrailerText text;
    for (std::size_t n; (n = in_.available()) > 0;) {
        const uint8_t* p = in_.data();
        for (std::size_t i = 0; i < n; ++i) text.add(p[i]);
        in_.consume(n);
    }
    write_eos_line(err_, text.view());
    err_.flush();
}

bool shared_option(SharedOptions& o, int letter, const char* operand) {
    switch (letter) {
        case 'x': o.minimum_gps_counts = atoi_like(operand != nullptr ? operand : ""); return true;
        case 'u': o.gps_utc_valid = true; return true;
        case 'g': o.gps_string_only = true; return true;
        case 't': o.gps_t_only = true; return true;
        case 'd': o.diag = true; return true;
        case 's': o.obh_mode = true; return true;
        default: return false;
    }
}

// ---- the GPS string's position and offset -------------------------------------

void PositionMeans::add(int32_t latitude, int32_t longitude) {
    if (n == 0) {
        lat = latitude;
        lon = longitude;
    } else if (n <= 99) {
        lat = static_cast<int32_t>((n * lat + latitude) / (n + 1));
        lon = static_cast<int32_t>((n * lon + longitude) / (n + 1));
    }
    ++n;
}

bool PositionMeans::moved(int32_t latitude, int32_t longitude) const {
    const int64_t dlat = int64_t{lat} - latitude;
    const int64_t dlon = int64_t{lon} - longitude;
    return std::sqrt(static_cast<double>(dlat * dlat + dlon * dlon)) > 2.0;
}

void check_offset_change(int32_t flag, int32_t offset, int32_t& previous, Writer& err) {
    if (flag == 1 && offset != previous && previous != -1) {
        format_to(err, "Warning: GPS UTC offset changed from %d to %d during recording\n", {previous, offset});
        err.flush();
    }
    previous = offset;
}

}  // namespace vorn
