#include "streamgen.hpp"

#include <charconv>
#include <cstdio>

#include "blocks.hpp"
#include "calendar.hpp"

namespace vorn::testing {

// The converter tests' GPS string: filler text around the fields.
const StreamForm kConverterForm{
    "$A:      N    .   E   .                 T      D         S  F  end.........................",
    1483228800 + 600,  // 2017-01-01T00:10:00
    "21.5", "123.4", false};
// The earlier recorder's strings, as its converter's tests have them.
const StreamForm kEarlierForm{
    "GA  +21.5 50.1234N010.567E001234"  // 0-31
    "12 S08 H1.2"                       // 32-42
    "000000.00"                         // 43-51
    "01012017"                          // 52-59
    "181  1"                            // 60-65
    " CHK*5A   ",                       // 66-75
    1483228800,  // 2017-01-01T00:00:00
    "+21.5", "001234", true};

namespace {

using vorn::GpsField;

// A number "%0*d" into a field, its last digits when it is too long.
void put_field(std::string& s, GpsField f, int64_t v) {
    const int width = static_cast<int>(f.width());
    char tmp[32];
    std::snprintf(tmp, sizeof tmp, "%0*lld", width, static_cast<long long>(v));
    std::string t(tmp);
    if (static_cast<int>(t.size()) > width) t = t.substr(t.size() - f.width());
    s.replace(f.first, f.width(), t);
}

// A word right-aligned in a field.
void put_text(std::string& s, GpsField f, const std::string& v) {
    std::string t = v.substr(0, f.width());
    t.insert(0, f.width() - t.size(), ' ');
    s.replace(f.first, f.width(), t);
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> w;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        std::size_t b = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > b) w.push_back(line.substr(b, i - b));
    }
    return w;
}

bool to_int(std::string_view s, int64_t& v, int base = 10) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

bool parse_time(std::string_view s, int64_t& t) {
    int y, mo, d, h, mi, se;
    std::string z(s);
    if (std::sscanf(z.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &se) != 6) return false;
    t = vorn::utc_seconds(y, mo, d, h, mi, se);
    return true;
}

std::string unescape(std::string_view s) {
    std::string r;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            r.push_back(s[i]);
            continue;
        }
        char c = s[++i];
        if (c == 'x' && i + 2 < s.size()) {
            int64_t v = 0;
            if (to_int(s.substr(i + 1, 2), v, 16)) {
                r.push_back(static_cast<char>(v));
                i += 2;
                continue;
            }
        }
        r.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
    }
    return r;
}

void StreamBuilder::sample(bool tagged, const std::vector<int32_t>& values) {
    // Any number of channels, for streams whose header names another count.
    byte(tagged ? vorn::kTaggedSampleBlock : vorn::kSampleBlock);
    for (int c = 0; c < channels; ++c) {
        int64_t x;
        if (c < static_cast<int>(values.size()))
            x = values[static_cast<std::size_t>(c)];
        else if (form->ramp_by_channel)
            x = next_value + 1000 * c;
        else
            x = c == 0 ? next_value : c == 1 ? -next_value : 1000 + next_value;
        uint8_t b[vorn::kSampleBytes];
        vorn::encode_sample(static_cast<int32_t>(x), b);
        bytes.insert(bytes.end(), b, b + sizeof b);
    }
    ++next_value;
}

void StreamBuilder::samples(int64_t n) {
    for (int64_t i = 0; i < n; ++i) sample(false);
}

// The fields (recorder/blocks.hpp) written into the form's template; the
// other positions keep its text.
std::string StreamBuilder::gps_string(const GpsSpec& g) {
    std::string s(g.form);
    s.resize(vorn::GpsString::kLength, '.');
    s[vorn::kGpsIdentifier.first] = g.id;
    if (g.id == 'X') {
        put_text(s, vorn::kGpsTemperature, g.temp);
        put_text(s, vorn::kGpsElevation, g.elev);
    }
    put_field(s, vorn::kGpsLatitude, g.lat);
    put_field(s, vorn::kGpsLongitude, g.lon);
    put_field(s, vorn::kGpsSource, g.source);
    put_field(s, vorn::kGpsFix, g.age);
    const vorn::CivilTime c = vorn::utc_gmtime(g.time);
    put_field(s, vorn::kGpsHour, c.tm_hour);
    put_field(s, vorn::kGpsMinute, c.tm_min);
    put_field(s, vorn::kGpsSecond, c.tm_sec);
    put_field(s, vorn::kGpsDay, c.tm_mday);
    put_field(s, vorn::kGpsMonth, c.tm_mon + 1);
    put_field(s, vorn::kGpsYear, c.tm_year + 1900);
    put_field(s, vorn::kGpsOffset, g.offset);
    put_field(s, vorn::kGpsSource2, g.source2);
    put_field(s, vorn::kGpsOffsetFlag, g.flag);
    for (const auto& [pos, text] : g.puts)
        for (std::size_t i = 0; i < text.size() && pos + static_cast<int>(i) < 76; ++i)
            s[static_cast<std::size_t>(pos) + i] = text[i];
    return s;
}

