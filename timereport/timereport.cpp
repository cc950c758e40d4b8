#include "timereport.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "format.hpp"
#include "options.hpp"
#include "plot.hpp"
#include "report.hpp"

namespace timereport {

std::optional<double> parse_rate(const char* text) {
    if (text == nullptr) return std::nullopt;
    const std::string_view s(text);
    double v = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v) || !(v > 0))
        return std::nullopt;
    return v;
}

Options parse_command_line(int argc, char** argv, vorn::Writer& diag) {
    Options opt;
    vorn::parse_options(argc, argv, "e:r:p:i:", [&](vorn::OptionEvent event, int letter, const char* operand) {
        const char l = static_cast<char>(letter);
        if (event == vorn::OptionEvent::unrecognized) {
            vorn::format_to(diag, "%s ERROR: Unrecognized option: -%c\n", {vorn::program_name(), l});
            opt.bad = true;
            return;
        }
        if (event == vorn::OptionEvent::missing_operand) {
            vorn::format_to(diag, "%s ERROR: Option -%c requires an operand\n", {vorn::program_name(), l});
            opt.bad = true;
            return;
        }
        switch (l) {
            case 'e': opt.messages = operand; break;
            case 'p': opt.plot = operand; break;
            case 'i': opt.index = operand; break;
            case 'r':
                opt.rate = parse_rate(operand);
                if (!opt.rate) {
                    vorn::format_to(diag, "%s ERROR: the rate must be a number above 0: %s\n",
                                    {vorn::program_name(), operand});
                    opt.bad = true;
                }
                break;
            default: break;
        }
    });
    if (opt.index && (opt.messages || opt.rate || opt.plot)) {
        vorn::format_to(diag, "%s ERROR: -i takes no other option\n", {vorn::program_name()});
        opt.bad = true;
    }
    diag.flush();
    return opt;
}

bool write_file(const std::string& path, const std::string& bytes, std::string& why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            why = std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    if (::close(fd) != 0) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

Exit run_report(const Options& opt) {
    vorn::Writer& diag = vorn::err();
    ConverterInfo conv;
    if (opt.messages) {
        const int fd = ::open(opt.messages->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            vorn::fail(vorn::ExitStatus::fatal, "%s ERROR: cannot open %s: %s\n",
                       {vorn::program_name(), std::string_view(*opt.messages), std::strerror(errno)});
        vorn::LineReader messages(fd);
        conv = read_messages(messages, diag);
        ::close(fd);
    }
    vorn::LineReader in(STDIN_FILENO);
    TagList list = read_tags(in, diag);
    const Report r = make_report(std::move(list), std::move(conv), opt.rate);
    if (!r.rate) {
        vorn::message("Warning: no sample rate known (no S_RATE in a BOS line, no -r): drift_ppm is null\n");
    }
    vorn::out().put(json_text(report_json(r)));
    vorn::out().flush();
    if (!opt.plot) return Exit::ok;

    std::string png, why;
    if (!run_gnuplot(plot_script(plot_data(r)), png, why)) {
        vorn::message("%s ERROR: no plot drawn: %s\n", {vorn::program_name(), std::string_view(why)});
        return Exit::fatal;
    }
    if (!write_file(*opt.plot, png, why)) {
        vorn::message("%s ERROR: cannot write %s: %s\n", {vorn::program_name(), std::string_view(*opt.plot), std::string_view(why)});
        return Exit::fatal;
    }
    return Exit::ok;
}

}  // namespace timereport
