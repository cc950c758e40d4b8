#include "report.hpp"

#include <cmath>
#include <limits>

#include "format.hpp"
#include "textlines.hpp"
#include "textparse.hpp"
#include "vorn.hpp"

namespace timereport {

int verdict_index(int code) {
    for (int k = 0; k < 5; ++k)
        if (kVerdicts[k].code == code) return k;
    return -1;
}

// ---- the tag list -----------------------------------------------------------

namespace {
// Seconds beyond this (the year 5138) cannot be a recorder's time, and keep
// times in microseconds far inside 64 bits.
constexpr int64_t kMaxSeconds = 100'000'000'000;
}  // namespace

LineKind TagParser::parse(std::string_view line, Tag& tag) {
    // At most 8 fields: sample number, 3 values, seconds, microseconds, date, verdict.
    std::string_view f[9];
    int count = 0;
    vorn::FieldCursor cur(line);
    std::string_view tok;
    while (cur.token(tok)) {
        if (count == 9) return LineKind::malformed;
        f[count++] = tok;
    }
    int64_t n = 0;
    if (count < 3 || !vorn::FieldCursor::parse_integer(f[0], n)) return LineKind::malformed;
    if (n == -1) {
        // The error line: every later field 0, one value per channel and the
        // time "0 0" (no value at all when the channel count was unknown).
        if (count > 6 || (channels_ != 0 && count != channels_ + 3)) return LineKind::malformed;
        for (int k = 1; k < count; ++k) {
            int64_t v = 0;
            if (!vorn::FieldCursor::parse_integer(f[k], v) || v != 0) return LineKind::malformed;
        }
        return LineKind::error_line;
    }
    const int ch = count - 5;
    if (ch < 1 || ch > 3 || (channels_ != 0 && ch != channels_) || n < 0) return LineKind::malformed;
    for (int c = 0; c < ch; ++c) {
        int32_t v = 0;
        if (!vorn::FieldCursor::parse_integer(f[1 + c], v)) return LineKind::malformed;
    }
    int64_t sec = 0, usec = 0, verdict = 0;
    if (!vorn::FieldCursor::parse_integer(f[1 + ch], sec) || sec <= 0 || sec > kMaxSeconds) return LineKind::malformed;
    if (!vorn::FieldCursor::parse_integer(f[2 + ch], usec) || usec < 0 || usec > 999'999) return LineKind::malformed;
    if (f[3 + ch] != date_.of(sec)) return LineKind::malformed;
    if (!vorn::FieldCursor::parse_integer(f[4 + ch], verdict) || verdict < -4 || verdict > 0) return LineKind::malformed;
    channels_ = ch;
    tag = Tag{n, sec * 1'000'000 + usec, static_cast<int>(verdict)};
    return LineKind::tag;
}

TagList read_tags(vorn::LineReader& in, vorn::Writer& diag) {
    TagList list;
    TagParser parser;
    vorn::PaddedLine line;
    Tag tag{};
    while (in.next(line)) {
        switch (parser.parse(line, tag)) {
            case LineKind::tag: list.tags.push_back(tag); break;
            case LineKind::error_line: list.error_line = true; break;
            case LineKind::malformed:
                ++list.malformed;
                vorn::warn_malformed_line(diag, in.line_number(), line);
                break;
        }
    }
    list.channels = parser.channels();
    return list;
}

// ---- the converter's messages -----------------------------------------------

namespace {

bool skip(std::string_view& s, std::string_view word) {
    if (s.substr(0, word.size()) != word) return false;
    s.remove_prefix(word.size());
    return true;
}

bool read_int(std::string_view& s, int64_t& v) {
    std::size_t k = 0;
    if (k < s.size() && s[k] == '-') ++k;
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') ++k;
    if (!vorn::FieldCursor::parse_integer(s.substr(0, k), v)) return false;
    s.remove_prefix(k);
    return true;
}

// "%4d-%02d-%02dT%02d:%02d:%02d" (leading spaces allowed) as seconds since 1970.
bool read_datetime(std::string_view& s, int64_t& seconds) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    int64_t y, mo, d, h, mi, se;
    if (!read_int(s, y) || !skip(s, "-") || !read_int(s, mo) || !skip(s, "-") || !read_int(s, d) ||
        !skip(s, "T") || !read_int(s, h) || !skip(s, ":") || !read_int(s, mi) || !skip(s, ":") ||
        !read_int(s, se))
        return false;
    if (y < -100000 || y > 100000 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
        mi > 59 || se < 0 || se > 60)
        return false;
    seconds = vorn::utc_seconds(y, mo, d, h, mi, se);
    return true;
}

constexpr std::string_view kProblemFrom = "timing problem from ";

}  // namespace

bool parse_block_problem(std::string_view line, DamagedStretch& d) {
    const std::size_t at = line.find(kProblemFrom);
    if (at == std::string_view::npos) return false;
    std::string_view s = line.substr(at + kProblemFrom.size());
    if (!read_datetime(s, d.from_s) || !skip(s, " with block problem at position ") || !read_int(s, d.position) ||
        !skip(s, " occured ") || !read_int(s, d.count) || !skip(s, " times"))
        return false;
    while (!s.empty() && vorn::is_space(s.front())) s.remove_prefix(1);
    return s.empty() && d.position >= 0 && d.count >= 0;
}

ConverterInfo read_messages(vorn::LineReader& in, vorn::Writer& diag) {
    ConverterInfo info;
    vorn::PaddedLine line;
    while (in.next(line)) {
        if (line.starts_with("BOS: ")) {
            if (info.have_bos) continue;  // the first header names the recording
            vorn::HeaderValues h;
            vorn::read_header_line(line.substr(5), h);
            info.have_bos = true;
            info.station = std::string(h.DEV_NO.view());
            info.channels = h.CH_NUM;
            info.rate = h.S_RATE;
        } else if (line.find(kProblemFrom) != std::string_view::npos) {
            DamagedStretch d{};
            if (parse_block_problem(line, d))
                info.damaged.push_back(d);
            else {
                vorn::format_to(diag, "Warning: skipping malformed converter message line %ld: %s\n",
                                {in.line_number(), line});
                diag.flush();
            }
        } else if (line.find("No useful data in vornconv!") != std::string_view::npos) {
            info.no_useful_data = true;
        }
    }
    return info;
}

// ---- the clock line -----------------------------------------------------------

ClockFit fit_clock(const std::vector<Tag>& tags) {
    ClockFit fit;
    // Differences from the first good tag are exact in double (sample numbers
    // and microseconds far below 2^53); the sums then run over values centred
    // on their means, so that nothing of the 1e9-sized originals is lost.
    double sx = 0, sy = 0;
    for (const Tag& t : tags) {
        if (t.verdict != kGood) continue;
        if (fit.points == 0) {
            fit.n_ref = t.n;
            fit.t_ref_us = t.t_us;
        }
        ++fit.points;
        sx += static_cast<double>(t.n - fit.n_ref);
        sy += static_cast<double>(t.t_us - fit.t_ref_us) * 1e-6;
    }
    if (fit.points < 2) return fit;
    const double count = static_cast<double>(fit.points);
    fit.x_mean = sx / count;
    fit.y_mean = sy / count;
    double sxx = 0, sxy = 0;
    for (const Tag& t : tags) {
        if (t.verdict != kGood) continue;
        const double dx = static_cast<double>(t.n - fit.n_ref) - fit.x_mean;
        const double dy = static_cast<double>(t.t_us - fit.t_ref_us) * 1e-6 - fit.y_mean;
        sxx += dx * dx;
        sxy += dx * dy;
    }
    if (!(sxx > 0)) return fit;
    fit.slope = sxy / sxx;
    fit.valid = true;
    double ss = 0, mx = 0;
    for (const Tag& t : tags) {
        if (t.verdict != kGood) continue;
        const double r = fit.residual(t) * 1e6;
        ss += r * r;
        mx = std::max(mx, std::fabs(r));
    }
    fit.rms_us = std::sqrt(ss / count);
    fit.max_us = mx;
    return fit;
}

double drift_ppm(const ClockFit& fit, double rate) { return (fit.slope * rate - 1.0) * 1e6; }

std::vector<Outage> find_outages(const std::vector<Tag>& tags) {
    std::vector<Outage> out;
    for (std::size_t k = 1; k < tags.size(); ++k)
        if (tags[k].t_us - tags[k - 1].t_us > kOutageGapUs) out.push_back({tags[k - 1].t_us, tags[k].t_us});
    return out;
}

Report make_report(TagList list, ConverterInfo conv, std::optional<double> rate_option) {
    Report r;
    if (conv.have_bos) r.station = conv.station;
    if (conv.have_bos && conv.channels >= 1 && conv.channels <= 3)
        r.channels = conv.channels;
    else if (list.channels > 0)
        r.channels = list.channels;
    if (rate_option)
        r.rate = *rate_option;
    else if (conv.have_bos && conv.rate > 0)
        r.rate = conv.rate;
    for (const Tag& t : list.tags) ++r.verdicts[verdict_index(t.verdict)];
    r.fit = fit_clock(list.tags);
    if (r.fit.valid && r.rate) r.drift = drift_ppm(r.fit, *r.rate);
    r.outages = find_outages(list.tags);
    r.list = std::move(list);
    r.conv = std::move(conv);
    return r;
}

// ---- the document ---------------------------------------------------------------

std::string utc_text(int64_t t_us) {
    int64_t sec = t_us / 1'000'000, usec = t_us % 1'000'000;
    if (usec < 0) {
        usec += 1'000'000;
        --sec;
    }
    std::string s;
    vorn::Writer w(&s);
    const vorn::CivilTime c = vorn::utc_gmtime(sec);
    w.num(c.tm_year + 1900, 4, '0');  // ISO 8601: the year zero-padded, unlike the tag list's
    w.put('-');
    w.num(c.tm_mon + 1, 2, '0');
    w.put('-');
    w.num(c.tm_mday, 2, '0');
    w.put('T');
    w.num(c.tm_hour, 2, '0');
    w.put(':');
    w.num(c.tm_min, 2, '0');
    w.put(':');
    w.num(c.tm_sec, 2, '0');
    w.put('.');
    w.num(usec, 6, '0');
    w.put('Z');
    w.flush();
    return s;
}

namespace {
// Rounded to 10^-digits: the figures are far less certain than the digits
// double would print, and a short number reads better.
double rounded(double v, int digits) {
    const double scale = std::pow(10.0, digits);
    const double r = std::round(v * scale) / scale;
    return r == 0 ? 0.0 : r;  // no "-0.0"
}
}  // namespace

nlohmann::ordered_json report_json(const Report& r) {
    using J = nlohmann::ordered_json;
    J j = J::object();
    j["station"] = r.station ? J(*r.station) : J();
    j["channels"] = r.channels ? J(*r.channels) : J();
    if (!r.rate)
        j["rate"] = J();
    else if (*r.rate == std::floor(*r.rate) && std::fabs(*r.rate) < 9e15)
        j["rate"] = static_cast<int64_t>(*r.rate);
    else
        j["rate"] = *r.rate;
    const std::vector<Tag>& tags = r.list.tags;
    j["first_tag"] = tags.empty() ? J() : J(utc_text(tags.front().t_us));
    j["last_tag"] = tags.empty() ? J() : J(utc_text(tags.back().t_us));
    j["tags"] = static_cast<int64_t>(tags.size());
    J v = J::object();
    for (int k = 0; k < 5; ++k) v[std::string(kVerdicts[k].member)] = r.verdicts[k];
    j["verdicts"] = v;
    j["drift_ppm"] = r.drift ? J(rounded(*r.drift, 4)) : J();
    J res = J::object();
    res["rms"] = r.fit.valid ? J(rounded(r.fit.rms_us, 3)) : J();
    res["max"] = r.fit.valid ? J(rounded(r.fit.max_us, 3)) : J();
    j["residual_us"] = res;
    J outages = J::array();
    for (const Outage& o : r.outages) {
        J e = J::object();
        e["from"] = utc_text(o.from_us);
        e["to"] = utc_text(o.to_us);
        e["seconds"] = rounded(static_cast<double>(o.to_us - o.from_us) * 1e-6, 6);
        outages.push_back(e);
    }
    j["outages"] = outages;
    J damaged = J::array();
    for (const DamagedStretch& d : r.conv.damaged) {
        J e = J::object();
        e["from"] = utc_text(d.from_s * 1'000'000);
        e["position"] = d.position;
        e["count"] = d.count;
        damaged.push_back(e);
    }
    j["damaged_stretches"] = damaged;
    j["error_line"] = r.list.error_line || r.conv.no_useful_data;
    return j;
}

std::string json_text(const nlohmann::ordered_json& j) {
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace timereport
