// grid2mseed's whole stream run on any text: byte 0 chooses the reader's
// buffer size, byte 1 the encoding (bits 0-1) and the record length (bits
// 2-4), the rest is standard input, header line first.
//
// What must hold: the output is whole records that libmseed reads back, with
// sequence numbers 1, 2, ...; per channel the records' samples are the
// values of the grid lines read (up to the error line), in order, and each
// record starts at the instant of its first grid line.
#include <libmseed.h>

#include <string>
#include <vector>

#include "grid2mseed.hpp"
#include "harness.hpp"
#include "regrid.hpp"

namespace {

using namespace vorn;
using namespace vorn::grid2mseed;

// The grid lines that a run reads: values per channel and the instants.
struct Expected {
    std::vector<std::vector<int32_t>> values;
    std::vector<int64_t> instants;
};

Expected expected_samples(std::string_view text, int channels) {
    Expected e;
    e.values.resize(static_cast<std::size_t>(channels));
    LineReader in(text);
    PaddedLine line;
    GridLine g;
    in.next(line);  // the header
    while (in.next(line)) {
        int64_t t = 0;
        if (!parse_grid_line(line, channels, g)) continue;
        if (!grid_instant(g, t)) {
            if (g.ts2 == -1) break;
            continue;
        }
        for (int c = 0; c < channels; ++c) e.values[static_cast<std::size_t>(c)].push_back(g.ampx[c]);
        e.instants.push_back(t);
    }
    return e;
}

void check_records(const std::string& bytes, const RunSetup& setup, const Expected& e) {
    const auto reclen = static_cast<std::size_t>(setup.reclen);
    if (bytes.size() % reclen != 0) fuzz::broken("output is not whole records");
    std::vector<std::size_t> next(setup.codes.channels.size(), 0);
    int64_t seq = 0;
    for (std::size_t off = 0; off < bytes.size(); off += reclen) {
        std::string rec = bytes.substr(off, reclen);
        MSRecord* msr = nullptr;
        if (msr_parse(rec.data(), static_cast<int>(reclen), &msr, static_cast<int>(reclen), 1, 0) != MS_NOERROR ||
            msr == nullptr)
            fuzz::broken("libmseed cannot read a record");
        seq = next_sequence_number(seq);
        if (msr->sequence_number != seq) fuzz::broken("sequence numbers out of order");
        std::size_t c = 0;
        while (c < setup.codes.channels.size() && setup.codes.channels[c] != msr->channel) ++c;
        if (c == setup.codes.channels.size()) fuzz::broken("a record of no channel", msr->channel);
        const auto* v = static_cast<const int32_t*>(msr->datasamples);
        const std::vector<int32_t>& want = e.values[c];
        std::size_t& k = next[c];
        if (msr->numsamples <= 0) fuzz::broken("an empty record");
        if (k + static_cast<std::size_t>(msr->numsamples) > want.size()) fuzz::broken("more samples than grid lines");
        if (msr->starttime != e.instants[k]) fuzz::broken("a record that does not start at its first instant");
        for (int64_t i = 0; i < msr->numsamples; ++i, ++k)
            if (v[i] != want[k]) fuzz::broken("a sample that is not its grid value");
        msr_free(&msr);
    }
    for (std::size_t c = 0; c < next.size(); ++c)
        if (next[c] != e.values[c].size()) fuzz::broken("grid values that no record holds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const bool quiet = (quiet_libmseed(), true);
    (void)quiet;
    if (size < 2) return 0;
    static constexpr Encoding kEncodings[4] = {Encoding::steim2, Encoding::steim1, Encoding::int32, Encoding::steim2};
    Options options;
    options.encoding = kEncodings[data[1] & 3];
    options.reclen = int32_t{256} << ((data[1] >> 2) & 7);
    options.station = "FUZZ";
    options.station_given = true;

    fuzz::MemFile input(data + 2, size - 2);
    LineReader in(input.fd(), fuzz::buffer_size(data[0]));
    HeaderValues h;
    PaddedLine line;
    if (in.next(line)) read_header_line(line, h);
    if (!header_supported(h, kMaxRate)) return 0;
    RunSetup setup;
    setup.step_us = regrid::sample_interval(h.S_RATE);
    const double rate = header_rate(setup.step_us, options.reclen);
    if (rate <= 0.0) return 0;
    if (!resolve_codes(options, h, h.CH_NUM, 1000000.0 / static_cast<double>(setup.step_us), setup.codes).empty())
        return 0;
    setup.reclen = options.reclen;
    setup.encoding = options.encoding;
    setup.max_samples = max_record_samples(setup.step_us, rate);

    std::string out_text, err_text;
    {
        Writer out(&out_text, std::size_t{1} << 12);
        Writer err(&err_text, std::size_t{1} << 12);
        (void)convert_grid(in, setup, out, err);
        out.flush();
        err.flush();
    }
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    check_records(out_text, setup, expected_samples(text, h.CH_NUM));
    return 0;
}
