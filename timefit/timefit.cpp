#include "timefit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fit.hpp"
#include "format.hpp"
#include "options.hpp"

namespace timefit {

using vorn::Writer;

// ---- command line ---------------------------------------------------------

Options parse_command_line(int argc, char** argv, Writer& diag) {
    Options opt;
    vorn::parse_options(argc, argv, "o:t", [&](vorn::OptionEvent event, int letter, const char*) {
        if (event == vorn::OptionEvent::option) {
            if (letter == 't') opt.tag_list = true;
            return;  // -o value: accepted and ignored
        }
        // Unknown letters and -o without its value are reported; the run goes on.
        // -o without its value called unrecognized: kept on purpose, stored scripts expect it.
        vorn::format_to(diag, "%s ERROR: Unrecognized option: -%c\n",
                        {vorn::program_name(), static_cast<char>(letter)});
        diag.flush();
    });
    return opt;
}

std::string_view outcome_name(Outcome o) {
    switch (o) {
        case Outcome::ok: return "ok";
        case Outcome::error_line: return "error line";
        case Outcome::unsupported_header: return "unsupported header";
        case Outcome::buffer_full: return "buffer full";
        case Outcome::no_memory_columns: return "no memory for the sample-number columns";
        case Outcome::no_memory_channels: return "no memory for the amplitude columns";
    }
    return "?";
}

// ---- verdicts -------------------------------------------------------------

void judge_block(const double x[], const double y[], int64_t j, int64_t verdict[]) {
    if (j <= 4) {
        for (int64_t k = 1; k <= j; ++k) verdict[k] = kTooFew;
        return;
    }
    double a, b, siga, sigb, chi2;
    int64_t fl = 0;
    robust_fit(x, y, j, &a, &b, &siga, &sigb, &chi2, &fl);
    // A line that is no number (all tags at one sample number) has checked
    // nothing: its tags are not trusted rather than taken as good.
    const bool usable = std::isfinite(a) && std::isfinite(b);
    for (int64_t k = 1; k <= j; ++k) {
        const double residual = y[k] - (b * x[k] + a);
        int64_t v = kGood;
        if (std::fabs(residual) > 1e-4) v = kOffLine;
        if (fl != 0 || !usable) v = kUntrusted;
        verdict[k] = v;
    }
}

// ---- block buffer ---------------------------------------------------------

BlockBuffer::BlockBuffer(int channels, int64_t capacity)
    : channels_(std::clamp(channels, 0, 3)), limit_(std::max<int64_t>(capacity, 1)) {}

BlockBuffer::~BlockBuffer() {
    std::free(n_);
    std::free(sec_);
    std::free(usec_);
    for (int32_t* p : amp_) std::free(p);
}

namespace {

// Resizes one column to cap elements, keeping its content; false when the
// memory is not there (the column is then as it was).
template <class T>
bool resize_column(T*& column, int64_t cap) {
    void* p = std::realloc(column, static_cast<std::size_t>(cap) * sizeof(T));
    if (p == nullptr) return false;
    column = static_cast<T*>(p);
    return true;
}

}  // namespace

Outcome BlockBuffer::grow() {
    if (cap_ >= limit_) return Outcome::buffer_full;
    // Geometric growth from a modest start: memory follows the block.
    const int64_t cap = std::min(limit_, cap_ == 0 ? int64_t{4096} : cap_ * 2);
    if (!resize_column(n_, cap) || !resize_column(sec_, cap) || !resize_column(usec_, cap))
        return Outcome::no_memory_columns;
    for (int c = 0; c < channels_; ++c)
        if (!resize_column(amp_[c], cap)) return Outcome::no_memory_channels;
    cap_ = cap;
    return Outcome::ok;
}

void BlockBuffer::restart_from(int64_t i) {
    n_[0] = n_[i];
    sec_[0] = sec_[i];
    usec_[0] = usec_[i];
    for (int c = 0; c < channels_; ++c) amp_[c][0] = amp_[c][i];
    size_ = 1;
}

// ---- blocks ---------------------------------------------------------------

namespace {

Limits sane(Limits l) {
    l.max_tags = std::clamp<int64_t>(l.max_tags, 1, kMaxTagPoints);
    l.max_index = std::clamp<int64_t>(l.max_index, 1, MAXTMP - 2);
    return l;
}

// Seconds and microseconds as one time in seconds.
double seconds_of(int64_t sec, int64_t usec) {
    return static_cast<double>(usec) / 1000000.0 + static_cast<double>(sec);
}

}  // namespace

TagChecker::TagChecker(Writer& out, int channels, int32_t s_rate, bool tag_list, const Limits& limits)
    : out_(out),
      channels_(std::clamp(channels, 1, 3)),
      rate_(static_cast<double>(s_rate)),
      tag_list_(tag_list),
      limits_(sane(limits)),
      buf_(channels_, limits_.max_index + 1) {}

double TagChecker::elapsed(int64_t n) const {
    // Time since the block's first tag by sample count at the nominal rate.
    int64_t d = 0;
    if (__builtin_sub_overflow(n, nsamp0_, &d))
        return (static_cast<double>(n) - static_cast<double>(nsamp0_)) / rate_;
    return static_cast<double>(d) / rate_;
}

void TagChecker::add_point(int64_t index) {
    TagPoint& p = points_[++j_];
    p.index = index;
    p.sec = buf_.sec(index);
    p.usec = buf_.usec(index);
    p.x = elapsed(buf_.n(index));
    p.y = (seconds_of(p.sec, p.usec) - p.x) - static_cast<double>(t0_);
    p.verdict = kGood;
}

void TagChecker::start_block() {
    // Line 0 opens the block and is its tag point 1.
    j_ = 0;
    nsamp0_ = buf_.n(0);
    t0_ = buf_.sec(0);
    add_point(0);
}

Outcome TagChecker::open(const vorn::SampleLine& s) {
    buf_.clear();
    Outcome o = buf_.append(s);
    if (o != Outcome::ok) return o;
    start_block();
    return Outcome::ok;
}

Outcome TagChecker::add(const vorn::SampleLine& s) {
    const int64_t i = buf_.size();
    if (i > limits_.max_index) return Outcome::buffer_full;
    Outcome o = buf_.append(s);
    if (o != Outcome::ok) return o;

    if (s.sec <= 0) {
        // No time: the block goes on unless its buffer is nearly full.
        if (i > limits_.untimed_close_index) close_block(i);
        return Outcome::ok;
    }
    // A backwards step (negative gap) keeps the block open.
    const TagPoint& last = points_[j_];
    const double gap = (seconds_of(s.sec, s.usec) - static_cast<double>(last.sec)) -
                       static_cast<double>(last.usec) / 1000000.0;
    if (gap < 1.5 && j_ < limits_.max_tags)
        add_point(i);
    else
        close_block(i);
    return Outcome::ok;
}

void TagChecker::judge_points() {
    // The fit takes the points as two arrays indexed from 1.
    double x[kMaxTagPoints + 1] = {};
    double y[kMaxTagPoints + 1] = {};
    int64_t verdict[kMaxTagPoints + 1] = {};
    for (int64_t k = 1; k <= j_; ++k) {
        x[k] = points_[k].x;
        y[k] = points_[k].y;
    }
    judge_block(x, y, j_, verdict);
    for (int64_t k = 1; k <= j_; ++k) points_[k].verdict = verdict[k];
}

void TagChecker::close_block(int64_t i) {
    judge_points();
    write_lines(i, false);
    buf_.restart_from(i);
    start_block();
}

void TagChecker::write_final() { write_lines(buf_.size(), true); }

// "%lld " sample number, "%d " per amplitude.
// "%ld " sample number, "%d " per channel, at p (room for a whole line).
char* TagChecker::write_head(char* p, int64_t i) {
    p = number_text_.put(p, buf_.n(i));
    *p++ = ' ';
    for (int c = 0; c < channels_; ++c) {
        p = vorn::put_int(p, buf_.amp(c, i));
        *p++ = ' ';
    }
    return p;
}

namespace {
// A line is at most 21 + 3 * 12 characters of head, 21 + 21 of time and the
// tail, with scratch behind.
constexpr std::size_t kMaxLine = 160;
}  // namespace

void TagChecker::write_tag_list(int64_t count, bool final_block) {
    // Timed lines only, with the calendar time and the verdict:
    // "%ld %ld %4d-%02d-%02dT%02d:%02d:%02d %d".
    for (int64_t k = 1; k <= j_; ++k) {
        const TagPoint& point = points_[k];
        const int64_t i = point.index;
        if (i >= count) break;
        const int64_t sec = buf_.sec(i);
        if (sec <= 0) continue;  // opened the block but carries no time
        out_.advance(write_head(out_.room(kMaxLine), i));
        out_.num(sec);
        out_.put(' ');
        out_.num(buf_.usec(i));
        out_.put(' ');
        out_.put(date_.of(sec));
        out_.put(' ');
        out_.num(final_block ? kFinalBlock : point.verdict);
        out_.put('\n');
    }
}

void TagChecker::write_lines(int64_t count, bool final_block) {
    if (tag_list_) {
        write_tag_list(count, final_block);
        return;
    }
    // The tag points lie in the buffer in index order: k is the next one,
    // next_tag its buffer index (-1 when none is left).
    int64_t k = 1;
    int64_t next_tag = j_ >= 1 ? points_[1].index : -1;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t sec = buf_.sec(i);
        char* p = write_head(out_.room(kMaxLine), i);
        if (i == next_tag) {
            const int64_t verdict = final_block ? kFinalBlock : points_[k].verdict;
            ++k;
            next_tag = k <= j_ ? points_[k].index : -1;
            if (sec > 0) {
                // A tag: unchanged when good, its seconds negated otherwise;
                // the final block's tags end with a space.
                p = verdict == kGood ? sec_text_.put(p, sec) : vorn::put_int(p, -sec);
                *p++ = ' ';
                p = vorn::put_int(p, buf_.usec(i));
                if (verdict != kGood && final_block) *p++ = ' ';
                *p++ = '\n';
                out_.advance(p);
                continue;
            }
            // A line that opened the block without a time is written untimed.
        }
        // Untimed: its own seconds and microseconds, a space, the line feed.
        p = sec > 0 ? sec_text_.put(p, sec) : vorn::put_int(p, sec);
        *p++ = ' ';
        p = vorn::put_int(p, buf_.usec(i));
        *p++ = ' ';
        *p++ = '\n';
        out_.advance(p);
    }
}

