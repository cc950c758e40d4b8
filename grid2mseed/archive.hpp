// The outputs of grid2mseed: one stream of records (standard output or a
// file), or an SDS archive of day files
//
//   DIR/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY
//
// (DOY the day of the year in three digits), one file per channel and UTC
// day. A day file may already hold records: before the first write to it
// the program reads the time spans they cover (with libmseed) and refuses
// data that overlaps them. The file stays locked (flock) from that check
// until the program has written its last record of that day, so that
// several runs for one station at once neither interleave nor lose records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cmdline.hpp"
#include "format.hpp"
#include "io.hpp"
#include "program.hpp"
#include "packer.hpp"

namespace vorn::grid2mseed {

inline constexpr int64_t kDayUs = 86400LL * 1000000;

// "YYYY-MM-DDTHH:MM:SS.ffffff" of an instant in microseconds since 1970.
std::string instant_text(int64_t us);

// The path of the day file of a channel for the UTC day that holds instant t.
std::string day_file_path(const std::string& dir, const StreamCodes& codes, int channel, int64_t t_us);

// The time covered by records: the instants of the first and the last
// sample.
struct Span {
    int64_t first = 0;
    int64_t last = 0;
};

// Reads the records of a miniSEED file with libmseed: the spans they cover
// (sorted; records that follow each other within 1.5 sample intervals are
// joined) and the last sequence number. Returns an empty text, or what
// went wrong.
std::string read_spans(const std::string& path, std::vector<Span>& spans, int64_t& last_sequence);

// The span of spans that data from first to last (instants) would overlap,
// when a sample of the existing records takes half a step either side; or
// nullptr.
const Span* overlapping_span(const std::vector<Span>& spans, int64_t first, int64_t last, int64_t step_us);

// Records into one stream, numbered from 1.
class StreamSink final : public RecordSink {
public:
    explicit StreamSink(Writer& out) : out_(out) {}
    void put_record(char* record, std::size_t length, int64_t start_us, int64_t count) override;

private:
    Writer& out_;
    int64_t seq_ = 1;
};

// A day file of the archive, open and locked.
class DayFile final : public RecordSink {
public:
    // Opens (creating it and its folders), locks and reads the file; first_us
    // is the first instant to go into it. Ends the run with status 200 when
    // the file cannot be created or read, or already holds that instant.
    DayFile(std::string path, int64_t first_us, int64_t step_us);
    ~DayFile();
    DayFile(const DayFile&) = delete;
    DayFile& operator=(const DayFile&) = delete;

    void put_record(char* record, std::size_t length, int64_t start_us, int64_t count) override;
    // Writes what is buffered.
    void flush() {
        if (writer_) writer_->flush();
    }
    // Writes what is buffered and closes the file (which ends the lock).
    void close();

private:
    [[noreturn]] void refuse(const Span& span);

    std::string path_;
    int fd_ = -1;
    std::unique_ptr<Writer> writer_;
    std::vector<Span> spans_;
    int64_t seq_ = 1;
    int64_t step_;
};

// libmseed keeps its messages to itself (the last one is used in ours).
void quiet_libmseed();

// Creates dir and the folders above it that are missing (as mkdir -p).
// Ends the run with status 200, naming the folder, when one cannot be made.
void make_folders(const std::string& dir);

// Before a failure ends the run: whatever the outputs still buffer is
// written (records already finished are valid data). The run registers its
// outputs here.
void on_failure_flush(std::vector<DayFile*>* files, Writer* stream);
[[noreturn]] void fail_run(ExitStatus status, std::string_view fmt, std::initializer_list<FmtArg> args = {});

}  // namespace vorn::grid2mseed
