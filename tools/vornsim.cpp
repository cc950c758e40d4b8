#include "vornsim.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <fcntl.h>
#include <unistd.h>

#include "calendar.hpp"
#include "format.hpp"
#include "options.hpp"
#include "textparse.hpp"

namespace vornsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The first shift that no longer fits the 14-bit count.
constexpr double kShiftLimitUs = (vorn::kMaxShiftCount + 1) * vorn::kShiftQuantumUs;
// The last second the four-digit year of a GPS string can name.
constexpr double kLastSecond = 253402300799.0;  // 9999-12-31T23:59:59

// Aux units of the readings (1-based codes of the unit table).
constexpr uint8_t kUnitMilliCelsius = 14;
constexpr uint8_t kUnitMilliVolt = 4;

// ---------------------------------------------------------------------------
// Random numbers, derived from the raw 64-bit output of the generator so that
// the bytes are the same with every standard library.
uint64_t splitmix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class Random {
public:
    // Each feature draws from an engine of its own, so that switching one
    // feature on leaves the numbers of the others unchanged.
    Random(uint64_t seed, uint64_t feature) : engine_(splitmix64(seed ^ splitmix64(feature))) {}
    // Uniform in [0, 1), 53 bits.
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
    // Uniform integer in [0, n), n >= 1.
    int64_t below(int64_t n) {
        int64_t v = static_cast<int64_t>(uniform() * static_cast<double>(n));
        return v < n ? v : n - 1;
    }
    // Selection sampling: true for exactly `needed` of `remaining` calls.
    bool select(int64_t& needed, int64_t remaining) {
        if (needed <= 0) return false;
        if (uniform() * static_cast<double>(remaining) < static_cast<double>(needed)) {
            --needed;
            return true;
        }
        return false;
    }

private:
    std::mt19937_64 engine_;
};

enum Feature : uint64_t { kJitter = 1, kOutlier = 2, kDamage = 3, kAux = 4, kStatus = 5, kStatusRunBytes = 6 };

// ---------------------------------------------------------------------------
// Command-line values.

bool parse_double(const char* s, double& v) {
    std::string_view t(s);
    if (t.empty()) return false;
    const char* b = t.data();
    const char* e = b + t.size();
    if (*b == '+') {
        ++b;
        if (b == e || *b == '-') return false;
    }
    auto [ptr, ec] = std::from_chars(b, e, v);
    return ec == std::errc() && ptr == e && std::isfinite(v);
}

template <class T>
bool parse_int(const char* s, T& v) {
    return vorn::FieldCursor::parse_integer(std::string_view(s), v);
}

bool parse_window(const char* s, Window& w) {
    const char* colon = std::strchr(s, ':');
    if (colon == nullptr) return false;
    std::string first(s, static_cast<std::size_t>(colon - s));
    return parse_double(first.c_str(), w.start) && parse_double(colon + 1, w.length) && w.length >= 0.0;
}

bool printable(std::string_view s, bool allow_space) {
    for (char c : s) {
        if (c == ' ' && allow_space) continue;
        if (c < 0x21 || c > 0x7E) return false;
    }
    return true;
}

// "%02d" into a string.
void put2(std::string& s, int64_t v) {
    s.push_back(static_cast<char>('0' + (v / 10) % 10));
    s.push_back(static_cast<char>('0' + v % 10));
}

}  // namespace

// ---------------------------------------------------------------------------

