// The converters' buffer of samples decoded since the last valid time tag.
//
// The values of one sample (one per channel, channel 0 first) lie side by
// side. The buffer grows geometrically as samples arrive, up to the limit of
// samples per channel, and keeps its capacity between flushes, so memory
// follows the longest stretch without a valid tag, not the worst case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace vorn {

class SampleBuffer {
public:
    // Grows a block of memory as std::realloc does (tests give one that fails).
    using Reallocate = void* (*)(void* p, std::size_t bytes);
    static void* system_realloc(void* p, std::size_t bytes) { return std::realloc(p, bytes); }

    SampleBuffer(int channels, int64_t limit, Reallocate reallocate = nullptr)
        : channels_(channels), limit_(limit), reallocate_(reallocate != nullptr ? reallocate : system_realloc) {}
    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;
    ~SampleBuffer() { std::free(data_); }

    // Makes room for the sample at index i (i < limit). False when the
    // memory cannot be had.
    bool make_room(int64_t i) {
        if (i < capacity_) return true;
        return grow(i);
    }
    int32_t* at(int64_t i) { return data_ + i * channels_; }
    const int32_t* at(int64_t i) const { return data_ + i * channels_; }
    int64_t capacity() const { return capacity_; }
    int channels() const { return channels_; }

    // The first capacity, in samples per channel.
    static constexpr int64_t kFirstCapacity = 4096;

private:
    bool grow(int64_t i) {
        int64_t cap = capacity_ < kFirstCapacity ? kFirstCapacity : capacity_ * 2;
        while (cap <= i) cap *= 2;
        if (cap > limit_) cap = limit_;
        if (cap <= i) return false;
        const auto bytes = static_cast<std::size_t>(cap) * static_cast<std::size_t>(channels_) * sizeof(int32_t);
        void* p = reallocate_(data_, bytes);
        if (p == nullptr) return false;
        data_ = static_cast<int32_t*>(p);
        capacity_ = cap;
        return true;
    }

    int32_t* data_ = nullptr;
    int64_t capacity_ = 0;
    int channels_;
    int64_t limit_;
    Reallocate reallocate_;
};

}  // namespace vorn
