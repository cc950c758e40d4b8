#include "waiting.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace vorn::stampfill {

namespace {

// Records go to and come from the file in blocks of about this size.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

}  // namespace

WaitingLines::WaitingLines(int channels, SpillSettings settings)
    : channels_(std::clamp(channels, 0, 3)),
      settings_(std::move(settings)),
      record_(sizeof(int64_t) + static_cast<std::size_t>(channels_) * sizeof(int32_t)) {
    if (settings_.lines < 1) settings_.lines = 1;
}

WaitingLines::~WaitingLines() {
    if (fd_ >= 0) ::close(fd_);
}

void WaitingLines::grow() {
    // Grow with the data, never beyond what is held before a spill.
    const int64_t held = static_cast<int64_t>(nums_.size());
    const std::size_t cap = static_cast<std::size_t>(std::min(settings_.lines, std::max<int64_t>(4096, 2 * held)));
    nums_.reserve(cap);
    vals_.reserve(cap * static_cast<std::size_t>(channels_));
}

bool WaitingLines::fail(const char* what, int error_number) {
    error_ = what ? what : std::strerror(error_number);
    return false;
}

bool WaitingLines::open_file() {
    const std::string& dir = settings_.dir;
#ifdef O_TMPFILE
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return true;
    // A file system without unnamed files: a named one, removed at once.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return fail(nullptr, errno);
#endif
    std::string path = dir + "/stampfill-XXXXXX";
    fd_ = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd_ < 0) return fail(nullptr, errno);
    ::unlink(path.c_str());
    return true;
}

bool WaitingLines::spill() {
    if (fd_ < 0 && !open_file()) return false;
    if (io_.empty()) io_.resize(kBlockBytes / record_ * record_);
    const std::size_t count = nums_.size();
    const std::size_t per_block = io_.size() / record_;
    const std::size_t step = static_cast<std::size_t>(channels_);
    const std::size_t value_bytes = step * sizeof(int32_t);
    int64_t offset = file_lines_ * static_cast<int64_t>(record_);
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(per_block, count - done);
        char* p = io_.data();
        for (std::size_t i = done; i < done + n; ++i, p += record_) {
            std::memcpy(p, &nums_[i], sizeof(int64_t));
            if (value_bytes > 0) std::memcpy(p + sizeof(int64_t), vals_.data() + i * step, value_bytes);
        }
        const std::size_t bytes = n * record_;
        for (std::size_t put = 0; put < bytes;) {
            const ssize_t w = ::pwrite(fd_, io_.data() + put, bytes - put, offset);
            if (w < 0 && errno == EINTR) continue;
            // The lines of this spill stay in memory; what reached the file
            // of them is not counted.
            if (w < 0) return fail(nullptr, errno);
            if (w == 0) return fail(nullptr, ENOSPC);
            put += static_cast<std::size_t>(w);
            offset += w;
        }
        done += n;
    }
    file_lines_ += static_cast<int64_t>(count);
    nums_.clear();
    vals_.clear();
    return true;
}

bool WaitingLines::read_block(int64_t offset, std::size_t bytes) {
    for (std::size_t got = 0; got < bytes;) {
        const ssize_t r = ::pread(fd_, io_.data() + got, bytes - got, offset);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return fail(nullptr, errno);
        if (r == 0) return fail("the temporary file ended early", 0);
        got += static_cast<std::size_t>(r);
        offset += r;
    }
    return true;
}

void WaitingLines::clear() {
    nums_.clear();
    vals_.clear();
    if (file_lines_ > 0) {
        // The space goes back to the file system; the file stays for the
        // next long wait (if this fails, later records overwrite the old).
        [[maybe_unused]] const int r = ::ftruncate(fd_, 0);
        file_lines_ = 0;
    }
}

}  // namespace vorn::stampfill