void StreamBuilder::gps(const GpsSpec& g) {
    vorn::GpsString s;
    const std::string text = gps_string(g);
    std::copy(text.begin(), text.end(), s.bytes.begin());
    uint8_t block[vorn::kGpsBlockLength];
    vorn::encode_gps_block(s, g.shift, block, static_cast<uint8_t>(g.shift_type));
    std::size_t n = sizeof block;
    if (g.cut >= 0 && static_cast<std::size_t>(g.cut) + 1 < n) n = static_cast<std::size_t>(g.cut) + 1;
    bytes.insert(bytes.end(), block, block + n);
}

void StreamBuilder::status(int flag, int value) {
    byte(vorn::kStatusBlock);
    byte(flag);
    byte(value);
}

void StreamBuilder::aux_values(int type, const std::vector<std::pair<int, int32_t>>& entries) {
    byte(vorn::kAuxBlock);
    byte(vorn::encode_aux_descriptor(type, 2 + static_cast<int>(vorn::kAuxEntryBytes * entries.size())));
    for (const auto& [unit, value] : entries) {
        uint8_t e[vorn::kAuxEntryBytes];
        vorn::encode_aux_entry(unit, value, e);
        bytes.insert(bytes.end(), e, e + sizeof e);
    }
}

void StreamBuilder::aux_text(int type, std::string_view s) {
    byte(vorn::kAuxBlock);
    byte(vorn::encode_aux_descriptor(type, 2 + static_cast<int>(s.size())));
    text(s);
}

