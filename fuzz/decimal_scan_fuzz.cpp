// The scanners in the manner of atoi and atof (command-line values, header
// values, the fields of the GPS string). Each line of the input is read by
// them and by the C library: the values agree, and a value read prints back
// to the same value.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convoptions.hpp"
#include "harness.hpp"
#include "blocks.hpp"
#include "recorder.hpp"
#include "textparse.hpp"

namespace {

using namespace vorn;
using namespace vorn::fuzz;

void atoi_agrees(const std::string& s) {
    // atoi is strtol cut to int (strtol saturates at the long's limits).
    const long ref = std::strtol(s.c_str(), nullptr, 10);
    const int32_t expected = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(ref)));
    const int32_t got = atoi_like(s);
    if (got != expected) broken("atoi_like differs from strtol", s);
    char text[16];
    const auto r = std::to_chars(text, text + sizeof text, got);
    if (atoi_like(std::string_view(text, static_cast<std::size_t>(r.ptr - text))) != got)
        broken("an atoi value does not print back", s);
}

void atof_agrees(const std::string& s) {
    const double v = vornconv::atof_like(s.c_str());
    if (std::isnan(v)) return;
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    if (r.ec != std::errc()) broken("to_chars failed", s);
    const std::string back(text, static_cast<std::size_t>(r.ptr - text));
    const double w = vornconv::atof_like(back.c_str());
    if (std::memcmp(&v, &w, sizeof v) != 0) broken("an atof value does not print back", s);
}

// The fields of the GPS string that are read as numbers.
constexpr std::size_t kFields[][2] = {{10, 11}, {18, 20}, {32, 32}, {33, 33}, {43, 44}, {45, 46}, {47, 48},
                                      {52, 53}, {54, 55}, {56, 59}, {60, 61}, {62, 62}, {65, 65}, {4, 8}};

void gps_fields_agree(std::string_view line) {
    GpsString g;
    const std::size_t n = line.size() < GpsString::kLength ? line.size() : GpsString::kLength;
    std::memcpy(g.bytes.data(), line.data(), n);
    for (const auto& f : kFields) {
        // scanf "%d" on the field's characters up to a NUL.
        std::string text;
        for (std::size_t i = f[0]; i <= f[1] && g.bytes[i] != 0; ++i) text += static_cast<char>(g.bytes[i]);
        int ref = 12345;
        const bool rr = std::sscanf(text.c_str(), "%d", &ref) == 1;
        int32_t v = 12345;
        const bool rv = g.scan_int(f[0], f[1], v);
        if (rv != rr) broken("scan_int and sscanf disagree on a number", text);
        if (rv && v != ref) broken("scan_int and sscanf read other values", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    MemFile input(data + 1, size - 1);
    LineReader in(input.fd(), buffer_size(data[0]));
    vorn::PaddedLine line;
    for (int k = 0; k < 64 && in.next(line); ++k) {
        std::string s(line.substr(0, line.find('\0')));
        atoi_agrees(s);
        atof_agrees(s);
        gps_fields_agree(line);
    }
    return 0;
}
