#include "plot.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <charconv>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace timereport {

// ---- data -------------------------------------------------------------------

Points thin_points(const Points& p, std::size_t max_points) {
    if (p.size() <= max_points || max_points < 2) return p;
    double lo = p.front().first, hi = lo;
    for (const auto& q : p) {
        lo = std::min(lo, q.first);
        hi = std::max(hi, q.first);
    }
    const std::size_t buckets = max_points / 2;
    const double width = (hi - lo) / static_cast<double>(buckets);
    // Per bucket the index of its lowest and highest point.
    std::vector<std::size_t> low(buckets, SIZE_MAX), high(buckets, SIZE_MAX);
    for (std::size_t k = 0; k < p.size(); ++k) {
        std::size_t b = width > 0 ? static_cast<std::size_t>((p[k].first - lo) / width) : 0;
        if (b >= buckets) b = buckets - 1;
        if (low[b] == SIZE_MAX || p[k].second < p[low[b]].second) low[b] = k;
        if (high[b] == SIZE_MAX || p[k].second > p[high[b]].second) high[b] = k;
    }
    std::vector<std::size_t> keep;
    for (std::size_t b = 0; b < buckets; ++b) {
        if (low[b] == SIZE_MAX) continue;
        keep.push_back(low[b]);
        if (high[b] != low[b]) keep.push_back(high[b]);
    }
    std::sort(keep.begin(), keep.end());
    Points out;
    out.reserve(keep.size());
    for (std::size_t k : keep) out.push_back(p[k]);
    return out;
}

Spans merge_spans(Spans spans, double gap) {
    std::sort(spans.begin(), spans.end());
    Spans out;
    for (const auto& sp : spans) {
        if (!out.empty() && sp.first - out.back().second < gap)
            out.back().second = std::max(out.back().second, sp.second);
        else
            out.push_back(sp);
    }
    return out;
}

namespace {

double seconds(int64_t t_us) {
    // Whole seconds and fraction apart: exact to the microsecond in the text.
    return static_cast<double>(t_us / 1'000'000) + static_cast<double>(t_us % 1'000'000) * 1e-6;
}

std::string fixed(double v, int precision) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
    return std::string(buf, res.ptr);
}

}  // namespace

PlotData plot_data(const Report& r, std::size_t max_points) {
    PlotData d;
    const std::vector<Tag>& tags = r.list.tags;
    d.title = (r.station ? *r.station : std::string("unknown station"));
    if (tags.empty()) {
        d.title += "  no time tags";
    } else {
        d.title += "  first tag " + utc_text(tags.front().t_us);
        d.title += r.drift ? "  drift " + fixed(*r.drift, 3) + " ppm" : std::string("  drift unknown");
        d.x_min = seconds(tags.front().t_us);
        d.x_max = seconds(tags.back().t_us);
        for (const Tag& t : tags) {
            d.x_min = std::min(d.x_min, seconds(t.t_us));
            d.x_max = std::max(d.x_max, seconds(t.t_us));
        }
    }
    if (d.x_max <= d.x_min) d.x_max = d.x_min + 1;

    // The reference: the first good tag, else the first tag.
    const ClockFit& fit = r.fit;
    int64_t n_ref = 0, t_ref = 0;
    if (fit.points > 0) {
        n_ref = fit.n_ref;
        t_ref = fit.t_ref_us;
    } else if (!tags.empty()) {
        n_ref = tags.front().n;
        t_ref = tags.front().t_us;
    }
    double interval = 0;  // seconds per sample
    if (r.rate && *r.rate > 0) {
        interval = 1.0 / *r.rate;
        d.offset_label = "clock offset (ms): tag time - nominal rate time";
    } else if (fit.valid && fit.slope > 0) {
        interval = fit.slope;
        d.offset_label = "clock offset (ms) against the fitted rate (rate unknown)";
    } else {
        d.offset_label = "clock offset (ms): unknown without a rate";
    }
    d.have_offset = interval > 0;
    auto offset_ms = [&](int64_t n, double t_after_ref) {
        return d.have_offset ? (t_after_ref - static_cast<double>(n - n_ref) * interval) * 1e3 : 0.0;
    };
    for (const Tag& t : tags) {
        const double y = offset_ms(t.n, static_cast<double>(t.t_us - t_ref) * 1e-6);
        d.tags[verdict_index(t.verdict)].emplace_back(seconds(t.t_us), y);
    }
    for (Points& p : d.tags) p = thin_points(p, max_points);

    if (fit.valid) {
        int64_t n_lo = tags.front().n, n_hi = n_lo;
        for (const Tag& t : tags) {
            n_lo = std::min(n_lo, t.n);
            n_hi = std::max(n_hi, t.n);
        }
        for (int64_t n : {n_lo, n_hi}) {
            const double at = fit.at(n);
            d.fit_line.emplace_back(seconds(t_ref) + at, offset_ms(n, at));
        }
        for (const Tag& t : tags)
            if (t.verdict == kGood) d.residuals.emplace_back(seconds(t.t_us), fit.residual(t) * 1e6);
        d.residuals = thin_points(d.residuals, max_points);
    } else {
        d.residual_note = "no fit: fewer than two good tags";
    }

    for (const Outage& o : r.outages) d.outages.emplace_back(seconds(o.from_us), seconds(o.to_us));
    // A damaged stretch is a few bytes: shown at least 1/400 of the plot wide.
    const double width = std::max(1.0, (d.x_max - d.x_min) / 400);
    for (const DamagedStretch& s : r.conv.damaged) {
        const double from = static_cast<double>(s.from_s);
        d.damaged.emplace_back(from, from + width);
        d.x_min = std::min(d.x_min, from);
        d.x_max = std::max(d.x_max, from + width);
    }
    // Spans less than a pixel apart are one shaded span (a month of
    // recording may hold thousands).
    const double pixel = (d.x_max - d.x_min) / kPlotWidth;
    d.outages = merge_spans(d.outages, pixel);
    d.damaged = merge_spans(d.damaged, pixel);
    return d;
}

