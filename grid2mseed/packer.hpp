// Packing a channel's samples into miniSEED 2.4 data records with libmseed.
//
// The records are big-endian, of one fixed length, with blockette 1000
// (encoding, byte order, length) and blockette 1001 (the microseconds of the
// start time that the fixed header's 100-us field cannot hold). Fixed section
// of the data header, as libmseed writes it:
//
//   bytes  field
//   0-5    sequence number, 6 ASCII digits    ("000001")
//   6      data quality                       'D'
//   7      reserved                           ' '
//   8-12   station, 13-14 location, 15-17 channel, 18-19 network (ASCII, space padded)
//   20-29  start time: year u16, day of year u16, hour, minute, second u8,
//          unused u8, 100-us units u16
//   30-31  number of samples, u16
//   32-35  sample rate factor i16, multiplier i16
//   36-39  activity, I/O, quality flags, number of blockettes (u8 each)
//   40-43  time correction i32 (0)
//   44-45  offset of the data, 46-47 offset of the first blockette (u16)
//
// Every record starts at the grid instant of its first sample to the
// microsecond. A run of consecutive grid instants is packed into records as
// they fill, so memory does not grow with the length of the recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline.hpp"

struct MSRecord_s;

namespace vorn::grid2mseed {

// Where the records of a channel go. The sink sets each record's sequence
// number (bytes 0-5) before it writes the record.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    // A finished record of count samples whose first sample lies at the
    // instant start_us (microseconds since 1970).
    virtual void put_record(char* record, std::size_t length, int64_t start_us, int64_t count) = 0;
};

// Writes sequence number seq (1..999999) into bytes 0-5 of a record.
void set_sequence_number(char* record, int64_t seq);
// The next sequence number after seq: 999999 is followed by 1.
inline int64_t next_sequence_number(int64_t seq) { return seq >= 999999 ? 1 : seq + 1; }
// The sample count of a record (bytes 30-31, big-endian).
inline int64_t record_sample_count(const char* record) {
    return (static_cast<int64_t>(static_cast<unsigned char>(record[30])) << 8) |
           static_cast<unsigned char>(record[31]);
}

// The libmseed code of an encoding.
int8_t libmseed_encoding(Encoding e);

// The sampling rate that a reader of the records sees for a grid step of
// step_us microseconds: one record is packed with that rate and read back.
// 0 when libmseed cannot write the rate (above 32767 Hz).
double header_rate(int64_t step_us, int32_t reclen);

// The most samples one record may hold so that the time of each of its
// samples, from the record's start and the header rate, lies within 2 us of
// its grid instant; INT64_MAX when the rate is exact.
int64_t max_record_samples(int64_t step_us, double header_rate);

// True when b - a fits in one Steim difference (30 bits for Steim-2,
// 32 bits for Steim-1).
inline bool steim_difference_fits(int32_t a, int32_t b, Encoding e) {
    const int64_t d = static_cast<int64_t>(b) - a;
    if (e == Encoding::steim2) return d >= -(int64_t{1} << 29) && d < (int64_t{1} << 29);
    return d >= INT32_MIN && d <= INT32_MAX;
}

// The records of one channel.
//
// Samples of one run of consecutive grid instants are collected in a
// buffer; when it is full, libmseed packs as many full records as it holds
// and the rest waits for more samples. A difference too wide for Steim
// ends the Steim record before it, and the record that would have held it
// is written with 32-bit integers instead (a short Steim record takes the
// samples before the difference when they are more than a 32-bit record
// holds). end() packs every sample left
// (the last record of a run may be short).
class ChannelPacker {
public:
    ChannelPacker(const StreamCodes& codes, int channel, int32_t reclen, Encoding encoding, int64_t step_us,
                  int64_t max_samples);
    ~ChannelPacker();
    ChannelPacker(const ChannelPacker&) = delete;
    ChannelPacker& operator=(const ChannelPacker&) = delete;

    // Starts a run at the instant start_us; its records go to sink.
    void begin(int64_t start_us, RecordSink* sink);
    void push(int32_t v) {
        buf_[n_++] = v;
        if (n_ == buf_.size()) drain(false);
    }
    // Ends the run: every sample left is packed.
    void end();

    // Samples per record beyond which a record is surely full.
    std::size_t record_capacity_bound() const { return full_; }

private:
    void drain(bool final);
    std::size_t steim_run(std::size_t pos);
    std::size_t pack(std::size_t pos, std::size_t count, bool flush, int8_t encoding, bool capture);
    std::size_t pack_one(std::size_t pos, std::size_t avail, std::size_t run);
    static void on_record(char* record, int length, void* self);
    void record(char* record, int length);

    MSRecord_s* msr_ = nullptr;
    Encoding encoding_;
    int8_t de_;
    int64_t step_;
    std::size_t full_;   // no record holds more samples than this
    std::size_t int32_capacity_;
    std::size_t limit_;  // most samples per record (the 2-us rule)
    bool capped_;        // limit_ is below what a record may hold

    std::vector<int32_t> buf_;
    std::size_t n_ = 0;
    int64_t start_ = 0;  // the instant of buf_[0]
    bool has_prev_ = false;
    int32_t prev_ = 0;   // the last sample packed of this run
    RecordSink* sink_ = nullptr;

    // During one call of the packer: where its records start, and whether
    // they are kept aside (the first one only) instead of going to the sink.
    int64_t call_start_ = 0;
    int64_t call_done_ = 0;
    bool capture_ = false;
    std::vector<char> captured_;
};

}  // namespace vorn::grid2mseed
