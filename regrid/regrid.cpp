#include "regrid.hpp"

#include <cmath>
#include <optional>

#include "format.hpp"
#include "textlines.hpp"

namespace vorn::regrid {

int64_t sample_interval(int32_t s_rate) {
    return static_cast<int64_t>(std::floor(1000000.0 / static_cast<double>(s_rate)));
}

bool line_time(int64_t seconds, int64_t microseconds, int64_t& time_us) {
    if (seconds > kMaxTimeUs / 1000000) return false;
    if (microseconds > kMaxTimeUs || microseconds < -kMaxTimeUs) return false;
    const int64_t t = seconds * 1000000 + microseconds;
    if (t > kMaxTimeUs || t < -kMaxTimeUs) return false;
    time_us = t;
    return true;
}

int64_t first_instant(int64_t t25, int64_t hx) {
    int64_t s = t25 / 1000000;
    const int64_t u = t25 - s * 1000000;
    const double steps = std::ceil(static_cast<double>(u) / static_cast<double>(hx));
    int64_t r = static_cast<int64_t>(static_cast<double>(hx) * steps);
    if (r == 1000000) {
        r = 0;
        s = s + 1;
    }
    return s * 1000000 + r;
}

int32_t round_half_away(double v) {
    const double r = v >= 0 ? v + 0.5 : v - 0.5;
    if (r >= 2147483648.0) return INT32_MAX;
    if (r <= -2147483649.0) return INT32_MIN;
    return static_cast<int32_t>(r);
}

// ---- Grid -----------------------------------------------------------------

void Grid::store(int position, int64_t time_us, const int32_t* values) {
    const int slot = (head_ + position) % kWindow;
    ts1l_[slot] = ts1l_[slot + kWindow] = time_us;
    for (int c = 0; c < channels_; ++c) ampx_[c][slot] = ampx_[c][slot + kWindow] = values[c];
}

void Grid::fill(int64_t time_us, const int32_t* values) {
    // Positions 0..49 are filled in order before the window first slides.
    static_assert(kFillLines == kWindow - 1);
    if (filled_ >= kFillLines) return;
    store(filled_++, time_us, values);
}

void Grid::begin(const KernelTable& kernel) {
    kernel_ = &kernel;
    hx_ = kernel.hx();
    tsrl_ = first_instant(ts1l_[head_ + kCentre], hx_);
}

void Grid::write_instant(Writer& out, const double* weights) {
    const int64_t sec = tsrl_ / 1000000;
    const int64_t usec = tsrl_ % 1000000;
    if (calendar_) {
        out.put(date_.of(sec));
    } else {
        out.num(sec);
    }
    out.put(' ');
    out.num(usec, 6);
    out.put(' ');
    for (int c = 0; c < channels_; ++c) {
        const int32_t* a = ampx_[c] + head_;
        double value = 0.0;
        for (int p = 0; p < kWindow; ++p) value += static_cast<double>(a[p]) * weights[p];
        out.put(' ');
        out.num(round_half_away(value));
    }
    out.put('\n');
}

void Grid::step(int64_t time_us, const int32_t* values, Writer& out) {
    store(kWindow - 1, time_us, values);
    const int64_t t25 = ts1l_[head_ + kCentre];
    const int64_t t26 = ts1l_[head_ + kCentre + 1];
    while (tsrl_ < t26) {
        const int64_t delta_t = t25 - tsrl_;
        // Position p lies at t25 + (p - 25) hx; its distance to the instant
        // is the table index.
        double weights[kWindow];
        for (int p = 0; p < kWindow; ++p) {
            int64_t d = (p - kCentre) * hx_ + delta_t;
            if (d < 0) d = -d;
            weights[p] = kernel_->at(d);
        }
        write_instant(out, weights);
        tsrl_ += hx_;
    }
    head_ = (head_ + 1) % kWindow;
}

// ---- The run --------------------------------------------------------------

namespace {

void report(Writer& err, std::string_view fmt, std::initializer_list<FmtArg> args) {
    format_to(err, fmt, args);
    err.flush();
}

RegridExit unsupported(const HeaderValues& h, Writer& err) {
    report(err, "%s ERROR: unsupported header: CH_NUM %d S_RATE %d\n", {program_name(), h.CH_NUM, h.S_RATE});
    return RegridExit::no_useful_data;
}

RegridExit rate_not_supported(const HeaderValues& h, int64_t hx, Writer& out, Writer& err) {
    write_error_line(out, h.CH_NUM);
    report(err, "%s sample rate of %ld not supported in regrid!\n", {program_name(), 1000000 / hx});
    return RegridExit::no_useful_data;
}

}  // namespace

RegridExit run_regrid(LineReader& in, Writer& out, Writer& err, const RegridOptions& options) {
    HeaderValues h;
    std::string_view line;
    if (in.next(line)) read_header_line(line, h);
    write_header_line(out, h);

    const bool rate_in_range = h.S_RATE >= 1 && h.S_RATE <= kMaxRate;
    const int64_t hx = rate_in_range ? sample_interval(h.S_RATE) : 0;
    const bool supported = header_supported(h, kMaxRate);
    const int ch = supported ? h.CH_NUM : 0;

    Grid grid(ch, options.calendar);
    std::optional<KernelTable> kernel;
    int64_t lines = 0;
    SampleLine s;
    while (in.next(line)) {
        if (!supported) return unsupported(h, err);
        int64_t t = 0;
        if (!parse_sample_line(line, ch, s)) {
            report(err, "Warning: skipping malformed line %ld: %s\n", {in.line_number(), line});
            continue;
        }
        if (s.n == -1) {
            write_error_line(out, h.CH_NUM);
            report(err, "%s ERROR: No useful data in regrid!\n", {program_name()});
            return RegridExit::no_useful_data;
        }
        if (s.sec < 0) {
            write_error_line(out, h.CH_NUM);
            report(err, "%s ERROR: sample line %ld has no time\n", {program_name(), in.line_number()});
            return RegridExit::no_useful_data;
        }
        if (!line_time(s.sec, s.usec, t)) {
            report(err, "Warning: skipping malformed line %ld: %s\n", {in.line_number(), line});
            continue;
        }
        if (lines < kFillLines) {
            grid.fill(t, s.v);
            if (++lines == kFillLines) {
                if (hx > kMaxHx) return rate_not_supported(h, hx, out, err);
                kernel.emplace(hx);
                grid.begin(*kernel);
            }
            continue;
        }
        grid.step(t, s.v, out);
    }
    // Fewer than 50 sample lines: the rate is still checked.
    if (lines < kFillLines && rate_in_range && hx > kMaxHx) {
        if (!supported) return unsupported(h, err);
        return rate_not_supported(h, hx, out, err);
    }
    return RegridExit::ok;
}

}  // namespace vorn::regrid