void write_usage(vorn::Writer& w) {
    w.put(
        "usage: vornsim [options]                 one recorder stream on standard output\n"
        "       vornsim [options] -k K -o PREFIX  K recorder files PREFIX0001.vrn ...\n"
        "  -s seed          random seed (default 1)\n"
        "  -c channels      1..3 (default 3)\n"
        "  -r rate          S_RATE, samples per second (default 100)\n"
        "  -d seconds       duration in seconds of true time (default 60)\n"
        "  -t start         true UTC time of sample 0, seconds since 1970 (default 1483228800.2501)\n"
        "  -f dfilt         D_FILT (default 0)\n"
        "  -p ppm           sample-clock drift in parts per million (default 0)\n"
        "  -j us            time-shift jitter, uniform +-us microseconds (default 0)\n"
        "  -u offset        GPS-UTC offset written in the GPS strings (default 18)\n"
        "  -U               offset flag 0 (offset not marked valid) in every GPS string\n"
        "  -g start:len     no GPS blocks for len seconds from start seconds (repeatable)\n"
        "  -G start:len     GPS blocks with fix digit 1 for that stretch (repeatable)\n"
        "  -O count         that many GPS outliers (time shift off by 300..900 us)\n"
        "  -a seconds       an aux group every that many seconds (default 0: none)\n"
        "  -x seconds       a status block every that many seconds (default 0: none)\n"
        "  -X seconds       a status run every that many seconds (default 0: none)\n"
        "  -z count         that many damaged stretches (default 0)\n"
        "  -V               end with a status block whose overrun flag is 1\n"
        "  -n               no trailer\n"
        "  -T text          trailer text (default \"END OF RECORDING\")\n"
        "  -N first         DAT_NO of the first file (default 1)\n"
        "  -D devno         DEV_NO (default \"V042\")\n"
        "  -A amplitude     signal amplitude (default 100000)\n"
        "  -F hz            signal frequency (default 1.0)\n"
        "  -k K             split the recording into K files (with -o)\n"
        "  -o PREFIX        file name prefix of the recorder files\n");
}

int parse_arguments(int argc, char** argv, Options& o, vorn::Writer& diag) {
    int errors = 0;
    const std::string_view name = vorn::program_name();
    auto bad_value = [&](int letter, const char* operand) {
        vorn::format_to(diag, "%s ERROR: bad value for -%c: %s\n", {name, static_cast<char>(letter), operand});
        ++errors;
    };
    vorn::parse_options(argc, argv, "s:c:r:d:t:f:p:j:u:Ug:G:O:a:x:X:z:VnT:N:D:A:F:k:o:",
                        [&](vorn::OptionEvent event, int letter, const char* operand) {
        const char c = static_cast<char>(letter);
        if (event == vorn::OptionEvent::unrecognized) {
            vorn::format_to(diag, "%s ERROR: Unrecognized option: -%c\n", {name, c});
            ++errors;
            return;
        }
        if (event == vorn::OptionEvent::missing_operand) {
            vorn::format_to(diag, "%s ERROR: Option -%c requires an operand\n", {name, c});
            ++errors;
            return;
        }
        bool ok = true;
        Window w;
        switch (c) {
            case 's': ok = parse_int(operand, o.seed); break;
            case 'c': ok = parse_int(operand, o.channels); break;
            case 'r': ok = parse_int(operand, o.rate); break;
            case 'd': ok = parse_double(operand, o.duration); break;
            case 't': ok = parse_double(operand, o.start); break;
            case 'f': ok = parse_int(operand, o.dfilt); break;
            case 'p': ok = parse_double(operand, o.ppm); break;
            case 'j': ok = parse_double(operand, o.jitter_us); break;
            case 'u': ok = parse_int(operand, o.offset); break;
            case 'U': o.offset_valid = false; break;
            case 'g':
                ok = parse_window(operand, w);
                if (ok) o.lost_lock.push_back(w);
                break;
            case 'G':
                ok = parse_window(operand, w);
                if (ok) o.no_fix.push_back(w);
                break;
            case 'O': ok = parse_int(operand, o.outliers); break;
            case 'a': ok = parse_double(operand, o.aux_every); break;
            case 'x': ok = parse_double(operand, o.status_every); break;
            case 'X': ok = parse_double(operand, o.status_run_every); break;
            case 'z': ok = parse_int(operand, o.damaged); break;
            case 'V': o.overrun = true; break;
            case 'n': o.trailer = false; break;
            case 'T': o.trailer_text = operand; break;
            case 'N': ok = parse_int(operand, o.first_dat_no); break;
            case 'D': o.dev_no = operand; break;
            case 'A': ok = parse_double(operand, o.amplitude); break;
            case 'F': ok = parse_double(operand, o.frequency); break;
            case 'k': ok = parse_int(operand, o.files) && o.files >= 1; break;
            case 'o': o.prefix = operand; break;
            default: ok = false; break;
        }
        if (!ok) bad_value(letter, operand);
    });
    // The platform's getopt moves operands behind the options.
    for (int i = ::optind; i < argc; ++i) {
        vorn::format_to(diag, "%s ERROR: unexpected argument: %s\n", {name, argv[i]});
        ++errors;
    }
    return errors;
}

