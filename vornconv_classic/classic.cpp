#include "classic.hpp"

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
    // Names -o, which is no option, and leaves out -x: kept on purpose,
    // stored scripts expect this text.
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
            // No program name and no "ERROR:" (vornconv has both): kept on
            // purpose, stored scripts expect this text.
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
        if (letter == 'a') opt.data_beyond_gps = true;
        else shared_option(opt, letter, operand);
    });
    if (errors > 0) {
        write_usage(err);
        return false;
    }
    return true;
}

// ---- The run ------------------------------------------------------------------

Converter::Converter(const Options& opt, ByteReader& in, Writer& out, Writer& err, std::string_view program)
    : opt_(opt), in_(in), out_(out), err_(err), program_(program), s_(in, out, err, program) {
    params_.minimum_gps_counts = opt.minimum_gps_counts;
    params_.obh_mode = opt.obh_mode;
    params_.gps_utc_valid = opt.gps_utc_valid;
}

void Converter::note(std::string_view fmt, std::initializer_list<FmtArg> args) {
    format_to(err_, fmt, args);
    err_.flush();
}

Status Converter::run() {
    if (!read_header()) {
        note("%s ERROR: no header/data in stream\n", {program_});
        return Status::fatal;
    }
    const HeaderValues& h = s_.header();
    write_bos_line(err_, h);
    err_.flush();
    if (!header_supported(h)) {
        report_unsupported_header(err_, program_, h);
        return Status::fatal;
    }
    if (!opt_.gps_t_only && !opt_.gps_string_only) write_header_line(out_, h);

    params_.s_rate = h.S_RATE;
    StreamRules rules;
    rules.max_samples = limit_;
    rules.name_in_problem_messages = false;
    rules.keep_sample_tag_after_flush = true;
    rules.diag = opt_.diag;
    rules.reallocate = reallocate_;
    s_.start(rules);

    // The byte that ended the header opens the first block.
    int type = kSampleBlock;
    for (;;) {
        const Step step = block(type);
        if (step == Step::fail) return status_;
        if (step == Step::end) break;
        type = s_.next_type_byte();
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
        if (b == kSampleBlock) break;
        if (b == ' ' || b == '=' || b == ';') tokens.separator();
        else tokens.add(static_cast<char>(b));
    }
    tokens.for_each_pair([&](std::string_view name, std::string_view value) { assign_tag(s_.header(), name, value); });
    return true;
}

// This generation tells blocks by the upper four bits of the type byte.
Converter::Step Converter::block(int type) {
    switch (type & 0xF0) {
    case kSampleBlock: return sample_block(false);
    case kTaggedSampleBlock: return sample_block(true);
    case kGpsBlock: return gps_block();
    case kShiftBlock:
        // A bare "<bytes read> flag = 11": kept on purpose, stored scripts
        // expect it.
        note("%d flag = %d\n", {in_.count(), kShiftBlock >> 4});
        return Step::next;
    case kTrailer:
        s_.trailer();
        return Step::end;
    default: return Step::next;  // 0xC_, 0xD_: the type byte only; data bytes, 0xF_: passed over
    }
}

// A block cut short by the end of input is dropped.
Converter::Step Converter::sample_block(bool tagged) {
    switch (s_.sample_blocks(tagged)) {
    case SampleStep::ok: return Step::next;
    case SampleStep::cut_short: return Step::end;
    case SampleStep::full: note("max number of sample w/o GPS exceeds %d\n", {limit_}); break;
    case SampleStep::no_memory: note("%s malloc failed\n", {program_}); break;
    }
    status_ = Status::fatal;
    return Step::fail;
}

// A GPS block: the tag's fields and time, the tests of this generation, and
// on a valid tag the flush. A string followed by a byte of another kind than
// a time-shift block ends the run.
Converter::Step Converter::gps_block() {
    GpsBlock b;
    if (!s_.read_gps_block(b)) return Step::end;
    const HeaderValues& h = s_.header();

    CivilTime own;
    int64_t t_new = b.gps.own_seconds(own);
    s_.close_problem(utc_gmtime(t_new));

    read_gps_fields(b.gps, tag_);
    update_position_means(tag_);
    t_new += tag_.gpsoffset_test;

    // This generation's line has no temperature and elevation columns.
    if (opt_.gps_string_only) write_gps_string_line(out_, b.gps, nullptr, t_new);
    check_offset_change(tag_.gpsoffset_flag, tag_.gpsoffset_test, tag_.gpsoffset, err_);

    if (!b.has_shift) {
        note("no t shift after GPS string\n");
        status_ = Status::no_time_shift;
        return Step::fail;
    }
    tag_.tshift = tshift_microseconds(b.count);
    tag_.fold = tag_.f1;
    tag_.f1 = tag_time(t_new, tag_.tshift, h.D_FILT, h.S_RATE);

    const Verdict v = judge_tag(tag_, params_, s_.nsample());
    if (v.moved)
        note("Warning: GPS glitch or station has been moved >100km %ld %ld %ld %ld\n",
             {tag_.means.lat, tag_.gps_lat, tag_.means.lon, tag_.gps_lon});
    if (v.timing_problem) {
        // "Warning :" with a space: kept on purpose, stored scripts expect it.
        err_.put("Warning : potential GPS timing problem at ");
        write_datetime(err_, own);
        format_to(err_, " value=%lf\n", {tag_.difference});
        err_.flush();
    }

    if (opt_.diag) {
        // Only a diagnostic line or a timed sample line moves the time of the
        // block-problem message here (an invalid tag does not).
        const SplitTime st = split_time(tag_.f1);
        s_.set_sec(st.sec);
        write_diagnostic_line(out_, b.gps, t_new, st, own, b.count, s_.nsample(), v.valid ? 0 : 1);
    } else if (v.valid) {
        FlushLines lines;
        lines.untimed = !opt_.gps_t_only && !opt_.gps_string_only;
        lines.timed = !opt_.gps_string_only;
        lines.dated = opt_.gps_t_only;
        s_.flush(tag_.f1, lines);
    }

    tag_.first_gps = false;
    tag_.fold = tag_.f1;
    return Step::next;
}

// With -a, the samples after the last valid tag, the last one carried
// forward at the nominal rate with zero drift. This generation writes them
// whatever -t and -g say and without a date: kept on purpose, old
// conversions must come out the same. Then the error line when no timed
// line was written.
void Converter::end_of_run() {
    if (opt_.data_beyond_gps) s_.tail(0.0, true, false);
    if (!s_.stream_written() && !opt_.gps_string_only && !opt_.gps_t_only) {
        s_.write_error_line();
        // Names vornconv, not this program: kept on purpose, stored scripts
        // expect it.
        note("No useful data in vornconv!\n");
    }
}

}  // namespace vorn::classic
