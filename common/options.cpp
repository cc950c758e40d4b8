#include "options.hpp"

#include <cstring>
#include <unistd.h>

namespace vorn {

void parse_options(int argc, char** argv, const char* optstring,
                   const std::function<void(OptionEvent, int, const char*)>& handle) {
    opterr = 0;
    optind = 0;  // a full reset of the platform's getopt, so it can run again
    for (;;) {
        int c = ::getopt(argc, argv, optstring);
        if (c == -1) break;
        if (c == '?' || c == ':') {
            const char* entry = optopt != 0 ? std::strchr(optstring, optopt) : nullptr;
            if (entry != nullptr && optopt != ':' && entry[1] == ':')
                handle(OptionEvent::missing_operand, optopt, nullptr);
            else
                handle(OptionEvent::unrecognized, optopt, nullptr);
            continue;
        }
        handle(OptionEvent::option, c, optarg);
    }
}

}  // namespace vorn
