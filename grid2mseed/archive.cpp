#include "archive.hpp"

#include <fcntl.h>
#include <libmseed.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "calendar.hpp"

namespace vorn::grid2mseed {

namespace {

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

// libmseed's own messages are kept, not printed: the last one names what
// went wrong in a file it could not read.
std::string g_libmseed_message;
void keep_libmseed_message(char* text) {
    g_libmseed_message = text;
    while (!g_libmseed_message.empty() &&
           (g_libmseed_message.back() == '\n' || g_libmseed_message.back() == ' '))
        g_libmseed_message.pop_back();
}

std::vector<DayFile*>* g_files = nullptr;
Writer* g_stream = nullptr;

}  // namespace

void quiet_libmseed() { ms_loginit(keep_libmseed_message, nullptr, keep_libmseed_message, nullptr); }

std::string instant_text(int64_t us) {
    const int64_t sec = floor_div(us, 1000000);
    const int64_t frac = us - sec * 1000000;
    const CivilTime t = utc_gmtime(sec);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lld",
                  static_cast<long long>(t.tm_year + 1900), static_cast<long long>(t.tm_mon + 1),
                  static_cast<long long>(t.tm_mday), static_cast<long long>(t.tm_hour),
                  static_cast<long long>(t.tm_min), static_cast<long long>(t.tm_sec), static_cast<long long>(frac));
    return text;
}

std::string day_file_path(const std::string& dir, const StreamCodes& codes, int channel, int64_t t_us) {
    const int64_t day = floor_div(t_us, kDayUs);
    const CivilTime date = utc_gmtime(day * 86400);
    CivilTime jan1;
    jan1.tm_year = date.tm_year;
    jan1.tm_mday = 1;
    const int64_t doy = (day * 86400 - utc_mktime(jan1)) / 86400 + 1;
    char year[24], doy_text[24];
    std::snprintf(year, sizeof year, "%04lld", static_cast<long long>(date.tm_year + 1900));
    std::snprintf(doy_text, sizeof doy_text, "%03lld", static_cast<long long>(doy));
    const std::string& cha = codes.channels[static_cast<std::size_t>(channel)];
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    path += std::string(year) + '/' + codes.network + '/' + codes.station + '/' + cha + ".D/";
    path += codes.network + '.' + codes.station + '.' + codes.location + '.' + cha + ".D." + year + '.' + doy_text;
    return path;
}

std::string read_spans(const std::string& path, std::vector<Span>& spans, int64_t& last_sequence) {
    struct Piece {
        Span span;
        int64_t tolerance;
    };
    std::vector<Piece> pieces;
    MSFileParam* fp = nullptr;
    MSRecord* msr = nullptr;
    int rc;
    quiet_libmseed();
    g_libmseed_message.clear();
    last_sequence = 0;
    while ((rc = ms_readmsr_r(&fp, &msr, path.c_str(), 0, nullptr, nullptr, 0, 0, 0)) == MS_NOERROR) {
        const Span s{msr->starttime, msr_endtime(msr)};
        const int64_t tolerance = msr->samprate > 0.0 ? static_cast<int64_t>(1500000.0 / msr->samprate) : 0;
        last_sequence = msr->sequence_number;
        // Records mostly follow each other: they extend the piece before.
        if (!pieces.empty() && s.first >= pieces.back().span.first &&
            s.first <= pieces.back().span.last + pieces.back().tolerance) {
            pieces.back().span.last = std::max(pieces.back().span.last, s.last);
            pieces.back().tolerance = tolerance;
        } else {
            pieces.push_back({s, tolerance});
        }
    }
    ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);  // closes the file
    if (rc != MS_ENDOFFILE) {
        std::string why = g_libmseed_message.empty() ? std::string(ms_errorstr(rc)) : g_libmseed_message;
        return why;
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.span.first < b.span.first; });
    spans.clear();
    int64_t tolerance = 0;
    for (const Piece& p : pieces) {
        if (!spans.empty() && p.span.first <= spans.back().last + tolerance) {
            spans.back().last = std::max(spans.back().last, p.span.last);
        } else {
            spans.push_back(p.span);
        }
        tolerance = p.tolerance;
    }
    return {};
}

