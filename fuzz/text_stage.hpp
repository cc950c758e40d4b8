// The body every text-stage harness shares: byte 0 chooses the reader's
// buffer size, byte 1 the options (each harness reads what it needs), the
// rest is standard input. The stage runs its whole processing on it; its
// output must then pass the checks of every text stage.
#pragma once

#include <string>

#include "harness.hpp"

namespace vorn::fuzz {

template <class Run>
int run_text_stage(const uint8_t* data, std::size_t size, bool error_line_last, Run&& run) {
    if (size < 2) return 0;
    MemFile input(data + 2, size - 2);
    LineReader in(input.fd(), buffer_size(data[0]));
    std::string out_text;
    std::string err_text;
    {
        Writer out(&out_text, std::size_t{1} << 12);
        Writer err(&err_text, std::size_t{1} << 12);
        run(data[1], in, out, err);
        out.flush();
        err.flush();
    }
    check_stage_output(out_text, error_line_last);
    return 0;
}

}  // namespace vorn::fuzz
