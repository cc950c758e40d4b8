// The AUX file: auxiliary-sensor readings and texts of the aux blocks,
// stamped with time.
//
// Aux block (type byte 0xD1):
//   byte   bits   field
//   d      6..4   record type r
//          3..0   length L, counting the type byte and d
//   then L - 2 payload bytes:
//   r = 0, 2   (L - 2) / 4 entries: unit byte u (code u & 0x7F, 1-based into
//              the unit names), value bytes a0 a1 a2 (21-bit two's complement)
//   r = 4      L - 2 characters that close a record
//   r = 6      L - 2 characters that continue a record
//   r odd      no payload
//
// Layout of the file: each group of records starts on a new line with the
// time stamp "\n%4d-%02d-%02dT%02d:%02d:%02d.%03d " of its first record; a
// value is written "%d %s " with its unit, a text is followed by one space.
// A closing text (r = 4) or a type-0 record ends the group.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io.hpp"

namespace vornconv {

struct AuxDescriptor {
    int type;     // record type r
    int length;   // L
    // Payload bytes the converter reads for this descriptor.
    std::size_t payload() const;
};
AuxDescriptor aux_descriptor(uint8_t d);

// Writes aux records to the AUX file (when there is one) and keeps the
// bookkeeping of where a new line starts, with or without a file.
class AuxOutput {
public:
    explicit AuxOutput(vorn::Writer* file) : file_(file) {}

    // One aux block with its payload, stamped with the record time given as
    // whole seconds and milliseconds.
    void record(const AuxDescriptor& d, const uint8_t* payload, int64_t sec, int64_t ms);

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
