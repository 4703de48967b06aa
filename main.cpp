// paramlist: print the parameter listing of a parameter file, and the modes
// that work with many files: --json and --from-json, --diff, --check.
//
// Standard output carries the listing or the mode's output and nothing else;
// diagnostics go to standard error as "paramlist: PATH: reason". Exit status
// of the listing: 0 when it was printed, 1 when the file could not be read or
// the listing could not be written, 2 for a usage error.
//
// Compiled with PARAMLIST_NO_MAIN, this file provides the listing alone, for
// programs that run it in-process.

#include "Parameter.h"
#include "entry.h"
#include "json_text.h"
#include "terminal_text.h"

#include <string>
#include <string_view>

// Appends "(" index ":" and leaves the entry open for its value.
static void openEntry(std::string& out, unsigned int i)
{
    out += '(';
    appendInteger(out, i);
    out += ':';
}

static void closeEntry(std::string& out)
{
    out += ") ";
}

// The listing that follows the "reading from file" line: every non-zero number
// and set flag, the sum of the operations entries from index 10 on, all names.
// For a terminal, names are shown escaped so that they cannot drive it.
std::string formatListing(const Parameter& para, bool forTerminal = false)
{
    std::string out;
    out.reserve(8192);
    out += "\nparameters not shown are 0 \n\ninit parameters : ";
    for (unsigned int i = 0; i < Parameter::InitEntries; ++i) {
        const unsigned long value = para.getInitParameter(i);
        if (value != 0) {
            openEntry(out, i);
            appendInteger(out, value);
            closeEntry(out);
        }
    }

    out += "\n\noperations parameters : ";
    double sum = 0.0;
    for (unsigned int i = 0; i < Parameter::OperationsEntries; ++i) {
        const double value = para.getOperationsParameter(i);
        // NaN compares unequal to 0.0 and is listed; both zeros are left out.
        if (value != 0.0) {
            openEntry(out, i);
            appendRoundedReal(out, value);
            closeEntry(out);
            if (i >= 10) {
                sum += value;
            }
        }
    }
    out += "\nsum operations parameters > 10 : ";
    appendRoundedReal(out, sum);

    out += "\n\nterminal condition parameters : ";
    for (unsigned int i = 0; i < Parameter::TerminalConditionEntries; ++i) {
        const double value = para.getTerminalConditionParameter(i);
        if (value != 0.0) {
            openEntry(out, i);
            appendRoundedReal(out, value);
            closeEntry(out);
        }
    }

    out += "\n\ndocument parameters : ";
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        if (para.getDocumentParameter(i)) {
            openEntry(out, i);
            out += '1';
            closeEntry(out);
        }
    }

    out += "\n\nnames parameters : \n";
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        const char* name = para.getNamesParameter(i);
        openEntry(out, i);
        appendShown(out, std::string_view(name, nameLength(name)), forTerminal);
        closeEntry(out);
    }
    out += "\n\n";
    return out;
}

#ifndef PARAMLIST_NO_MAIN

#include "diagnostics.h"
#include "input_files.h"
#include "modes.h"
#include "standard_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include <getopt.h>
#include <unistd.h>

static const char usage[] = R"(Usage: paramlist [OPTION]... FILE...
Show what a parameter file (the 3950-byte image of one parameter set) holds.

  paramlist FILE               list the non-zero entries, set flags and names
  paramlist --json FILE...     one JSON object per file, one per line, lossless
  paramlist --from-json INPUT -o OUTPUT [--force]
                               write the image that a JSON object describes
  paramlist --diff [--json | --brief] REFERENCE FILE...
                               the entries whose values differ from REFERENCE
  paramlist --check [--json] FILE...
                               what is unsound in each file
  paramlist --set ENTRY=VALUE [--set ENTRY=VALUE]... [--create] FILE...
                               change entries in place, nothing else
  paramlist --entries FILE     every entry on a line of its own, for text diffs
  paramlist --merge [--ours | --theirs] [--path=PATH] BASE OURS THEIRS
                               merge the changes of THEIRS into OURS

  -o, --output=OUTPUT  the file --from-json writes (- for standard output)
      --force          with -o -, write the image to a terminal too
  -h, --help           show this help and exit
  -V, --version        show the version and exit

