#include "textlines.hpp"

#include <cmath>

namespace vorn {

SplitTime split_time(double t) {
    double whole = std::floor(t);
    return {static_cast<int64_t>(whole), static_cast<int64_t>(std::floor((t - whole) * 1000000.0))};
}

bool header_supported(const HeaderValues& h, int64_t max_rate) {
    return h.CH_NUM >= 1 && h.CH_NUM <= 3 && h.S_RATE > 0 && h.S_RATE <= max_rate;
}

void unsupported_header(const HeaderValues& h, ExitStatus status) {
    fail(status, "%s ERROR: unsupported header: CH_NUM %d S_RATE %d\n", {program_name(), h.CH_NUM, h.S_RATE});
}

void warn_malformed_line(int64_t line_number, std::string_view line) {
    message("Warning: skipping malformed line %ld: %s\n", {line_number, line});
}

void pass_error_line(int32_t ch_num, std::string_view stage) {
    write_error_line(out(), ch_num);
    fail(ExitStatus::no_useful_data, "%s ERROR: No useful data in %s!\n", {program_name(), stage});
}

}  // namespace vorn
