// What the harnesses share: the input handed to a program's descriptor
// reader through an in-memory file, the reader's buffer size chosen by an
// input byte, and the checks on a text stage's output.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "io.hpp"
#include "vorn.hpp"

namespace vorn::fuzz {

// A failed check: the harness stops the run, and libFuzzer keeps the input.
[[noreturn]] inline void broken(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "invariant broken: %s: %.*s\n", what, static_cast<int>(detail.size() > 300 ? 300 : detail.size()),
                 detail.data());
    std::abort();
}

// The bytes as a file with a descriptor of its own, read from its start.
class MemFile {
public:
    MemFile(const uint8_t* data, std::size_t size) {
        fd_ = ::memfd_create("vornfuzz", 0);
        if (fd_ < 0) broken("memfd_create failed");
        std::size_t done = 0;
        while (done < size) {
            const ssize_t k = ::write(fd_, data + done, size - done);
            if (k <= 0) broken("cannot fill the memfd");
            done += static_cast<std::size_t>(k);
        }
        ::lseek(fd_, 0, SEEK_SET);
    }
    ~MemFile() { ::close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    int fd() const { return fd_; }
    // A name that opens the same bytes.
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_ = -1;
};

// A reader's buffer size from one input byte: mostly small, so that lines
// and blocks cross refills, and now and then one that holds the whole input.
inline std::size_t buffer_size(uint8_t b) {
    static constexpr std::size_t sizes[] = {1,   2,   3,    7,    15,   16,    17,    31,      63,
                                            64,  65,  100,  127,  128,  255,   1000,  4096,    65536};
    return sizes[b % (sizeof sizes / sizeof sizes[0])];
}

// The lines of a text output, each without its line feed.
template <class F>
void for_each_line(std::string_view text, F&& f) {
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        f(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
}

// The longest line a text stage may write: the header line (seven texts of
// at most 99 characters, nineteen integers of at most 11), or a data line
// (a 64-bit sample number or seconds, three 32-bit values, 64-bit seconds
// and microseconds, and a calendar date with a year of up to 12 digits).
inline constexpr std::size_t kMaxHeaderLine = 7 * 99 + 19 * 11 + 25;
inline constexpr std::size_t kMaxDataLine = 20 + 3 * 11 + 20 + 20 + 40 + 8;

// What holds for the output of every text stage: the first line is a header
// line (or the output is empty), no line is longer than the format allows,
// and (when error_line_last) nothing follows the error line.
inline void check_stage_output(std::string_view out, bool error_line_last) {
    bool first = true;
    bool after_error = false;
    std::string error_line;
    for_each_line(out, [&](std::string_view line) {
        if (first) {
            first = false;
            if (line.size() > kMaxHeaderLine) broken("header line too long", line);
            HeaderValues h;
            read_header_line(line, h);
            if (h.CH_NUM >= 1 && h.CH_NUM <= 3) {
                std::string s;
                Writer w(&s);
                write_error_line(w, h.CH_NUM);
                w.flush();
                error_line = s.substr(0, s.size() - 1);
            }
            return;
        }
        if (line.size() > kMaxDataLine) broken("data line too long", line);
        if (after_error) broken("a line after the error line", line);
        if (error_line_last && !error_line.empty() && line == error_line) after_error = true;
    });
}

}  // namespace vorn::fuzz