std::string check_options(const Options& o) {
    if (o.channels < 1 || o.channels > 3) return "channels (-c) must be 1, 2 or 3";
    if (o.rate < 1 || o.rate > 1000000) return "rate (-r) must be 1 to 1000000 samples per second";
    if (!(o.duration > 0.0) || o.duration > 1e8) return "duration (-d) must be above 0 and at most 100000000 seconds";
    if (o.dfilt < -1000000 || o.dfilt > 1000000) return "D_FILT (-f) must be -1000000 to 1000000";
    if (!(o.ppm >= -100000.0 && o.ppm <= 100000.0)) return "drift (-p) must be -100000 to 100000 ppm";
    if (!(o.jitter_us >= 0.0 && o.jitter_us <= 1e6)) return "jitter (-j) must be 0 to 1000000 microseconds";
    if (o.offset < -9 || o.offset > 99) return "GPS-UTC offset (-u) must be -9 to 99 (two characters)";
    const double reach = std::fabs(static_cast<double>(o.dfilt)) / o.rate + 1000.0;
    if (!(o.start >= 0.0) || o.start + o.duration + reach > kLastSecond)
        return "start (-t) must be 0 or later, and the recording must end before the year 10000";
    if (o.outliers < 0) return "outlier count (-O) must not be negative";
    if (!(o.aux_every >= 0.0) || !(o.status_every >= 0.0) || !(o.status_run_every >= 0.0))
        return "intervals (-a, -x, -X) must not be negative";
    if (o.damaged < 0) return "damaged stretch count (-z) must not be negative";
    if (o.trailer_text.size() > vorn::TrailerText::kMaxLength || !printable(o.trailer_text, true))
        return "trailer text (-T) must be at most 999 printable ASCII characters";
    if (o.dev_no.empty() || o.dev_no.size() > 99 || !printable(o.dev_no, false) ||
        o.dev_no.find_first_of("=;") != std::string::npos)
        return "DEV_NO (-D) must be 1 to 99 printable ASCII characters without space, \"=\" or \";\"";
    if (!(std::fabs(o.amplitude) <= 1e9)) return "amplitude (-A) must be -1e9 to 1e9";
    if (!(std::fabs(o.frequency) <= 1e6)) return "frequency (-F) must be -1e6 to 1e6 Hz";
    if (o.first_dat_no < 0 || o.first_dat_no > 9999) return "first DAT_NO (-N) must be 0 to 9999";
    if (o.files < 0 || o.files > 9999) return "file count (-k) must be 1 to 9999";
    if (o.files > 0 && o.prefix.empty()) return "-k needs -o PREFIX";
    const int32_t files = o.files > 0 ? o.files : 1;
    if (o.first_dat_no + files - 1 > 9999) return "DAT_NO of the last file would exceed 9999";

    Clock clock(o);
    const int64_t samples = clock.sample_count(o.duration);
    if (!o.prefix.empty() && files > samples) return "more files (-k) than sample blocks";
    if (o.damaged > samples - 1) return "more damaged stretches (-z) than gaps between sample blocks";
    if (o.outliers > 0) {
        int64_t gps = 0;
        TagSchedule schedule(o, clock, samples);
        Tag t;
        while (schedule.next(t)) ++gps;
        if (o.outliers > gps) return "more outliers (-O) than GPS blocks";
    }
    return {};
}

// ---------------------------------------------------------------------------