// ---- script -----------------------------------------------------------------

std::string gnuplot_quote(std::string_view s) {
    std::string q = "'";
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\'')
            q += "''";
        else if (u < 0x20 || u == 0x7f)
            q += '?';
        else
            q += c;
    }
    q += '\'';
    return q;
}

namespace {

constexpr const char* kColours[5] = {"#1f77b4", "#d62728", "#ff7f0e", "#9467bd", "#7f7f7f"};
constexpr const char* kOutageColour = "#bdbdbd";
constexpr const char* kDamageColour = "#fdae6b";

void data_block(std::string& s, std::string_view name, const Points& p, int x_digits, int y_digits) {
    s += '$';
    s += name;
    s += " << EOD\n";
    for (const auto& q : p) {
        s += fixed(q.first, x_digits);
        s += ' ';
        s += fixed(q.second, y_digits);
        s += '\n';
    }
    s += "EOD\n";
}

// The time format of the x axis for a span of that many seconds.
const char* time_format(double span) {
    if (span <= 2 * 3600) return "%H:%M:%S";
    if (span <= 3 * 86400) return "%m-%d\\n%H:%M";
    return "%Y-%m-%d";
}

// A fixed y range around values that are all the same to the resolution
// they are written with (gnuplot would warn of an empty range), else nothing.
std::string flat_range(const std::vector<const Points*>& series, double resolution) {
    double lo = 0, hi = 0;
    bool any = false;
    for (const Points* p : series)
        for (const auto& q : *p) {
            lo = any ? std::min(lo, q.second) : q.second;
            hi = any ? std::max(hi, q.second) : q.second;
            any = true;
        }
    if (!any || hi - lo >= resolution) return "";
    return "set yrange [" + fixed(lo - 1, 6) + ":" + fixed(hi + 1, 6) + "]\n";
}

}  // namespace

