#include "cmdline.hpp"

#include <unistd.h>

#include "format.hpp"
#include "options.hpp"
#include "program.hpp"
#include "textparse.hpp"

namespace vorn::grid2mseed {

namespace {

bool is_code_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The record length operand: a power of two from 256 to 65536.
bool parse_reclen(std::string_view s, int32_t& v) {
    int32_t n = 0;
    if (!FieldCursor::parse_integer(s, n)) return false;
    if (n < 256 || n > 65536 || (n & (n - 1)) != 0) return false;
    v = n;
    return true;
}

bool parse_encoding(std::string_view s, Encoding& e) {
    if (s == "steim2") e = Encoding::steim2;
    else if (s == "steim1") e = Encoding::steim1;
    else if (s == "int32") e = Encoding::int32;
    else return false;
    return true;
}

// "A,B,C" into its parts (empty parts kept, so that they are reported).
std::vector<std::string> split_commas(std::string_view s) {
    std::vector<std::string> parts;
    std::size_t b = 0;
    for (;;) {
        const std::size_t e = s.find(',', b);
        parts.emplace_back(s.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
        if (e == std::string_view::npos) break;
        b = e + 1;
    }
    return parts;
}

}  // namespace

void write_usage(Writer& err) {
    err.put(
        "usage: grid2mseed [-n NET] [-s STA] [-l LOC] [-c CHA[,CHA[,CHA]]] [-r RECLEN]\n"
        "                  [-e steim2|steim1|int32] [-o FILE | -A DIR] < grid\n"
        "  -n NET      network code, 1-2 letters or digits (default XX)\n"
        "  -s STA      station code, 1-5 letters or digits (default the header's DEV_NO)\n"
        "  -l LOC      location code, 0-2 letters or digits (default empty)\n"
        "  -c CHA,...  one channel code of 3 letters or digits per grid column\n"
        "              (default band code from the rate, H, then Z, N, E)\n"
        "  -r RECLEN   record length, a power of two from 256 to 65536 (default 4096)\n"
        "  -e ENC      steim2 (default), steim1 or int32\n"
        "  -o FILE     write the records to FILE instead of standard output\n"
        "  -A DIR      write day files into the SDS archive DIR\n");
    err.flush();
}

int parse_arguments(int argc, char** argv, Options& o, Writer& err) {
    int errors = 0;
    const std::string_view name = program_name();
    parse_options(argc, argv, "n:s:l:c:r:e:o:A:", [&](OptionEvent event, int letter, const char* operand) {
        const char c = static_cast<char>(letter);
        if (event == OptionEvent::unrecognized) {
            format_to(err, "%s ERROR: Unrecognized option: -%c\n", {name, c});
            ++errors;
            return;
        }
        if (event == OptionEvent::missing_operand) {
            format_to(err, "%s ERROR: Option -%c requires an operand\n", {name, c});
            ++errors;
            return;
        }
        const std::string_view value(operand);
        switch (c) {
            case 'n': o.network = value; break;
            case 's':
                o.station = value;
                o.station_given = true;
                break;
            case 'l': o.location = value; break;
            case 'c': o.channels = split_commas(value); break;
            case 'r':
                if (!parse_reclen(value, o.reclen)) {
                    format_to(err, "%s ERROR: bad record length for -r: %s (a power of two from 256 to 65536)\n",
                              {name, value});
                    ++errors;
                }
                break;
            case 'e':
                if (!parse_encoding(value, o.encoding)) {
                    format_to(err, "%s ERROR: bad encoding for -e: %s (steim2, steim1 or int32)\n", {name, value});
                    ++errors;
                }
                break;
            case 'o':
            case 'A':
                if (value.empty()) {
                    format_to(err, "%s ERROR: -%c needs a %s name\n", {name, c, c == 'o' ? "file" : "folder"});
                    ++errors;
                }
                (c == 'o' ? o.output_file : o.archive) = value;
                break;
            default: break;
        }
    });
    if (::optind < argc) {
        format_to(err, "%s ERROR: unexpected argument %s: the grid is read from standard input\n",
                  {name, argv[::optind]});
        ++errors;
    }
    if (!o.output_file.empty() && !o.archive.empty()) {
        format_to(err, "%s ERROR: -o and -A cannot be given together\n", {name});
        ++errors;
    }
    // The codes given on the command line are checked at once.
    if (!valid_code(o.network, 1, 2)) {
        format_to(err, "%s ERROR: network code \"%s\" is not 1 or 2 letters or digits\n", {name, std::string_view(o.network)});
        ++errors;
    }
    if (o.station_given && !valid_code(o.station, 1, 5)) {
        format_to(err, "%s ERROR: station code \"%s\" is not 1 to 5 letters or digits\n", {name, std::string_view(o.station)});
        ++errors;
    }
    if (!valid_code(o.location, 0, 2)) {
        format_to(err, "%s ERROR: location code \"%s\" is not 0 to 2 letters or digits\n", {name, std::string_view(o.location)});
        ++errors;
    }
    if (o.channels.size() > 3) {
        format_to(err, "%s ERROR: -c names %d channels; a grid has at most 3\n",
                  {name, static_cast<int64_t>(o.channels.size())});
        ++errors;
    }
    for (std::size_t i = 0; i < o.channels.size(); ++i) {
        if (!valid_code(o.channels[i], 3, 3)) {
            format_to(err, "%s ERROR: channel code \"%s\" is not 3 letters or digits\n", {name, std::string_view(o.channels[i])});
            ++errors;
        }
        for (std::size_t j = 0; j < i; ++j)
            if (o.channels[j] == o.channels[i]) {
                format_to(err, "%s ERROR: channel code %s is named twice\n", {name, std::string_view(o.channels[i])});
                ++errors;
            }
    }
    return errors;
}

char band_code(double rate) {
    if (rate >= 1000.0) return 'F';
    if (rate >= 250.0) return 'C';
    if (rate >= 80.0) return 'H';
    if (rate >= 10.0) return 'B';
    if (rate > 1.0) return 'M';
    return 'L';
}

bool valid_code(std::string_view code, std::size_t min_len, std::size_t max_len) {
    if (code.size() < min_len || code.size() > max_len) return false;
    for (char c : code)
        if (!is_code_char(c)) return false;
    return true;
}

std::string resolve_codes(const Options& o, const HeaderValues& h, int channel_count, double rate,
                          StreamCodes& codes) {
    codes.network = o.network;
    codes.location = o.location;
    if (o.station_given) {
        codes.station = o.station;
    } else {
        const std::string_view dev = h.DEV_NO.view();
        if (!valid_code(dev, 1, 5))
            return "the header's DEV_NO \"" + std::string(dev) +
                   "\" is no station code (1 to 5 letters or digits): name the station with -s";
        codes.station = dev;
    }
    if (!o.channels.empty()) {
        if (static_cast<int>(o.channels.size()) != channel_count)
            return "-c names " + std::to_string(o.channels.size()) + " channel" +
                   (o.channels.size() == 1 ? "" : "s") + ", the grid has " + std::to_string(channel_count);
        codes.channels = o.channels;
    } else {
        static constexpr char kOrientation[3] = {'Z', 'N', 'E'};
        codes.channels.clear();
        for (int c = 0; c < channel_count; ++c)
            codes.channels.push_back(std::string{band_code(rate), 'H', kOrientation[c]});
    }
    return {};
}

}  // namespace vorn::grid2mseed
