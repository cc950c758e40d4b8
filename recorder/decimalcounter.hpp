// The sample numbers of the converters' untimed sample lines, which go up
// by one per line.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>

namespace vorn {

// The decimal text of a count that goes up by one per line (a sample
// number): incrementing the text costs less than converting the number anew.
class DecimalCounter {
public:
    // n >= 0.
    explicit DecimalCounter(int64_t n) {
        char tmp[24];
        len_ = static_cast<int>(std::to_chars(tmp, tmp + sizeof tmp, n < 0 ? 0 : n).ptr - tmp);
        std::memcpy(text_ + kWidth - len_, tmp, static_cast<std::size_t>(len_));
    }
    // Writes the text at p, with up to 24 bytes of scratch behind it.
    char* put(char* p) const {
        std::memcpy(p, text_ + kWidth - len_, kWidth);
        return p + len_;
    }
    void increment() {
        int i = kWidth - 1;
        while (text_[i] == '9') text_[i--] = '0';
        if (i < kWidth - len_) {
            text_[i] = '1';
            ++len_;
        } else {
            ++text_[i];
        }
    }

private:
    static constexpr int kWidth = 24;
    char text_[2 * kWidth] = {};  // digits right-aligned at kWidth; scratch behind
    int len_ = 0;
};

}  // namespace vorn
