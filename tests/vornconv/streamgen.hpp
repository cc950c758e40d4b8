// Hand-built recorder streams for the converter's tests: a header, sample
// blocks, GPS blocks with chosen fields, status blocks, aux blocks, damaged
// stretches and a trailer, from a small line-oriented script.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vornconv_test {

// Fields of one GPS block.
struct GpsSpec {
    int64_t time = 1483228800 + 600;  // 2017-01-01T00:10:00, seconds since 1970 (UTC)
    int32_t shift = 2048;             // time-shift count (2048 = 5000 us)
    int32_t lat = 50;
    int32_t lon = 10;
    int32_t offset = 18;
    int32_t flag = 1;
    int32_t source = 1;
    int32_t source2 = 1;
    int32_t age = 2;
    char id = 'A';
    std::string temp = "21.5";
    std::string elev = "123.4";
    std::vector<std::pair<int, std::string>> puts;  // overrides: position, text
    int shift_type = 0xB0;
    int cut = -1;  // bytes after 0xA0 to write; -1 for all
};

class StreamBuilder {
public:
    std::vector<uint8_t> bytes;
    int channels = 1;
    int64_t next_value = 0;  // ramp: sample n has the values n, -n, 1000 + n

    void text(std::string_view s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    void byte(int b) { bytes.push_back(static_cast<uint8_t>(b)); }
    // One sample or tagged sample block with explicit values (or the ramp).
    void sample(bool tagged, const std::vector<int32_t>& values = {});
    void samples(int64_t n);
    // The 76-character string of a GPS block.
    static std::string gps_string(const GpsSpec& g);
    void gps(const GpsSpec& g);
    void status(int flag, int value) {
        byte(0xC0);
        byte(flag);
        byte(value);
    }
    // Aux values of type 0 or 2: (unit code, value) pairs.
    void aux_values(int type, const std::vector<std::pair<int, int32_t>>& entries);
    void aux_text(int type, std::string_view s);

    // Runs a script of commands (one per line, # starts a comment):
    //   header TEXT | text TEXT | trailer TEXT   literal bytes (\xNN \\ \n \r \t);
    //                                            header also takes CH_NUM from TEXT
    //   bytes HH HH ...                          raw bytes in hex
    //   channels N
    //   sample [V...] | tagged [V...] | samples N
    //   gps KEY=VALUE ...                        time= shift= lat= lon= off= flag= src=
    //                                            src2= age= id= temp= elev= put=POS:TEXT
    //                                            tsb=HH cut=N
    //   seconds N [spr=K] [step=S] [start=TIME] [KEY=VALUE ...]
    //                                            N times: tagged sample, GPS block,
    //                                            K-1 samples; the time steps by S
    //   status F V
    //   auxvalues TYPE UNIT VALUE [UNIT VALUE...] | auxtext TYPE TEXT | aux HH HH ...
    // Returns false with a message in error for a line it cannot read.
    bool run(std::string_view script, std::string& error);
};

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SS" (UTC); false when malformed.
bool parse_time(std::string_view s, int64_t& t);
// Text with \xNN, \\, \n, \r, \t escapes decoded.
std::string unescape(std::string_view s);

// A random recorder stream for robustness tests: a plausible header, then a
// mix of well-formed and damaged blocks, mutated at random.
std::vector<uint8_t> random_stream(std::mt19937_64& rng);

}  // namespace vornconv_test
