// The option table, and all that is made from it: getopt_long's options, the
// rules of which options go together, the operands each mode takes, and the
// text of --help. A new option is a new row.
#include "command_line.h"

#include "diagnostics.h"
#include "modes.h"
#include "option_row.h"
#include "standard_output.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <getopt.h>

namespace {

constexpr int many = -1;

// The seconds that text gives, digits with a fraction or not; NaN for a text
// that gives none.
double secondsIn(const char* text)
{
    const std::size_t whole = std::strspn(text, "0123456789");
    const std::size_t fraction = text[whole] == '.' ? std::strspn(text + whole + 1, "0123456789") : 0;
    return whole > 0 && text[whole + (fraction > 0 ? fraction + 1 : 0)] == '\0' ? std::strtod(text, nullptr) : NAN;
}

// The rows in the order getopt_long tries them, which is the order that a
// refused abbreviation names its candidates in, and --help its lines in.
constexpr Option table[] = {
    Option("json")
        .does([](Request& request, const char*) { request.json = true; })
        .chooses(Request::Json, {mode::json, 1, many, 1})
        .goesWith(Request::Diff, Request::Check, Request::Set, Request::Apply)
        .inSynopsis("  paramlist --json FILE...     one JSON object per file, one per line, lossless\n"),
    // --tsv is --csv with other separators and escapes: one mode, csv.cpp.
    Option("csv")
        .chooses(Request::Csv, {mode::csv, 1, many, 1})
        .inSynopsis("  paramlist --csv FILE...      a header row, then one row per file, for spreadsheets\n"),
    Option("tsv")
        .chooses(Request::Tsv, {mode::csv, 1, many, 1})
        .inSynopsis("  paramlist --tsv FILE...      the same, fields separated by tabs\n"),
    Option("from-json")
        .takes([](Request& request, const char* input) { request.input = input; })
        .chooses(Request::FromJson, {mode::fromJson, 0, 0, 1})
        .inSynopsis("  paramlist --from-json INPUT -o OUTPUT [--force]\n"
                    "                               write the image that a JSON object describes\n"),
    Option("diff")
        .chooses(Request::Diff, {mode::diff, 2, many, troubleStatus})
        .inSynopsis("  paramlist --diff [--json | --brief [-z]] [-H] REFERENCE FILE...\n"
                    "                               the entries whose values differ from REFERENCE\n"),
    Option("brief")
        .does([](Request& request, const char*) { request.brief = true; })
        .goesWith(Request::Diff)
        .notWith("json"),
    Option("check")
        .chooses(Request::Check, {mode::check, 1, many, troubleStatus})
        .inSynopsis("  paramlist --check [--json] FILE...\n"
                    "                               what is unsound in each file\n"),
    Option("set")
        .takes([](Request& request, const char* assignment) { request.assignments.push_back(assignment); })
        .chooses(Request::Set, {mode::set, 1, many, troubleStatus})
        .inSynopsis("  paramlist --set ENTRY=VALUE [--set ENTRY=VALUE]... [--create] [-n] FILE...\n"
                    "                               change entries in place, nothing else\n"),
    Option("create")
        .does([](Request& request, const char*) { request.create = true; })
        .goesWith(Request::Set, Request::Edit),
    Option("apply")
        .takes([](Request& request, const char* input) { request.input = input; })
        .chooses(Request::Apply, {mode::apply, 0, 1, troubleStatus})
        .inSynopsis("  paramlist --apply INPUT [-n] [FILE]\n"
                    "                               set the entries whose values INPUT changes\n"),
    Option("edit")
        .chooses(Request::Edit, {mode::edit, 1, 1, 1})
        .inSynopsis("  paramlist --edit FILE        change entries in your editor\n"),
    Option("dry-run", 'n')
        .does([](Request& request, const char*) { request.dryRun = true; })
        .goesWith(Request::Set, Request::Apply)
        .inOptions("  -n, --dry-run        show what --set or --apply would change; write nothing\n"),
    Option("entries")
        .chooses(Request::Entries, {mode::entries, 1, many, 1})
        .inSynopsis("  paramlist --entries [-H] FILE...\n"
                    "                               every entry on a line of its own, for text diffs\n"),
    Option("get")
        .takes([](Request& request, const char* entry) { request.wanted.push_back(entry); })
        .chooses(Request::Get, {mode::get, 1, many, 1})
        .inSynopsis("  paramlist --get ENTRY [--get ENTRY]... [-H] FILE...\n"
                    "                               the value of each entry, as --json writes it\n"),
    Option("merge")
        .chooses(Request::Merge, {mode::merge, 3, 3, troubleStatus})
        .inSynopsis("  paramlist --merge [--ours | --theirs] [--path=PATH] BASE OURS THEIRS\n"
                    "                               merge the changes of THEIRS into OURS\n"),
    Option("output", 'o')
        .takes([](Request& request, const char* output) { request.output = output; })
        .goesWith(Request::FromJson)
        .inOptions("  -o, --output=OUTPUT  the file --from-json writes (- for standard output)\n"),
    Option("ours").picks(Request::Ours).goesWith(Request::Merge),
    Option("theirs").picks(Request::Theirs).goesWith(Request::Merge),
    Option("path").takes([](Request& request, const char* path) { request.path = path; }).goesWith(Request::Merge),
    Option("files0-from")
        .takes([](Request& request, const char* list) { request.fileList = list; })
        .goesWith(Request::Json, Request::Csv, Request::Tsv, Request::Diff, Request::Check, Request::Set,
                  Request::Entries, Request::Get)
        .inOptions("      --files0-from=F  read the FILEs from F (- for standard input), each name\n"
                   "                       ended by a zero byte\n"),
    Option("null", 'z')
        .does([](Request& request, const char*) { request.nullEnded = true; })
        .goesWith(Request::Diff)
        .needs("brief")
        .inOptions("  -z, --null           with --diff --brief, end each path with a zero byte\n"),
    Option("with-filename", 'H')
        .does([](Request& request, const char*) { request.withFilename = true; })
        .goesWith(Request::Diff, Request::Entries, Request::Get)
        .inOptions("  -H, --with-filename  begin every line with FILE: even for one FILE\n"),
    Option("force")
        .does([](Request& request, const char*) { request.force = true; })
        .goesWith(Request::FromJson, Request::Set, Request::Merge, Request::Apply, Request::Edit)
        .inOptions("      --force          with -o -, write the image to a terminal too; with an\n"
                   "                       edit, edit a file that is not 3950 bytes long\n"),
    Option("wait")
        .takes([](Request& request, const char* seconds) {
            request.wait = seconds;
            request.waitSeconds = secondsIn(seconds);
        })
        .goesWith(Request::FromJson, Request::Set, Request::Merge, Request::Apply, Request::Edit)
        .inOptions("      --wait=SECONDS   give a file up when its edit lock is held that long\n"),
    Option("schema")
        .takes([](Request& request, const char* schema) { request.schema = schema; })
        .goesWith(Request::Check)
        .notWith("no-schema")
        .inOptions("      --schema=S       describe the entries of every FILE by the schema S\n"),
    Option("no-schema")
        .does([](Request& request, const char*) { request.noSchema = true; })
        .goesWith(Request::Check)
        .inOptions("      --no-schema      describe them by none, not even the nearest paramlist.toml\n"),
    Option("help", 'h')
        .answers([] { return finishStandardOutput(usageText()) ? 0 : 1; })
        .inOptions("  -h, --help           show this help and exit\n"),
    Option("version", 'V')
        .answers([] { return finishStandardOutput("paramlist " PARAMLIST_VERSION "\n") ? 0 : 1; })
        .inOptions("  -V, --version        show the version and exit\n"),
};

constexpr ModeRun listingRun{mode::listing, 1, many, 1};

const char usageStart[] = R"(Usage: paramlist [OPTION]... FILE...
Show what a parameter file (the 3950-byte image of one parameter set) holds.

