#include "index.hpp"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

#include "calendar.hpp"
#include "program.hpp"
#include "report.hpp"
#include "textparse.hpp"

namespace timereport {

namespace fs = std::filesystem;

// ---- text -----------------------------------------------------------------

std::string html_escape(std::string_view s) {
    std::string o;
    o.reserve(s.size() + 16);
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            switch (c) {
                case '&': o += "&amp;"; break;
                case '<': o += "&lt;"; break;
                case '>': o += "&gt;"; break;
                case '"': o += "&quot;"; break;
                case '\'': o += "&#39;"; break;
                default:
                    if (c < 0x20 || c == 0x7f)
                        o += "\xEF\xBF\xBD";
                    else
                        o += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence (no overlong forms, no surrogates,
        // nothing above U+10FFFF) passes whole; anything else is one U+FFFD.
        std::size_t len = 0;
        uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        }
        bool ok = len != 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            cp = cp << 6 | (p[i + k] & 0x3F);
        }
        if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                   (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0x80 && cp <= 0x9F)))
            ok = false;
        if (ok) {
            o.append(s.substr(i, len));
            i += len;
        } else {
            o += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return o;
}

std::string percent_encode(std::string_view segment) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string o;
    for (char ch : segment) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            o += ch;
        } else {
            o += '%';
            o += kHex[c >> 4];
            o += kHex[c & 15];
        }
    }
    return o;
}

std::optional<int64_t> parse_utc_text(std::string_view s) {
    // 2017-01-01T12:00:34.000214Z
    if (s.size() != 27 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' ||
        s[19] != '.' || s[26] != 'Z')
        return std::nullopt;
    auto num = [&](std::size_t at, std::size_t len, int64_t& v) {
        auto [ptr, ec] = std::from_chars(s.data() + at, s.data() + at + len, v);
        return ec == std::errc() && ptr == s.data() + at + len;
    };
    int64_t y, mo, d, h, mi, se, us;
    if (!num(0, 4, y) || !num(5, 2, mo) || !num(8, 2, d) || !num(11, 2, h) || !num(14, 2, mi) || !num(17, 2, se) ||
        !num(20, 6, us) || us < 0)
        return std::nullopt;
    return vorn::utc_seconds(y, mo, d, h, mi, se) * 1'000'000 + us;
}

std::string duration_text(int64_t us) {
    if (us < 0) return "?";
    const int64_t s = (us + 500'000) / 1'000'000;
    char buf[64];
    const int64_t days = s / 86400, h = s / 3600 % 24, m = s / 60 % 60, sec = s % 60;
    if (days > 0)
        std::snprintf(buf, sizeof buf, "%lld d %02lld:%02lld:%02lld", static_cast<long long>(days),
                      static_cast<long long>(h), static_cast<long long>(m), static_cast<long long>(sec));
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(m),
                      static_cast<long long>(sec));
    return buf;
}

// ---- folders ----------------------------------------------------------------

