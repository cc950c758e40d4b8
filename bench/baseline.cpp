// Literal baselines: the reading and writing of each program done the plain
// way: the converter reads with getc per byte and writes with one printf per
// field; the text stages read with fgets and sscanf and write with one printf
// per line. They set the bar the real programs are measured against.
//
//   baseline conv      < recorder stream   (getc per byte, printf per field)
//   baseline timefit   < converter text    (fgets, sscanf, printf per line)
//   baseline stampfill < timefit text
//   baseline regrid    < timed text
//   baseline axisturn  < grid text
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

int conv() {
    // Header: bytes up to the first type byte other than the fill byte.
    int c;
    int channels = 3;
    std::vector<char> header;
    while ((c = getc(stdin)) != EOF) {
        if (c == 0xF0) continue;
        if (c & 0x80) break;
        header.push_back(static_cast<char>(c));
    }
    header.push_back('\0');
    if (const char* p = std::strstr(header.data(), "CH_NUM=")) channels = std::atoi(p + 7);
    if (channels < 1 || channels > 3) channels = 3;
    std::printf("%s\n", header.data());
    std::vector<int> buf[3];
    long nsample = 0;
    long tag = -1;
    while (c != EOF) {
        if (c == 0x80 || c == 0x90) {
            if (c == 0x90) tag = static_cast<long>(buf[0].size());
            for (int ch = 0; ch < channels; ++ch) {
                int s0 = getc(stdin), s1 = getc(stdin), s2 = getc(stdin), s3 = getc(stdin);
                int v = s0 * 131072 + s1 * 1024 + s2 * 8 + s3;
                if (v > 0x7FFFFF) v -= 0x1000000;
                buf[ch].push_back(v);
            }
            ++nsample;
        } else if (c == 0xA0) {
            char gps[77];
            for (int i = 0; i < 76; ++i) gps[i] = static_cast<char>(getc(stdin));
            gps[76] = '\0';
            getc(stdin);
            int t0 = getc(stdin), t1 = getc(stdin);
            struct tm tmv;
            std::memset(&tmv, 0, sizeof tmv);
            int hh = 0, mm = 0, ss = 0, dd = 0, mo = 0, yy = 0, off = 0;
            std::sscanf(gps + 43, "%2d%2d%2d", &hh, &mm, &ss);
            std::sscanf(gps + 52, "%2d%2d%4d%2d", &dd, &mo, &yy, &off);
            tmv.tm_year = yy - 1900;
            tmv.tm_mon = mo - 1;
            tmv.tm_mday = dd;
            tmv.tm_hour = hh;
            tmv.tm_min = mm;
            tmv.tm_sec = ss;
            double f1 = (t0 * 128 + t1) * 2.44140625 / 1e6 + static_cast<double>(mktime(&tmv) + off);
            long n = static_cast<long>(buf[0].size());
            for (long i = 0; i < n; ++i) {
                std::printf("%ld ", nsample - n + i);
                for (int ch = 0; ch < channels; ++ch) std::printf("%d ", buf[ch][static_cast<size_t>(i)]);
                if (i == tag) std::printf("%ld %ld\n", static_cast<long>(f1), static_cast<long>((f1 - static_cast<long>(f1)) * 1e6));
                else std::printf("%ld %ld\n", -1L, 0L);
            }
            for (auto& b : buf) b.clear();
            tag = -1;
        }
        c = getc(stdin);
    }
    return 0;
}

// Reads the header line and echoes it; returns the channel count.
int text_header(char* line) {
    int channels = 3;
    if (std::fgets(line, 1000, stdin) == nullptr) return channels;
    char t[3][100];
    int p, ch, rate;
    if (std::sscanf(line, "%99s %99s %99s %d %d %d", t[0], t[1], t[2], &p, &ch, &rate) == 6 && ch >= 1 && ch <= 3)
        channels = ch;
    std::printf("%s", line);
    return channels;
}

int text_stage(int mode) {
    char line[1000];
    int channels = text_header(line);
    long n, sec, usec;
    int v[3] = {0, 0, 0};
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (mode == 3) {  // axisturn reads seconds, microseconds, values
            if (channels == 1 && std::sscanf(line, "%ld %ld %d", &sec, &usec, &v[0]) == 3)
                std::printf("%ld %ld %d \n", sec, usec, v[0]);
            else if (channels == 2 && std::sscanf(line, "%ld %ld %d %d", &sec, &usec, &v[0], &v[1]) == 4)
                std::printf("%ld %ld %d %d \n", sec, usec, v[0], v[1]);
            else if (std::sscanf(line, "%ld %ld %d %d %d", &sec, &usec, &v[0], &v[1], &v[2]) == 5)
                std::printf("%ld %ld %d %d %d \n", sec, usec, v[0], v[1], v[2]);
            continue;
        }
        int got;
        if (channels == 1) got = std::sscanf(line, "%ld%d%ld%ld", &n, &v[0], &sec, &usec);
        else if (channels == 2) got = std::sscanf(line, "%ld%d%d%ld%ld", &n, &v[0], &v[1], &sec, &usec);
        else got = std::sscanf(line, "%ld%d%d%d%ld%ld", &n, &v[0], &v[1], &v[2], &sec, &usec);
        if (got < channels + 3) continue;
        if (mode == 2) {  // regrid writes seconds, padded microseconds, values
            if (channels == 1) std::printf("%ld %6ld  %d\n", sec, usec, v[0]);
            else if (channels == 2) std::printf("%ld %6ld  %d %d\n", sec, usec, v[0], v[1]);
            else std::printf("%ld %6ld  %d %d %d\n", sec, usec, v[0], v[1], v[2]);
        } else {
            if (channels == 1) std::printf("%ld %d %ld %ld\n", n, v[0], sec, usec);
            else if (channels == 2) std::printf("%ld %d %d %ld %ld\n", n, v[0], v[1], sec, usec);
            else std::printf("%ld %d %d %d %ld %ld\n", n, v[0], v[1], v[2], sec, usec);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: baseline conv|timefit|stampfill|regrid|axisturn\n");
        return 2;
    }
    const char* m = argv[1];
    if (std::strcmp(m, "conv") == 0) return conv();
    if (std::strcmp(m, "timefit") == 0 || std::strcmp(m, "stampfill") == 0) return text_stage(1);
    if (std::strcmp(m, "regrid") == 0) return text_stage(2);
    if (std::strcmp(m, "axisturn") == 0) return text_stage(3);
    std::fprintf(stderr, "baseline: unknown mode %s\n", m);
    return 2;
}
