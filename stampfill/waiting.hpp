// The lines that wait for their next good time tag. Any number of lines may
// wait: the first ones are held in memory; whenever spill_lines of them are
// held, they go to an unlinked temporary file and are read back, in order,
// when the next good tag (or the end, or the error line) comes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vorn::stampfill {

// Lines held in memory before they go to the temporary file: at three
// channels 20 bytes each, so about 20 MB.
inline constexpr int64_t kSpillLines = 1'000'000;

// Where waiting lines go when there are many of them.
struct SpillSettings {
    int64_t lines = kSpillLines;  // at least 1
    std::string dir = "/tmp";     // folder of the temporary file
};

// Record in the temporary file, native byte order (the file lives and dies
// with this process):
//   bytes 0..7                sample number, int64_t
//   bytes 8..8+4*channels-1   one int32_t value per channel
class WaitingLines {
public:
    WaitingLines(int channels, SpillSettings settings);
    ~WaitingLines();
    WaitingLines(const WaitingLines&) = delete;
    WaitingLines& operator=(const WaitingLines&) = delete;

    // Keeps one line. False when the lines cannot be kept (the temporary
    // file cannot be created or written; error() tells why): the line and
    // every line before it are still kept and can be visited.
    bool add(int64_t n, const int32_t* values) {
        if (nums_.size() == nums_.capacity()) grow();
        nums_.push_back(n);
        for (int c = 0; c < channels_; ++c) vals_.push_back(values[c]);
        if (static_cast<int64_t>(nums_.size()) >= settings_.lines) return spill();
        return true;
    }

    // Calls f(n, values) for every kept line, in order: first the lines in
    // the file, then those in memory. False when the file cannot be read
    // back (error() tells why): f has seen the lines before the failure.
    template <class F>
    bool for_each(F&& f) {
        if (file_lines_ > 0 && !for_each_in_file(f)) return false;
        const int32_t* v = vals_.data();
        const std::size_t count = nums_.size();
        const std::size_t step = static_cast<std::size_t>(channels_);
        for (std::size_t i = 0; i < count; ++i, v += step) f(nums_[i], v);
        return true;
    }

    // Forgets every kept line; the file is emptied for the next ones.
    void clear();

    int64_t size() const { return file_lines_ + static_cast<int64_t>(nums_.size()); }
    int64_t lines_in_file() const { return file_lines_; }
    const std::string& error() const { return error_; }

private:
    void grow();
    bool spill();
    bool open_file();
    // Reads the next block of records at offset into io_; false on failure.
    bool read_block(int64_t offset, std::size_t bytes);
    bool fail(const char* what, int error_number);

    template <class F>
    bool for_each_in_file(F& f) {
        const int64_t per_block = static_cast<int64_t>(io_.size() / record_);
        int32_t values[3] = {0, 0, 0};
        for (int64_t done = 0; done < file_lines_;) {
            const int64_t count = std::min(per_block, file_lines_ - done);
            const std::size_t bytes = static_cast<std::size_t>(count) * record_;
            if (!read_block(done * static_cast<int64_t>(record_), bytes)) return false;
            const char* p = io_.data();
            for (int64_t i = 0; i < count; ++i, p += record_) {
                int64_t n;
                std::memcpy(&n, p, sizeof n);
                std::memcpy(values, p + sizeof n, static_cast<std::size_t>(channels_) * sizeof(int32_t));
                f(n, static_cast<const int32_t*>(values));
            }
            done += count;
        }
        return true;
    }

    int channels_;
    SpillSettings settings_;
    std::size_t record_;  // bytes per record in the file
    // Lines in memory: sample numbers, and channels_ values per line.
    std::vector<int64_t> nums_;
    std::vector<int32_t> vals_;
    int fd_ = -1;
    int64_t file_lines_ = 0;  // complete records in the file
    std::vector<char> io_;    // one block of records on its way to or from the file
    std::string error_;
};

}  // namespace vorn::stampfill
