// Random and mutated streams through the whole run, in-process: it must end
// with one of its outcomes and write only well-formed lines. (The sanitizer
// build checks every access on the way.)
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "timefit.hpp"

namespace {

std::string random_stream(std::mt19937_64& rng) {
    std::uniform_int_distribution<int> pick(0, 99);
    std::string s;
    auto add = [&s](long v) {
        s += std::to_string(v);
        s += ' ';
    };
    const int ch = 1 + pick(rng) % 3;
    s += "Z D E 1 ";
    add(pick(rng) < 90 ? ch : pick(rng) - 50);
    add(pick(rng) < 90 ? 1 + pick(rng) % 5 : pick(rng) - 50);
    s += "0 1 2 3 4 5 6 7 8 9 10 11 12 P T S 13 14 15 7\n";
    long n = pick(rng) - 5;
    long sec = pick(rng) < 10 ? pick(rng) - 50 : 1483228800 + pick(rng);
    const int lines = pick(rng) * 3;
    for (int i = 0; i < lines; ++i) {
        const int what = pick(rng);
        const std::size_t start = s.size();
        add(n++);
        for (int c = 0; c < ch; ++c) add(pick(rng) - 50);
        if (what < 60) {
            s += "-1 0";
        } else if (what < 85) {
            sec += pick(rng) < 80 ? 1 : pick(rng) % 5 - 2;
            add(sec);
            s += std::to_string(pick(rng) * 10000 + pick(rng));
        } else if (what < 88) {
            s.resize(start);
            s += "-1 0 0 0 0 0";
        } else if (what < 92) {
            s += "9223372036854775807 999999";
        } else if (what < 95) {
            s.resize(start + (s.size() - start) / 2);
        } else {
            // Random bytes.
            s.resize(start);
            const int len = pick(rng) % 20;
            for (int b = 0; b < len; ++b) s += static_cast<char>(pick(rng) * 2 + 28);
        }
        s += '\n';
    }
    if (pick(rng) < 20 && !s.empty()) s.resize(static_cast<std::size_t>(pick(rng)) * s.size() / 100);
    return s;
}

TEST(Robustness, RandomStreamsEndCleanly) {
    std::mt19937_64 rng(20240601);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string input = random_stream(rng);
        timefit::Limits limits;
        if (trial % 3 == 0) {
            limits.max_index = 20 + trial % 17;
            limits.untimed_close_index = limits.max_index - 4;
        }
        for (bool tag_list : {false, true}) {
            std::string out, diag;
            vorn::LineReader in(input);
            vorn::Writer w(&out), d(&diag);
            vorn::HeaderValues h;
            timefit::Options opt;
            opt.tag_list = tag_list;
            const timefit::Outcome o = timefit::run(in, w, d, h, opt, limits);
            w.flush();
            ASSERT_TRUE(o == timefit::Outcome::ok || o == timefit::Outcome::error_line ||
                        o == timefit::Outcome::unsupported_header || o == timefit::Outcome::buffer_full)
                << timefit::outcome_name(o) << " on trial " << trial;
            // Every output line ends with a line feed and holds only the
            // characters of numbers, dates and header texts.
            ASSERT_TRUE(out.empty() || out.back() == '\n') << trial;
        }
    }
}

}  // namespace
