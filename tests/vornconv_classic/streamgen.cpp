// classic_streamgen: writes hand-built recorder streams for the converter's
// tests from a short script on standard input, one command per line:
//
//   channels N            channels per sample block (default 1)
//   header TEXT           raw bytes (the rest of the line; \xHH, \\ escapes)
//   text TEXT             the same, anywhere in the stream
//   sample [v ...]        one 0x80 block; without values every channel takes
//                         the running block number n (channel c: n + 1000*c)
//   tagged [v ...]        one 0x90 block, values as for sample
//   samples N             N sample blocks with running values
//   gps KEY=VALUE ...     one GPS block (below)
//   secs N [pre=A] [post=B] [step=S] KEY=VALUE ...
//                         N seconds, each: A sample blocks, a tagged block, B
//                         sample blocks, a GPS block whose time advances by S
//                         seconds (default 1) from one second to the next
//   bytes HH HH ...       raw bytes in hex
//   trailer [TEXT]        0xE0 and TEXT
//   # ...                 a comment
//
// GPS keys: time=YYYY-MM-DDTHH:MM:SS (the string's own date and time),
// off=N (GPS-UTC offset, positions 60-61), flag=D (position 65), lat=N
// (10-11), lon=N (18-20), src=D (62), id=C (1), count=N (time-shift count,
// default 2048), ttype=HH (the time-shift type byte, default b0), noshift
// (no time-shift block), put=POS:TEXT (raw text at a position).
//
//   classic_streamgen --mutate SEED < stream   writes a randomly damaged copy.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string out;
int channels = 1;
int64_t counter = 0;

[[noreturn]] void die(const std::string& what) {
    std::cerr << "classic_streamgen: " << what << "\n";
    std::exit(2);
}

std::string unescape(const std::string& s) {
    std::string r;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            if (s[i + 1] == 'x' && i + 3 < s.size()) {
                r.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16)));
                i += 3;
                continue;
            }
            if (s[i + 1] == '\\') {
                r.push_back('\\');
                ++i;
                continue;
            }
        }
        r.push_back(s[i]);
    }
    return r;
}

void put_sample_value(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v) & 0xFFFFFF;
    out.push_back(static_cast<char>((u >> 17) & 0x7F));
    out.push_back(static_cast<char>((u >> 10) & 0x7F));
    out.push_back(static_cast<char>((u >> 3) & 0x7F));
    out.push_back(static_cast<char>(u & 7));
}

void sample_block(uint8_t type, const std::vector<int32_t>& values) {
    out.push_back(static_cast<char>(type));
    if (values.empty()) {
        for (int c = 0; c < channels; ++c) put_sample_value(static_cast<int32_t>(counter + 1000 * c));
    } else {
        for (int32_t v : values) put_sample_value(v);
    }
    ++counter;
}

struct Gps {
    std::time_t time = 1483228800;  // 2017-01-01T00:00:00
    int off = 18, flag = 1, lat = 50, lon = 10, src = 1, count = 2048;
    char id = 'A';
    int ttype = 0xB0;
    bool shift = true;
    std::vector<std::pair<int, std::string>> puts;
};

void put_field(std::string& s, int pos, int width, int value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    std::string f(buf);
    if (static_cast<int>(f.size()) > width) f = f.substr(f.size() - static_cast<std::size_t>(width));
    s.replace(static_cast<std::size_t>(pos), static_cast<std::size_t>(width), f);
}

void gps_block(const Gps& g, std::time_t t) {
    std::string s =
        "GA  +21.5 50.1234N010.567E001234"  // 0-31
        "12 S08 H1.2"                       // 32-42
        "000000.00"                         // 43-51
        "01012017"                          // 52-59
        "181  1"                            // 60-65
        " CHK*5A   ";                       // 66-75
    if (s.size() != 76) die("template");
    std::tm tm{};
    gmtime_r(&t, &tm);
    s[1] = g.id;
    put_field(s, 10, 2, g.lat);
    put_field(s, 18, 3, g.lon);
    put_field(s, 43, 2, tm.tm_hour);
    put_field(s, 45, 2, tm.tm_min);
    put_field(s, 47, 2, tm.tm_sec);
    put_field(s, 52, 2, tm.tm_mday);
    put_field(s, 54, 2, tm.tm_mon + 1);
    put_field(s, 56, 4, tm.tm_year + 1900);
    put_field(s, 60, 2, g.off);
    put_field(s, 62, 1, g.src);
    put_field(s, 65, 1, g.flag);
    for (const auto& [pos, text] : g.puts) {
        for (std::size_t i = 0; i < text.size() && pos + i < s.size(); ++i) s[pos + i] = text[i];
    }
    out.push_back(static_cast<char>(0xA0));
    out += s;
    if (g.shift) {
        out.push_back(static_cast<char>(g.ttype));
        out.push_back(static_cast<char>((g.count >> 7) & 0x7F));
        out.push_back(static_cast<char>(g.count & 0x7F));
    }
}

