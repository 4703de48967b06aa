// The option table, and the rules made from it: getopt_long's options, which
// options go together, the operands each mode takes. --help (usage.cpp), the
// manual's synopsis and the completions (generate.cpp) are made from it too.
// A new option is a new row.
#include "command_line.h"

#include "diagnostics.h"
#include "generate.h"
#include "input_files.h"
#include "modes.h"
#include "option_row.h"
#include "refused_option.h"
#include "standard_output.h"
#include "usage.h"

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

int showUsage(const char*);
int showGenerated(const char* what);

// The rows in the order getopt_long tries them, which is the order that a
// refused abbreviation names its candidates in, and --help its lines in.
constexpr Option table[] = {
    Option("json")
        .does([](Request& request, const char*) { request.json = true; })
        .chooses(Request::Json, {mode::json, 1, many, 1}, "FILE...")
        .goesWith(Request::Diff, Request::Check, Request::Set, Request::Apply, Request::Summary)
        .needs("dry-run", Request::Set, Request::Apply)
        .says("one JSON object per file, one per line, lossless"),
    // --tsv is --csv with other separators and escapes: one mode, csv.cpp.
    Option("csv")
        .chooses(Request::Csv, {mode::csv, 1, many, 1}, "FILE...")
        .says("a row per file after a header, for spreadsheets"),
    Option("tsv")
        .chooses(Request::Tsv, {mode::csv, 1, many, 1}, "FILE...")
        .says("the same as --csv, fields separated by tabs"),
    Option("from-json")
        .takes("INPUT", Completes::JsonInput, [](Request& request, const char* input) { request.input = input; })
        .chooses(Request::FromJson, {mode::fromJson, 0, 0, 1}, "")
        .says("write the image that a JSON object describes"),
    Option("diff")
        .chooses(Request::Diff, {mode::diff, 2, many, troubleStatus}, "REFERENCE FILE...")
        .says("the entries whose values differ from REFERENCE"),
    Option("brief")
        .does([](Request& request, const char*) { request.brief = true; })
        .goesWith(Request::Diff)
        .notWith("json")
        .says("only the paths of the files that differ"),
    Option("check")
        .chooses(Request::Check, {mode::check, 1, many, troubleStatus}, "FILE...")
        .says("what is unsound in each file"),
    Option("summary")
        .chooses(Request::Summary, {mode::summary, 1, many, troubleStatus}, "FILE...")
        .says("the entries that vary across the files, and how"),
    Option("html")
        .does([](Request& request, const char*) { request.html = true; })
        .goesWith(Request::Summary)
        .notWith("json")
        .says("the summary as an HTML page: a heat map, bars, findings"),
    Option("init-schema")
        .chooses(Request::InitSchema, {mode::initSchema, 1, many, troubleStatus}, "FILE...")
        .says("a schema to start from, with the limits the files hold"),
    Option("set")
        .takesEach("ENTRY=VALUE", Completes::EntryName,
                   [](Request& request, const char* assignment) { request.assignments.push_back(assignment); })
        .chooses(Request::Set, {mode::set, 1, many, troubleStatus}, "FILE...")
        .says("change entries in place, nothing else"),
    Option("create")
        .does([](Request& request, const char*) { request.create = true; })
        .goesWith(Request::Set, Request::Edit)
        .says("create a missing FILE from the start image"),
    Option("apply")
        .takes("INPUT", Completes::JsonInput, [](Request& request, const char* input) { request.input = input; })
        .chooses(Request::Apply, {mode::apply, 0, 1, troubleStatus}, "[FILE]")
        .says("set the entries whose values INPUT changes"),
    Option("edit").chooses(Request::Edit, {mode::edit, 1, 1, 1}, "FILE").says("change entries in your editor"),
    Option("dry-run", 'n')
        .does([](Request& request, const char*) { request.dryRun = true; })
        .goesWith(Request::Set, Request::Apply)
        .says("show what would change; write nothing"),
    Option("entries")
        .chooses(Request::Entries, {mode::entries, 1, many, 1}, "FILE...")
        .says("every entry on a line of its own, for text diffs"),
    Option("get")
        .takesEach("ENTRY", Completes::EntryName,
                   [](Request& request, const char* entry) { request.wanted.push_back(entry); })
        .chooses(Request::Get, {mode::get, 1, many, 1}, "FILE...")
        .says("the value of each entry, as --json writes it"),
    Option("merge")
        .chooses(Request::Merge, {mode::merge, 3, 3, troubleStatus}, "BASE OURS THEIRS")
        .says("merge the changes of THEIRS into OURS"),
    Option("output", 'o')
        .takes("OUTPUT", Completes::ParFile, [](Request& request, const char* output) { request.output = output; })
        .goesWith(Request::FromJson)
        .requiredBy(Request::FromJson)
        .says("the file to write (- for standard output)"),
    Option("ours").picks(Request::Ours).goesWith(Request::Merge).says("resolve every conflict as OURS has it"),
    Option("theirs").picks(Request::Theirs).goesWith(Request::Merge).says("resolve every conflict as THEIRS has it"),
    Option("path")
        .takes("PATH", Completes::ParFile, [](Request& request, const char* path) { request.path = path; })
        .goesWith(Request::Merge)
        .says("the name that conflicts are reported under"),
    Option("files0-from")
        .takes("F", Completes::AnyFile, [](Request& request, const char* list) { request.fileList = list; })
        .goesWith(Request::Json, Request::Csv, Request::Tsv, Request::Diff, Request::Check, Request::Set,
                  Request::Entries, Request::Get, Request::Summary, Request::InitSchema)
        .says("read the FILEs from F, each name ended by a zero byte"),
    Option("null", 'z')
        .does([](Request& request, const char*) { request.nullEnded = true; })
        .goesWith(Request::Diff)
        .needs("brief")
        .says("end each path with a zero byte"),
    Option("with-filename", 'H')
        .does([](Request& request, const char*) { request.withFilename = true; })
        .goesWith(Request::Diff, Request::Entries, Request::Get)
        .says("begin every line with FILE: even for one FILE"),
    Option("raw", 'r')
        .does([](Request& request, const char*) { request.raw = true; })
        .goesWith(Request::Get)
        .says("print a name as its text, not as JSON"),
    Option("force")
        .does([](Request& request, const char*) { request.force = true; })
        .goesWith(Request::FromJson, Request::Set, Request::Merge, Request::Apply, Request::Edit, Request::Summary,
                  Request::Json, Request::Csv, Request::Tsv, Request::Get, Request::Entries, Request::Diff,
                  Request::InitSchema)
        .says("with -o -, write the image to a terminal too; with an edit, edit a file that is not 3950 bytes "
              "long; with a read, read one without reporting it"),
    Option("wait")
        .takes("SECONDS", Completes::Seconds,
               [](Request& request, const char* seconds) {
                   request.wait = seconds;
                   request.waitSeconds = secondsIn(seconds);
               })
        .goesWith(Request::FromJson, Request::Set, Request::Merge, Request::Apply, Request::Edit)
        .says("give a file up when its edit lock is held that long"),
    Option("schema")
        .takes("S", Completes::TomlFile, [](Request& request, const char* schema) { request.schema = schema; })
        .goesWith(Request::Check, Request::Set, Request::Get, Request::Apply, Request::Edit, Request::Entries,
                  Request::Diff, Request::Csv, Request::Tsv, Request::Summary)
        .notWith("no-schema")
        .says("describe the entries of every FILE by the schema S"),
    Option("no-schema")
        .does([](Request& request, const char*) { request.noSchema = true; })
        .goesWith(Request::Check, Request::Set, Request::Get, Request::Apply, Request::Edit, Request::Entries,
                  Request::Diff, Request::Csv, Request::Tsv, Request::Summary)
        .says("describe them by none, not even the nearest paramlist.toml"),
    Option("help", 'h').answers(showUsage).says("show this help and exit"),
    Option("version", 'V')
        .answers([](const char*) { return finishStandardOutput("paramlist " PARAMLIST_VERSION "\n") ? 0 : 1; })
        .says("show the version and exit"),
    Option("generate")
        .takes("FORMAT", Completes::Nothing, nullptr)
        .answers(showGenerated)
        .unlisted()
        .says("print the manual's synopsis and option tags, or a shell's completion"),
};

