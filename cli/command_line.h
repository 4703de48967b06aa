// The command line: what it asks for, read through the one option table in
// command_line.cpp, which also makes the usage rules and the text of --help.
#ifndef PARAMLIST_COMMAND_LINE_H
#define PARAMLIST_COMMAND_LINE_H

#include <string>
#include <vector>

// What the command line asks for: the mode, the options that shape it, and
// the operands that follow the options.
struct Request {
    enum Mode { Listing, Json, FromJson, Diff, Check, Set, Entries, Merge, Csv, Tsv, Get, Apply, Edit } mode = Listing;
    // --json with --diff, --check or --dry-run: JSON Lines instead of text.
    bool json = false;
    // --diff --brief: only the paths of the files that differ.
    bool brief = false;
    // --diff --brief -z: each path ended by a zero byte, not a newline.
    bool nullEnded = false;
    // -H: every line names its file, however many files there are.
    bool withFilename = false;
    // --files0-from=LIST: the FILEs are the names LIST holds, not operands.
    const char* fileList = nullptr;
    // --set (or --edit) ... --create: a missing FILE is created from the start image.
    bool create = false;
    // --set or --apply --dry-run: what would change is shown, and nothing written.
    bool dryRun = false;
    // --merge --ours or --theirs: how every conflict is resolved; none: left to the user.
    enum Side { Neither, Ours, Theirs } side = Neither;
    // --merge --path=PATH: the name conflicts are reported under.
    const char* path = nullptr;
    // --force: with --from-json -o -, the image written to standard output even
    // on a terminal; with --set and --merge, a file that is not 3950 bytes
    // long edited all the same.
    bool force = false;
    // --wait=SECONDS, for the modes that edit: the text given, and the seconds
    // it gives, how long to wait for a file's edit lock; negative for as long
    // as it takes (no --wait), and for a text that gives none, which is refused.
    const char* wait = nullptr;
    double waitSeconds() const;
    // --from-json (or --apply) INPUT, and -o OUTPUT.
    const char* input = nullptr;
    const char* output = nullptr;
    // Every --set ENTRY=VALUE, in command-line order.
    std::vector<const char*> assignments;
    // Every --get ENTRY, in command-line order.
    std::vector<const char*> wanted;
    char* const* operands = nullptr;
    int count = 0;
};

// How a mode runs: its function, how many operands it takes (most -1: any
// number), and its status when standard output cannot be written.
struct ModeRun {
    int (*run)(const Request&);
    int fewest;
    int most;
    int writeFailedStatus;
};

// Reads the options, which come before the first operand, into request.
// Returns -1 to go on, or the exit status when there is nothing more to do:
// after --help or --version, or a usage error.
int parseCommandLine(int argc, char** argv, Request& request);

// How the mode that request chose runs.
const ModeRun& chosenMode(const Request& request);

// Whether the operands suit the mode: -1 when they do, the usage error's
// status otherwise.
int checkOperands(const Request& request);

// Whether a command-line word looks like an option rather than a file.
bool looksLikeOption(const char* word);

// What every mode tells of such a word among the files.
constexpr char optionsGoFirst[] = "options go before the files";

// The text of --help.
std::string usageText();

// Every option as it is written on a command line: "--name", and "-x" for
// those with a short form.
std::vector<std::string> optionWords();

#endif
