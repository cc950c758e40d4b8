#include "converter.hpp"

#include "format.hpp"
#include "sampleout.hpp"

namespace vornconv {

using vorn::format_to;

Converter::Converter(const ConvOptions& options, vorn::ByteReader& in, vorn::Writer& out, vorn::Writer& err,
                     vorn::Writer* aux, std::string_view program, int64_t max_samples)
    : o_(options), in_(in), out_(out), err_(err), program_(program), max_samples_(max_samples), aux_(aux), sink_(out) {}

// The header: bytes up to the first type byte other than the fill byte,
// split into name/value tokens.
bool Converter::read_header(int& first_type) {
    vorn::HeaderTokens tokens;
    for (;;) {
        const int b = in_.get();
        if (b < 0) return false;
        if (vorn::header_byte(tokens, static_cast<uint8_t>(b))) {
            first_type = b;
            break;
        }
    }
    tokens.for_each_pair(
        [&](std::string_view name, std::string_view value) { vorn::assign_tag(h_, name, value); });
    return true;
}

ConvStatus Converter::run() { return convert(); }

ConvStatus Converter::convert() {
    int type = 0;
    if (!read_header(type)) {
        format_to(err_, "%s ERROR: no header/data in stream\n", {program_});
        return ConvStatus::fatal;
    }
    vorn::write_bos_line(err_, h_);
    err_.flush();
    if (!vorn::header_supported(h_)) {
        vorn::report_unsupported_header(err_, program_, h_);
        return ConvStatus::fatal;
    }
    ch_ = h_.CH_NUM;
    if (!o_.gps_t_only && !o_.gps_string_only) {
        vorn::write_header_line(out_, h_);
        header_line_written_ = true;
    }

    TagSettings settings;
    settings.mode = o_.gps_raw_mode ? TagMode::raw : o_.obh_mode ? TagMode::obh : TagMode::normal;
    settings.minimum_gps_counts = o_.minimum_gps_counts;
    settings.check_for_gps_moved = o_.check_for_gps_moved;
    settings.gps_utc_valid = o_.gps_utc_valid;
    settings.D_FILT = h_.D_FILT;
    settings.S_RATE = h_.S_RATE;
    model_ = std::make_unique<TagModel>(settings);
    buf_ = std::make_unique<SampleBuffer>(ch_, max_samples_);
    reset_check();

    for (;;) {
        Flow flow = Flow::read_next;
        switch (type) {
            case 0x80: flow = sample_blocks(false); break;
            case 0x90: flow = sample_blocks(true); break;
            case 0xA0: flow = gps_block(); break;
            case 0xC0: flow = status_block(); break;
            case 0xCF: flow = status_run(); break;
            case 0xD1: flow = aux_block(); break;
            case 0xE0: flow = trailer(); break;
            default: break;  // no payload
        }
        if (flow == Flow::failed) return status_;
        if (flow == Flow::ended) break;
        if (flow == Flow::cut_short) {
            abrupt_stop();
            break;
        }
        if (flow == Flow::have_next) {
            type = next_type_;
            continue;
        }
        int b = in_.get();
        if (b < 0) {
            abrupt_stop();
            break;
        }
        if ((b >> 4) == 0) {
            // A damaged stretch: bytes 0x00-0x0F where a type byte belongs.
            int64_t ecount = 0;
            while (b >= 0 && (b >> 4) == 0) {
                ++ecount;
                b = in_.get();
            }
            if (b < 0) break;  // the stretch runs to the end of input
            const vorn::CivilTime t = vorn::utc_gmtime(sec_);
            format_to(err_,
                      "%s ERROR: Vorn %s timing problem from  %4d-%02d-%02dT%02d:%02d:%02d with block problem at "
                      "position %ld occured %ld times\n",
                      {program_, h_.DEV_NO.view(), t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                       t.tm_sec, in_.count() - ecount, ecount});
            err_.flush();
            problem_ = true;
        }
        type = b;
    }
    end_of_run();
    return status_;
}

void Converter::abrupt_stop() {
    format_to(err_, "Warning: Vorn %s data acquisition stopped abruptly\n", {h_.DEV_NO.view()});
    err_.flush();
}

// ---- samples ----------------------------------------------------------------

inline bool Converter::store_sample(const uint8_t* p) {
    if (!buf_->make_room(ibuf_)) {
        buffer_failure(false);
        return false;
    }
    int32_t* d = buf_->at(ibuf_);
    switch (ch_) {
        case 3: d[2] = vorn::sample24(p[8], p[9], p[10], p[11]); [[fallthrough]];
        case 2: d[1] = vorn::sample24(p[4], p[5], p[6], p[7]); [[fallthrough]];
        default: d[0] = vorn::sample24(p[0], p[1], p[2], p[3]);
    }
    if (!o_.diag) ++ibuf_;
    if (ibuf_ >= next_check_ && !check_count()) return false;
    ++nsample_;
    return true;
}

// Sample block: four bytes per channel (see sample24). Runs of sample blocks
// are decoded straight from the input buffer while whole blocks are there.
Converter::Flow Converter::sample_blocks(bool tagged) {
    const auto need = static_cast<std::size_t>(4 * ch_);
    uint8_t spare[12];
    for (;;) {
        if (!o_.diag && fast_samples(tagged)) return Flow::read_next;
        if (tagged) sample_tag_ = ibuf_;
        const uint8_t* p;
        if (in_.available() >= need) {
            p = in_.data();
            in_.consume(need);
        } else {
            if (in_.read(spare, need) < need) return Flow::cut_short;
            p = spare;
        }
        if (!store_sample(p)) return Flow::failed;
        if (in_.available() > need) {
            const uint8_t next = *in_.data();
            if (next == 0x80 || next == 0x90) {
                in_.consume(1);
                tagged = next == 0x90;
                continue;
            }
        }
        return Flow::read_next;
    }
}

// The common case of the loop above, for the bulk of a recording: while the
// input buffer holds a whole block and the type byte after it, the buffer has
// room and no warning is due, blocks are decoded without further checks.
// Returns true when it stopped at a type byte that is not a sample block
// (left unread); false when the general path must take the next block
// (whose type byte, 0x80 or 0x90, has been consumed, tagged telling which).
namespace {

// Decodes consecutive sample blocks of ch channels from p while p < last
// (the block and the type byte after it lie before the end) and fewer than
// count have been stored at d. Returns the bytes taken; stops before a type
// byte that is not 0x80 or 0x90 (stopped set), or after the type byte of the
// next sample block (tagged tells which).
template <int ch>
std::size_t decode_run(const uint8_t* const start, const uint8_t* const last, int32_t* d, int64_t count,
                       int64_t first, bool& tagged, int64_t& tag, int64_t& stored, bool& stopped) {
    constexpr std::size_t need = 4 * ch;
    const uint8_t* p = start;
    int64_t i = 0;
    while (p < last && i < count) {
        if (tagged) tag = first + i;
        for (int c = 0; c < ch; ++c) d[c] = vorn::sample24(p[4 * c], p[4 * c + 1], p[4 * c + 2], p[4 * c + 3]);
        d += ch;
        ++i;
        const uint8_t next = p[need];
        if (next != 0x80 && next != 0x90) {
            p += need;  // the type byte stays unread
            stopped = true;
            break;
        }
        p += need + 1;
        tagged = next == 0x90;
    }
    stored = i;
    return static_cast<std::size_t>(p - start);
}

}  // namespace

bool Converter::fast_samples(bool& tagged) {
    const auto need = static_cast<std::size_t>(4 * ch_);
    const std::size_t avail = in_.available();
    const uint8_t* const start = in_.data();
    const uint8_t* const last = start + (avail > need ? avail - need - 1 : 0);
    int64_t limit = next_check_ - 1;
    if (buf_->capacity() < limit) limit = buf_->capacity();
    if (ibuf_ >= limit) return false;
    int32_t* d = buf_->at(ibuf_);
    bool stopped = false;
    int64_t stored = 0;
    std::size_t taken;
    switch (ch_) {
        case 1: taken = decode_run<1>(start, last, d, limit - ibuf_, ibuf_, tagged, sample_tag_, stored, stopped); break;
        case 2: taken = decode_run<2>(start, last, d, limit - ibuf_, ibuf_, tagged, sample_tag_, stored, stopped); break;
        default: taken = decode_run<3>(start, last, d, limit - ibuf_, ibuf_, tagged, sample_tag_, stored, stopped); break;
    }
    ibuf_ += stored;
    nsample_ += stored;
    in_.consume(taken);
    return stopped;
}

// The buffer limit and the warnings on long stretches without a valid tag.
bool Converter::check_count() {
    if (ibuf_ > max_samples_ - 1) {
        buffer_failure(true);
        return false;
    }
    const int64_t rate = h_.S_RATE;
    if (ibuf_ == rate * 21600) format_to(err_, "Warning: no GPS signal for more than 6 hours!\n");
    if (ibuf_ == rate * 86400) format_to(err_, "Warning: no GPS signal for more than 1   day!\n");
    if (ibuf_ == rate * 864000) format_to(err_, "Warning: no GPS signal for more than 10 days!\n");
    err_.flush();
    next_check_ = max_samples_;
    for (int64_t t : {rate * 21600, rate * 86400, rate * 864000})
        if (t > ibuf_ && t < next_check_) next_check_ = t;
    return true;
}

void Converter::reset_check() {
    const int64_t rate = h_.S_RATE;
    next_check_ = max_samples_;
    for (int64_t t : {rate * 21600, rate * 86400, rate * 864000})
        if (t > 0 && t < next_check_) next_check_ = t;
}

// A full buffer or no memory: the samples buffered since the last valid tag
// are lost. A run that has written its header line closes its output with
// the error line, so that the stages after it stop too.
void Converter::buffer_failure(bool full) {
    if (header_line_written_) vorn::write_error_line(out_, ch_);
    if (full)
        format_to(err_,
                  "%s ERROR: max number of sample w/o GPS exceeds %ld, increase MXSMP in vorn and recompile\n",
                  {program_, max_samples_});
    else
        format_to(err_, "%s ERROR: malloc failed, not enough core memory\n", {program_});
    status_ = ConvStatus::fatal;
}

// ---- GPS block --------------------------------------------------------------

// GPS block: 76 characters of GPS string (fields in recorder.hpp), then a
// time-shift block: a type byte 0xB0-0xBF and two bytes t0 t1, count
// t0 * 128 + t1 in units of 2.44140625 us. The whole block is read before it
// is judged, so that a block cut short by the end of input is dropped whole.
Converter::Flow Converter::gps_block() {
    vorn::GpsString gps;
    if (in_.read(gps.bytes.data(), gps.bytes.size()) < gps.bytes.size()) return Flow::cut_short;
    const int shift_type = in_.get();
    if (shift_type < 0) return Flow::cut_short;
    const bool have_shift = (shift_type >> 4) == 0xB;
    uint8_t t[2] = {0, 0};
    if (have_shift && in_.read(t, 2) < 2) return Flow::cut_short;

    TagModel& m = *model_;
    m.read_time(gps);
    if (problem_) {
        const vorn::CivilTime& own = m.own_time();
        format_to(err_, "%s ERROR: Vorn %s timing problem until %4d-%02d-%02dT%02d:%02d:%02d\n",
                  {program_, h_.DEV_NO.view(), own.tm_year + 1900, own.tm_mon + 1, own.tm_mday, own.tm_hour,
                   own.tm_min, own.tm_sec});
        err_.flush();
        problem_ = false;
    }
    m.read_fields(gps);
    if (o_.gps_string_only) {
        write_gps_string_line(out_, gps, m.temperature(), m.elevation(), m.t_new());
    }
    m.check_offset(err_);
    if (!have_shift) {
        vorn::write_error_line(out_, ch_);
        format_to(err_, "%s ERROR: no t shift after GPS string, data stream not valid\n", {program_});
        status_ = ConvStatus::no_time_shift;
        return Flow::failed;
    }
    const int32_t count = vorn::tshift_count(t[0], t[1]);
    const bool valid = m.judge(count, err_);

    const vorn::SplitTime f1 = vorn::split_time(m.f1());
    if (o_.diag) {
        write_diagnostic_line(out_, gps, m.t_new(), f1, m.own_time(), count, nsample_, m.not_valid() ? 1 : 0);
    }
    if (!valid)
        sec_ = f1.sec;
    else if (!o_.diag)
        flush();
    return Flow::read_next;
}

// A valid tag: every buffered sample is written, the tagged one with the
// tag's time, the others without a time.
void Converter::flush() {
    const int64_t base = nsample_ - ibuf_;
    const bool untimed = !o_.gps_t_only && !o_.gps_string_only;
    int64_t from = 0;
    if (sample_tag_ >= 0 && sample_tag_ < ibuf_) {
        if (untimed) sink_.untimed_run(base, buf_->at(0), ch_, sample_tag_);
        const vorn::SplitTime t = vorn::split_time(model_->f1());
        sec_ = t.sec;
        if (!o_.gps_string_only) {
            sink_.timed(base + sample_tag_, buf_->at(sample_tag_), ch_, t,
                             o_.gps_t_only ? date_.of(t.sec) : std::string_view());
            stream_written_ = true;
            last_sample_with_time_ = base + sample_tag_;
            last_f1_ = model_->f1();
        }
        from = sample_tag_ + 1;
    }
    if (untimed && from < ibuf_) sink_.untimed_run(base + from, buf_->at(from), ch_, ibuf_ - from);
    ibuf_ = 0;
    // The tagged sample has been written: the next stretch has none until a
    // tagged sample block arrives.
    sample_tag_ = -1;
    reset_check();
}

// ---- status, aux, trailer ---------------------------------------------------

void Converter::info_prefix(const char* kind) {
    const vorn::CivilTime& own = model_->own_time();
    format_to(err_, "Info : %ld %4d-%02d-%02dT%02d:%02d:%02d ",
              {nsample_, own.tm_year + 1900, own.tm_mon + 1, own.tm_mday, own.tm_hour, own.tm_min, own.tm_sec});
    err_.put(kind);
    err_.put(" value= ");
}

// Status block: overrun flag byte (1: the recorder lost data), status byte.
Converter::Flow Converter::status_block() {
    if (o_.diagnostics) info_prefix("xC0");
    const int flag = in_.get();
    if (flag < 0) {
        if (o_.diagnostics) err_.put('\n');
        return Flow::cut_short;
    }
    if (o_.diagnostics) format_to(err_, "%d ", {flag});
    if (flag == 1) {
        const vorn::CivilTime& own = model_->own_time();
        format_to(err_, "ERROR: VORN buffer overrun detected, conversion aborted! : %ld %4d-%02d-%02dT%02d:%02d:%02d\n",
                  {nsample_, own.tm_year + 1900, own.tm_mon + 1, own.tm_mday, own.tm_hour, own.tm_min, own.tm_sec});
        vorn::write_error_line(out_, ch_);
        status_ = ConvStatus::buffer_overrun;
        return Flow::failed;
    }
    const int value = in_.get();
    if (value < 0) {
        if (o_.diagnostics) err_.put('\n');
        return Flow::cut_short;
    }
    if (o_.diagnostics) {
        format_to(err_, "%d\n", {value});
        err_.flush();
    }
    return Flow::read_next;
}

// Status run: data bytes up to the next type byte, which opens the next block.
Converter::Flow Converter::status_run() {
    if (o_.diagnostics) info_prefix("xCF");
    for (;;) {
        const int b = in_.get();
        if (b < 0 || b >= 0x80) {
            if (o_.diagnostics) {
                err_.put('\n');
                err_.flush();
            }
            if (b < 0) return Flow::ended;
            next_type_ = b;
            return Flow::have_next;
        }
        if (o_.diagnostics) format_to(err_, "%d ", {b});
    }
}

Converter::Flow Converter::aux_block() {
    const int d = in_.get();
    if (d < 0) return Flow::cut_short;
    const AuxDescriptor desc = aux_descriptor(static_cast<uint8_t>(d));
    uint8_t payload[16];
    const std::size_t n = desc.payload();
    if (in_.read(payload, n) < n) return Flow::cut_short;
    const AuxTime t = aux_record_time(model_->first_valid_pps(), model_->f1(), ibuf_, h_.S_RATE);
    sec_ = t.sec;
    aux_.record(desc, payload, t.sec, t.ms);
    return Flow::read_next;
}

// Trailer: everything after 0xE0 to the end of the stream.
Converter::Flow Converter::trailer() {
    vorn::TrailerText text;
    for (std::size_t n; (n = in_.available()) > 0;) {
        const uint8_t* p = in_.data();
        for (std::size_t i = 0; i < n; ++i) text.add(p[i]);
        in_.consume(n);
    }
    vorn::write_eos_line(err_, text.view());
    err_.flush();
    return Flow::ended;
}

// ---- end of run -------------------------------------------------------------

// -a: the samples after the last valid tag, the last one with a time carried
// forward from the last timed sample at the nominal rate plus the drift.
void Converter::data_beyond_gps() {
    if (ibuf_ == 0) return;
    if (!stream_written_) {
        // No time to carry forward: every buffered sample goes out untimed.
        if (!o_.gps_t_only) sink_.untimed_run(nsample_ - ibuf_, buf_->at(0), ch_, ibuf_);
        return;
    }
    if (!o_.gps_t_only) sink_.untimed_run(nsample_ - ibuf_, buf_->at(0), ch_, ibuf_ - 1);
    const int64_t e = nsample_ - 1 - last_sample_with_time_;
    const int64_t E = e / h_.S_RATE;
    const double t = last_f1_ + static_cast<double>(e) / h_.S_RATE + static_cast<double>(E) / 86400.0 * o_.adrift / 1000.0;
    const LineTime lt = line_time(t);
    if (!lt.valid) {
        // A drift that carries the time beyond any calendar gives no time.
        if (!o_.gps_t_only) sink_.untimed_run(nsample_ - 1, buf_->at(ibuf_ - 1), ch_, 1);
        return;
    }
    sec_ = lt.t.sec;
    sink_.timed(nsample_ - 1, buf_->at(ibuf_ - 1), ch_, lt.t,
                     o_.gps_t_only ? date_.of(lt.t.sec) : std::string_view());
}

void Converter::end_of_run() {
    if (o_.data_beyond_gps) data_beyond_gps();
    if (!stream_written_ && !o_.gps_string_only && !o_.gps_t_only) {
        vorn::write_error_line(out_, ch_);
        format_to(err_, "%s ERROR: No useful data in vornconv! Check if input are actually VORN files\n", {program_});
        err_.flush();
    }
}

}  // namespace vornconv
