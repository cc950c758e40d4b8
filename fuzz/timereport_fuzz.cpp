// timereport on any input. Byte 0 chooses the reader's buffer size, byte 1
// the mode and the options, byte 2 where the rest is split in two.
//
// Report (byte 1 bit 0 clear): the first part is the converter's messages
// (none when byte 2 is 0), the second the tag list; bits 1-2 choose -r. The
// JSON must read back as one object and end with a line feed, and the plot's
// series must keep to their point limit.
//
// Index (bit 0 set): the first part's first line is the row's name, the
// rest of it the row folder's status.txt, the second part its timing.json;
// the page must be valid UTF-8.
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "harness.hpp"
#include "index.hpp"
#include "plot.hpp"
#include "report.hpp"

namespace {

using namespace timereport;

constexpr std::size_t kMaxPoints = 64;

// UTF-8 by its byte patterns (lead byte, then as many continuation bytes).
bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        if (b >= 0x80) {
            if ((b >> 5) == 6) n = 1;
            else if ((b >> 4) == 14) n = 2;
            else if ((b >> 3) == 30) n = 3;
            else return false;
        }
        if (i + n >= s.size() && n > 0) return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n + 1;
    }
    return true;
}

void run_report_mode(uint8_t options, std::string_view messages, std::string_view tags, std::size_t buffer) {
    static constexpr double kRates[4] = {0, 100, 1000, 0.3};
    const double rate_choice = kRates[(options >> 1) & 3];
    const std::optional<double> rate = rate_choice > 0 ? std::optional<double>(rate_choice) : std::nullopt;
    std::string diag_text;
    vorn::Writer diag(&diag_text, std::size_t{1} << 12);
    ConverterInfo conv;
    if (!messages.empty()) {
        vorn::fuzz::MemFile m(reinterpret_cast<const uint8_t*>(messages.data()), messages.size());
        vorn::LineReader in(m.fd(), buffer);
        conv = read_messages(in, diag);
    }
    vorn::fuzz::MemFile t(reinterpret_cast<const uint8_t*>(tags.data()), tags.size());
    vorn::LineReader in(t.fd(), buffer);
    TagList list = read_tags(in, diag);
    diag.flush();
    const Report r = make_report(std::move(list), std::move(conv), rate);
    const std::string text = json_text(report_json(r));
    if (text.empty() || text.back() != '\n') vorn::fuzz::broken("report does not end with a line feed");
    const nlohmann::json back = nlohmann::json::parse(text, nullptr, false);
    if (back.is_discarded() || !back.is_object()) vorn::fuzz::broken("report is not a JSON object", text);

    const PlotData d = plot_data(r, kMaxPoints);
    for (const Points& p : d.tags)
        if (p.size() > kMaxPoints) vorn::fuzz::broken("plot series over its limit");
    if (d.residuals.size() > kMaxPoints) vorn::fuzz::broken("residual series over its limit");
    (void)plot_script(d);
}

void run_index_mode(std::string_view name, std::string_view status, std::string_view json) {
    namespace fs = std::filesystem;
    // The row folder, made once and removed when the fuzzer ends.
    struct Folder {
        fs::path path;
        Folder() {
            char pattern[] = "/tmp/timereport-fuzz-XXXXXX";
            if (::mkdtemp(pattern) == nullptr) vorn::fuzz::broken("mkdtemp failed");
            path = pattern;
        }
        ~Folder() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    };
    static const Folder folder;
    const fs::path& dir = folder.path;
    std::ofstream(dir / "status.txt", std::ios::binary | std::ios::trunc).write(status.data(), static_cast<std::streamsize>(status.size()));
    std::ofstream(dir / "timing.json", std::ios::binary | std::ios::trunc).write(json.data(), static_cast<std::streamsize>(json.size()));
    std::vector<Row> rows;
    rows.push_back(read_row(dir, std::string(name), percent_encode(name) + "/"));
    const std::string page = index_page(name, rows);
    if (!valid_utf8(page)) vorn::fuzz::broken("index page is not UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::size_t split = rest.size() * data[2] / 256;
    const std::string_view first = rest.substr(0, split);
    const std::string_view second = rest.substr(split);
    if ((data[1] & 1) == 0) {
        run_report_mode(data[1], first, second, vorn::fuzz::buffer_size(data[0]));
    } else {
        const std::size_t nl = first.find('\n');
        run_index_mode(first.substr(0, nl == std::string_view::npos ? first.size() : nl),
                       nl == std::string_view::npos ? std::string_view() : first.substr(nl + 1), second);
    }
    return 0;
}
