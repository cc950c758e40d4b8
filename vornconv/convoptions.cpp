#include "convoptions.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "format.hpp"
#include "options.hpp"

namespace vornconv {

void write_usage(vorn::Writer& err) {
    // Names -o, which is no option, and leaves out -x, -i and -c: kept on
    // purpose, stored scripts expect this text.
    vorn::format_to(err,
                    "Version %s\nusage: vornconv -o gps_utc_offset value < stdin\n"
                    "\t[-u time tags only with valid UTC/GPS shifts]\n"
                    "\t[-a value - output data beyond last GPS fix assuming drift of xx ms/day]\n"
                    "\t[-g output GPS strings only]\n\t[-t time tags only]\n\t[-d diagnostics]\n"
                    "\t[-s OBH mode]\n\t[-f filename AUX out]\n\t[-m VORN_moved_mode]\n",
                    {"5.0-010117"});
}

double atof_like(const char* s) { return std::strtod(s, nullptr); }

Exit parse_command_line(int argc, char** argv, ConvOptions& o, vorn::Writer& out, vorn::Writer& err) {
    int errors = 0;
    bool aux_failed = false;
    vorn::parse_options(argc, argv, "x:f:a:ugtdsmic", [&](vorn::OptionEvent event, int letter, const char* arg) {
        if (aux_failed) return;  // the run has ended at the AUX file
        if (event == vorn::OptionEvent::unrecognized) {
            vorn::format_to(err, "%s ERROR: Unrecognized option: -%c\n",
                            {vorn::program_name(), static_cast<char>(letter)});
            ++errors;
            return;
        }
        if (event == vorn::OptionEvent::missing_operand) {
            vorn::format_to(err, "%s ERROR: Option -%c requires an operand\n",
                            {vorn::program_name(), static_cast<char>(letter)});
            ++errors;
            return;
        }
        if (vorn::shared_option(o, letter, arg)) return;
        switch (letter) {
            case 'f': {
                if (o.aux_fd >= 0) ::close(o.aux_fd);
                o.aux_fd = ::open(arg, O_WRONLY | O_CREAT | O_TRUNC, 0666);
                if (o.aux_fd < 0) {
                    // On standard output, the name twice: kept on purpose,
                    // stored scripts expect it there.
                    vorn::format_to(out, "Cannot open AUX dump file %s %s \n", {arg, arg});
                    o.auxout_write = false;
                    aux_failed = true;
                    return;
                }
                o.auxout_write = true;
                break;
            }
            case 'a':
                o.data_beyond_gps = true;
                o.adrift = atof_like(arg);
                break;
            case 'm': o.check_for_gps_moved = false; break;
            case 'i': o.diagnostics = true; break;
            case 'c':
                o.gps_raw_mode = true;
                o.obh_mode = true;
                o.minimum_gps_counts = 0;
                break;
            default: break;
        }
    });
    if (aux_failed) return Exit::aux_file;
    if (errors > 0) {
        write_usage(err);
        return Exit::usage;
    }
    return Exit::ok;
}

}  // namespace vornconv
