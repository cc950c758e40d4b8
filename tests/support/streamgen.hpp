// Hand-built recorder streams for the tests of both converters: a header,
// sample blocks, GPS blocks with chosen fields, status blocks, aux blocks,
// damaged stretches and a trailer, written with the recorder library's
// encoders, from calls or from a small line-oriented script (vornmkstream
// runs one for the golden cases). Also random and mutated streams for the
// robustness tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::testing {

// What the GPS strings and the running sample values of a stream look like:
// the converter tests' form, or the form of the earlier recorder's strings
// that the earlier converter's tests use.
struct StreamForm {
    std::string_view gps_template;  // the 76 characters the fields are written into
    int64_t time;                   // the first GPS block's own date and time, seconds since 1970
    std::string_view temp;          // temperature and elevation words (written with id X)
    std::string_view elev;
    // Sample block n without explicit values: channel c has n, -n, 1000 + n
    // (converter form), or n + 1000 * c (earlier form).
    bool ramp_by_channel;
};
extern const StreamForm kConverterForm;
extern const StreamForm kEarlierForm;

// Fields of one GPS block.
struct GpsSpec {
    std::string_view form = kConverterForm.gps_template;
    int64_t time = kConverterForm.time;  // the string's own date and time, seconds since 1970 (UTC)
    int32_t shift = 2048;                // time-shift count (2048 = 5000 us)
    int32_t lat = 50;
    int32_t lon = 10;
    int32_t offset = 18;
    int32_t flag = 1;
    int32_t source = 1;
    int32_t source2 = 1;
    int32_t age = 2;
    char id = 'A';
    std::string temp = std::string(kConverterForm.temp);
    std::string elev = std::string(kConverterForm.elev);
    std::vector<std::pair<int, std::string>> puts;  // overrides: position, text
    int shift_type = 0xB0;
    int cut = -1;  // bytes after 0xA0 to write; -1 for all

    GpsSpec() = default;
    explicit GpsSpec(const StreamForm& f)
        : form(f.gps_template), time(f.time), temp(f.temp), elev(f.elev) {}
};

class StreamBuilder {
public:
    std::vector<uint8_t> bytes;
    int channels = 1;
    int64_t next_value = 0;  // running value of the next sample block
    const StreamForm* form = &kConverterForm;

    void text(std::string_view s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    void byte(int b) { bytes.push_back(static_cast<uint8_t>(b)); }
    // One sample or tagged sample block with explicit values (or the running
    // values of the form).
    void sample(bool tagged, const std::vector<int32_t>& values = {});
    void samples(int64_t n);
    // The 76-character string of a GPS block.
    static std::string gps_string(const GpsSpec& g);
    void gps(const GpsSpec& g);
    void status(int flag, int value);
    // Aux values of type 0 or 2: (unit code, value) pairs.
    void aux_values(int type, const std::vector<std::pair<int, int32_t>>& entries);
    void aux_text(int type, std::string_view s);

    // Runs a script of commands (one per line, # starts a comment):
    //   form converter | form earlier            the form of what follows
    //   header TEXT | text TEXT | trailer TEXT   literal bytes (\xNN \\ \n \r \t);
    //                                            header also takes CH_NUM from TEXT
    //   bytes HH HH ...                          raw bytes in hex
    //   channels N
    //   sample [V...] | tagged [V...] | samples N
    //   gps KEY=VALUE ...                        time= shift= lat= lon= off= flag= src=
    //                                            src2= age= id= temp= elev= put=POS:TEXT
    //                                            tsb=HH cut=N
    //   seconds N [pre=A] [post=B] [spr=K] [step=S] [start=TIME] [KEY=VALUE ...]
    //                                            N times: A samples, a tagged sample,
    //                                            B samples, a GPS block, K-1 samples;
    //                                            the time steps by S
    //   status F V
    //   auxvalues TYPE UNIT VALUE [UNIT VALUE...] | auxtext TYPE TEXT | aux HH HH ...
    // A gps or seconds command starts from the fields of the one before
    // (the time one second on), without its put, cut and tsb.
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
// A damaged copy of a stream: bytes changed, type bytes inserted, stretches
// deleted or repeated, sometimes cut short.
std::string mutate(std::string s, unsigned seed);

}  // namespace vorn::testing