std::time_t parse_time(const std::string& v) {
    std::tm tm{};
    if (std::sscanf(v.c_str(), "%d-%d-%dT%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        die("bad time " + v);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return timegm(&tm);
}

// Applies key=value words to g; returns the words it did not know.
std::vector<std::string> gps_keys(Gps& g, const std::vector<std::string>& words) {
    std::vector<std::string> rest;
    for (const std::string& w : words) {
        auto eq = w.find('=');
        std::string k = w.substr(0, eq), v = eq == std::string::npos ? "" : w.substr(eq + 1);
        if (k == "time") g.time = parse_time(v);
        else if (k == "off") g.off = std::stoi(v);
        else if (k == "flag") g.flag = std::stoi(v);
        else if (k == "lat") g.lat = std::stoi(v);
        else if (k == "lon") g.lon = std::stoi(v);
        else if (k == "src") g.src = std::stoi(v);
        else if (k == "id") g.id = v.empty() ? ' ' : v[0];
        else if (k == "count") g.count = std::stoi(v);
        else if (k == "ttype") g.ttype = std::stoi(v, nullptr, 16);
        else if (k == "noshift") g.shift = false;
        else if (k == "put") {
            auto colon = v.find(':');
            if (colon == std::string::npos) die("put=POS:TEXT");
            g.puts.emplace_back(std::stoi(v.substr(0, colon)), unescape(v.substr(colon + 1)));
        } else rest.push_back(w);
    }
    return rest;
}

std::vector<int32_t> values_of(const std::vector<std::string>& words) {
    std::vector<int32_t> v;
    for (std::size_t i = 1; i < words.size(); ++i) v.push_back(std::stoi(words[i]));
    if (!v.empty() && static_cast<int>(v.size()) != channels) die("values do not match the channels");
    return v;
}

void command(const std::string& line) {
    std::istringstream is(line);
    std::vector<std::string> words{std::istream_iterator<std::string>(is), std::istream_iterator<std::string>()};
    if (words.empty() || words[0][0] == '#') return;
    const std::string& c = words[0];
    auto rest_of_line = [&]() {
        std::size_t p = line.find(c) + c.size();
        if (p < line.size() && line[p] == ' ') ++p;
        return unescape(line.substr(p));
    };
    if (c == "channels") {
        channels = std::stoi(words.at(1));
    } else if (c == "header" || c == "text") {
        out += rest_of_line();
    } else if (c == "sample") {
        sample_block(0x80, values_of(words));
    } else if (c == "tagged") {
        sample_block(0x90, values_of(words));
    } else if (c == "samples") {
        for (long i = std::stol(words.at(1)); i > 0; --i) sample_block(0x80, {});
    } else if (c == "gps") {
        Gps g;
        auto rest = gps_keys(g, {words.begin() + 1, words.end()});
        if (!rest.empty()) die("unknown key " + rest[0]);
        gps_block(g, g.time);
    } else if (c == "secs") {
        Gps g;
        long pre = 0, post = 0, step = 1;
        auto rest = gps_keys(g, {words.begin() + 2, words.end()});
        for (const std::string& w : rest) {
            if (w.rfind("pre=", 0) == 0) pre = std::stol(w.substr(4));
            else if (w.rfind("post=", 0) == 0) post = std::stol(w.substr(5));
            else if (w.rfind("step=", 0) == 0) step = std::stol(w.substr(5));
            else die("unknown key " + w);
        }
        long n = std::stol(words.at(1));
        for (long i = 0; i < n; ++i) {
            for (long k = 0; k < pre; ++k) sample_block(0x80, {});
            sample_block(0x90, {});
            for (long k = 0; k < post; ++k) sample_block(0x80, {});
            gps_block(g, g.time + i * step);
        }
    } else if (c == "bytes") {
        for (std::size_t i = 1; i < words.size(); ++i) out.push_back(static_cast<char>(std::stoi(words[i], nullptr, 16)));
    } else if (c == "trailer") {
        out.push_back(static_cast<char>(0xE0));
        if (words.size() > 1) out += rest_of_line();
    } else {
        die("unknown command " + c);
    }
}

// A damaged copy: bytes changed, type bytes inserted, stretches deleted or
// repeated, sometimes cut short.
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--mutate") {
        std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        std::string m = mutate(in, static_cast<unsigned>(std::stoul(argv[2])));
        std::fwrite(m.data(), 1, m.size(), stdout);
        return 0;
    }
    std::string line;
    while (std::getline(std::cin, line)) command(line);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