const Span* overlapping_span(const std::vector<Span>& spans, int64_t first, int64_t last, int64_t step_us) {
    const int64_t half = step_us / 2;
    // The first span that does not end before the data begin.
    auto it = std::lower_bound(spans.begin(), spans.end(), first,
                               [half](const Span& s, int64_t t) { return s.last + half < t; });
    if (it != spans.end() && it->first - half <= last) return &*it;
    return nullptr;
}

void StreamSink::put_record(char* record, std::size_t length, int64_t, int64_t) {
    set_sequence_number(record, seq_);
    seq_ = next_sequence_number(seq_);
    out_.put(std::string_view(record, length));
}

void make_folders(const std::string& dir) {
    for (std::size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && dir[i] != '/') continue;
        if (dir[i - 1] == '/') continue;  // "a//b" or a trailing slash
        const std::string prefix = dir.substr(0, i);
        if (::mkdir(prefix.c_str(), 0777) == 0) continue;
        int error = errno;
        if (error == EEXIST) {
            struct stat st;
            if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
            error = ENOTDIR;
        }
        fail_run(ExitStatus::fatal, "%s ERROR: cannot create folder %s: %s\n",
                 {program_name(), std::string_view(prefix), std::strerror(error)});
    }
}

DayFile::DayFile(std::string path, int64_t first_us, int64_t step_us) : path_(std::move(path)), step_(step_us) {
    const std::size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0) make_folders(path_.substr(0, slash));
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0)
        fail_run(ExitStatus::fatal, "%s ERROR: cannot create file %s: %s\n",
                 {program_name(), std::string_view(path_), std::strerror(errno)});
    int rc;
    do rc = ::flock(fd_, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0)
        fail_run(ExitStatus::fatal, "%s ERROR: cannot lock file %s: %s\n", {program_name(), std::string_view(path_), std::strerror(errno)});
    int64_t last_sequence = 0;
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        fail_run(ExitStatus::fatal, "%s ERROR: cannot read file %s: %s\n",
                 {program_name(), std::string_view(path_), std::strerror(errno)});
    const std::string problem = st.st_size > 0 ? read_spans(path_, spans_, last_sequence) : std::string();
    if (!problem.empty())
        fail_run(ExitStatus::fatal, "%s ERROR: cannot read the records already in %s: %s\n",
                 {program_name(), std::string_view(path_), std::string_view(problem)});
    // The numbering goes on after the records already there.
    seq_ = spans_.empty() ? 1 : next_sequence_number(last_sequence);
    if (const Span* s = overlapping_span(spans_, first_us, first_us, step_)) refuse(*s);
    writer_ = std::make_unique<Writer>(fd_, std::size_t{1} << 20, true);
}

DayFile::~DayFile() { close(); }

void DayFile::refuse(const Span& span) {
    const std::string t1 = instant_text(span.first), t2 = instant_text(span.last);
    fail_run(ExitStatus::fatal, "%s ERROR: %s already holds data from %s to %s\n", {program_name(), std::string_view(path_), std::string_view(t1), std::string_view(t2)});
}

void DayFile::put_record(char* record, std::size_t length, int64_t start_us, int64_t count) {
    if (!spans_.empty()) {
        if (const Span* s = overlapping_span(spans_, start_us, start_us + (count - 1) * step_, step_)) {
            writer_->flush();  // the records before this one belong there
            writer_.reset();   // nothing more goes into this file
            refuse(*s);
        }
    }
    set_sequence_number(record, seq_);
    seq_ = next_sequence_number(seq_);
    writer_->put(std::string_view(record, length));
}

void DayFile::close() {
    if (fd_ < 0) return;
    if (writer_) writer_->flush();
    writer_.reset();
    if (::close(fd_) != 0) write_failed(errno);
    fd_ = -1;
}

void on_failure_flush(std::vector<DayFile*>* files, Writer* stream) {
    g_files = files;
    g_stream = stream;
}

void fail_run(ExitStatus status, std::string_view fmt, std::initializer_list<FmtArg> args) {
    if (g_files != nullptr)
        for (DayFile* f : *g_files)
            if (f != nullptr) f->flush();
    if (g_stream != nullptr) g_stream->flush();
    fail(status, fmt, args);
}

}  // namespace vorn::grid2mseed