static_assert(everyRow(table,
                       [](const Option& row) { return namesARow(table, row.rival) && namesARow(table, row.partner); }),
              "notWith and needs name rows of the table");
static_assert(everyRow(table, [](const Option& row) { return row.summary != nullptr; }),
              "every row says what it is for");
static_assert(everyRow(table,
                       [](const Option& row) {
                           return (row.argument != nullptr) == (row.completes != Completes::Nothing || row.hidden);
                       }),
              "an option that takes an argument says how to complete it");

constexpr ModeRun listingRun{mode::listing, 1, many, 1};

constexpr Rows rows{std::begin(table), std::end(table)};

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

using Given = bool[std::size(table)];

// The rules that hold once every option is read: the mode an option such as
// --json chooses when no other is chosen, the options that cannot be given
// together, and the modes each option goes with.
int checkCompanions(const Given& given, Request& request)
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
        if (given[&row - table] && partner != nullptr && row.partnerModes == 0 && !given[partner - table]) {
            return usageError(shown(row) + " goes with " + shown(*partner));
        }
    }
    return -1;
}

const ModeRun& modeRun(Request::Mode mode)
{
    const Option* row = rowChoosing(mode);
    return row != nullptr ? row->run : listingRun;
}

// The rules that the operands, and the mode, make: after every option is read
// and checked, since an option may be taken for another's argument.
int checkOperands(const Given& given, const Request& request)
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
    for (const Option& row : table) {
        const Option* partner = row.partner != nullptr ? rowNamed(row.partner) : nullptr;
        if (given[&row - table] && partner != nullptr && (row.partnerModes & modeBit(request.mode)) != 0 &&
            !given[partner - table]) {
            return usageError("--" + std::string(row.name) + " goes with " +
                              listed(
                                  [&](const Option& other) {
                                      return choosesMode(other) && (row.partnerModes & modeBit(other.mode)) != 0;
                                  },
                                  ", ", " and ") +
                              " only with --" + partner->name);
        }
    }
    // The list is what standard input holds, so no operand can be standard input too.
    if (request.fileList != nullptr && namesStandardInput(request.fileList)) {
        const auto input = std::find_if(request.operands, request.operands + request.count, namesStandardInput);
        if (input != request.operands + request.count) {
            return usageError(std::string("'") + *input + "' is standard input, which --files0-from=" +
                              request.fileList + " reads the file names from");
        }
    }
    const ModeRun& mode = modeRun(request.mode);
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

