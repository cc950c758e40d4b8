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

std::ptrdiff_t rate_tag(std::span<const GoodTag> before, const GoodTag& b, int32_t rate) {
    const std::size_t first = before.size() > kRateTags ? before.size() - kRateTags : 0;
    const int64_t shortest = 10 * static_cast<int64_t>(rate);
    const int64_t longest = 60 * static_cast<int64_t>(rate);
    std::ptrdiff_t best = -1;
    for (std::size_t i = first; i < before.size(); ++i) {
        int64_t d;
        if (__builtin_sub_overflow(b.n, before[i].n, &d) || d < shortest || d > longest) continue;
        // Strictly smaller: of equal sample numbers the earliest stays.
        if (best < 0 || before[i].n < before[static_cast<std::size_t>(best)].n) best = static_cast<std::ptrdiff_t>(i);
    }
    return best;
}

double tail_time(int64_t n, const GoodTag& b, const GoodTag* a, int32_t rate) {
    if (a == nullptr) return extrapolate(n, b.n, b.t, rate);
    return b.t + (sample_distance(n, b.n) * (b.t - a->t)) / sample_distance(b.n, a->n);
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

template <class TimeOf>
bool Filler::write_waiting(Writer& out, TimeOf time_of) {
    const bool read = waiting_.for_each([&](int64_t n, const int32_t* values) {
        const SplitTime st = split_seconds(time_of(n));
        write_line(out, n, values, st.sec, st.usec);
    });
    waiting_.clear();
    if (!read) error_ = waiting_.error();
    return read;
}

bool Filler::add_tag(const SampleLine& s, Writer& out) {
    const GoodTag b{s.n, tag_time(s.sec, s.usec)};
    bool kept = true;
    if (waiting_.size() > 0) {
        if (has_tag()) {
            const GoodTag a = last_tag();
            kept = write_waiting(out, [&](int64_t n) { return interpolate(n, a.n, a.t, b.n, b.t, rate_); });
        } else {
            // before the first good tag
            kept = write_waiting(out, [&](int64_t n) { return extrapolate(n, b.n, b.t, rate_); });
        }
    }
    // Lines lost to an unreadable file: the stream stops before the tag.
    if (!kept) return false;
    write_line(out, s.n, s.v, s.sec, s.usec);
    tags_[tag_count_ % tags_.size()] = b;
    ++tag_count_;
    return true;
}

bool Filler::flush_waiting(Writer& out) {
    if (!has_tag()) {
        waiting_.clear();
        return true;
    }
    if (waiting_.size() == 0) return true;
    // The good tags before the last one, in input order.
    std::array<GoodTag, kRateTags> before;
    const uint64_t count = std::min<uint64_t>(tag_count_ - 1, kRateTags);
    for (uint64_t i = 0; i < count; ++i) before[i] = tags_[(tag_count_ - 1 - count + i) % tags_.size()];
    const GoodTag b = last_tag();
    const std::ptrdiff_t k = rate_tag(std::span<const GoodTag>(before.data(), count), b, rate_);
    const GoodTag* a = k < 0 ? nullptr : &before[static_cast<std::size_t>(k)];
    return write_waiting(out, [&](int64_t n) { return tail_time(n, b, a, rate_); });
}

SpillSettings spill_settings(const char* lines, const char* tmpdir, Writer& err) {
    SpillSettings s;
    if (tmpdir != nullptr && *tmpdir != '\0') s.dir = tmpdir;
    if (lines != nullptr) {
        const std::string_view text(lines);
        int64_t v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec == std::errc() && end == text.data() + text.size() && v >= 1) {
            s.lines = v;
        } else {
            format_to(err, "Warning: STAMPFILL_SPILL_LINES=%s is not a whole number of at least 1; %ld used\n",
                      {text, s.lines});
            err.flush();
        }
    }
    return s;
}

// ---- The run --------------------------------------------------------------

namespace {

Exit no_useful_data(const HeaderValues& h, Writer& out, Writer& err) {
    pass_error_line(out, err, program_name(), h.CH_NUM, "stampfill");
    return Exit::no_useful_data;
}

// The waiting lines cannot be kept: those still kept are written timed from
// the last good tag, then the error line ends the stream.
Exit cannot_keep(Filler& filler, const HeaderValues& h, Writer& out, Writer& err) {
    std::string reason = filler.error();
    filler.flush_waiting(out);
    write_error_line(out, h.CH_NUM);
    message(err, "%s ERROR: cannot keep waiting lines: %s\n", {program_name(), std::string_view(reason)});
    return Exit::fatal;
}

Exit unsupported(const HeaderValues& h, Writer& err) {
    report_unsupported_header(err, program_name(), h);
    return Exit::no_useful_data;
}

}  // namespace

Exit run_stampfill(LineReader& in, Writer& out, Writer& err, const SpillSettings& spill) {
    HeaderValues h;
    vorn::PaddedLine line;
    if (in.next(line)) read_header_line(line, h);
    write_header_line(out, h);

    const bool supported = header_supported(h);
    const int ch = supported ? h.CH_NUM : 0;
    Filler filler(ch, h.S_RATE, spill);
    SampleLine s;
    while (in.next(line)) {
        if (!supported) return unsupported(h, err);
        if (!parse_sample_line(line, ch, s)) {
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        if (s.n == -1) {
            // The lines after the last good tag are not lost.
            if (!filler.flush_waiting(out)) return cannot_keep(filler, h, out, err);
            return no_useful_data(h, out, err);
        }
        if (!filler.add(s, out)) return cannot_keep(filler, h, out, err);
    }
    if (!filler.has_tag()) {
        if (!supported) return unsupported(h, err);
        return no_useful_data(h, out, err);
    }
    if (!filler.flush_waiting(out)) return cannot_keep(filler, h, out, err);
    return Exit::ok;
}

}  // namespace vorn::stampfill
