// The per-channel buffers of samples decoded since the last valid tag.
//
// Memory is taken in chunks as the buffered count grows, up to the run's
// limit, and kept for the next stretch; nothing is reserved for the worst
// case up front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorn::classic {

class SampleStore {
public:
    static constexpr int kChunkBits = 16;
    static constexpr int64_t kChunk = int64_t{1} << kChunkBits;
    static constexpr int kMaxChannels = 3;
    // Gives memory for n samples, or nullptr; released with std::free.
    using Allocate = int32_t* (*)(std::size_t n);

    explicit SampleStore(int channels, Allocate allocate = nullptr);
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;
    ~SampleStore();

    int channels() const { return channels_; }
    // Room at index i of every channel; false when memory cannot be had.
    bool ensure(int64_t i) { return (i >> kChunkBits) < chunks_ || grow(i); }
    // The slot of channel c at index i (after ensure(i)).
    int32_t& at(int c, int64_t i) { return rows_[c][static_cast<std::size_t>(i >> kChunkBits)][i & (kChunk - 1)]; }
    // The channels' arrays of chunk k, for the sample line writers, which
    // take channels[c][index within the chunk].
    const int32_t* const* chunk(int64_t k) {
        for (int c = 0; c < channels_; ++c) view_[c] = rows_[c][static_cast<std::size_t>(k)];
        return view_;
    }

private:
    bool grow(int64_t i);

    int channels_;
    Allocate allocate_;
    int64_t chunks_ = 0;  // chunks held per channel
    std::vector<int32_t*> rows_[kMaxChannels];
    const int32_t* view_[kMaxChannels] = {};
};

}  // namespace vorn::classic