bool StreamBuilder::run(std::string_view script, std::string& error) {
    GpsSpec last;
    int lineno = 0;
    while (!script.empty()) {
        std::size_t nl = script.find('\n');
        std::string_view line = script.substr(0, nl);
        script.remove_prefix(nl == std::string_view::npos ? script.size() : nl + 1);
        ++lineno;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        std::size_t lead = line.find_first_not_of(' ');
        if (lead == std::string_view::npos || line[lead] == '#') continue;
        line.remove_prefix(lead);
        const std::size_t sp = line.find(' ');
        const std::string_view cmd = line.substr(0, sp);
        const std::string_view rest = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
        const std::vector<std::string_view> w = words(rest);
        auto bad = [&](std::string_view why) {
            error = "line " + std::to_string(lineno) + ": " + std::string(why);
            return false;
        };
        std::vector<int64_t> nums;
        auto numbers = [&](int base) {
            nums.clear();
            for (std::string_view x : w) {
                int64_t v;
                if (!to_int(x, v, base)) return false;
                nums.push_back(v);
            }
            return true;
        };
        if (cmd == "form") {
            if (rest == "converter") form = &kConverterForm;
            else if (rest == "earlier") form = &kEarlierForm;
            else return bad("form converter | form earlier");
            last = GpsSpec(*form);
        } else if (cmd == "header" || cmd == "text" || cmd == "trailer") {
            std::string t = unescape(rest);
            if (cmd == "trailer") byte(vorn::kTrailer);
            if (cmd == "header") {
                std::size_t p = t.find("CH_NUM=");
                if (p != std::string::npos && p + 7 < t.size() && t[p + 7] >= '1' && t[p + 7] <= '3')
                    channels = t[p + 7] - '0';
            }
            text(t);
        } else if (cmd == "bytes" || cmd == "aux") {
            if (!numbers(16)) return bad("bytes must be hex");
            if (cmd == "aux") byte(vorn::kAuxBlock);
            for (int64_t v : nums) byte(static_cast<int>(v));
        } else if (cmd == "channels") {
            if (!numbers(10) || nums.size() != 1) return bad("channels N");
            channels = static_cast<int>(nums[0]);
        } else if (cmd == "sample" || cmd == "tagged") {
            if (!numbers(10)) return bad("values must be integers");
            std::vector<int32_t> v(nums.begin(), nums.end());
            sample(cmd == "tagged", v);
        } else if (cmd == "samples") {
            if (!numbers(10) || nums.size() != 1) return bad("samples N");
            samples(nums[0]);
        } else if (cmd == "status") {
            if (!numbers(16) || nums.size() != 2) return bad("status F V");
            status(static_cast<int>(nums[0]), static_cast<int>(nums[1]));
        } else if (cmd == "auxvalues") {
            if (!numbers(10) || nums.size() < 1 || nums.size() % 2 != 1) return bad("auxvalues TYPE UNIT VALUE...");
            std::vector<std::pair<int, int32_t>> e;
            for (std::size_t i = 1; i + 1 < nums.size(); i += 2)
                e.emplace_back(static_cast<int>(nums[i]), static_cast<int32_t>(nums[i + 1]));
            aux_values(static_cast<int>(nums[0]), e);
        } else if (cmd == "auxtext") {
            if (w.empty()) return bad("auxtext TYPE TEXT");
            int64_t type;
            if (!to_int(w[0], type)) return bad("auxtext TYPE TEXT");
            std::string_view t = rest.substr(rest.find(w[0]) + w[0].size());
            if (!t.empty()) t.remove_prefix(1);
            aux_text(static_cast<int>(type), unescape(t));
        } else if (cmd == "gps" || cmd == "seconds") {
            GpsSpec g = last;
            g.puts.clear();
            g.cut = -1;
            g.shift_type = vorn::kShiftBlock;
            int64_t count = 1, spr = 1, step = 1, pre = 0, post = 0;
            std::size_t first = 0;
            if (cmd == "seconds") {
                if (w.empty() || !to_int(w[0], count)) return bad("seconds N ...");
                first = 1;
            }
            for (std::size_t i = first; i < w.size(); ++i) {
                std::string_view kv = w[i];
                std::size_t eq = kv.find('=');
                if (eq == std::string_view::npos) return bad("KEY=VALUE expected");
                std::string_view k = kv.substr(0, eq), v = kv.substr(eq + 1);
                int64_t n = 0;
                bool numeric = to_int(v, n);
                if (k == "time" || k == "start") {
                    if (!parse_time(v, g.time)) return bad("time YYYY-MM-DDTHH:MM:SS");
                } else if (k == "id") {
                    g.id = v.empty() ? ' ' : v[0];
                } else if (k == "temp") {
                    g.temp = std::string(v);
                } else if (k == "elev") {
                    g.elev = std::string(v);
                } else if (k == "put") {
                    std::size_t c = v.find(':');
                    int64_t pos;
                    if (c == std::string_view::npos || !to_int(v.substr(0, c), pos)) return bad("put=POS:TEXT");
                    g.puts.emplace_back(static_cast<int>(pos), unescape(v.substr(c + 1)));
                } else if (k == "tsb") {
                    if (!to_int(v, n, 16)) return bad("tsb=HH");
                    g.shift_type = static_cast<int>(n);
                } else if (!numeric) {
                    return bad("number expected");
                } else if (k == "shift") {
                    g.shift = static_cast<int32_t>(n);
                } else if (k == "lat") {
                    g.lat = static_cast<int32_t>(n);
                } else if (k == "lon") {
                    g.lon = static_cast<int32_t>(n);
                } else if (k == "off") {
                    g.offset = static_cast<int32_t>(n);
                } else if (k == "flag") {
                    g.flag = static_cast<int32_t>(n);
                } else if (k == "src") {
                    g.source = static_cast<int32_t>(n);
                } else if (k == "src2") {
                    g.source2 = static_cast<int32_t>(n);
                } else if (k == "age") {
                    g.age = static_cast<int32_t>(n);
                } else if (k == "cut") {
                    g.cut = static_cast<int>(n);
                } else if (k == "spr") {
                    spr = n;
                } else if (k == "pre") {
                    pre = n;
                } else if (k == "post") {
                    post = n;
                } else if (k == "step") {
                    step = n;
                } else {
                    return bad("unknown key");
                }
            }
            if (cmd == "gps") {
                gps(g);
                last = g;
                last.time = g.time + 1;
            } else {
                for (int64_t i = 0; i < count; ++i) {
                    samples(pre);
                    sample(true);
                    samples(post);
                    gps(g);
                    samples(spr - 1);
                    g.time += step;
                }
                last = g;
            }
        } else {
            return bad("unknown command");
        }
    }
    return true;
}

