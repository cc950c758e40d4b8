// Random and mutated text record streams for the robustness tests of the
// text stages: well-formed streams, then byte and token damage of every kind
// the stages may meet (cut lines, foreign tokens, numbers beyond their
// fields, error lines, untimed lines, binary bytes).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lines.hpp"

namespace vorn::testing {

class StreamFuzzer {
public:
    explicit StreamFuzzer(uint64_t seed) : rng_(seed) {}

    uint64_t below(uint64_t n) { return n == 0 ? 0 : rng_() % n; }

    // A header line with a channel count and rate that are mostly sound.
    std::string header(int& ch, int& rate) {
        static const int rates[] = {100, 250, 300, 1000, 50, 49, 30, 1, 1000000, 1000001, 0, -1};
        ch = below(10) == 0 ? static_cast<int>(below(6)) - 1 : 1 + static_cast<int>(below(3));
        rate = below(6) == 0 ? rates[below(12)] : rates[below(4)];
        return "VZ D01 site 0 " + std::to_string(ch) + " " + std::to_string(rate) +
               " 3 0 0 0 0 0 0 0 1 1 0 0 0 gps 12:00:00 01.01.14 0 0 0 0001";
    }

    static void field(std::string& s, int64_t v) {
        s += ' ';
        s += std::to_string(v);
    }

    // Sample lines: number, values, seconds, microseconds, with the given
    // share of untimed lines (seconds -1) and negated tags.
    std::string sample(int64_t n, int ch, int64_t t_us, int untimed_percent) {
        std::string s = std::to_string(n);
        for (int c = 0; c < ch; ++c) field(s, static_cast<int64_t>(below(16777216)) - 8388608);
        const uint64_t r = below(100);
        if (static_cast<int>(r) < untimed_percent)
            s += " -1 0";
        else if (static_cast<int>(r) < untimed_percent + 2)
        {
            field(s, -(t_us / 1000000));
            field(s, t_us % 1000000);
        } else {
            field(s, t_us / 1000000);
            field(s, t_us % 1000000);
        }
        if (below(4) == 0) s += ' ';
        return s;
    }

    std::string token() {
        static const char* tokens[] = {"-1", "0", "-0", "+5", "12abc", "x", "", "+", "-", "2147483648",
                                       "-2147483649", "9223372036854775807", "-9223372036854775808",
                                       "99999999999999999999", "1e5", "0x10", "\t", "2017-01-01T00:00:00"};
        return tokens[below(sizeof tokens / sizeof tokens[0])];
    }

    // Damages a stream in a few random places.
    std::string mutate(const std::string& text) {
        std::vector<std::string> lines = split_lines(text);
        const int edits = 1 + static_cast<int>(below(6));
        for (int e = 0; e < edits && !lines.empty(); ++e) {
            std::string& l = lines[below(lines.size())];
            switch (below(9)) {
            case 0:  // cut the line
                l.resize(below(l.size() + 1));
                break;
            case 1: {  // replace a token
                std::size_t at = below(l.size() + 1);
                std::size_t end = l.find(' ', at);
                std::string t = l.substr(0, at);
                t.append(token());
                if (end != std::string::npos) t.append(l, end, std::string::npos);
                l = t;
                break;
            }
            case 2:  // a random byte
                if (!l.empty()) l[below(l.size())] = static_cast<char>(below(256));
                break;
            case 3:  // the error line
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(below(lines.size() + 1)),
                             below(2) ? "-1 0 0 0 0 0" : "-1 0 0 0");
                break;
            case 4:  // drop a line
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(below(lines.size())));
                break;
            case 5:  // duplicate a line
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(below(lines.size())), l);
                break;
            case 6:  // an empty or blank line
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(below(lines.size() + 1)),
                             below(2) ? "" : "   \t ");
                break;
            case 7:  // a very long line
                l += std::string(below(3000), below(2) ? ' ' : '7');
                break;
            default:  // swap two lines
                std::swap(l, lines[below(lines.size())]);
                break;
            }
        }
        return join_lines(lines, below(5) != 0);
    }

private:
    std::mt19937_64 rng_;
};

}  // namespace vorn::testing
