#include "samplestore.hpp"

#include <cstdlib>
#include <new>

namespace vorn::classic {

namespace {
int32_t* allocate_samples(std::size_t n) { return static_cast<int32_t*>(std::malloc(n * sizeof(int32_t))); }
}  // namespace

SampleStore::SampleStore(int channels, Allocate allocate)
    : channels_(channels < 1 ? 1 : (channels > kMaxChannels ? kMaxChannels : channels)),
      allocate_(allocate != nullptr ? allocate : allocate_samples) {}

SampleStore::~SampleStore() {
    for (auto& row : rows_)
        for (int32_t* p : row) std::free(p);
}

bool SampleStore::grow(int64_t i) {
    if (i < 0) return false;
    while ((i >> kChunkBits) >= chunks_) {
        try {
            for (int c = 0; c < channels_; ++c)
                if (rows_[c].size() == rows_[c].capacity()) rows_[c].reserve(rows_[c].size() * 2 + 16);
        } catch (const std::bad_alloc&) {
            return false;
        }
        // Every channel gets its chunk before the count moves on, in channel order.
        for (int c = 0; c < channels_; ++c) {
            if (rows_[c].size() > static_cast<std::size_t>(chunks_)) continue;  // kept from a failed round
            int32_t* p = allocate_(static_cast<std::size_t>(kChunk));
            if (p == nullptr) return false;
            rows_[c].push_back(p);
        }
        ++chunks_;
    }
    return true;
}

}  // namespace vorn::classic
