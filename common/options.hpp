// Option parsing in the getopt manner with the library's own messages off:
// each program writes its own messages for a bad option.
#pragma once

#include <functional>

namespace vorn {

enum class OptionEvent {
    option,            // a letter of the option string, with its operand if it takes one
    unrecognized,      // a letter not in the option string
    missing_operand,   // a letter of the option string whose operand is missing
};

// Parses argv with the platform's getopt (opterr = 0), calling handle for each
// option in command-line order. Non-option arguments are passed over as the
// platform's getopt does.
void parse_options(int argc, char** argv, const char* optstring,
                   const std::function<void(OptionEvent event, int letter, const char* operand)>& handle);

}  // namespace vorn
