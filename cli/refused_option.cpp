// What a refused command-line word is told, in the words getopt's own
// messages use.
#include "refused_option.h"

#include "diagnostics.h"

#include <cstring>
#include <string>

#include <getopt.h>

// A word such as -dash.par is more often a file than a run of options.
int refusedOption(const char* word, const option* options, int optopt, const Option* known)
{
    const bool longOption = std::strncmp(word, "--", 2) == 0;
    if (!longOption) {
        if (known != nullptr && known->argument != nullptr) {
            return usageError(std::string("option requires an argument -- '") + static_cast<char>(optopt) + "'");
        }
        std::string message = std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
        if (std::strlen(word) > 2) {
            message += std::string(" in '") + word + "'; to name a file that starts with '-', put -- before the files";
        }
        return usageError(message);
    }
    const std::string name(word, std::strcspn(word, "="));
    if (optopt == 0) {
        // getopt_long takes a prefix of one option for it, and refuses a prefix of several alike.
        std::string candidates;
        for (const option* candidate = options; candidate->name != nullptr && name.size() > 2; ++candidate) {
            if (std::strncmp(candidate->name, name.c_str() + 2, name.size() - 2) == 0) {
                candidates += (candidates.empty() ? "--" : ", --") + std::string(candidate->name);
            }
        }
        return usageError(candidates.empty() ? "unrecognized option '" + name + "'"
                                             : "option '" + name + "' is ambiguous: " + candidates);
    }
    // The option in full, which the word may abbreviate.
    const std::string full = known != nullptr ? "--" + std::string(known->name) : name;
    return usageError("option '" + full +
                      (word[name.size()] == '=' ? "' doesn't allow an argument" : "' requires an argument"));
}