// ---- the run --------------------------------------------------------------

Outcome run(vorn::LineReader& in, Writer& out, Writer& diag, vorn::HeaderValues& h, const Options& opt,
            const Limits& limits) {
    vorn::PaddedLine line;
    if (in.next(line)) vorn::read_header_line(line, h);
    if (!opt.tag_list) vorn::write_header_line(out, h);

    const int channels = h.CH_NUM;
    vorn::SampleLine s;
    bool supported = false;

    // Search for the first tag: lines before it are dropped.
    bool found = false;
    while (in.next(line)) {
        if (!supported) {
            if (!vorn::header_supported(h)) return Outcome::unsupported_header;
            supported = true;
        }
        if (!vorn::parse_sample_line(line, channels, s)) {
            vorn::warn_malformed_line(diag, in.line_number(), line);
            continue;
        }
        if (s.n == -1) {
            vorn::write_error_line(out, h.CH_NUM);
            return Outcome::error_line;
        }
        if (s.sec >= 0) {
            found = true;
            break;
        }
    }
    if (!found) {
        // No tag before the end of input: nothing useful follows. The error
        // line has a form only for the channel counts a stream can have.
        if (h.CH_NUM > 3) return Outcome::unsupported_header;
        vorn::write_error_line(out, h.CH_NUM);
        return Outcome::error_line;
    }

    TagChecker checker(out, channels, h.S_RATE, opt.tag_list, limits);
    // The error line that tells later stages to stop, when the run gives up
    // after the header line has been written.
    auto give_up = [&](Outcome o) {
        if (!opt.tag_list) vorn::write_error_line(out, h.CH_NUM);
        return o;
    };
    Outcome o = checker.open(s);
    if (o != Outcome::ok) return give_up(o);

    while (in.next(line)) {
        if (!vorn::parse_sample_line(line, channels, s)) {
            vorn::warn_malformed_line(diag, in.line_number(), line);
            continue;
        }
        if (s.n == -1) {
            // The stream ends here: what is buffered goes out unchecked,
            // then the error line travels on.
            checker.write_final();
            vorn::write_error_line(out, h.CH_NUM);
            return Outcome::error_line;
        }
        o = checker.add(s);
        if (o != Outcome::ok) return give_up(o);
    }
    checker.write_final();
    return Outcome::ok;
}