ENTRY is Table[INDEX], as in Operations[10]; VALUE is written as --json
writes it. A FILE or INPUT of - is standard input. Options come before the
first FILE; -- ends them. Exit status: 0 on success; 1 when a file cannot be
read or written, and for --diff, --check and --merge when the files differ, a
finding was printed or a conflict is left; 2 for a usage error, and for
--diff, --check and --merge when a file cannot be read.
See paramlist(1).
)";

// The lines load prints, with the path shown escaped on a terminal, and "-"
// read as standard input.
static bool loadShown(Parameter& para, const char* file, bool terminal, std::size_t* length)
{
    if (!terminal && !isStandardInput(file)) {
        return para.load(file, length);
    }
    const InputFile input(file);
    if (input.fd() < 0) {
        const int reason = errno;
        std::puts("File could not be opened");
        errno = reason;
        return false;
    }
    std::string line = "reading from file : ";
    appendShown(line, file, terminal);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    return para.readFrom(input.fd(), length);
}

// Whether a command-line word looks like an option rather than a file.
static bool looksLikeOption(const char* word)
{
    return word[0] == '-' && word[1] != '\0';
}

// paramlist FILE: the listing, with the failure lines when the file cannot be read.
static int listFile(const Request& request)
{
    const char* file = request.operands[0];
    if (request.count > 1) {
        const auto option = std::find_if(request.operands + 1, request.operands + request.count, looksLikeOption);
        const std::string hint = option != request.operands + request.count
                                     ? std::string("'") + *option + "' is taken as a file: options go before the files"
                                     : std::string("--json, --check and --diff take several files");
        reportMessage(std::string("warning: only ") + file + " is listed; " + std::to_string(request.count - 1) +
                      " more operand" + (request.count > 2 ? "s" : "") + " ignored (" + hint + ")");
    }
    const bool terminal = isTerminal(STDOUT_FILENO);
    Parameter para;
    std::size_t length = 0;
    std::string out;
    int status = 0;
    if (loadShown(para, file, terminal, &length)) {
        if (length < Parameter::FileBytes) {
            reportError(file, "warning: the file holds " + std::to_string(length) + " of " +
                                  std::to_string(Parameter::FileBytes) +
                                  " bytes; entries past its end are listed at their start values");
        }
        out = formatListing(para, terminal);
    } else {
        reportErrno(file);
        out = "\ncould not read\n";
        status = 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return status;
}

namespace {

// Every mode: the option that chooses it, what runs it, how many operands it
// takes (-1: any number), and its status when standard output cannot be written.
struct ModeEntry {
    Request::Mode mode;
    const char* option;
    int (*run)(const Request&);
    int fewest;
    int most;
    int writeFailedStatus;
};

const ModeEntry modeTable[] = {
    {Request::Listing, "", listFile, 1, -1, 1},
    {Request::Json, "--json", exportJson, 1, -1, 1},
    {Request::FromJson, "--from-json", importJson, 0, 0, 1},
    {Request::Diff, "--diff", diffFiles, 2, -1, troubleStatus},
    {Request::Check, "--check", checkFiles, 1, -1, troubleStatus},
    {Request::Set, "--set", setEntries, 1, -1, 1},
    {Request::Entries, "--entries", listEntries, 1, 1, 1},
    {Request::Merge, "--merge", mergeFiles, 3, 3, troubleStatus},
};

constexpr unsigned modeBit(Request::Mode mode)
{
    return 1U << mode;
}

const ModeEntry& entryOf(Request::Mode mode)
{
    return *std::find_if(std::begin(modeTable), std::end(modeTable),
                         [mode](const ModeEntry& entry) { return entry.mode == mode; });
}

// The options that shape a mode: getopt's code, the name, and the modes it goes with.
struct Modifier {
    int code;
    const char* option;
    unsigned modes;
};

} // namespace

// The usage error for the option getopt_long has just refused in word, the
// command-line word it was reading. A word such as -dash.par is more often a
// file whose name starts with a dash than a run of options, so the message
// names the word and how to pass such a file.
static int refusedOption(const char* word, const option* options)
{
    const bool longOption = std::strncmp(word, "--", 2) == 0;
    if (optopt == 'o' && !longOption) {
        return usageError("option requires an argument -- 'o'");
    }
    if (!longOption) {
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
        for (const option* known = options; known->name != nullptr && name.size() > 2; ++known) {
            if (std::strncmp(known->name, name.c_str() + 2, name.size() - 2) == 0) {
                candidates += (candidates.empty() ? "--" : ", --") + std::string(known->name);
            }
        }
        return usageError(candidates.empty() ? "unrecognized option '" + name + "'"
                                             : "option '" + name + "' is ambiguous: " + candidates);
    }
    // The option in full, which the word may abbreviate.
    const option* known = options;
    while (known->name != nullptr && known->val != optopt) {
        ++known;
    }
    const std::string full = known->name != nullptr ? "--" + std::string(known->name) : name;
    return usageError("option '" + full +
                      (word[name.size()] == '=' ? "' doesn't allow an argument" : "' requires an argument"));
}

// Reads the options, which come before the first operand, into request.
// Returns -1 to go on, or the exit status when there is nothing more to do:
// after --help or --version, or a usage error.
static int parseCommandLine(int argc, char** argv, Request& request)
{
    enum : int { Json = 256, FromJson, Diff, Check, Set, Create, Entries, Merge, Ours, Theirs, Path, Brief, Force };
    static const option options[] = {{"help", no_argument, nullptr, 'h'},
                                     {"version", no_argument, nullptr, 'V'},
                                     {"output", required_argument, nullptr, 'o'},
                                     {"json", no_argument, nullptr, Json},
                                     {"from-json", required_argument, nullptr, FromJson},
                                     {"diff", no_argument, nullptr, Diff},
                                     {"check", no_argument, nullptr, Check},
                                     {"set", required_argument, nullptr, Set},
                                     {"create", no_argument, nullptr, Create},
                                     {"entries", no_argument, nullptr, Entries},
                                     {"merge", no_argument, nullptr, Merge},
                                     {"ours", no_argument, nullptr, Ours},
                                     {"theirs", no_argument, nullptr, Theirs},
                                     {"path", required_argument, nullptr, Path},
                                     {"brief", no_argument, nullptr, Brief},
                                     {"force", no_argument, nullptr, Force},
                                     {nullptr, 0, nullptr, 0}};
    // Checked once all options are read, since the mode may come after them.
    static const Modifier modifiers[] = {
        {Json, "--json", modeBit(Request::Json) | modeBit(Request::Diff) | modeBit(Request::Check)},
        {Brief, "--brief", modeBit(Request::Diff)},
        {Create, "--create", modeBit(Request::Set)},
        {Ours, "--ours", modeBit(Request::Merge)},
        {Theirs, "--theirs", modeBit(Request::Merge)},
        {Path, "--path", modeBit(Request::Merge)},
        {'o', "-o", modeBit(Request::FromJson)},
        {Force, "--force", modeBit(Request::FromJson)},
    };
    const Modifier* seen[std::size(modifiers)] = {};
    opterr = 0;
    // getopt_long moves optind past a word only once it has read all of it,
    // so the word it reads is the one at optind when it is called.
    for (int reading = optind, option; (option = getopt_long(argc, argv, "+hVo:", options, nullptr)) != -1;
         reading = optind) {
        for (std::size_t i = 0; i < std::size(modifiers); ++i) {
            if (modifiers[i].code == option) {
                seen[i] = &modifiers[i];
            }
        }
        Request::Mode chosen = request.mode;
        switch (option) {
        case 'h':
            std::fputs(usage, stdout);
            return finishStandardOutput("") ? 0 : 1;
        case 'V':
            return finishStandardOutput("paramlist " PARAMLIST_VERSION "\n") ? 0 : 1;
        case 'o':
            request.output = optarg;
            break;
        case Json:
            request.json = true;
            break;
        case Brief:
            request.brief = true;
            break;
        case Create:
            request.create = true;
            break;
        case Force:
            request.force = true;
            break;
        case Ours:
        case Theirs: {
            const Request::Side side = option == Ours ? Request::Ours : Request::Theirs;
            if (request.side != Request::Neither && request.side != side) {
                return usageError("choose one of --ours and --theirs");
            }
            request.side = side;
            break;
        }
        case Path:
            request.path = optarg;
            break;
        case FromJson:
            chosen = Request::FromJson;
            request.input = optarg;
            break;
        case Set:
            chosen = Request::Set;
            request.assignments.push_back(optarg);
            break;
        case Diff:
        case Check:
        case Entries:
        case Merge:
            chosen = option == Diff    ? Request::Diff
                     : option == Check ? Request::Check
                     : option == Merge ? Request::Merge
                                       : Request::Entries;
            break;
        default:
            return refusedOption(argv[reading], options);
        }
        if (chosen != request.mode && request.mode != Request::Listing) {
            return usageError("choose one of --json, --from-json, --diff, --check, --set, --entries and --merge");
        }
        request.mode = chosen;
    }
    request.operands = argv + optind;
    request.count = argc - optind;
    if (request.json && request.mode == Request::Listing) {
        request.mode = Request::Json;
    }
    if (request.json && request.brief) {
        return usageError("choose one of --json and --brief");
    }
    const Modifier* const* misplaced = std::find_if(std::begin(seen), std::end(seen), [&](const Modifier* given) {
        return given != nullptr && (given->modes & modeBit(request.mode)) == 0;
    });
    if (misplaced != std::end(seen)) {
        std::string modes;
        for (const ModeEntry& mode : modeTable) {
            // --json alone chooses the mode it goes with.
            if (((*misplaced)->modes & modeBit(mode.mode)) != 0 && mode.mode != Request::Listing &&
                std::strcmp(mode.option, (*misplaced)->option) != 0) {
                modes += (modes.empty() ? "" : " or ") + std::string(mode.option);
            }
        }
        return usageError(std::string((*misplaced)->option) + " goes with " + modes);
    }
    return -1;
}

// Whether the operands suit the mode; a usage error otherwise.
static int checkOperands(const Request& request, const ModeEntry& mode)
{
    if (request.mode == Request::FromJson && (request.output == nullptr || request.count > 0) &&
        looksLikeOption(request.input)) {
        return usageError(std::string("--from-json took '") + request.input +
                          "' as its INPUT; write --from-json INPUT -o OUTPUT");
    }
    if (request.mode == Request::FromJson && request.output == nullptr) {
        return usageError("--from-json needs -o OUTPUT");
    }
    if (request.count < mode.fewest) {
        return usageError(request.mode == Request::Listing
                              ? std::string("missing operand")
                              : std::string("missing operand after '") + mode.option + "'");
    }
    if (mode.most >= 0 && request.count > mode.most) {
        return usageError(std::string("extra operand '") + request.operands[mode.most] + "'");
    }
    return -1;
}

int main(int argc, char** argv)
{
    openStandardDescriptors();
    Request request;
    const int parsed = parseCommandLine(argc, argv, request);
    if (parsed >= 0) {
        return parsed;
    }
    const ModeEntry& mode = entryOf(request.mode);
    const int refused = checkOperands(request, mode);
    if (refused >= 0) {
        return refused;
    }
    const int status = mode.run(request);
    return finishStandardOutput("") ? status : mode.writeFailedStatus;
}

#endif
