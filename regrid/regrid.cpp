#include "regrid.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "cpu.hpp"
#include "decimal.hpp"
#include "textparse.hpp"
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

// ---- Grid -----------------------------------------------------------------

void Grid::store(int position, int64_t time_us, const int32_t* values) {
    const unsigned slot = (head_ + static_cast<unsigned>(position)) % kRing;
    ts1l_[slot] = ts1l_[slot + kRing] = time_us;
    // All three value fields are stored; the lanes of absent channels are
    // summed but never written.
    for (int c = 0; c < 3; ++c) ampx_[slot][c] = ampx_[slot + kRing][c] = static_cast<double>(values[c]);
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

void Grid::weights_for(int64_t delta_t, double* weights) {
    // Position p lies at t25 + (p - 25) hx; its distance to the instant is
    // the table index.
    const int64_t reach = (kTableSpan - kHalfTaps) * hx_;
    if (delta_t >= -reach && delta_t <= reach) {
        // Every distance lies within the filled table: no range check.
        for (int p = 0; p < kWindow; ++p) {
            int64_t d = (p - kCentre) * hx_ + delta_t;
            d = d < 0 ? -d : d;
            weights[p] = kernel_->coeff(d);
        }
    } else {
        for (int p = 0; p < kWindow; ++p) {
            int64_t d = (p - kCentre) * hx_ + delta_t;
            if (d < 0) d = -d;
            weights[p] = kernel_->at(d);
        }
    }
}

namespace {
// Two doubles side by side: each lane is added and multiplied on its own,
// with the same rounding as single doubles.
typedef double Pair __attribute__((vector_size(16)));
inline Pair load_pair(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
}  // namespace

// Each channel's value is the sum over p = 0..50, in ascending p, of
// amplitude times weight, from 0. The channels of Count instants are summed
// side by side, two channels to a pair (four to a quad where the processor
// has 256-bit vectors); each sum keeps its own order of operations, and a
// multiplication and an addition are never fused, so every lane rounds
// exactly as a single double would: the results are the same bits on every
// machine.
template <int Count>
void Grid::interpolate(const Pending* pending, double (*values)[4]) const {
    Pair lo[Count];
    Pair hi[Count];
    const double* a[Count];
    const double* w[Count];
    for (int k = 0; k < Count; ++k) {
        lo[k] = Pair{0.0, 0.0};
        hi[k] = Pair{0.0, 0.0};
        a[k] = ampx_[pending[k].head];
        w[k] = weights_[pending[k].weights];
    }
    for (int p = 0; p < kWindow; ++p) {
        for (int k = 0; k < Count; ++k) {
            const Pair weight = {w[k][p], w[k][p]};
            const double* amp = a[k] + 4 * p;
            lo[k] += load_pair(amp) * weight;
            hi[k] += load_pair(amp + 2) * weight;
        }
    }
    for (int k = 0; k < Count; ++k) {
        values[k][0] = lo[k][0];
        values[k][1] = lo[k][1];
        values[k][2] = hi[k][0];
        values[k][3] = hi[k][1];
    }
}

namespace {
typedef double Quad __attribute__((vector_size(32)));

// The same sums four channels wide. Shared: every instant uses the weights
// w[0] (instants at the same distance from their centre lines), which are
// then loaded once per position.
template <int Count, bool Shared>
[[gnu::always_inline]] inline void interpolate_quad(const double* const* a, const double* const* w,
                                                    double (*values)[4]) {
    Quad sum[Count];
    for (int k = 0; k < Count; ++k) sum[k] = Quad{0.0, 0.0, 0.0, 0.0};
    for (int p = 0; p < kWindow; ++p) {
        for (int k = 0; k < Count; ++k) {
            const double wk = Shared ? w[0][p] : w[k][p];
            const Quad weight = {wk, wk, wk, wk};
            Quad amp;
            std::memcpy(&amp, a[k] + 4 * p, sizeof amp);
            const Quad product = amp * weight;
            sum[k] = sum[k] + product;
        }
    }
    for (int k = 0; k < Count; ++k) std::memcpy(values[k], &sum[k], sizeof sum[k]);
}

template <int Count>
[[gnu::always_inline]] inline void interpolate_quad(bool shared, const double* const* a, const double* const* w,
                                                    double (*values)[4]) {
    if (shared) interpolate_quad<Count, true>(a, w, values);
    else interpolate_quad<Count, false>(a, w, values);
}

// The sums of count instants (1..8) four wide: one instruction per four
// channels on processors with AVX, two on the others (the same bits).
VORN_HOT_CLONES
void interpolate_quads(int count, bool shared, const double* const* a, const double* const* w,
                       double (*values)[4]) {
    switch (count) {
    case 8: interpolate_quad<8>(shared, a, w, values); break;
    case 7: interpolate_quad<7>(shared, a, w, values); break;
    case 6: interpolate_quad<6>(shared, a, w, values); break;
    case 5: interpolate_quad<5>(shared, a, w, values); break;
    case 4: interpolate_quad<4>(shared, a, w, values); break;
    case 3: interpolate_quad<3>(shared, a, w, values); break;
    case 2: interpolate_quad<2>(shared, a, w, values); break;
    default: interpolate_quad<1>(shared, a, w, values); break;
    }
}
}  // namespace

Grid::Grid(int channels, bool calendar, bool wide_sums)
    : channels_(channels), calendar_(calendar), wide_(wide_sums) {}

template <int Count>
void Grid::interpolate_any(const Pending* pending, double (*values)[4]) const {
    if (wide_) {
        const double* a[Count];
        const double* w[Count];
        bool shared = true;
        for (int k = 0; k < Count; ++k) {
            a[k] = ampx_[pending[k].head];
            w[k] = weights_[pending[k].weights];
            shared &= pending[k].weights == pending[0].weights;
        }
        interpolate_quads(Count, shared, a, w, values);
    } else {
        interpolate<Count>(pending, values);
    }
}

void Grid::compute_pending(Writer& out) {
    if (npending_ == 0) return;
    double values[kBatch][4] = {};
    static_assert(kBatch == 8);
    switch (npending_) {
    case 8: interpolate_any<8>(pending_, values); break;
    case 7: interpolate_any<7>(pending_, values); break;
    case 6: interpolate_any<6>(pending_, values); break;
    case 5: interpolate_any<5>(pending_, values); break;
    case 4: interpolate_any<4>(pending_, values); break;
    case 3: interpolate_any<3>(pending_, values); break;
    case 2: interpolate_any<2>(pending_, values); break;
    default: interpolate_any<1>(pending_, values); break;
    }
    char* p = out.room(kBatch * kMaxLine);
    switch (channels_) {
    case 1: p = write_instants<1>(p, values); break;
    case 2: p = write_instants<2>(p, values); break;
    default: p = write_instants<3>(p, values); break;  // instants exist only with 1..3 channels
    }
    out.advance(p);
    npending_ = 0;
}

void Grid::finish(Writer& out) { compute_pending(out); }

// The pending instants' grid lines at p: "%ld %6ld " (or the calendar
// time), then " %d" per channel.
template <int Ch>
char* Grid::write_instants(char* p, const double (*values)[4]) {
    for (int k = 0; k < npending_; ++k) {
        const int64_t tsrl = pending_[k].tsrl;
        const int64_t sec = tsrl / 1000000;
        const int64_t usec = tsrl % 1000000;
        if (calendar_) {
            const std::string_view date = date_.of(sec);
            const std::size_t n = date.size() < 64 ? date.size() : 64;
            std::memcpy(p, date.data(), n);
            p += n;
        } else {
            p = sec_text_.put(p, sec);
        }
        *p++ = ' ';
        p = put_int_width6(p, usec);
        *p++ = ' ';
#pragma GCC unroll 3
        for (int c = 0; c < Ch; ++c) {
            *p++ = ' ';
            p = put_int(p, round_half_away(values[k][c]));
        }
        *p++ = '\n';
    }
    return p;
}

int Grid::weight_set(int64_t delta_t, Writer& out) {
    const int slot = static_cast<int>(static_cast<uint64_t>(delta_t) % kWeightSets);
    if (weights_valid_[slot] && weights_delta_[slot] == delta_t) return slot;
    // The slot is taken anew: the pending instants that use it go first.
    for (int k = 0; k < npending_; ++k) {
        if (pending_[k].weights == slot) {
            compute_pending(out);
            break;
        }
    }
    weights_for(delta_t, weights_[slot]);
    weights_delta_[slot] = delta_t;
    weights_valid_[slot] = true;
    return slot;
}

void Grid::step(int64_t time_us, const int32_t* values, Writer& out) {
    // The new line's slot must not lie in a pending instant's window.
    static_assert(kRing >= kWindow + kBatch);
    if (npending_ > 0 && (head_ - static_cast<unsigned>(pending_[0].head)) % kRing >= kRing - kWindow)
        compute_pending(out);
    store(kWindow - 1, time_us, values);
    const int64_t t25 = ts1l_[head_ + kCentre];
    const int64_t t26 = ts1l_[head_ + kCentre + 1];
    while (tsrl_ < t26) {
        if (npending_ == kBatch) compute_pending(out);
        const int weights = weight_set(t25 - tsrl_, out);
        Pending& e = pending_[npending_++];
        e.tsrl = tsrl_;
        e.head = static_cast<int>(head_);
        e.weights = weights;
        tsrl_ += hx_;
    }
    head_ = (head_ + 1) % kRing;
}

// ---- The run --------------------------------------------------------------

namespace {

Exit unsupported(const HeaderValues& h, Writer& err) {
    report_unsupported_header(err, program_name(), h);
    return Exit::no_useful_data;
}

Exit rate_not_supported(const HeaderValues& h, int64_t hx, Writer& out, Writer& err) {
    write_error_line(out, h.CH_NUM);
    // No "ERROR:", and "regrid" whatever the name invoked: kept on purpose, stored scripts expect it.
    message(err, "%s sample rate of %ld not supported in regrid!\n", {program_name(), 1000000 / hx});
    return Exit::no_useful_data;
}

}  // namespace

Exit run_regrid(LineReader& in, Writer& out, Writer& err, const RegridOptions& options) {
    HeaderValues h;
    vorn::PaddedLine line;
    if (in.next(line)) read_header_line(line, h);
    write_header_line(out, h);

    const bool rate_in_range = h.S_RATE >= 1 && h.S_RATE <= kMaxRate;
    const int64_t hx = rate_in_range ? sample_interval(h.S_RATE) : 0;
    const bool supported = header_supported(h, kMaxRate);
    const int ch = supported ? h.CH_NUM : 0;

    Grid grid(ch, options.calendar, options.wide_sums);
    std::optional<KernelTable> kernel;
    int64_t lines = 0;
    int64_t last_t = 0;  // the time of the last sample line taken
    SampleLine s;
    while (in.next(line)) {
        if (!supported) return unsupported(h, err);
        int64_t t = 0;
        if (!parse_sample_line(line, ch, s)) {
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        if (s.n == -1) {
            grid.finish(out);
            pass_error_line(out, err, program_name(), h.CH_NUM, "regrid");
            return Exit::no_useful_data;
        }
        if (s.sec < 0) {
            grid.finish(out);
            write_error_line(out, h.CH_NUM);
            message(err, "%s ERROR: sample line %ld has no time\n", {program_name(), in.line_number()});
            return Exit::no_useful_data;
        }
        if (!line_time(s.sec, s.usec, t)) {
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        if (lines > 0 && t > last_t && (t - last_t) / hx > kMaxGapSteps) {
            grid.finish(out);
            write_error_line(out, h.CH_NUM);
            message(err, "%s ERROR: sample line %ld lies %ld s after the line before it\n",
                    {program_name(), in.line_number(), (t - last_t) / 1000000});
            return Exit::no_useful_data;
        }
        last_t = t;
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
    grid.finish(out);
    // Fewer than 50 sample lines: the rate is still checked.
    if (lines < kFillLines && rate_in_range && hx > kMaxHx) {
        if (!supported) return unsupported(h, err);
        return rate_not_supported(h, hx, out, err);
    }
    return Exit::ok;
}

}  // namespace vorn::regrid
