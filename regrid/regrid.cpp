#include "regrid.hpp"

#include <charconv>
#include <cmath>
#include <optional>

#include "fieldscan.hpp"
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
    for (int c = 0; c < channels_; ++c) ampx_[c][slot] = ampx_[c][slot + kWindow] = static_cast<double>(values[c]);
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

// Each channel's value is the sum over p = 0..50, in ascending p, of
// amplitude times weight, from 0. The channels are summed side by side; each
// sum keeps its own order of operations.
template <int Channels>
void Grid::interpolate(const double* weights, double* values) const {
    double acc[Channels];
    const double* a[Channels];
    for (int c = 0; c < Channels; ++c) {
        acc[c] = 0.0;
        a[c] = ampx_[c] + head_;
    }
    for (int p = 0; p < kWindow; ++p)
        for (int c = 0; c < Channels; ++c) acc[c] += a[c][p] * weights[p];
    for (int c = 0; c < Channels; ++c) values[c] = acc[c];
}

void Grid::write_instant(Writer& out, const double* weights) {
    double values[3] = {0.0, 0.0, 0.0};
    switch (channels_) {
    case 1: interpolate<1>(weights, values); break;
    case 2: interpolate<2>(weights, values); break;
    default: interpolate<3>(weights, values); break;
    }
    const int64_t sec = tsrl_ / 1000000;
    const int64_t usec = tsrl_ % 1000000;
    if (calendar_) {
        out.put(date_.of(sec));
    } else {
        if (sec != sec_cached_ || sec_len_ == 0) {
            sec_len_ = static_cast<std::size_t>(std::to_chars(sec_text_, sec_text_ + sizeof sec_text_, sec).ptr - sec_text_);
            sec_cached_ = sec;
        }
        out.put(std::string_view(sec_text_, sec_len_));
    }
    // " %6ld " with the microseconds, then " %d" per channel: built in one
    // piece and written at once.
    char line[96];
    char* p = line;
    *p++ = ' ';
    if (usec >= 0 && usec < 1000000) {
        int64_t u = usec;
        for (int k = 5; k >= 0; --k) {
            p[k] = static_cast<char>('0' + u % 10);
            u /= 10;
        }
        for (int k = 0; k < 5 && p[k] == '0'; ++k) p[k] = ' ';
        p += 6;
    } else {
        char digits[24];
        char* e = std::to_chars(digits, digits + sizeof digits, usec).ptr;
        for (auto n = e - digits; n < 6; ++n) *p++ = ' ';
        for (char* d = digits; d != e; ++d) *p++ = *d;
    }
    *p++ = ' ';
    for (int c = 0; c < channels_; ++c) {
        *p++ = ' ';
        p = std::to_chars(p, line + sizeof line, round_half_away(values[c])).ptr;
    }
    *p++ = '\n';
    out.put(std::string_view(line, static_cast<std::size_t>(p - line)));
}

void Grid::weights_for(int64_t delta_t) {
    if (delta_t == weights_delta_ && weights_valid_) return;
    // Position p lies at t25 + (p - 25) hx; its distance to the instant is
    // the table index.
    const int64_t reach = (kTableSpan - kHalfTaps) * hx_;
    if (delta_t >= -reach && delta_t <= reach) {
        // Every distance lies within the filled table: no range check.
        for (int p = 0; p < kWindow; ++p) {
            int64_t d = (p - kCentre) * hx_ + delta_t;
            d = d < 0 ? -d : d;
            weights_[p] = kernel_->coeff(d);
        }
    } else {
        for (int p = 0; p < kWindow; ++p) {
            int64_t d = (p - kCentre) * hx_ + delta_t;
            if (d < 0) d = -d;
            weights_[p] = kernel_->at(d);
        }
    }
    weights_delta_ = delta_t;
    weights_valid_ = true;
}

void Grid::step(int64_t time_us, const int32_t* values, Writer& out) {
    store(kWindow - 1, time_us, values);
    const int64_t t25 = ts1l_[head_ + kCentre];
    const int64_t t26 = ts1l_[head_ + kCentre + 1];
    while (tsrl_ < t26) {
        weights_for(t25 - tsrl_);
        write_instant(out, weights_);
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
        if (!scan_sample_line(line, ch, s)) {
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
