// mseedcheck: reads miniSEED files with libmseed's reader, for the tests.
//
//   mseedcheck list FILE...                 one line per record
//   mseedcheck grid GRID CHA[,CHA..] FILE...  every sample and record start
//                                            against the grid text GRID
//
// list: "SEQ NET.STA.LOC.CHA QUALITY START COUNT RATE ENCODING RECLEN".
// grid: the records of channel CHA (the grid's columns in order) must hold
// every grid value exactly once, each record starting at the grid instant of
// its first sample, running over consecutive grid instants only, and the
// time of every sample from the record's start and rate within 2 us of its
// instant. Prints one summary line per channel; status 1 at the first fault.
#include <libmseed.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct GridRow {
    int64_t t;
    int32_t v[3];
};

std::string iso(int64_t us) {
    char text[64];
    ms_hptime2isotimestr(us, text, 1);
    return text;
}

template <class F>
int each_record(const char* path, F&& f) {
    MSFileParam* fp = nullptr;
    MSRecord* msr = nullptr;
    int rc;
    while ((rc = ms_readmsr_r(&fp, &msr, path, 0, nullptr, nullptr, 0, 1, 0)) == MS_NOERROR)
        if (!f(msr)) break;
    ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    if (rc != MS_ENDOFFILE && rc != MS_NOERROR) {
        std::printf("%s: %s\n", path, ms_errorstr(rc));
        return 1;
    }
    return rc == MS_NOERROR ? 1 : 0;
}

int list(int argc, char** argv) {
    int status = 0;
    for (int i = 0; i < argc; ++i) {
        status |= each_record(argv[i], [](MSRecord* msr) {
            char name[64];
            msr_srcname(msr, name, 0);
            const char* encoding = msr->encoding == DE_STEIM2   ? "STEIM2"
                                   : msr->encoding == DE_STEIM1 ? "STEIM1"
                                   : msr->encoding == DE_INT32  ? "INT32"
                                                                : "OTHER";
            std::printf("%06d %s %c %s %lld %.6f %s %d\n", msr->sequence_number, name, msr->dataquality,
                        iso(msr->starttime).c_str(), static_cast<long long>(msr->samplecnt), msr->samprate, encoding,
                        msr->reclen);
            return true;
        });
    }
    return status;
}

int grid(const char* grid_path, const char* channel_list, int argc, char** argv) {
    std::ifstream in(grid_path);
    std::string line;
    if (!std::getline(in, line)) {
        std::printf("no grid header\n");
        return 1;
    }
    std::istringstream header(line);
    std::string field;
    int channels = 0;
    long rate = 0;
    for (int k = 0; k < 6 && header >> field; ++k) {
        if (k == 4) channels = std::stoi(field);
        if (k == 5) rate = std::stol(field);
    }
    const int64_t step = static_cast<int64_t>(std::floor(1000000.0 / static_cast<double>(rate)));
    std::vector<GridRow> rows;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        long long sec, usec;
        GridRow r{};
        if (!(s >> sec >> usec) || sec < 0) continue;
        bool ok = true;
        for (int c = 0; c < channels; ++c) {
            long long v;
            if (!(s >> v)) ok = false;
            r.v[c] = static_cast<int32_t>(v);
        }
        if (!ok) continue;
        r.t = sec * 1000000 + usec;
        rows.push_back(r);
    }
    std::unordered_map<int64_t, std::size_t> at;
    for (std::size_t k = 0; k < rows.size(); ++k) at.emplace(rows[k].t, k);
    std::vector<std::string> names;
    std::istringstream cl(channel_list);
    while (std::getline(cl, field, ',')) names.push_back(field);
    if (static_cast<int>(names.size()) != channels) {
        std::printf("%zu channel codes for %d channels\n", names.size(), channels);
        return 1;
    }
    std::vector<std::vector<char>> covered(names.size(), std::vector<char>(rows.size(), 0));
    std::vector<int64_t> records(names.size(), 0);
    std::string fault;
    for (int i = 0; i < argc && fault.empty(); ++i) {
        const int rc = each_record(argv[i], [&](MSRecord* msr) {
            std::size_t c = 0;
            while (c < names.size() && names[c] != msr->channel) ++c;
            char name[64];
            msr_srcname(msr, name, 0);
            if (c == names.size()) {
                fault = std::string("a record of ") + name;
                return false;
            }
            ++records[c];
            auto it = at.find(msr->starttime);
            if (it == at.end()) {
                fault = std::string(name) + ": a record starts at " + iso(msr->starttime) + ", no grid instant";
                return false;
            }
            const int32_t* v = static_cast<const int32_t*>(msr->datasamples);
            for (int64_t j = 0; j < msr->numsamples; ++j) {
                const std::size_t k = it->second + static_cast<std::size_t>(j);
                if (k >= rows.size() || rows[k].t != msr->starttime + j * step) {
                    fault = std::string(name) + ": the record at " + iso(msr->starttime) + " runs over a break";
                    return false;
                }
                if (v[j] != rows[k].v[c]) {
                    fault = std::string(name) + ": value " + std::to_string(v[j]) + " at " + iso(rows[k].t) +
                            ", the grid has " + std::to_string(rows[k].v[c]);
                    return false;
                }
                const double t = static_cast<double>(msr->starttime) + static_cast<double>(j) * 1e6 / msr->samprate;
                if (std::fabs(t - static_cast<double>(rows[k].t)) > 2.0) {
                    fault = std::string(name) + ": sample time " + std::to_string(t) + " is more than 2 us from " +
                            iso(rows[k].t);
                    return false;
                }
                if (covered[c][k]) {
                    fault = std::string(name) + ": the sample at " + iso(rows[k].t) + " is in two records";
                    return false;
                }
                covered[c][k] = 1;
            }
            return true;
        });
        if (rc != 0 && fault.empty()) fault = "unreadable file";
    }
    if (!fault.empty()) {
        std::printf("%s\n", fault.c_str());
        return 1;
    }
    for (std::size_t c = 0; c < names.size(); ++c) {
        std::size_t missing = 0;
        for (char k : covered[c]) missing += k == 0;
        if (missing > 0) {
            std::printf("%s: %zu grid samples are in no record\n", names[c].c_str(), missing);
            return 1;
        }
        std::printf("%s: %zu samples in %lld records agree with the grid\n", names[c].c_str(), rows.size(),
                    static_cast<long long>(records[c]));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "list") == 0) return list(argc - 2, argv + 2);
    if (argc >= 5 && std::strcmp(argv[1], "grid") == 0) return grid(argv[2], argv[3], argc - 4, argv + 4);
    std::fprintf(stderr, "usage: mseedcheck list FILE... | mseedcheck grid GRID CHA[,CHA..] FILE...\n");
    return 2;
}