  paramlist FILE               list the non-zero entries, set flags and names
)";

const char usageEnd[] = R"(
ENTRY is Table[INDEX], as in Operations[10]; VALUE is written as --json
writes it. A FILE or INPUT of - is standard input. Options come before the
first FILE; -- ends them. Exit status: 0 on success; 1 when a file cannot be
read or written, for --edit when it is cancelled or meets a conflict, and for
--diff, --check, --merge and --dry-run when the files differ, a finding was
printed, a conflict is left or something would change; 2 for a usage error or
a --files0-from list that cannot be opened, for input that --apply or --edit
cannot read, and for --diff, --check, --merge and --dry-run when a file cannot
be read.
See paramlist(1).
)";

// The option as messages name it: its short form if it has one.
std::string shown(const Option& row)
{
    return row.letter != '\0' ? std::string{'-', row.letter} : "--" + std::string(row.name);
}

// The options for which chosen holds, as "A, B and C" (last "and") or
// "A or B or C" (last "or").
template <typename Chosen> std::string listed(Chosen chosen, const char* between, const char* last)
{
    auto left = std::count_if(std::begin(table), std::end(table), chosen);
    std::string names;
    for (const Option& row : table) {
        if (chosen(row)) {
            --left;
            names += (names.empty() ? "" : left == 0 ? last : between) + shown(row);
        }
    }
    return names;
}