std::array<uint8_t, 76> make_gps_string(const GpsFields& f) {
    std::string s(76, ' ');
    s[0] = '$';
    s[1] = 'X';
    // Temperature "%5.1f" at 4-8.
    {
        int32_t t = f.temperature_tenths;
        std::string word;
        if (t < 0) word.push_back('-');
        int32_t a = t < 0 ? -t : t;
        word += std::to_string(a / 10);
        word.push_back('.');
        word.push_back(static_cast<char>('0' + a % 10));
        if (word.size() > 5) word = word.substr(word.size() - 5);
        s.replace(4 + 5 - word.size(), word.size(), word);
    }
    s.replace(10, 8, "5007.12N");
    s.replace(18, 8, "00841.5E");
    s.replace(26, 6, "0112.5");
    s[32] = '1';
    s[33] = f.fix ? '2' : '1';
    s.replace(34, 9, " 08 01.2 ");
    vorn::CivilTime t = vorn::utc_gmtime(f.string_seconds);
    std::string hms;
    put2(hms, t.tm_hour);
    put2(hms, t.tm_min);
    put2(hms, t.tm_sec);
    s.replace(43, 6, hms);
    s.replace(49, 3, ".00");
    std::string dmy;
    put2(dmy, t.tm_mday);
    put2(dmy, t.tm_mon + 1);
    const int64_t year = t.tm_year + 1900;
    put2(dmy, year / 100);
    put2(dmy, year % 100);
    s.replace(52, 8, dmy);
    // Offset "%2d" at 60-61.
    if (f.offset < 0) {
        s[60] = '-';
        s[61] = static_cast<char>('0' - f.offset);
    } else {
        s[60] = f.offset >= 10 ? static_cast<char>('0' + f.offset / 10) : ' ';
        s[61] = static_cast<char>('0' + f.offset % 10);
    }
    s[62] = '1';
    s[65] = f.offset_valid ? '1' : '0';
    s.replace(66, 10, " SIMULATED");
    std::array<uint8_t, 76> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(s[i]);
    return out;
}

std::string make_header(const Options& o, int32_t dat_no) {
    const int64_t start_sec = static_cast<int64_t>(std::floor(o.start));
    const vorn::CivilTime t = vorn::utc_gmtime(start_sec);
    std::string time, date;
    put2(time, t.tm_hour);
    time.push_back(':');
    put2(time, t.tm_min);
    time.push_back(':');
    put2(time, t.tm_sec);
    const int64_t year = t.tm_year + 1900;
    date = std::to_string(year);
    date.push_back('-');
    put2(date, t.tm_mon + 1);
    date.push_back('-');
    put2(date, t.tm_mday);
    std::string dat(4, '0');
    for (int i = 3, v = dat_no; i >= 0; --i, v /= 10) dat[static_cast<std::size_t>(i)] = static_cast<char>('0' + v % 10);

    std::string h;
    auto pair = [&h](std::string_view name, std::string_view value) {
        h += name;
        h += '=';
        h += value;
        h += ';';
    };
    pair("ZOLT_V", "1.0");
    pair("DEV_NO", o.dev_no);
    pair("E_NAME", "SIM");
    pair("P_AMPL", "1");
    pair("CH_NUM", std::to_string(o.channels));
    pair("S_RATE", std::to_string(o.rate));
    pair("D_FILT", std::to_string(o.dfilt));
    pair("C_MODE", "0");
    pair("A_CHOP", "0");
    pair("F_TIME", "0");
    pair("GPS_TI", "1");
    pair("GPS_OF", "0");
    pair("A_FILT", "0");
    pair("A_PHAS", "0");
    pair("GPS_ON", "1");
    pair("ACQ_ON", "1");
    pair("PLL_XO", "1");
    pair("AQ_MOD", "0");
    pair("V_TCXO", "2500");
    pair("GPS_PO", "N5007.12E00841.5");
    pair("S_TIME", time);
    pair("S_DATE", date);
    pair("D_VOLT", "5000");
    pair("E_VOLT", "3300");
    pair("B_VOLT", "12000");
    pair("DAT_NO", dat);
    return h;
}

// ---------------------------------------------------------------------------

Clock::Clock(const Options& o)
    : start_sec_(static_cast<int64_t>(std::floor(o.start))),
      start_frac_(o.start - std::floor(o.start)),
      rate_(static_cast<double>(o.rate)),
      scale_(1.0 + o.ppm * 1e-6),
      dfilt_s_(static_cast<double>(o.dfilt) / static_cast<double>(o.rate)) {}

int64_t Clock::sample_count(double duration) const {
    // rel() is non-decreasing in k; start from the estimate and step.
    double estimate = std::ceil(duration * rate_ / scale_);
    int64_t k = estimate > 0.0 ? static_cast<int64_t>(estimate) : 0;
    while (k > 0 && rel(k - 1) >= duration) --k;
    while (rel(k) < duration) ++k;
    return k;
}

int64_t Clock::first_at_or_after(double g) const {
    double estimate = std::ceil((g - start_frac_ - dfilt_s_) * rate_ / scale_);
    int64_t k = estimate > 0.0 ? static_cast<int64_t>(estimate) : 0;
    while (k > 0 && phi(k - 1) >= g) --k;
    while (phi(k) < g) ++k;
    return k;
}

