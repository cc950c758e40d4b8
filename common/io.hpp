// Buffered byte and line input, buffered checked text output.
//
// Every program reads its input in large blocks and writes its output into
// one large buffer that goes out in large writes. A failed write ends the
// program with "<program> ERROR: cannot write output: <reason>" and status 200;
// a failed read likewise with "cannot read input".
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "decimal.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vorn {

// Output buffer with std::to_chars formatting. Writes to a file descriptor,
// or appends to a string (unit tests). Errors on a descriptor are fatal
// unless the writer is the diagnostics channel (standard error).
class Writer {
public:
    explicit Writer(int fd, std::size_t capacity = 1 << 20, bool fatal_errors = true);
    explicit Writer(std::string* sink, std::size_t capacity = 1 << 16);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() = default;  // no flush here: programs end through vorn::finish()

    void put(char c) {
        if (pos_ == buf_.size()) flush();
        buf_[pos_++] = c;
    }
    void put(std::string_view s) {
        if (s.size() > buf_.size() - pos_) {
            flush();
            if (s.size() > buf_.size()) {
                write_out(s.data(), s.size());
                return;
            }
        }
        std::memcpy(buf_.data() + pos_, s.data(), s.size());
        pos_ += s.size();
    }
    // "%d" / "%ld": a signed decimal.
    void num(int64_t v) {
        reserve(32);  // 20 characters and the formatter's scratch
        char* b = buf_.data() + pos_;
        pos_ += static_cast<std::size_t>(put_int(b, v) - b);
    }
    // "%<width>d" (fill ' ') and "%0<width>d" (fill '0').
    void num(int64_t v, int width, char fill = ' ');
    // "%<width>s": right-aligned in width characters.
    void right(std::string_view s, int width);
    // "%.<precision>f" ("%lf" is precision 6).
    void fixed(double v, int precision);

    // Formatting straight into the buffer, for the hottest lines: room(n)
    // returns where at least n bytes may be written (for n beyond the
    // capacity the buffer grows); advance(end) then takes what was written up
    // to end.
    char* room(std::size_t n) {
        reserve(n);
        return buf_.data() + pos_;
    }
    void advance(const char* end) { pos_ = static_cast<std::size_t>(end - buf_.data()); }

    void flush();
    std::size_t pending() const { return pos_; }

private:
    void reserve(std::size_t n) {
        if (buf_.size() - pos_ < n) make_room(n);
    }
    // Flushes, and grows the buffer when n exceeds its capacity.
    void make_room(std::size_t n);
    void write_out(const char* p, std::size_t n);

    int fd_ = -1;
    std::string* sink_ = nullptr;
    bool fatal_errors_ = true;
    std::vector<char> buf_;
    std::size_t pos_ = 0;
};

// Byte input in large blocks with a byte-at-a-time interface and a count of
// the bytes consumed. Reads a descriptor, or a memory span (unit tests).
class ByteReader {
public:
    explicit ByteReader(int fd, std::string label = {}, std::size_t capacity = 1 << 20);
    ByteReader(const uint8_t* data, std::size_t size);
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    // The next byte (0..255), or -1 at the end of input.
    int get() {
        if (pos_ == len_ && !refill()) return -1;
        ++count_;
        return buf_[pos_++];
    }
    // Up to n bytes into dst; fewer only at the end of input.
    std::size_t read(uint8_t* dst, std::size_t n);
    // True when no byte is left (reads ahead if needed).
    bool at_end() { return pos_ == len_ && !refill(); }
    // Bytes consumed so far.
    int64_t count() const { return count_; }
    // Direct access to the buffered bytes, for block copies: the bytes
    // available without reading, after at least one refill attempt.
    std::size_t available() {
        if (pos_ == len_) refill();
        return len_ - pos_;
    }
    const uint8_t* data() const { return buf_ + pos_; }
    void consume(std::size_t n) {
        pos_ += n;
        count_ += static_cast<int64_t>(n);
    }

private:
    bool refill();

    int fd_ = -1;
    std::string label_;
    std::vector<uint8_t> storage_;
    const uint8_t* buf_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    int64_t count_ = 0;
    bool eof_ = false;
};

// A line's text (the string_view it is) with at least kPadding readable
// bytes behind it in memory, so that parsers may load whole words near its
// end without a check. A LineReader hands lines out as this; elsewhere one
// is made only by assume_padded, whose caller vouches for the bytes.
// Shortening a PaddedLine (remove_prefix, remove_suffix) keeps the promise;
// a plain string_view cannot be assigned to one.
class PaddedLine : public std::string_view {
public:
    static constexpr std::size_t kPadding = 64;

    // An empty line (with its padding).
    PaddedLine() : std::string_view(kEmpty, 0) {}
    // text, behind which the caller makes sure that kPadding bytes can be
    // read (their values do not matter).
    static PaddedLine assume_padded(std::string_view text) { return PaddedLine(text); }

private:
    friend class LineReader;
    explicit PaddedLine(std::string_view text) : std::string_view(text) {}
    static constexpr char kEmpty[kPadding] = {'\n'};
};

// Line input in large blocks: each line without its line feed. A last line
// without a line feed is still a line. Lines of any length are returned
// whole, up to a generous cap beyond which the rest of the line is dropped.
// Every line returned is followed in memory by a line feed: its own, or one
// written behind a last line that had none (or behind the kept part of an
// over-long line). No scanner accepts that byte, so a scanner that misses
// the line's end still stops there, never in older bytes of the buffer.
// Behind every line lie at least kPadding readable bytes (of no particular
// value beyond that first one): the lines are PaddedLines.
class LineReader {
public:
    static constexpr std::size_t kPadding = PaddedLine::kPadding;

    explicit LineReader(int fd, std::size_t capacity = 1 << 20);
    explicit LineReader(std::string_view text);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line, or false at the end of input. The line stays valid
    // until the next call.
    bool next(PaddedLine& line) {
#if defined(__SSE2__)
        // A line of less than 64 bytes that lies whole in the buffer is found
        // 16 bytes at a time (the padding keeps the loads inside the buffer).
        const char* const b = buf_.data() + begin_;
        const std::size_t have = end_ - begin_;
        const __m128i feed = _mm_set1_epi8('\n');
        for (std::size_t off = 0; off < 64 && off < have; off += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + off));
            const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, feed)));
            if (m != 0) {
                const std::size_t n = off + static_cast<std::size_t>(__builtin_ctz(m));
                if (n >= have) break;  // beyond the bytes read
                line = PaddedLine(std::string_view(b, n));
                begin_ += n + 1;
                ++lineno_;
                return true;
            }
        }
#endif
        return next_slow(line);
    }
    // Number of the line last returned, counted from 1.
    int64_t line_number() const { return lineno_; }

private:
    bool next_slow(PaddedLine& line);
    bool fill();

    int fd_ = -1;
    std::vector<char> buf_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    int64_t lineno_ = 0;
};

}  // namespace vorn