std::string plot_script(const PlotData& d, int width, int height) {
    std::string s;
    s += "set terminal pngcairo size " + std::to_string(width) + "," + std::to_string(height) +
         " noenhanced font 'sans,10'\n";
    s += "set output\n";
    for (int k = 0; k < 5; ++k) data_block(s, std::string("tags_") + std::string(kVerdicts[k].member), d.tags[k], 6, 6);
    data_block(s, "fit", d.fit_line, 6, 6);
    data_block(s, "residuals", d.residuals, 6, 3);
    // Shading behind both panels (objects stay for every plot of the page).
    int object = 1;
    for (const auto& span : d.outages)
        s += "set object " + std::to_string(object++) + " rect from " + fixed(span.first, 6) + ", graph 0 to " +
             fixed(span.second, 6) + ", graph 1 behind fc rgb '" + kOutageColour + "' fs solid 0.5 noborder\n";
    for (const auto& span : d.damaged)
        s += "set object " + std::to_string(object++) + " rect from " + fixed(span.first, 6) + ", graph 0 to " +
             fixed(span.second, 6) + ", graph 1 behind fc rgb '" + kDamageColour + "' fs solid 0.7 noborder\n";
    const double pad = (d.x_max - d.x_min) * 0.01;
    s += "set xdata time\nset timefmt '%s'\n";
    s += std::string("set format x '") + time_format(d.x_max - d.x_min) + "'\n";
    s += "set xrange [" + fixed(d.x_min - pad, 6) + ":" + fixed(d.x_max + pad, 6) + "]\n";
    s += "set grid lt 1 lw 1 lc rgb '#e6e6e6'\nset key outside right top box opaque\n";
    s += "set lmargin at screen 0.08\nset rmargin at screen 0.80\n";
    s += "set multiplot title " + gnuplot_quote(d.title) + " font 'sans,13'\n";

    // Upper panel: the clock offset of every tag, by verdict, and the line.
    s += "set origin 0,0.38\nset size 1,0.57\nset tmargin 1\nset bmargin 3\n";
    s += "set xlabel 'UTC time'\nset ylabel " + gnuplot_quote(d.offset_label) + "\n";
    std::vector<std::string> items;
    for (int k = 0; k < 5; ++k)
        if (!d.tags[k].empty())
            items.push_back(std::string("$tags_") + std::string(kVerdicts[k].member) +
                            " using ($1):($2) with points pt 7 ps 0.5 lc rgb '" + kColours[k] + "' title " +
                            gnuplot_quote(kVerdicts[k].label));
    if (!d.fit_line.empty())
        items.push_back("$fit using ($1):($2) with lines lw 1.5 lc rgb 'black' title 'fitted line (good tags)'");
    if (!d.outages.empty())
        items.push_back(std::string("keyentry with boxes fs solid 0.5 noborder fc rgb '") + kOutageColour +
                        "' title 'outage (no tag > 1.5 s)'");
    if (!d.damaged.empty())
        items.push_back(std::string("keyentry with boxes fs solid 0.7 noborder fc rgb '") + kDamageColour +
                        "' title 'damaged stretch'");
    if (items.empty()) {
        s += "set yrange [-1:1]\nset label 1 'no time tags' at graph 0.5, graph 0.5 center\n";
        items.push_back("NaN notitle");
    } else {
        std::vector<const Points*> upper;
        for (const Points& p : d.tags) upper.push_back(&p);
        upper.push_back(&d.fit_line);
        s += flat_range(upper, 1e-5);
    }
    s += "plot ";
    for (std::size_t k = 0; k < items.size(); ++k) s += (k ? ", \\\n     " : "") + items[k];
    s += "\n";
    s += "unset label 1\nset yrange [*:*]\n";

    // Lower panel: residuals of the good tags.
    s += "set origin 0,0\nset size 1,0.38\nset tmargin 1\nset bmargin 3\n";
    s += "set ylabel 'residual of good tags (us)'\nset key off\n";
    if (d.residuals.empty()) {
        s += "set yrange [-1:1]\nset label 2 " + gnuplot_quote(d.residual_note.empty() ? "no good tags" : d.residual_note) +
             " at graph 0.5, graph 0.5 center\n";
        s += "plot NaN notitle\n";
    } else {
        s += flat_range({&d.residuals}, 1e-2);
        s += std::string("plot $residuals using ($1):($2) with points pt 7 ps 0.35 lc rgb '") + kColours[0] +
             "' notitle, 0 with lines lc rgb 'black' notitle\n";
    }
    s += "unset multiplot\n";
    return s;
}

// ---- gnuplot ------------------------------------------------------------------

bool run_gnuplot(const std::string& script, std::string& png, std::string& why) {
    png.clear();
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        why = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        why = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    // -d: default settings, no init file of the user's.
    char name[] = "gnuplot";
    char defaults[] = "-d";
    char* argv[] = {name, defaults, nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "gnuplot", &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        why = std::string("cannot run gnuplot: ") + std::strerror(rc);
        ::close(in[1]);
        ::close(out[0]);
        return false;
    }
    // Feed the script and gather the picture at once: neither side waits on
    // the other's full pipe.
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    std::size_t sent = 0;
    bool feeding = true, reading = true, broken = false;
    char buf[1 << 16];
    while (reading) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {feeding ? in[1] : -1, POLLOUT, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (feeding && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t w = ::write(in[1], script.data() + sent, script.size() - sent);
            if (w > 0) sent += static_cast<std::size_t>(w);
            if ((w < 0 && errno != EAGAIN && errno != EINTR) || sent == script.size()) {
                broken = sent != script.size();
                feeding = false;
                ::close(in[1]);
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t r = ::read(out[0], buf, sizeof buf);
            if (r > 0)
                png.append(buf, static_cast<std::size_t>(r));
            else if (r == 0 || errno != EINTR)
                reading = false;
        }
    }
    if (feeding) ::close(in[1]);
    ::close(out[0]);
    ::sigaction(SIGPIPE, &old, nullptr);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        why = "gnuplot was killed by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && png.empty()) {
        why = "cannot run gnuplot: not found";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = "gnuplot failed with exit status " + std::to_string(WEXITSTATUS(status));
        return false;
    }
    uint32_t w = 0, h = 0;
    if (broken || !png_size(png, w, h)) {
        why = "gnuplot wrote no PNG picture";
        return false;
    }
    return true;
}

bool png_size(std::string_view b, uint32_t& width, uint32_t& height) {
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (b.size() < 24 || std::memcmp(b.data(), kSignature, 8) != 0 || b.substr(12, 4) != "IHDR") return false;
    auto be32 = [&](std::size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) << 24 |
               static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3]));
    };
    width = be32(16);
    height = be32(20);
    return true;
}

}  // namespace timereport