int32_t signal_value(const Options& o, const Clock& clock, int64_t k, int channel) {
    const double x = 2.0 * kPi * o.frequency * clock.rel(k) + channel * kPi / 2.0;
    double v = std::round(o.amplitude * std::sin(x));
    if (v > 8388607.0) v = 8388607.0;
    if (v < -8388608.0) v = -8388608.0;
    return static_cast<int32_t>(v);
}

TagSchedule::TagSchedule(const Options& o, const Clock& clock, int64_t samples)
    : o_(o), clock_(clock), samples_(samples) {
    // Sample 0 is never tagged: the first second lies after t_0 + D_FILT/rate.
    g_ = static_cast<int64_t>(std::floor(clock.phi(0))) + 1;
}

bool TagSchedule::next(Tag& t) {
    for (;; ++g_) {
        const double g = static_cast<double>(g_);
        const int64_t k = clock_.first_at_or_after(g);
        if (k >= samples_) return false;
        if (k == last_sample_) continue;
        const double since_start = g - clock_.start_frac();
        bool locked = true;
        for (const Window& w : o_.lost_lock)
            if (w.contains(since_start)) locked = false;
        if (!locked) continue;
        last_sample_ = k;
        t.second = clock_.start_sec() + g_;
        t.sample = k;
        ++g_;
        return true;
    }
}

// ---------------------------------------------------------------------------

namespace {

// The recording, block by block.
class Recorder {
public:
    Recorder(const Options& o, Output& out)
        : o_(o), out_(out), clock_(o), samples_(clock_.sample_count(o.duration)),
          jitter_(o.seed, kJitter), outlier_(o.seed, kOutlier), damage_(o.seed, kDamage),
          aux_(o.seed, kAux), status_(o.seed, kStatus), run_bytes_(o.seed, kStatusRunBytes),
          schedule_(o, clock_, samples_) {}

    Summary run();

private:
    void open_file(int32_t index);
    void sample_block(int64_t k, bool tagged);
    void gps_block(const Tag& t);
    void damaged_stretch();
    void aux_group(double rel);
    void status_block(uint8_t overrun_flag);
    void status_run();
    void aux_text(uint8_t type, std::string_view text);
    int64_t gps_position(const Tag& t, int64_t next_sample) const;

