#include "sampleout.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vornconv {

namespace {

// A non-negative decimal number kept as text and counted up in place:
// consecutive sample numbers cost a few byte operations each.
class DecimalCounter {
public:
    explicit DecimalCounter(int64_t n) {
        char tmp[24];
        char* e = std::to_chars(tmp, tmp + sizeof tmp, n).ptr;
        len_ = static_cast<int>(e - tmp);
        start_ = kEnd - len_;
        std::memcpy(digits_ + start_, tmp, static_cast<std::size_t>(len_));
    }
    const char* data() const { return digits_ + start_; }
    std::size_t size() const { return static_cast<std::size_t>(len_); }
    void increment() {
        int i = kEnd - 1;
        while (i >= start_ && digits_[i] == '9') digits_[i--] = '0';
        if (i < start_) {
            digits_[--start_] = '1';
            ++len_;
        } else {
            ++digits_[i];
        }
    }

private:
    static constexpr int kEnd = 24;
    char digits_[kEnd] = {};
    int start_ = kEnd;
    int len_ = 0;
};

// Longest untimed line: 20 digits of sample number, three values of at most
// 11 characters, separators and "-1 0\n".
constexpr std::size_t kMaxLine = 96;
constexpr std::size_t kChunk = 1 << 16;

}  // namespace

void write_untimed_run(vorn::Writer& w, int64_t first, const int32_t* values, int ch, int64_t count) {
    if (count <= 0) return;
    char chunk[kChunk];
    std::size_t pos = 0;
    DecimalCounter n(first);
    for (int64_t k = 0; k < count; ++k) {
        if (pos > kChunk - kMaxLine) {
            w.put(std::string_view(chunk, pos));
            pos = 0;
        }
        char* p = chunk + pos;
        std::memcpy(p, n.data(), n.size());
        p += n.size();
        *p++ = ' ';
        for (int c = 0; c < ch; ++c) {
            p = std::to_chars(p, p + 12, values[c]).ptr;
            *p++ = ' ';
        }
        std::memcpy(p, "-1 0\n", 5);
        p += 5;
        pos = static_cast<std::size_t>(p - chunk);
        values += ch;
        n.increment();
    }
    w.put(std::string_view(chunk, pos));
}

void write_timed_line(vorn::Writer& w, int64_t n, const int32_t* values, int ch, vorn::SplitTime t,
                      std::string_view date) {
    w.num(n);
    w.put(' ');
    for (int c = 0; c < ch; ++c) {
        w.num(values[c]);
        w.put(' ');
    }
    w.num(t.sec);
    w.put(' ');
    w.num(t.usec);
    if (!date.empty()) {
        w.put(' ');
        w.put(date);
    }
    w.put('\n');
}

LineTime line_time(double t) {
    // 1e15 s is some thirty million years: far beyond any recording, and
    // well inside what the calendar conversion handles.
    if (!(t > -1e15 && t < 1e15)) return {};
    return {vorn::split_time(t), true};
}

void write_gps_string_line(vorn::Writer& w, const vorn::GpsString& gps, std::string_view temperature,
                           std::string_view elevation, int64_t t_new) {
    gps.write(w);
    w.put("  ");
    w.right(temperature, 5);
    w.put(' ');
    w.right(elevation, 6);
    w.put(' ');
    w.num(t_new);
    w.put(' ');
    vorn::write_datetime(w, vorn::utc_gmtime(t_new));
    w.put('\n');
}

void write_diagnostic_line(vorn::Writer& w, const vorn::GpsString& gps, int64_t t_new, vorn::SplitTime f1,
                           const vorn::CivilTime& own, int32_t shift_count, int64_t nsample, int not_valid) {
    w.put("D ");
    gps.write(w);
    w.put(' ');
    w.num(t_new);
    w.put(' ');
    w.num(f1.sec);
    w.put(' ');
    w.num(f1.usec);
    w.put(' ');
    vorn::write_datetime(w, own);
    w.put(' ');
    w.num(shift_count);
    w.put(' ');
    w.num(nsample);
    w.put(' ');
    w.num(not_valid);
    w.put('\n');
}

}  // namespace vornconv
