#include "grid2mseed.hpp"

#include "format.hpp"

namespace vorn::grid2mseed {

namespace {

// The records of every channel, and where they go: the one stream, or the
// day files of the current UTC day.
class Conversion {
public:
    Conversion(const RunSetup& setup, Writer& out) : setup_(setup), stream_(out) {
        const int ch = static_cast<int>(setup.codes.channels.size());
        for (int c = 0; c < ch; ++c)
            packers_.push_back(std::make_unique<ChannelPacker>(setup.codes, c, setup.reclen, setup.encoding,
                                                               setup.step_us, setup.max_samples));
        files_.assign(static_cast<std::size_t>(ch), nullptr);
        on_failure_flush(&files_, &out);
    }
    ~Conversion() { on_failure_flush(nullptr, nullptr); }

    // A run of consecutive instants starts at t (the one before has ended).
    void begin(int64_t t) {
        if (!setup_.archive.empty()) {
            const int64_t day = t >= 0 ? t / kDayUs : -1;
            if (day != day_) open_day(day, t);
            cut_ = (day + 1) * kDayUs;
        }
        for (std::size_t c = 0; c < packers_.size(); ++c)
            packers_[c]->begin(t, setup_.archive.empty() ? static_cast<RecordSink*>(&stream_) : day_files_[c].get());
    }
    void end() {
        for (auto& p : packers_) p->end();
    }
    // Ends the last run and closes the day files.
    void close() {
        end();
        close_day();
    }
    // Runs are cut where this instant begins (UTC midnight in an archive).
    int64_t cut() const { return cut_; }
    ChannelPacker& packer(int c) { return *packers_[static_cast<std::size_t>(c)]; }

private:
    void close_day() {
        for (std::size_t c = 0; c < day_files_.size(); ++c) {
            files_[c] = nullptr;
            day_files_[c]->close();
        }
        day_files_.clear();
        day_ = INT64_MIN;
    }
    // Every channel's file of the day, opened in channel order, so that
    // runs for one station at once take the locks in one order.
    void open_day(int64_t day, int64_t t) {
        close_day();
        for (std::size_t c = 0; c < packers_.size(); ++c) {
            day_files_.push_back(std::make_unique<DayFile>(
                day_file_path(setup_.archive, setup_.codes, static_cast<int>(c), t), t, setup_.step_us));
            files_[c] = day_files_[c].get();
        }
        day_ = day;
    }

    const RunSetup& setup_;
    StreamSink stream_;
    std::vector<std::unique_ptr<ChannelPacker>> packers_;
    std::vector<std::unique_ptr<DayFile>> day_files_;
    std::vector<DayFile*> files_;
    int64_t day_ = INT64_MIN;
    int64_t cut_ = INT64_MAX;
};

template <int Ch>
Exit convert_lines(LineReader& in, const RunSetup& setup, Conversion& conv, Writer& err) {
    const int64_t step = setup.step_us;
    ChannelPacker* packers[3] = {};
    for (int c = 0; c < Ch; ++c) packers[c] = &conv.packer(c);
    vorn::PaddedLine line;
    GridLine g;
    bool started = false;
    int64_t next = 0;  // the instant that continues the run
    int64_t cut = conv.cut();
    while (in.next(line)) {
        int64_t t;
        if (!parse_grid_line(line, Ch, g)) {
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        if (!grid_instant(g, t)) {
            if (g.ts2 == -1) {
                // The error line: the records so far are finished.
                conv.close();
                format_to(err, "%s ERROR: No useful data in grid2mseed!\n", {program_name()});
                err.flush();
                return Exit::no_useful_data;
            }
            warn_malformed_line(err, in.line_number(), line);
            continue;
        }
        if (t != next || t >= cut || !started) [[unlikely]] {
            if (started) {
                if (t < next - step + 1) {
                    format_to(err, "Warning: time goes backwards at line %ld: %s\n", {in.line_number(), line});
                    err.flush();
                }
                conv.end();
            }
            conv.begin(t);
            cut = conv.cut();
            started = true;
        }
        for (int c = 0; c < Ch; ++c) packers[c]->push(g.ampx[c]);
        next = t + step;
    }
    conv.close();
    return Exit::ok;
}

}  // namespace

Exit convert_grid(LineReader& in, const RunSetup& setup, Writer& out, Writer& err) {
    Conversion conv(setup, out);
    switch (setup.codes.channels.size()) {
        case 1: return convert_lines<1>(in, setup, conv, err);
        case 2: return convert_lines<2>(in, setup, conv, err);
        default: return convert_lines<3>(in, setup, conv, err);
    }
}

}  // namespace vorn::grid2mseed