void end_run(Outcome o, const vorn::HeaderValues& h) {
    switch (o) {
        case Outcome::ok:
            vorn::finish(Exit::ok);
        case Outcome::error_line:
            // Names stampfill, not this program: kept on purpose, stored scripts expect it.
            vorn::fail(Exit::no_useful_data,
                       "%s ERROR: No useful data in stampfill!\n",
                       {vorn::program_name()});
        case Outcome::unsupported_header:
            vorn::report_unsupported_header(vorn::err(), vorn::program_name(), h);
            vorn::finish(Exit::no_useful_data);
        case Outcome::buffer_full:
            // The advice to recompile "x" is kept on purpose: stored scripts expect it.
            vorn::fail(Exit::fatal,
                       "%s ERROR: max number exceeded: increase MAXTMP in x and recompile\n",
                       {vorn::program_name()});
        case Outcome::no_memory_columns:
            vorn::fail(Exit::fatal,
                       "%s ERROR: malloc for nsample failed, not enough core memory\n",
                       {vorn::program_name()});
        case Outcome::no_memory_channels:
            vorn::fail(Exit::fatal,
                       "%s ERROR: malloc failed, not enough core memory\n",
                       {vorn::program_name()});
    }
    vorn::finish(Exit::fatal);
}

}  // namespace timefit