std::vector<uint8_t> random_stream(std::mt19937_64& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint64_t>(n)); };
    StreamBuilder b;
    b.channels = 1 + pick(3);
    std::string header = "DEV_NO=R" + std::to_string(pick(100)) + ";CH_NUM=" + std::to_string(b.channels) +
                         ";S_RATE=" + std::to_string(1 + pick(200)) + ";D_FILT=" + std::to_string(pick(40)) + ";";
    if (pick(10) == 0) header = "CH_NUM=" + std::to_string(pick(6)) + ";S_RATE=" + std::to_string(pick(3) - 1) + ";";
    b.text(header);
    GpsSpec g;
    g.time = 1483228800 + pick(86400 * 2);
    const int blocks = pick(400);
    for (int i = 0; i < blocks; ++i) {
        switch (pick(12)) {
            case 0:
            case 1:
            case 2: b.samples(1 + pick(30)); break;
            case 3:
            case 4:
                b.sample(true);
                g.shift = pick(10) == 0 ? pick(16384) : 2000 + pick(20);
                g.time += pick(8) == 0 ? pick(5) : 1;
                g.age = pick(6) == 0 ? pick(4) : 2;
                g.id = pick(3) == 0 ? 'X' : 'A';
                g.lat = 50 + (pick(20) == 0 ? pick(10) : 0);
                g.offset = 17 + pick(2);
                g.flag = pick(8) == 0 ? 0 : 1;
                b.gps(g);
                break;
            case 5: b.status(pick(10) == 0 ? 1 : pick(128), pick(128)); break;
            case 6:
                b.byte(vorn::kStatusRun);
                for (int k = pick(6); k > 0; --k) b.byte(pick(128));
                break;
            case 7: {
                const int t = pick(8);
                if (pick(2) == 0)
                    b.aux_values(t, {{pick(50), pick(1 << 21) - (1 << 20)}});
                else
                    b.aux_text(t, std::string(static_cast<std::size_t>(pick(5)), 'a'));
                break;
            }
            case 8:
                for (int k = 1 + pick(5); k > 0; --k) b.byte(pick(16));
                break;
            case 9: b.byte(vorn::kSampleBlock + pick(128)); break;
            case 10: b.byte(pick(128)); break;
            default: b.samples(pick(5)); break;
        }
    }
    if (pick(3) == 0) {
        b.byte(vorn::kTrailer);
        b.text("END=1;\r\n");
    }
    // Mutations: flipped, dropped or inserted bytes, and a cut end.
    std::vector<uint8_t>& s = b.bytes;
    for (int k = pick(4) == 0 ? 0 : pick(8); k > 0 && !s.empty(); --k) {
        const std::size_t at = rng() % s.size();
        switch (pick(3)) {
            case 0: s[at] = static_cast<uint8_t>(rng()); break;
            case 1: s.erase(s.begin() + static_cast<std::ptrdiff_t>(at)); break;
            default: s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(rng())); break;
        }
    }
    if (pick(4) == 0 && !s.empty()) s.resize(rng() % s.size());
    return s;
}

}  // namespace vorn::testing

namespace vorn::testing {

std::string mutate(std::string s, unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
    const uint8_t interesting[] = {0x80, 0x90, 0xA0, 0xB0, 0xB3, 0xC0, 0xCF, 0xD1, 0xE0, 0xE5, 0xF0, 0x00, 0x0F, 0x20};
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        switch (rng() % 6) {
        case 0: if (!s.empty()) s[pick(s.size())] = static_cast<char>(rng()); break;
        case 1: s.insert(s.begin() + static_cast<long>(pick(s.size() + 1)), static_cast<char>(interesting[pick(sizeof interesting)])); break;
        case 2: if (!s.empty()) { std::size_t p = pick(s.size()); s.erase(p, 1 + pick(40)); } break;
        case 3: if (!s.empty()) { std::size_t p = pick(s.size()); s.insert(p, s.substr(p, 1 + pick(200))); } break;
        case 4: if (rng() % 4 == 0 && !s.empty()) s.resize(pick(s.size())); break;
        default: if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1u << (rng() % 8)); break;
        }
    }
    return s;
}

}  // namespace vorn::testing