namespace {

bool is_file(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool is_dir(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

// The sub-folders of dir (hidden ones passed over), by name.
std::vector<std::string> sub_folders(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        if (is_dir(it->path())) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

Row read_row(const fs::path& dir, std::string name, std::string href) {
    Row row;
    row.name = std::move(name);
    row.href = std::move(href);
    row.done = is_file(dir / "DONE");
    row.have_png = is_file(dir / "timing.png");
    std::ifstream status(dir / "status.txt");
    if (status) {
        row.have_status = true;
        std::string line;
        while (std::getline(status, line)) {
            // "stage status": the status is the last field.
            const std::size_t end = line.find_last_not_of(" \t\r");
            if (end == std::string::npos) continue;
            const std::size_t sp = line.find_last_of(" \t", end);
            if (sp == std::string::npos) continue;
            int64_t code = 0;
            const std::string_view field(line.data() + sp + 1, end - sp);
            if (!vorn::FieldCursor::parse_integer(field, code)) continue;
            const std::size_t stage_end = line.find_last_not_of(" \t", sp);
            const std::string stage = stage_end == std::string::npos ? std::string() : line.substr(0, stage_end + 1);
            row.last_stage = stage;
            if (code != 0 && row.failed_stage.empty()) {
                row.failed_stage = stage;
                row.failed_status = code;
            }
        }
    }
    std::ifstream json(dir / "timing.json");
    if (json) {
        row.have_json = true;
        row.report = nlohmann::json::parse(json, nullptr, false);
        if (row.report.is_discarded() || !row.report.is_object()) {
            row.bad_json = true;
            row.report = nlohmann::json::object();
        }
    }
    return row;
}

bool scan_batch(const fs::path& outdir, std::vector<Row>& rows, std::string& why) {
    std::error_code ec;
    fs::directory_iterator probe(outdir, ec);
    if (ec) {
        why = ec.message();
        return false;
    }
    for (const std::string& r : sub_folders(outdir)) {
        const fs::path rdir = outdir / r;
        const std::string rhref = percent_encode(r) + "/";
        std::vector<Row> segments;
        if (!is_file(rdir / "status.txt")) {
            for (const std::string& s : sub_folders(rdir))
                if (is_file(rdir / s / "status.txt"))
                    segments.push_back(read_row(rdir / s, r + "/" + s, rhref + percent_encode(s) + "/"));
        }
        if (segments.empty())
            rows.push_back(read_row(rdir, r, rhref));
        else
            for (Row& s : segments) rows.push_back(std::move(s));
    }
    return true;
}

// ---- the page -----------------------------------------------------------------

namespace {

const nlohmann::json* member(const nlohmann::json& j, const char* name) {
    if (!j.is_object()) return nullptr;
    auto it = j.find(name);
    return it == j.end() ? nullptr : &*it;
}

std::optional<double> number(const nlohmann::json& j, const char* name) {
    const nlohmann::json* m = member(j, name);
    if (m == nullptr || !m->is_number()) return std::nullopt;
    return m->get<double>();
}

std::optional<std::string> text(const nlohmann::json& j, const char* name) {
    const nlohmann::json* m = member(j, name);
    if (m == nullptr || !m->is_string()) return std::nullopt;
    return m->get<std::string>();
}

std::string fixed(double v, int precision) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
    return std::string(buf, res.ptr);
}

constexpr const char* kNone = "<span class=\"none\">&ndash;</span>";

constexpr const char* kStyle = R"(body { font-family: system-ui, sans-serif; margin: 1.5em; color: #222; background: #fff; }
h1 { font-size: 1.4em; margin-bottom: 0.2em; }
p.summary { margin-top: 0; color: #555; }
table { border-collapse: collapse; width: 100%; }
th, td { border-bottom: 1px solid #ddd; padding: 0.35em 0.6em; vertical-align: middle; text-align: left; }
th { background: #f2f2f2; position: sticky; top: 0; font-weight: 600; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.time { font-family: ui-monospace, monospace; font-size: 0.9em; white-space: nowrap; }
tr:hover td { background: #fafafa; }
.name { font-weight: 600; word-break: break-all; }
.station { display: block; color: #666; font-size: 0.85em; font-weight: normal; }
.state { display: inline-block; padding: 0.1em 0.5em; border-radius: 0.8em; font-size: 0.9em; white-space: nowrap; }
.ok { background: #dff0d8; color: #25632a; }
.warn { background: #fcf0cf; color: #7a5a00; }
.failed { background: #f8d7da; color: #8a1c24; }
.idle { background: #e9ecef; color: #555; }
.note { display: block; color: #8a1c24; font-size: 0.85em; }
.none { color: #999; }
img { display: block; border: 1px solid #ccc; }
)";

void cell(std::string& o, const char* cls, const std::string& content) {
    o += cls[0] ? std::string("<td class=\"") + cls + "\">" : std::string("<td>");
    o += content;
    o += "</td>";
}

void row_html(std::string& o, const Row& row) {
    const nlohmann::json& j = row.report;
    o += "<tr>";
    std::string name = "<span class=\"name\">" + html_escape(row.name) + "</span>";
    if (auto st = text(j, "station")) name += "<span class=\"station\">station " + html_escape(*st) + "</span>";
    cell(o, "", name);

    std::string state;
    if (row.done && row.failed_stage.empty())
        state = "<span class=\"state ok\">done</span>";
    else if (row.done)
        state = "<span class=\"state warn\">done, " + html_escape(row.failed_stage) + " status " +
                std::to_string(row.failed_status) + "</span>";
    else if (!row.failed_stage.empty())
        state = "<span class=\"state failed\">failed: " + html_escape(row.failed_stage) + " status " +
                std::to_string(row.failed_status) + "</span>";
    else if (row.have_status)
        state = "<span class=\"state failed\">failed: unfinished" +
                (row.last_stage.empty() ? std::string() : " after " + html_escape(row.last_stage)) + "</span>";
    else
        state = "<span class=\"state idle\">not converted</span>";
    if (row.bad_json) state += "<span class=\"note\">timing.json unreadable</span>";
    const nlohmann::json* el = member(j, "error_line");
    if (el != nullptr && el->is_boolean() && el->get<bool>()) state += "<span class=\"note\">no useful data</span>";
    cell(o, "", state);

    const auto first = text(j, "first_tag"), last = text(j, "last_tag");
    cell(o, "time", first ? html_escape(*first) : kNone);
    cell(o, "time", last ? html_escape(*last) : kNone);
    std::optional<int64_t> f = first ? parse_utc_text(*first) : std::nullopt;
    std::optional<int64_t> l = last ? parse_utc_text(*last) : std::nullopt;
    cell(o, "num", f && l ? duration_text(*l - *f) : kNone);

    const auto tags = number(j, "tags");
    const nlohmann::json* verdicts = member(j, "verdicts");
    const auto good = verdicts ? number(*verdicts, "good") : std::nullopt;
    cell(o, "num", tags && good && *tags > 0 ? fixed(100.0 * *good / *tags, 1) + " %" : kNone);
    const auto drift = number(j, "drift_ppm");
    cell(o, "num", drift ? fixed(*drift, 3) + " ppm" : kNone);

    const nlohmann::json* outages = member(j, "outages");
    if (outages != nullptr && outages->is_array()) {
        double total = 0;
        for (const auto& e : *outages)
            if (auto s = number(e, "seconds")) total += *s;
        cell(o, "num", std::to_string(outages->size()) + (outages->empty() ? "" : " (" + fixed(total, 1) + " s)"));
    } else {
        cell(o, "num", kNone);
    }
    const nlohmann::json* damaged = member(j, "damaged_stretches");
    cell(o, "num", damaged != nullptr && damaged->is_array() ? std::to_string(damaged->size()) : kNone);

    if (row.have_png) {
        const std::string png = row.href + "timing.png";
        cell(o, "", "<a href=\"" + png + "\"><img src=\"" + png + "\" width=\"210\" height=\"120\" alt=\"timing plot of " +
                        html_escape(row.name) + "\"></a>");
    } else {
        cell(o, "", kNone);
    }
    cell(o, "", "<a href=\"" + row.href + "\">folder</a>");
    o += "</tr>\n";
}

}  // namespace

std::string index_page(std::string_view title, const std::vector<Row>& rows) {
    std::size_t done = 0, failed = 0, idle = 0;
    for (const Row& r : rows) {
        if (r.done)
            ++done;
        else if (r.have_status)
            ++failed;
        else
            ++idle;
    }
    std::string o;
    o += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    o += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    o += "<title>vorn batch: " + html_escape(title) + "</title>\n<style>\n";
    o += kStyle;
    o += "</style>\n</head>\n<body>\n";
    o += "<h1>vorn batch: " + html_escape(title) + "</h1>\n";
    o += "<p class=\"summary\">" + std::to_string(rows.size()) + (rows.size() == 1 ? " recording or segment: " : " recordings or segments: ") +
         std::to_string(done) + " done, " + std::to_string(failed) + " failed, " + std::to_string(idle) +
         " not converted. Times are UTC; drift is how much longer the sample interval is than nominal.</p>\n";
    o += "<table>\n<thead>\n<tr><th>recording</th><th>status</th><th>first tag</th><th>last tag</th>"
         "<th>duration</th><th>good tags</th><th>drift</th><th>outages</th><th>damaged stretches</th>"
         "<th>timing plot</th><th>output</th></tr>\n</thead>\n<tbody>\n";
    for (const Row& r : rows) row_html(o, r);
    if (rows.empty()) o += "<tr><td colspan=\"11\">no recordings in this folder</td></tr>\n";
    o += "</tbody>\n</table>\n</body>\n</html>\n";
    return o;
}

Exit run_index(const std::string& outdir) {
    std::vector<Row> rows;
    std::string why;
    if (!scan_batch(outdir, rows, why))
        vorn::fail(vorn::Exit::fatal, "%s ERROR: cannot read folder %s: %s\n",
                   {vorn::program_name(), std::string_view(outdir), std::string_view(why)});
    fs::path p(outdir);
    std::string title = p.filename().string();
    if (title.empty() || title == ".") title = p.lexically_normal().parent_path().filename().string();
    if (title.empty()) title = outdir;
    vorn::out().put(index_page(title, rows));
    return Exit::ok;
}

}  // namespace timereport
