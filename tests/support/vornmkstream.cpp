// Test helper: writes a hand-built recorder stream from a script on standard
// input (commands in streamgen.hpp); with --fuzz SEED a random stream; with
// --mutate SEED a damaged copy of the stream on standard input.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>

#include "streamgen.hpp"

int main(int argc, char** argv) {
    std::vector<uint8_t> out;
    if (argc == 3 && std::string(argv[1]) == "--fuzz") {
        std::mt19937_64 rng(std::strtoull(argv[2], nullptr, 10));
        out = vorn::testing::random_stream(rng);
    } else if (argc == 3 && std::string(argv[1]) == "--mutate") {
        std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        const std::string m = vorn::testing::mutate(in, static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
        out.assign(m.begin(), m.end());
    } else {
        std::string script((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        vorn::testing::StreamBuilder b;
        std::string error;
        if (!b.run(script, error)) {
            std::fprintf(stderr, "vornmkstream: %s\n", error.c_str());
            return 2;
        }
        out = std::move(b.bytes);
    }
    if (!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
