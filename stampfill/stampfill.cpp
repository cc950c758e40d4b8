#include "stampfill.hpp"

#include <algorithm>
#include <cmath>

#include <charconv>

#include "decimal.hpp"
#include "textparse.hpp"
#include "format.hpp"
#include "vorn.hpp"

namespace vorn::stampfill {

double tag_time(int64_t seconds, int64_t microseconds) {
    return static_cast<double>(seconds) + static_cast<double>(microseconds) / 1e6;
}

double sample_distance(int64_t n, int64_t na) {
    int64_t d;
    if (__builtin_sub_overflow(n, na, &d)) return static_cast<double>(n) - static_cast<double>(na);
    return static_cast<double>(d);
}

double interpolate(int64_t n, int64_t na, double ta, int64_t nb, double tb, int32_t rate) {
    if (nb == na) return extrapolate(n, na, ta, rate);
    return ta + (sample_distance(n, na) * (tb - ta)) / sample_distance(nb, na);
}

double extrapolate(int64_t n, int64_t na, double ta, int32_t rate) {
    return ta + sample_distance(n, na) / static_cast<double>(rate);
}

SplitTime split_seconds(double t) {
    // 2^63: the first double beyond the 64-bit range.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(t < kLimit)) return {INT64_MAX, 0};
    if (t < -kLimit) return {INT64_MIN, 0};
    return split_time(t);
}

void Filler::write_line(Writer& out, int64_t n, const int32_t* values, int64_t sec, int64_t usec) {
    // Built in place: three numbers of at most 20 characters, 11 per value,
    // spaces, and scratch behind the last number.
    char* p = out.room(128);
    p = number_text_.put(p, n);
    *p++ = ' ';
    for (int c = 0; c < channels_ && c < 3; ++c) {
        p = put_int(p, values[c]);
        *p++ = ' ';
    }
    p = sec_text_.put(p, sec);
    *p++ = ' ';
    p = put_int(p, usec);
    *p++ = '\n';
    out.advance(p);
}

void Filler::write_waiting(Writer& out, bool until_tag, int64_t nb, double tb) {
    const std::size_t count = nums_.size();
    for (std::size_t i = 0; i < count; ++i) {
        const int64_t n = nums_[i];
        double t;
        if (until_tag && has_tag_)
            t = interpolate(n, na_, ta_, nb, tb, rate_);
        else if (until_tag)
            t = extrapolate(n, nb, tb, rate_);  // before the first good tag
        else
            t = extrapolate(n, na_, ta_, rate_);  // after the last good tag
        const SplitTime st = split_seconds(t);
        write_line(out, n, vals_.data() + i * static_cast<std::size_t>(channels_), st.sec, st.usec);
    }
    nums_.clear();
    vals_.clear();
}

bool Filler::add(const SampleLine& s, Writer& out) {
    if (s.sec > 0) {
        const double tb = tag_time(s.sec, s.usec);
        write_waiting(out, true, s.n, tb);
        write_line(out, s.n, s.v, s.sec, s.usec);
        has_tag_ = true;
        na_ = s.n;
        ta_ = tb;
        return true;
    }
    if (waiting() >= limit_) return false;
    if (nums_.size() == nums_.capacity()) {
        // Grow with the data, never beyond the limit.
        const std::size_t cap =
            static_cast<std::size_t>(std::min<int64_t>(limit_, std::max<int64_t>(4096, 2 * waiting())));
        nums_.reserve(cap);
        vals_.reserve(cap * static_cast<std::size_t>(channels_));
    }
    nums_.push_back(s.n);
    for (int c = 0; c < channels_; ++c) vals_.push_back(s.v[c]);
    return true;
}

void Filler::flush_waiting(Writer& out) {
    if (!has_tag_) {
        nums_.clear();
        vals_.clear();
        return;
    }
    write_waiting(out, false, 0, 0.0);
}

// ---- The run --------------------------------------------------------------

namespace {

void report(Writer& err, std::string_view fmt, std::initializer_list<FmtArg> args) {
    format_to(err, fmt, args);
    err.flush();
}

StampfillExit no_useful_data(const HeaderValues& h, Writer& out, Writer& err) {
    pass_error_line(out, err, program_name(), h.CH_NUM, "stampfill");
    return StampfillExit::no_useful_data;
}

StampfillExit unsupported(const HeaderValues& h, Writer& err) {
    report_unsupported_header(err, program_name(), h);
    return StampfillExit::no_useful_data;
}

}  // namespace

StampfillExit run_stampfill(LineReader& in, Writer& out, Writer& err, int64_t limit) {
    HeaderValues h;
    std::string_view line;
    if (in.next(line)) read_header_line(line, h);
    write_header_line(out, h);

    const bool supported = header_supported(h);
    const int ch = supported ? h.CH_NUM : 0;
    Filler filler(ch, h.S_RATE, limit);
    SampleLine s;
    while (in.next(line)) {
        if (!supported) return unsupported(h, err);
        if (!parse_sample_line(line, ch, s, LineReader::kPadding)) {
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        if (s.n == -1) {
            // The lines after the last good tag are not lost.
            filler.flush_waiting(out);
            return no_useful_data(h, out, err);
        }
        if (!filler.add(s, out)) {
            filler.flush_waiting(out);
            write_error_line(out, h.CH_NUM);
            report(err, "%s ERROR: more than %ld sample lines without a good time tag\n", {program_name(), limit});
            return StampfillExit::fatal;
        }
    }
    if (!filler.has_tag()) {
        if (!supported) return unsupported(h, err);
        return no_useful_data(h, out, err);
    }
    filler.flush_waiting(out);
    return StampfillExit::ok;
}

}  // namespace vorn::stampfill
