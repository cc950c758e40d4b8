// The AUX file: auxiliary-sensor readings and texts of the aux blocks,
// stamped with time.
//
// The aux block and its records: recorder/blocks.hpp.
//
// Layout of the file: each group of records starts on a new line with the
// time stamp "\n%4d-%02d-%02dT%02d:%02d:%02d.%03d " of its first record; a
// value is written "%d %s " with its unit, a text is followed by one space.
// A closing text (r = 4) or a type-0 record ends the group.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blocks.hpp"
#include "io.hpp"

namespace vornconv {

// Writes aux records to the AUX file (when there is one) and keeps the
// bookkeeping of where a new line starts, with or without a file.
class AuxOutput {
public:
    explicit AuxOutput(vorn::Writer* file) : file_(file) {}

    // One aux block with its payload, stamped with the record time given as
    // whole seconds and milliseconds.
    void record(const vorn::AuxDescriptor& d, const uint8_t* payload, int64_t sec, int64_t ms);

    bool starts_line() const { return first_; }

private:
    void stamp();

    vorn::Writer* file_;
    bool first_ = true;
    int64_t sec_ = 0;
    int64_t ms_ = 0;
};

// Record time of an aux block: f1 + ibuf / S_RATE once a valid tag has been
// seen in normal mode, 0 before (and always in raw and OBH mode).
struct AuxTime {
    int64_t sec = 0;
    int64_t ms = 0;
};
AuxTime aux_record_time(bool first_valid_pps, double f1, int64_t ibuf, int32_t s_rate);

}  // namespace vornconv
