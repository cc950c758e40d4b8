#include "io.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>

#include "program.hpp"

namespace vorn {

// ---- Writer ---------------------------------------------------------------

Writer::Writer(int fd, std::size_t capacity, bool fatal_errors)
    : fd_(fd), fatal_errors_(fatal_errors), buf_(std::max<std::size_t>(capacity, 256)) {}

Writer::Writer(std::string* sink, std::size_t capacity)
    : sink_(sink), fatal_errors_(false), buf_(std::max<std::size_t>(capacity, 256)) {}

void Writer::num(int64_t v, int width, char fill) {
    char digits[24];
    char* e = std::to_chars(digits, digits + sizeof digits, v).ptr;
    std::size_t n = static_cast<std::size_t>(e - digits);
    std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
    if (n >= w) {
        put(std::string_view(digits, n));
        return;
    }
    std::size_t pad = w - n;
    if (fill == '0') {
        // The sign goes before the zeros: "%03d" of -5 is "-05".
        std::size_t skip = 0;
        if (digits[0] == '-') {
            put('-');
            skip = 1;
        }
        for (std::size_t i = 0; i < pad; ++i) put('0');
        put(std::string_view(digits + skip, n - skip));
    } else {
        for (std::size_t i = 0; i < pad; ++i) put(' ');
        put(std::string_view(digits, n));
    }
}

void Writer::right(std::string_view s, int width) {
    for (int64_t i = static_cast<int64_t>(s.size()); i < width; ++i) put(' ');
    put(s);
}

void Writer::fixed(double v, int precision) {
    char text[400];
    auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, precision);
    if (r.ec == std::errc()) {
        put(std::string_view(text, static_cast<std::size_t>(r.ptr - text)));
    } else if (std::isnan(v)) {
        put(std::signbit(v) ? "-nan" : "nan");
    } else {
        put(v < 0 ? "-inf" : "inf");
    }
}

void Writer::make_room(std::size_t n) {
    flush();
    if (n > buf_.size()) buf_.resize(n);
}

void Writer::flush() {
    if (pos_ == 0) return;
    std::size_t n = pos_;
    pos_ = 0;
    write_out(buf_.data(), n);
}

void Writer::write_out(const char* p, std::size_t n) {
    if (sink_ != nullptr) {
        sink_->append(p, n);
        return;
    }
    while (n > 0) {
        ssize_t k = ::write(fd_, p, n);
        if (k < 0) {
            if (errno == EINTR) continue;
            if (fatal_errors_) write_failed(errno);
            return;
        }
        p += k;
        n -= static_cast<std::size_t>(k);
    }
}

// ---- ByteReader -----------------------------------------------------------

ByteReader::ByteReader(int fd, std::string label, std::size_t capacity)
    : fd_(fd), label_(std::move(label)), storage_(std::max<std::size_t>(capacity, 16)), buf_(storage_.data()) {}

ByteReader::ByteReader(const uint8_t* data, std::size_t size) : buf_(data), len_(size), eof_(true) {}

bool ByteReader::refill() {
    if (eof_) return false;
    for (;;) {
        ssize_t k = ::read(fd_, storage_.data(), storage_.size());
        if (k < 0) {
            if (errno == EINTR) continue;
            read_failed(label_, errno);
        }
        pos_ = 0;
        len_ = static_cast<std::size_t>(k);
        if (k == 0) {
            eof_ = true;
            return false;
        }
        return true;
    }
}

std::size_t ByteReader::read(uint8_t* dst, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        if (pos_ == len_ && !refill()) break;
        std::size_t k = std::min(n - done, len_ - pos_);
        std::memcpy(dst + done, buf_ + pos_, k);
        pos_ += k;
        done += k;
    }
    count_ += static_cast<int64_t>(done);
    return done;
}

// ---- LineReader -----------------------------------------------------------

namespace {
// A line longer than this keeps its first kMaxLine bytes; the rest up to its
// line feed is dropped.
constexpr std::size_t kMaxLine = std::size_t{16} << 20;
}  // namespace

LineReader::LineReader(int fd, std::size_t capacity)
    : fd_(fd), buf_(std::max<std::size_t>(capacity, 64) + kPadding) {}

LineReader::LineReader(std::string_view text) : buf_(text.size() + kPadding), end_(text.size()), eof_(true) {
    if (!text.empty()) std::memcpy(buf_.data(), text.data(), text.size());
}

bool LineReader::fill() {
    if (eof_) return false;
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buf_.size() - end_ <= kPadding) buf_.resize(buf_.size() * 2);
    for (;;) {
        ssize_t k = ::read(fd_, buf_.data() + end_, buf_.size() - kPadding - end_);
        if (k < 0) {
            if (errno == EINTR) continue;
            read_failed({}, errno);
        }
        if (k == 0) {
            eof_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(k);
        return true;
    }
}

bool LineReader::next_slow(PaddedLine& line) {
    std::size_t scanned = 0;
    for (;;) {
        const char* b = buf_.data() + begin_;
        std::size_t have = end_ - begin_;
        const void* nl = std::memchr(b + scanned, '\n', have - scanned);
        if (nl != nullptr) {
            std::size_t n = static_cast<std::size_t>(static_cast<const char*>(nl) - b);
            line = PaddedLine(std::string_view(b, n));
            begin_ += n + 1;
            ++lineno_;
            return true;
        }
        scanned = have;
        if (have >= kMaxLine) {
            // Keep the first kMaxLine bytes; drop the rest of the line. The
            // byte behind the kept text is a written line feed, and what
            // follows the dropped rest goes after it.
            const std::size_t keep_end = begin_ + kMaxLine;
            const std::size_t rest_at = keep_end + 1;
            const std::size_t room = rest_at + (std::size_t{1} << 16) + kPadding;
            if (buf_.size() < room) buf_.resize(room);
            buf_[keep_end] = '\n';
            for (;;) {
                end_ = rest_at;
                if (eof_) break;
                ssize_t k;
                do {
                    k = ::read(fd_, buf_.data() + end_, buf_.size() - kPadding - end_);
                } while (k < 0 && errno == EINTR);
                if (k < 0) read_failed({}, errno);
                if (k == 0) {
                    eof_ = true;
                    break;
                }
                const void* nl2 = std::memchr(buf_.data() + end_, '\n', static_cast<std::size_t>(k));
                if (nl2 != nullptr) {
                    std::size_t after = static_cast<std::size_t>(static_cast<const char*>(nl2) - buf_.data()) + 1;
                    std::size_t rest = end_ + static_cast<std::size_t>(k) - after;
                    std::memmove(buf_.data() + rest_at, buf_.data() + after, rest);
                    end_ = rest_at + rest;
                    break;
                }
            }
            line = PaddedLine(std::string_view(buf_.data() + begin_, kMaxLine));
            begin_ = rest_at;
            ++lineno_;
            // The kept text stays valid until the next call.
            return true;
        }
        if (!fill()) {
            if (end_ == begin_) return false;
            line = PaddedLine(std::string_view(buf_.data() + begin_, end_ - begin_));
            // The last line has no line feed of its own: one is written
            // behind it (the padding has room), in place of whatever older
            // bytes lay there.
            buf_[end_] = '\n';
            begin_ = end_;
            ++lineno_;
            return true;
        }
        scanned = 0;  // fill() may have moved the buffer
    }
}

}  // namespace vorn