template <typename Among> int chooseOneOf(Among among)
{
    return usageError("choose one of " + listed(among, ", ", " and "));
}

bool choosesMode(const Option& row)
{
    return row.mode != Request::Listing;
}

// getopt_long's code for the row: its short form, or a number past every character.
int codeOf(const Option& row)
{
    return row.letter != '\0' ? row.letter : 256 + static_cast<int>(&row - table);
}

// The row wanted picks out, or nullptr.
template <typename Wanted> const Option* findRow(Wanted wanted)
{
    const Option* row = std::find_if(std::begin(table), std::end(table), wanted);
    return row != std::end(table) ? row : nullptr;
}

const Option* rowOf(int code)
{
    return findRow([code](const Option& row) { return codeOf(row) == code; });
}

const Option* rowNamed(const char* name)
{
    return findRow([name](const Option& row) { return std::strcmp(row.name, name) == 0; });
}

const Option* rowChoosing(Request::Mode mode)
{
    return findRow([mode](const Option& row) { return choosesMode(row) && row.mode == mode; });
}

// The usage error for the option getopt_long has just refused in word, the
// command-line word it was reading. A word such as -dash.par is more often a
// file whose name starts with a dash than a run of options, so the message
// names the word and how to pass such a file.
int refusedOption(const char* word, const option* options)
{
    const bool longOption = std::strncmp(word, "--", 2) == 0;
    const Option* known = rowOf(optopt);
    if (!longOption) {
        if (known != nullptr && known->takesArgument) {
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

// The rules that hold once every option is read: the mode an option such as
// --json chooses when no other is chosen, the options that cannot be given
// together, and the modes each option goes with.
int checkCompanions(const bool (&given)[std::size(table)], Request& request)
{
    for (const Option& row : table) {
        if (given[&row - table] && choosesMode(row) && request.mode == Request::Listing) {
            request.mode = row.mode;
        }
    }
    for (const Option& row : table) {
        const Option* rival = row.rival != nullptr ? rowNamed(row.rival) : nullptr;
        if (given[&row - table] && rival != nullptr && given[rival - table]) {
            return chooseOneOf([&](const Option& named) { return &named == &row || &named == rival; });
        }
    }
    for (const Option& row : table) {
        const unsigned allowed = row.companions | (choosesMode(row) ? modeBit(row.mode) : 0);
        if (given[&row - table] && row.companions != 0 && (allowed & modeBit(request.mode)) == 0) {
            return usageError(shown(row) + " goes with " +
                              listed(
                                  [&](const Option& other) {
                                      return choosesMode(other) && (row.companions & modeBit(other.mode)) != 0;
                                  },
                                  " or ", " or "));
        }
    }
    for (const Option& row : table) {
        const Option* partner = row.partner != nullptr ? rowNamed(row.partner) : nullptr;
        if (given[&row - table] && partner != nullptr && !given[partner - table]) {
            return usageError(shown(row) + " goes with " + shown(*partner));
        }
    }
    return -1;
}

} // namespace

int parseCommandLine(int argc, char** argv, Request& request)
{
    option options[std::size(table) + 1] = {};
    std::string letters = "+";
    for (const Option& row : table) {
        options[&row - table] = {row.name, row.takesArgument ? required_argument : no_argument, nullptr, codeOf(row)};
        if (row.letter != '\0') {
            letters += row.takesArgument ? std::string{row.letter, ':'} : std::string{row.letter};
        }
    }
    bool given[std::size(table)] = {};
    opterr = 0;
    // getopt_long moves optind past a word only once it has read all of it,
    // so the word it reads is the one at optind when it is called.
    for (int reading = optind, code; (code = getopt_long(argc, argv, letters.c_str(), options, nullptr)) != -1;
         reading = optind) {
        const Option* row = rowOf(code);
        if (row == nullptr) {
            return refusedOption(argv[reading], options);
        }
        if (row->answer != nullptr) {
            return row->answer();
        }
        given[row - table] = true;
        if (row->side != Request::Neither) {
            if (request.side != Request::Neither && request.side != row->side) {
                return chooseOneOf([](const Option& other) { return other.side != Request::Neither; });
            }
            request.side = row->side;
        }
        if (row->effect != nullptr) {
            row->effect(request, optarg);
        }
        // --json, which goes with other modes too, chooses its own only once all are read.
        if (choosesMode(*row) && row->companions == 0) {
            if (request.mode != Request::Listing && request.mode != row->mode) {
                return chooseOneOf(choosesMode);
            }
            request.mode = row->mode;
        }
    }
    request.operands = argv + optind;
    request.count = argc - optind;
    return checkCompanions(given, request);
}

const ModeRun& chosenMode(const Request& request)
{
    const Option* row = rowChoosing(request.mode);
    return row != nullptr ? row->run : listingRun;
}

int checkOperands(const Request& request)
{
    const bool apply = request.mode == Request::Apply;
    if ((apply || (request.mode == Request::FromJson && (request.output == nullptr || request.count > 0))) &&
        looksLikeOption(request.input)) {
        return usageError((apply ? "--apply took '" : "--from-json took '") + std::string(request.input) +
                          (apply ? "' as its INPUT; write the other options first: --dry-run --apply INPUT [FILE]"
                                 : "' as its INPUT; write --from-json INPUT -o OUTPUT"));
    }
    if (request.mode == Request::FromJson && request.output == nullptr) {
        return usageError("--from-json needs -o OUTPUT");
    }
    if (std::isnan(request.waitSeconds)) {
        return usageError(std::string("--wait='") + request.wait +
                          "': give the seconds to wait for a file's edit lock, as in --wait=30");
    }
    if (request.json && !request.dryRun && (request.mode == Request::Set || request.mode == Request::Apply)) {
        return usageError("--json goes with --set and --apply only with --dry-run");
    }
    const ModeRun& mode = chosenMode(request);
    // The list takes the place of FILE..., the operands that are many.
    const int fewest = request.fileList != nullptr ? std::max(0, mode.fewest - 1) : mode.fewest;
    const int most = request.fileList != nullptr ? fewest : mode.most;
    if (request.count < fewest) {
        const Option* row = rowChoosing(request.mode);
        return usageError(row == nullptr ? std::string("missing operand")
                                         : "missing operand after '" + shown(*row) + "'");
    }
    if (most >= 0 && request.count > most) {
        return usageError(std::string("extra operand '") + request.operands[most] + "'" +
                          (request.fileList != nullptr ? ": FILE operands cannot be given with --files0-from" : ""));
    }
    return -1;
}

std::string usageText()
{
    std::string text = usageStart;
    for (const Option& row : table) {
        text += row.synopsis;
    }
    text += '\n';
    for (const Option& row : table) {
        text += row.line;
    }
    return text + usageEnd;
}

std::vector<std::string> optionWords()
{
    std::vector<std::string> words;
    for (const Option& row : table) {
        words.push_back("--" + std::string(row.name));
        if (row.letter != '\0') {
            words.push_back(shown(row));
        }
    }
    return words;
}
