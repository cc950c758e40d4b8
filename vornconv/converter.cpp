#include "converter.hpp"

#include "format.hpp"
#include "textlines.hpp"

namespace vornconv {

using vorn::format_to;

Converter::Converter(const ConvOptions& options, vorn::ByteReader& in, vorn::Writer& out, vorn::Writer& err,
                     vorn::Writer* aux, std::string_view program, int64_t max_samples)
    : o_(options), in_(in), out_(out), err_(err), program_(program), max_samples_(max_samples),
      s_(in, out, err, program), aux_(aux) {}

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
        [&](std::string_view name, std::string_view value) { vorn::assign_tag(s_.header(), name, value); });
    return true;
}

ConvStatus Converter::run() {
    int type = 0;
    if (!read_header(type)) {
        format_to(err_, "%s ERROR: no header/data in stream\n", {program_});
        return ConvStatus::fatal;
    }
    const vorn::HeaderValues& h = s_.header();
    vorn::write_bos_line(err_, h);
    err_.flush();
    if (!vorn::header_supported(h)) {
        vorn::report_unsupported_header(err_, program_, h);
        return ConvStatus::fatal;
    }
    if (!o_.gps_t_only && !o_.gps_string_only) {
        vorn::write_header_line(out_, h);
        header_line_written_ = true;
    }

    TagSettings settings;
    settings.mode = o_.gps_raw_mode ? TagMode::raw : o_.obh_mode ? TagMode::obh : TagMode::normal;
    settings.minimum_gps_counts = o_.minimum_gps_counts;
    settings.check_for_gps_moved = o_.check_for_gps_moved;
    settings.gps_utc_valid = o_.gps_utc_valid;
    settings.D_FILT = h.D_FILT;
    settings.S_RATE = h.S_RATE;
    model_ = std::make_unique<TagModel>(settings);
    vorn::StreamRules rules;
    rules.max_samples = max_samples_;
    rules.diag = o_.diag;
    s_.start(rules);

    for (;;) {
        Flow flow = Flow::read_next;
        switch (type) {
            case vorn::kSampleBlock: flow = sample_blocks(false); break;
            case vorn::kTaggedSampleBlock: flow = sample_blocks(true); break;
            case vorn::kGpsBlock: flow = gps_block(); break;
            case vorn::kStatusBlock: flow = status_block(); break;
            case vorn::kStatusRun: flow = status_run(); break;
            case vorn::kAuxBlock: flow = aux_block(); break;
            case vorn::kTrailer:
                s_.trailer();
                flow = Flow::ended;
                break;
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
        type = s_.next_type_byte();
        if (type == vorn::kEndOfInput) abrupt_stop();
        if (type < 0) break;
    }
    end_of_run();
    return status_;
}

void Converter::abrupt_stop() {
    format_to(err_, "Warning: Vorn %s data acquisition stopped abruptly\n", {s_.header().DEV_NO.view()});
    err_.flush();
}

// A full buffer or no memory ends the run: the samples buffered since the
// last valid tag are lost.
Converter::Flow Converter::sample_blocks(bool tagged) {
    const vorn::SampleStep step = s_.sample_blocks(tagged);
    if (step == vorn::SampleStep::ok) return Flow::read_next;
    if (step == vorn::SampleStep::cut_short) return Flow::cut_short;
    // A run that has written its header line closes its output with the
    // error line, so that the stages after it stop too.
    if (header_line_written_) s_.write_error_line();
    // The advice to recompile is kept on purpose: stored scripts expect it.
    if (step == vorn::SampleStep::full)
        format_to(err_,
                  "%s ERROR: max number of sample w/o GPS exceeds %ld, increase MXSMP in vorn and recompile\n",
                  {program_, s_.max_samples()});
    else
        format_to(err_, "%s ERROR: malloc failed, not enough core memory\n", {program_});
    status_ = ConvStatus::fatal;
    return Flow::failed;
}

// GPS block: the tag's fields and time, the tests of this generation, and
// on a valid tag the flush.
Converter::Flow Converter::gps_block() {
    vorn::GpsBlock b;
    if (!s_.read_gps_block(b)) return Flow::cut_short;

    TagModel& m = *model_;
    m.read_time(b.gps);
    s_.close_problem(m.own_time());
    m.read_fields(b.gps);
    if (o_.gps_string_only) {
        const vorn::GpsWords words{m.temperature(), m.elevation()};
        vorn::write_gps_string_line(out_, b.gps, &words, m.t_new());
    }
    m.check_offset(err_);
    if (!b.has_shift) {
        s_.write_error_line();
        format_to(err_, "%s ERROR: no t shift after GPS string, data stream not valid\n", {program_});
        status_ = ConvStatus::no_time_shift;
        return Flow::failed;
    }
    const bool valid = m.judge(b.count, err_);

    const vorn::SplitTime f1 = vorn::split_time(m.f1());
    if (o_.diag) {
        vorn::write_diagnostic_line(out_, b.gps, m.t_new(), f1, m.own_time(), b.count, s_.nsample(),
                                    m.not_valid() ? 1 : 0);
    }
    if (!valid) {
        s_.set_sec(f1.sec);
    } else if (!o_.diag) {
        vorn::FlushLines lines;
        lines.untimed = !o_.gps_t_only && !o_.gps_string_only;
        lines.timed = !o_.gps_string_only;
        lines.dated = o_.gps_t_only;
        s_.flush(m.f1(), lines);
    }
    return Flow::read_next;
}

// ---- status, aux ------------------------------------------------------------

void Converter::info_prefix(const char* kind) {
    const vorn::CivilTime& own = model_->own_time();
    format_to(err_, "Info : %ld %4d-%02d-%02dT%02d:%02d:%02d ",
              {s_.nsample(), own.tm_year + 1900, own.tm_mon + 1, own.tm_mday, own.tm_hour, own.tm_min, own.tm_sec});
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
    if (flag == vorn::kOverrunFlag) {
        const vorn::CivilTime& own = model_->own_time();
        // No program name here, unlike the other errors: kept on purpose,
        // stored scripts expect this text.
        format_to(err_, "ERROR: VORN buffer overrun detected, conversion aborted! : %ld %4d-%02d-%02dT%02d:%02d:%02d\n",
                  {s_.nsample(), own.tm_year + 1900, own.tm_mon + 1, own.tm_mday, own.tm_hour, own.tm_min,
                   own.tm_sec});
        s_.write_error_line();
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
        if (b < 0 || vorn::is_type_byte(b)) {
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
    const vorn::AuxDescriptor desc = vorn::aux_descriptor(static_cast<uint8_t>(d));
    uint8_t payload[16];
    const std::size_t n = desc.payload();
    if (in_.read(payload, n) < n) return Flow::cut_short;
    const AuxTime t = aux_record_time(model_->first_valid_pps(), model_->f1(), s_.ibuf(), s_.header().S_RATE);
    s_.set_sec(t.sec);
    aux_.record(desc, payload, t.sec, t.ms);
    return Flow::read_next;
}

// ---- end of run -------------------------------------------------------------

void Converter::end_of_run() {
    // -a: the tail's untimed lines only without -t; its timed line is dated
    // with -t.
    if (o_.data_beyond_gps) s_.tail(o_.adrift, !o_.gps_t_only, o_.gps_t_only);
    if (!s_.stream_written() && !o_.gps_string_only && !o_.gps_t_only) {
        s_.write_error_line();
        format_to(err_, "%s ERROR: No useful data in vornconv! Check if input are actually VORN files\n", {program_});
        err_.flush();
    }
}

}  // namespace vornconv