    const Options& o_;
    Output& out_;
    Clock clock_;
    int64_t samples_;
    Random jitter_, outlier_, damage_, aux_, status_, run_bytes_;
    TagSchedule schedule_;
    vorn::Writer* w_ = nullptr;
    Summary summary_;
    int64_t gps_total_ = 0;
    int64_t gps_index_ = 0;
    int64_t outliers_needed_ = 0;
    std::array<double, 3> phase_{};
};

int64_t Recorder::gps_position(const Tag& t, int64_t next_sample) const {
    // The GPS block follows a tenth of a second of samples after its tagged
    // sample, always before the next tagged sample and the end.
    int64_t p = t.sample + o_.rate / 10;
    if (p > next_sample - 1) p = next_sample - 1;
    if (p > samples_ - 1) p = samples_ - 1;
    return p;
}

void Recorder::open_file(int32_t index) {
    w_ = &out_.open(index, o_.first_dat_no + index);
    w_->put(make_header(o_, o_.first_dat_no + index));
}

void Recorder::sample_block(int64_t k, bool tagged) {
    int32_t values[vorn::kMaxChannels];
    const double rel = clock_.rel(k);
    const double w = 2.0 * kPi * o_.frequency;
    for (int c = 0; c < o_.channels; ++c) {
        // Same operations, in the same order, as signal_value().
        double v = std::round(o_.amplitude * std::sin(w * rel + phase_[static_cast<std::size_t>(c)]));
        if (v > 8388607.0) v = 8388607.0;
        if (v < -8388608.0) v = -8388608.0;
        values[c] = static_cast<int32_t>(v);
    }
    uint8_t block[vorn::kMaxSampleBlock];
    const std::size_t n = vorn::encode_sample_block(tagged, values, o_.channels, block);
    w_->put(std::string_view(reinterpret_cast<const char*>(block), n));
}

void Recorder::gps_block(const Tag& t) {
    const double g = static_cast<double>(t.second - clock_.start_sec());
    const double since_start = g - clock_.start_frac();
    double us = (clock_.phi(t.sample) - g) * 1e6;
    if (o_.jitter_us > 0.0) us += o_.jitter_us * (2.0 * jitter_.uniform() - 1.0);
    if (outlier_.select(outliers_needed_, gps_total_ - gps_index_)) {
        const double size = 300.0 + 600.0 * outlier_.uniform();
        const bool up = (outlier_.uniform() < 0.5);
        const double first = up ? us + size : us - size;
        const double second = up ? us - size : us + size;
        us = (first >= 0.0 && first < kShiftLimitUs) ? first : second;
    }
    ++gps_index_;
    if (us >= kShiftLimitUs) ++summary_.clamped_shifts;
    const int32_t count = vorn::shift_count(us);

    GpsFields f;
    f.string_seconds = t.second - o_.offset;
    f.offset = o_.offset;
    f.offset_valid = o_.offset_valid;
    f.fix = true;
    for (const Window& w : o_.no_fix)
        if (w.contains(since_start)) f.fix = false;
    f.temperature_tenths = static_cast<int32_t>(std::lround(235.0 + 15.0 * std::sin(2.0 * kPi * since_start / 86400.0)));
    vorn::GpsString s;
    s.bytes = make_gps_string(f);

    uint8_t block[vorn::kGpsBlockLength];
    vorn::encode_gps_block(s, count, block);
    w_->put(std::string_view(reinterpret_cast<const char*>(block), sizeof block));
    ++summary_.gps_blocks;
}

void Recorder::damaged_stretch() {
    // A run of 1..5 bytes 0x00-0x0F, then 0..2 stray data bytes 0x10-0x7F.
    const int64_t run = 1 + damage_.below(5);
    for (int64_t i = 0; i < run; ++i) w_->put(static_cast<char>(damage_.below(16)));
    const int64_t stray = damage_.below(3);
    for (int64_t i = 0; i < stray; ++i) w_->put(static_cast<char>(0x10 + damage_.below(0x70)));
}

void Recorder::aux_text(uint8_t type, std::string_view text) {
    // The length counts the type byte and the descriptor.
    w_->put(static_cast<char>(vorn::kAuxBlock));
    w_->put(static_cast<char>(vorn::encode_aux_descriptor(type, static_cast<int>(text.size() + 2))));
    w_->put(text);
}

void Recorder::aux_group(double rel) {
    // Type-2 value record of two entries (L = 2 + 2*4 = 10): a temperature
    // in m°C and a supply voltage in mV; then a continuing (type 6) and a
    // closing (type 4) text.
    const int32_t temperature =
        static_cast<int32_t>(std::lround(23000.0 + 2000.0 * std::sin(2.0 * kPi * rel / 86400.0))) +
        static_cast<int32_t>(aux_.below(101)) - 50;
    const int32_t voltage = 12000 + static_cast<int32_t>(aux_.below(41)) - 20;
    uint8_t block[2 + 2 * vorn::kAuxEntryBytes];
    block[0] = vorn::kAuxBlock;
    block[1] = vorn::encode_aux_descriptor(2, sizeof block);
    vorn::encode_aux_entry(kUnitMilliCelsius, temperature, block + 2);
    vorn::encode_aux_entry(kUnitMilliVolt, voltage, block + 6);
    w_->put(std::string_view(reinterpret_cast<const char*>(block), sizeof block));
    aux_text(6, "SENSORS");
    aux_text(4, "OK");
}

void Recorder::status_block(uint8_t overrun_flag) {
    w_->put(static_cast<char>(vorn::kStatusBlock));
    w_->put(static_cast<char>(overrun_flag));
    w_->put(static_cast<char>(status_.below(128)));
}

void Recorder::status_run() {
    w_->put(static_cast<char>(vorn::kStatusRun));
    const int64_t n = 1 + run_bytes_.below(4);
    for (int64_t i = 0; i < n; ++i) w_->put(static_cast<char>(run_bytes_.below(128)));
}

Summary Recorder::run() {
    const int32_t files = o_.files > 0 ? o_.files : 1;
    summary_.samples = samples_;
    summary_.files = files;
    for (int c = 0; c < 3; ++c) phase_[static_cast<std::size_t>(c)] = c * kPi / 2.0;

    // The outliers are drawn among all GPS blocks of the recording.
    if (o_.outliers > 0) {
        TagSchedule count(o_, clock_, samples_);
        Tag t;
        while (count.next(t)) ++gps_total_;
    }
    outliers_needed_ = o_.outliers;
    int64_t damage_needed = o_.damaged;

    Tag cur, nxt;
    bool have_cur = schedule_.next(cur);
    bool have_nxt = have_cur && schedule_.next(nxt);
    int64_t gps_at = have_cur ? gps_position(cur, have_nxt ? nxt.sample : samples_) : -1;

    int32_t file = 0;
    open_file(0);
    auto cut_of = [&](int32_t f) { return f < files ? static_cast<int64_t>(f) * samples_ / files : samples_; };
    int64_t next_cut = cut_of(1);

    int64_t aux_j = 1, status_j = 1, run_j = 1;
    for (int64_t k = 0; k < samples_; ++k) {
        if (k == next_cut) {
            out_.close();
            ++file;
            open_file(file);
            next_cut = cut_of(file + 1);
        }
        sample_block(k, have_cur && cur.sample == k);
        if (k < samples_ - 1 && damage_.select(damage_needed, samples_ - 1 - k)) damaged_stretch();
        if (k == gps_at) {
            gps_block(cur);
            cur = nxt;
            have_cur = have_nxt;
            have_nxt = have_cur && schedule_.next(nxt);
            gps_at = have_cur ? gps_position(cur, have_nxt ? nxt.sample : samples_) : -1;
        }
        if (o_.aux_every > 0.0 || o_.status_every > 0.0 || o_.status_run_every > 0.0) {
            const double rel = clock_.rel(k);
            if (o_.aux_every > 0.0 && rel >= static_cast<double>(aux_j) * o_.aux_every) {
                aux_group(rel);
                while (rel >= static_cast<double>(aux_j) * o_.aux_every) ++aux_j;
            }
            if (o_.status_every > 0.0 && rel >= static_cast<double>(status_j) * o_.status_every) {
                status_block(0);
                while (rel >= static_cast<double>(status_j) * o_.status_every) ++status_j;
            }
            if (o_.status_run_every > 0.0 && rel >= static_cast<double>(run_j) * o_.status_run_every) {
                status_run();
                while (rel >= static_cast<double>(run_j) * o_.status_run_every) ++run_j;
            }
        }
    }
    if (o_.overrun) status_block(1);
    if (o_.trailer) {
        w_->put(static_cast<char>(vorn::kTrailer));
        w_->put(o_.trailer_text);
    }
    out_.close();
    return summary_;
}

}  // namespace

