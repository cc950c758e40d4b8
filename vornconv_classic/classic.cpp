#include "classic.hpp"

#include <algorithm>
#include <cmath>

#include "options.hpp"
#include "textlines.hpp"
#include "textparse.hpp"

namespace vorn::classic {

std::string_view status_name(Status s) {
    switch (s) {
    case Status::ok: return "ok";
    case Status::usage: return "usage";
    case Status::no_time_shift: return "no time shift";
    case Status::fatal: return "fatal";
    }
    return "unknown";
}

// ---- Command line -----------------------------------------------------------

void write_usage(Writer& err) {
    format_to(err,
              "Version %s\nusage: vornconv_classic -o gps_utc_offset value < stdin\n"
              "\t[-u time tags only with valid UTC/GPS shifts]\n"
              "\t[-a output data beyond last GPS fix (assuming zero drift)]\n"
              "\t[-g output GPS strings only]\n"
              "\t[-t time tags only]\n"
              "\t[-d diagnostics]\n"
              "\t[-s OBH mode]\n",
              {kVersion});
}

bool parse_command_line(int argc, char** argv, Options& opt, Writer& err) {
    int errors = 0;
    parse_options(argc, argv, "x:ugtads", [&](OptionEvent event, int letter, const char* operand) {
        switch (event) {
        case OptionEvent::unrecognized:
            format_to(err, "Unrecognized option: -%c\n", {static_cast<char>(letter)});
            ++errors;
            return;
        case OptionEvent::missing_operand:
            format_to(err, "Option -%c requires an operand\n", {static_cast<char>(letter)});
            ++errors;
            return;
        case OptionEvent::option:
            break;
        }
        switch (letter) {
        case 'x': opt.minimum_gps_counts = atoi_like(operand != nullptr ? operand : ""); break;
        case 'u': opt.gps_utc_valid = true; break;
        case 'a': opt.data_beyond_gps = true; break;
        case 'g': opt.gps_string_only = true; break;
        case 't': opt.gps_t_only = true; break;
        case 'd': opt.diag = true; break;
        case 's': opt.obh_mode = true; break;
        default: break;
        }
    });
    if (errors > 0) {
        write_usage(err);
        return false;
    }
    return true;
}

// ---- The run ------------------------------------------------------------------

Converter::Converter(const Options& opt, ByteReader& in, Writer& out, Writer& err, std::string_view program)
    : opt_(opt), in_(in), out_(out), err_(err), program_(program) {
    params_.minimum_gps_counts = opt.minimum_gps_counts;
    params_.obh_mode = opt.obh_mode;
    params_.gps_utc_valid = opt.gps_utc_valid;
}

void Converter::note(std::string_view fmt, std::initializer_list<FmtArg> args) {
    format_to(err_, fmt, args);
    err_.flush();
}

void Converter::note_datetime(std::string_view before, int64_t seconds, std::string_view after) {
    err_.put(before);
    write_datetime(err_, utc_gmtime(seconds));
    err_.put(after);
    err_.flush();
}

Status Converter::run() {
    if (!read_header()) {
        note("%s ERROR: no header/data in stream\n", {program_});
        return Status::fatal;
    }
    write_bos_line(err_, h_);
    err_.flush();
    if (!header_supported(h_)) {
        report_unsupported_header(err_, program_, h_);
        return Status::fatal;
    }
    if (!opt_.gps_t_only && !opt_.gps_string_only) write_header_line(out_, h_);

    ch_ = h_.CH_NUM;
    params_.s_rate = h_.S_RATE;
    store_.emplace(ch_, allocate_);
    warn_6h_ = int64_t{h_.S_RATE} * 21600;
    warn_1d_ = int64_t{h_.S_RATE} * 86400;
    warn_10d_ = int64_t{h_.S_RATE} * 864000;

    // The byte that ended the header opens the first block.
    int type = 0x80;
    for (;;) {
        Step step = block(type);
        if (step == Step::fail) return status_;
        if (step == Step::end || end_of_file_header_) break;
        type = next_type_byte();
        if (type < 0) break;
    }
    end_of_run();
    return Status::ok;
}

// Header bytes up to the 0x80 that ends it: " ", "=" and ";" separate
// tokens, 0xF0 is skipped, every other byte is text (a NUL adds nothing).
bool Converter::read_header() {
    HeaderTokens tokens;
    for (;;) {
        int b = in_.get();
        if (b < 0) return false;
        if (b == kFillByte) continue;
        if (b == 0x80) break;
        if (b == ' ' || b == '=' || b == ';') tokens.separator();
        else tokens.add(static_cast<char>(b));
    }
    tokens.for_each_pair([&](std::string_view name, std::string_view value) { assign_tag(h_, name, value); });
    return true;
}

// The payload of a block: a view into the input buffer when it holds the
// whole payload, else a copy; nullptr when the input ends first.
const uint8_t* Converter::payload(std::size_t n) {
    if (in_.available() >= n) {
        const uint8_t* p = in_.data();
        in_.consume(n);
        return p;
    }
    if (in_.read(scratch_, n) != n) return nullptr;
    return scratch_;
}

Converter::Step Converter::block(int type) {
    switch (type >> 4) {
    case 0x8: return sample_block(false);
    case 0x9: return sample_block(true);
    case 0xA: return gps_block();
    case 0xB:
        note("%d flag = %d\n", {in_.count(), 11});
        return Step::next;
    case 0xE: trailer(); return Step::end;
    default: return Step::next;  // 0xC_, 0xD_: the type byte only; data bytes, 0xF_: passed over
    }
}

// One sample per channel, four bytes each (a block cut short by the end of
// input is dropped).
Converter::Step Converter::sample_block(bool tagged) {
    const std::size_t n = static_cast<std::size_t>(4 * ch_);
    const uint8_t* p = payload(n);
    if (p == nullptr) return Step::end;
    if (!store_->ensure(ibuf_)) {
        note("%s malloc failed\n", {program_});
        status_ = Status::fatal;
        return Step::fail;
    }
    for (int c = 0; c < ch_; ++c, p += 4) store_->at(c, ibuf_) = sample24(p[0], p[1], p[2], p[3]);
    if (tagged) sample_tag_ = ibuf_;
    ++nsample_;
    if (!opt_.diag) ++ibuf_;

    if (ibuf_ > limit_ - 1) {
        note("max number of sample w/o GPS exceeds %d\n", {limit_});
        status_ = Status::fatal;
        return Step::fail;
    }
    if (ibuf_ == warn_6h_) note("Warning: no GPS signal for more than 6 hours!\n");
    else if (ibuf_ == warn_1d_) note("Warning: no GPS signal for more than 1   day!\n");
    else if (ibuf_ == warn_10d_) note("Warning: no GPS signal for more than 10 days!\n");
    return Step::next;
}

// The next type byte. Bytes 0x00-0x0F before it form a bad-byte run,
// reported when a byte of another kind ends it; a run that reaches the end
// of input ends the stream quietly. -1 at the end of input.
int Converter::next_type_byte() {
    int b = in_.get();
    if (b < 0 || (b & 0xF0) != 0) return b;
    ecount_ = 0;
    while ((b & 0xF0) == 0) {
        ++ecount_;
        b = in_.get();
        if (b < 0) return -1;
    }
    const CivilTime t = utc_gmtime(sec_);
    err_.put("ERROR: Vorn ");
    err_.put(h_.DEV_NO.view());
    err_.put(" timing problem from  ");
    write_datetime(err_, t);
    format_to(err_, " with block problem at position %d occured %d times\n", {in_.count() - ecount_, ecount_});
    err_.flush();
    problem_ = true;
    return b;
}

void Converter::trailer() {
    TrailerText text;
    for (;;) {
        std::size_t n = in_.available();
        if (n == 0) break;
        const uint8_t* p = in_.data();
        for (std::size_t i = 0; i < n; ++i) text.add(p[i]);
        in_.consume(n);
    }
    end_of_file_header_ = true;
    write_eos_line(err_, text.view());
    err_.flush();
}

// A GPS block: the string, then its time-shift block. The block is read
// whole before any of it is used, so that one cut short by the end of input
// is dropped; a string followed by a byte of another kind ends the run.
Converter::Step Converter::gps_block() {
    GpsString gps;
    if (in_.read(gps.bytes.data(), GpsString::kLength) != GpsString::kLength) return Step::end;
    const int shift_type = in_.get();
    if (shift_type < 0) return Step::end;
    const bool has_shift = (shift_type >> 4) == 0xB;
    uint8_t t[2] = {0, 0};
    if (has_shift && in_.read(t, 2) != 2) return Step::end;

    CivilTime own;
    int64_t t_new = gps.own_seconds(own);
    if (problem_) {
        err_.put("ERROR: Vorn ");
        err_.put(h_.DEV_NO.view());
        note_datetime(" timing problem until ", t_new, "\n");
        problem_ = false;
    }

    read_gps_fields(gps, tag_);
    update_position_means(tag_);
    t_new += tag_.gpsoffset_test;

    if (opt_.gps_string_only) {
        gps.write(out_);
        out_.put("  ");
        out_.num(t_new);
        out_.put(' ');
        write_datetime(out_, utc_gmtime(t_new));
        out_.put('\n');
    }

    if (tag_.gpsoffset_flag == 1 && tag_.gpsoffset_test != tag_.gpsoffset && tag_.gpsoffset != -1)
        note("Warning: GPS UTC offset changed from %d to %d during recording\n",
             {tag_.gpsoffset, tag_.gpsoffset_test});
    tag_.gpsoffset = tag_.gpsoffset_test;

    if (!has_shift) {
        note("no t shift after GPS string\n");
        status_ = Status::no_time_shift;
        return Step::fail;
    }
    const int32_t count = tshift_count(t[0], t[1]);
    tag_.tshift = tshift_microseconds(count);
    tag_.fold = tag_.f1;
    tag_.f1 = tag_time(t_new, tag_.tshift, h_.D_FILT, h_.S_RATE);

    const Verdict v = judge_tag(tag_, params_, nsample_);
    if (v.moved)
        note("Warning: GPS glitch or station has been moved >100km %ld %ld %ld %ld\n",
             {tag_.gps_lat_mean, tag_.gps_lat, tag_.gps_lon_mean, tag_.gps_lon});
    if (v.timing_problem) {
        err_.put("Warning : potential GPS timing problem at ");
        write_datetime(err_, own);
        format_to(err_, " value=%lf\n", {tag_.difference});
        err_.flush();
    }

    if (opt_.diag) {
        const SplitTime st = split_time(tag_.f1);
        sec_ = st.sec;
        mksec_ = st.usec;
        out_.put("D ");
        gps.write(out_);
        out_.put(' ');
        out_.num(t_new);
        out_.put(' ');
        out_.num(sec_);
        out_.put(' ');
        out_.num(mksec_);
        out_.put(' ');
        write_datetime(out_, own);
        out_.put(' ');
        out_.num(count);
        out_.put(' ');
        out_.num(nsample_);
        out_.put(' ');
        out_.num(v.valid ? 0 : 1);
        out_.put('\n');
    } else if (v.valid) {
        flush_valid_tag();
    }

    tag_.first_gps = false;
    tag_.fold = tag_.f1;
    return Step::next;
}

// Lines of buffer indices [from, to): untimed.
void Converter::write_untimed(int64_t from, int64_t to) {
    const int64_t first_number = nsample_ - ibuf_;
    int64_t i = from;
    while (i < to) {
        const int64_t k = i >> SampleStore::kChunkBits;
        const int64_t chunk_end = std::min(to, (k + 1) << SampleStore::kChunkBits);
        const int32_t* const* rows = store_->chunk(k);
        for (; i < chunk_end; ++i)
            write_untimed_sample(out_, first_number + i, rows, ch_, i & (SampleStore::kChunk - 1));
    }
}

void Converter::write_timed(int64_t index, SplitTime t, bool with_date) {
    const int32_t* const* rows = store_->chunk(index >> SampleStore::kChunkBits);
    write_timed_sample(out_, nsample_ - ibuf_ + index, rows, ch_, index & (SampleStore::kChunk - 1), t,
                       with_date ? date_.of(t.sec) : std::string_view{});
}

// A valid tag writes every buffered sample: the tagged one with the tag's
// time, the others untimed (unless -t or -g).
void Converter::flush_valid_tag() {
    const bool untimed = !opt_.gps_t_only && !opt_.gps_string_only;
    const bool tag_buffered = sample_tag_ >= 0 && sample_tag_ < ibuf_;
    const int64_t tag_end = tag_buffered ? sample_tag_ : ibuf_;
    if (untimed) write_untimed(0, tag_end);
    if (tag_buffered) {
        const SplitTime st = split_time(tag_.f1);
        sec_ = st.sec;
        mksec_ = st.usec;
        if (!opt_.gps_string_only) {
            write_timed(sample_tag_, st, opt_.gps_t_only);
            stream_written_ = true;
            last_sample_with_time_ = nsample_ - ibuf_ + sample_tag_;
            last_f1_ = tag_.f1;
        }
        if (untimed) write_untimed(sample_tag_ + 1, ibuf_);
    }
    ibuf_ = 0;
}

// With -a, the samples after the last valid tag: untimed, the last one with
// the time of the last timed sample carried forward at the nominal rate.
// Then the error line when no timed line was written.
void Converter::end_of_run() {
    if (opt_.data_beyond_gps && ibuf_ > 0) {
        if (!stream_written_) {
            write_untimed(0, ibuf_);
        } else {
            write_untimed(0, ibuf_ - 1);
            const double t =
                last_f1_ + static_cast<double>(nsample_ - 1 - last_sample_with_time_) / h_.S_RATE;
            write_timed(ibuf_ - 1, split_time(t), false);
        }
    }
    if (!stream_written_ && !opt_.gps_string_only && !opt_.gps_t_only) {
        write_error_line(out_, h_.CH_NUM);
        note("No useful data in vornconv!\n");
    }
}

}  // namespace vorn::classic
