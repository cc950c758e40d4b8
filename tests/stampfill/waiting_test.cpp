// The store of waiting lines: in memory, then in the temporary file, always
// given back whole and in order.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "waiting.hpp"

using namespace vorn::stampfill;

namespace {

struct Line {
    int64_t n;
    int32_t v[3];
    bool operator==(const Line&) const = default;
};

std::vector<Line> visit(WaitingLines& w, int channels, bool* ok = nullptr) {
    std::vector<Line> seen;
    const bool read = w.for_each([&](int64_t n, const int32_t* v) {
        Line l{n, {0, 0, 0}};
        for (int c = 0; c < channels; ++c) l.v[c] = v[c];
        seen.push_back(l);
    });
    if (ok) *ok = read;
    return seen;
}

Line make(int64_t i, int channels) {
    Line l{i * 3 - 1'000'000'000'000, {0, 0, 0}};
    for (int c = 0; c < channels; ++c) l.v[c] = static_cast<int32_t>(i * (c + 1)) * (c == 1 ? -1 : 1) + INT32_MIN / 2;
    return l;
}

}  // namespace

TEST(StampfillWaiting, EveryLineBackInOrder) {
    for (int channels = 0; channels <= 3; ++channels) {
        for (int64_t spill : {int64_t{1}, int64_t{2}, int64_t{7}, int64_t{4096}, int64_t{1'000'000}}) {
            WaitingLines w(channels, SpillSettings{spill, "/tmp"});
            // Waits of different lengths through the same store; the long
            // one (with the larger spills: few writes) fills more than one
            // block of the file (1 MiB).
            for (int64_t count : {int64_t{10}, int64_t{150000}, int64_t{0}, int64_t{3}, int64_t{130}}) {
                if (count > 1000 && spill < 1000) continue;
                std::vector<Line> expect;
                for (int64_t i = 0; i < count; ++i) {
                    const Line l = make(i + count, channels);
                    ASSERT_TRUE(w.add(l.n, l.v)) << w.error();
                    expect.push_back(l);
                }
                ASSERT_EQ(w.size(), count);
                EXPECT_EQ(w.lines_in_file(), count - count % spill);
                bool ok = false;
                ASSERT_EQ(visit(w, channels, &ok), expect) << channels << " " << spill << " " << count;
                EXPECT_TRUE(ok);
                // A second visit gives the same (the file is read again).
                ASSERT_EQ(visit(w, channels), expect);
                w.clear();
                EXPECT_EQ(w.size(), 0);
                EXPECT_EQ(w.lines_in_file(), 0);
            }
        }
    }
}

TEST(StampfillWaiting, NoFileForTheSpill) {
    // The folder does not exist: the line that fills the memory is refused,
    // nothing is lost, the reason is kept.
    WaitingLines w(2, SpillSettings{3, "/nonexistent/folder"});
    const int32_t v[3] = {4, -5, 0};
    EXPECT_TRUE(w.add(10, v));
    EXPECT_TRUE(w.add(11, v));
    EXPECT_FALSE(w.add(12, v));
    EXPECT_EQ(w.error(), "No such file or directory");
    EXPECT_EQ(w.size(), 3);
    const std::vector<Line> seen = visit(w, 2);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2], (Line{12, {4, -5, 0}}));
}

TEST(StampfillWaiting, SettingsBelowOneMeanOne) {
    WaitingLines w(1, SpillSettings{0, "/tmp"});
    const int32_t v[3] = {1, 0, 0};
    ASSERT_TRUE(w.add(1, v));
    EXPECT_EQ(w.lines_in_file(), 1);
}
