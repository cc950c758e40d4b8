// The command line of grid2mseed and the codes that name its streams.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io.hpp"
#include "vorn.hpp"

namespace vorn::grid2mseed {

// The encodings of the data records: Steim-2 and Steim-1 compression, or
// plain 32-bit integers.
enum class Encoding { steim2, steim1, int32 };

struct Options {
    std::string network = "XX";  // the code for temporary networks
    std::string station;         // empty: the header's DEV_NO
    bool station_given = false;
    std::string location;        // empty by default
    std::vector<std::string> channels;  // empty: from the rate
    int32_t reclen = 4096;
    Encoding encoding = Encoding::steim2;
    std::string output_file;  // -o
    std::string archive;      // -A: the SDS archive's folder
};

// The usage text, on err.
void write_usage(Writer& err);

// Reads the command line into o; each problem goes to err as one line.
// Returns the number of problems.
int parse_arguments(int argc, char** argv, Options& o, Writer& err);

// The SEED band code of a sampling rate in Hz: F >= 1000, C >= 250,
// H >= 80, B >= 10, M > 1, L otherwise.
char band_code(double rate);

// True when code has min_len to max_len characters, each a letter or digit.
bool valid_code(std::string_view code, std::size_t min_len, std::size_t max_len);

// The codes of a run's streams: one channel code per column of the grid.
struct StreamCodes {
    std::string network;
    std::string station;
    std::string location;
    std::vector<std::string> channels;
};

// The codes from the options, the header (DEV_NO as the station) and the
// grid's rate and channel count. Returns an empty text, or the problem.
std::string resolve_codes(const Options& o, const HeaderValues& h, int channel_count, double rate,
                          StreamCodes& codes);

}  // namespace vorn::grid2mseed