Summary simulate(const Options& o, Output& out) {
    Recorder r(o, out);
    return r.run();
}

// ---------------------------------------------------------------------------

vorn::Writer& StringOutput::open(int32_t, int32_t) {
    files.emplace_back();
    writers_.clear();
    writers_.push_back(std::make_unique<vorn::Writer>(&files.back()));
    return *writers_.back();
}

void StringOutput::close() {
    if (!writers_.empty()) writers_.back()->flush();
    writers_.clear();
}

vorn::Writer& StdoutOutput::open(int32_t, int32_t) { return vorn::out(); }

void StdoutOutput::close() { vorn::out().flush(); }

std::string FileOutput::file_name(std::string_view prefix, int32_t dat_no) {
    std::string name(prefix);
    std::string digits(4, '0');
    for (int i = 3, v = dat_no; i >= 0; --i, v /= 10) digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + v % 10);
    name += digits;
    name += ".vrn";
    return name;
}

vorn::Writer& FileOutput::open(int32_t, int32_t dat_no) {
    name_ = file_name(prefix_, dat_no);
    fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd_ < 0)
        vorn::fail(vorn::ExitStatus::fatal, "%s ERROR: cannot open output file %s: %s\n",
                   {vorn::program_name(), std::string_view(name_), std::strerror(errno)});
    writer_ = std::make_unique<vorn::Writer>(fd_);
    return *writer_;
}

void FileOutput::close() {
    if (writer_) writer_->flush();
    writer_.reset();
    if (fd_ >= 0 && ::close(fd_) != 0)
        vorn::fail(vorn::ExitStatus::fatal, "%s ERROR: cannot write output file %s: %s\n",
                   {vorn::program_name(), std::string_view(name_), std::strerror(errno)});
    fd_ = -1;
}

}  // namespace vornsim
