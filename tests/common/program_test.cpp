// The shared run-time helpers: the split of a line time, the messages and
// the exit statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "program.hpp"
#include "textlines.hpp"

using namespace vorn;

namespace {

// The split as the converters and stampfill computed it before they shared
// it: floor first, then the fraction scaled and floored.
SplitTime by_hand(double t, double per_second) {
    const double whole = std::floor(t);
    return {static_cast<int64_t>(whole), static_cast<int64_t>(std::floor((t - whole) * per_second))};
}

}  // namespace

TEST(SplitTime, MicrosecondsAndMilliseconds) {
    EXPECT_EQ(split_time(10.25).sec, 10);
    EXPECT_EQ(split_time(10.25).usec, 250000);
    EXPECT_EQ(split_time(10.25, kMillisecondsPerSecond).usec, 250);
    // Below zero the seconds go down and the fraction stays positive.
    EXPECT_EQ(split_time(-0.25).sec, -1);
    EXPECT_EQ(split_time(-0.25).usec, 750000);
    EXPECT_EQ(split_time(-0.25, kMillisecondsPerSecond).usec, 750);
    // A fraction just below a whole microsecond is cut, never rounded up.
    EXPECT_EQ(split_time(1.0000009999).usec, 0);
}

TEST(SplitTime, SameBitsAsTheOpenCodedSplit) {
    // Times of a recording, with fractions that do not fit a double exactly.
    for (double t : {1400000000.123456, 1400000000.999999, 1400000000.0000005, 0.1, 1e-7, 86399.9999995,
                     -1400000000.000001}) {
        for (double per_second : {kMicrosecondsPerSecond, kMillisecondsPerSecond}) {
            const SplitTime a = split_time(t, per_second);
            const SplitTime b = by_hand(t, per_second);
            EXPECT_EQ(a.sec, b.sec) << t;
            EXPECT_EQ(a.usec, b.usec) << t;
        }
    }
}

TEST(Messages, FlushedAtOnceAndFailureReturnsItsStatus) {
    std::string s;
    Writer w(&s);
    message(w, "%s ERROR: opening input file: %s\n", {"vornseq", "a.vrn"});
    EXPECT_EQ(s, "vornseq ERROR: opening input file: a.vrn\n");  // no flush needed by the caller
    EXPECT_EQ(failure(Exit::fatal, w, "no %s\n", {"header"}), Exit::fatal);
    EXPECT_EQ(s, "vornseq ERROR: opening input file: a.vrn\nno header\n");
}

TEST(ExitStatus, NumbersStoredScriptsTestFor) {
    EXPECT_EQ(static_cast<int>(Exit::ok), 0);
    EXPECT_EQ(static_cast<int>(Exit::aux_file), 1);
    EXPECT_EQ(static_cast<int>(Exit::usage), 2);
    EXPECT_EQ(static_cast<int>(Exit::no_useful_data), 77);
    EXPECT_EQ(static_cast<int>(Exit::no_time_shift), 100);
    EXPECT_EQ(static_cast<int>(Exit::buffer_overrun), 127);
    EXPECT_EQ(static_cast<int>(Exit::fatal), 200);
    EXPECT_EQ(exit_name(Exit::no_time_shift), "no time shift");
    EXPECT_EQ(exit_name(Exit::no_useful_data), "no useful data");
}