int showUsage(const char*)
{
    return finishStandardOutput(usageText(rows)) ? 0 : 1;
}

int showGenerated(const char* what)
{
    return generated(rows, what);
}

} // namespace

int parseCommandLine(int argc, char** argv, Request& request)
{
    for (const Option& row : table) {
        const std::string word = "--" + std::string(row.name) + "=";
        if (row.hidden && argc > 1 && word.compare(0, word.size(), argv[1], 0, word.size()) == 0) {
            return row.answer(argv[1] + word.size());
        }
    }
    option options[std::size(table) + 1] = {};
    option* next = options;
    std::string letters = "+";
    for (const Option& row : table) {
        const bool takes = row.argument != nullptr;
        if (!row.hidden) {
            *next++ = {row.name, takes ? required_argument : no_argument, nullptr, codeOf(row)};
        }
        if (row.letter != '\0') {
            letters += takes ? std::string{row.letter, ':'} : std::string{row.letter};
        }
    }
    Given given = {};
    opterr = 0;
    // getopt_long moves optind past a word only once it has read all of it,
    // so the word it reads is the one at optind when it is called.
    for (int reading = optind, code; (code = getopt_long(argc, argv, letters.c_str(), options, nullptr)) != -1;
         reading = optind) {
        const Option* row = rowOf(code);
        if (row == nullptr) {
            return refusedOption(argv[reading], options, optopt, rowOf(optopt));
        }
        if (row->answer != nullptr) {
            return row->answer(optarg);
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
    const int refused = checkCompanions(given, request);
    return refused >= 0 ? refused : checkOperands(given, request);
}

const ModeRun& chosenMode(const Request& request)
{
    return modeRun(request.mode);
}

std::string usageText()
{
    return usageText(rows);
}

std::vector<std::string> optionWords()
{
    std::vector<std::string> words;
    for (const Option& row : table) {
        if (row.hidden) {
            continue;
        }
        words.push_back("--" + std::string(row.name));
        if (row.letter != '\0') {
            words.push_back(shown(row));
        }
    }
    return words;
}
