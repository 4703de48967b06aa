// What the command line asks for, as every mode is given it.
#ifndef PARAMLIST_REQUEST_H
#define PARAMLIST_REQUEST_H

#include <vector>

// What the command line asks for: the mode, the options that shape it, and
// the operands that follow the options. The option table (cli/) says which
// modes each option goes with; these comments say what it asks of them.
struct Request {
    enum Mode {
        Listing,
        Json,
        FromJson,
        Diff,
        Check,
        Set,
        Entries,
        Merge,
        Csv,
        Tsv,
        Get,
        Apply,
        Edit,
        Summary,
        InitSchema
    } mode = Listing;
    // --json in another mode: its output as JSON Lines instead of text.
    bool json = false;
    // --summary --html: the summary as an HTML page.
    bool html = false;
    // --diff --brief: only the paths of the files that differ.
    bool brief = false;
    // --diff --brief -z: each path ended by a zero byte, not a newline.
    bool nullEnded = false;
    // -H: every line names its file, however many files there are.
    bool withFilename = false;
    // --files0-from=LIST: the FILEs are the names LIST holds, not operands.
    const char* fileList = nullptr;
    // --create: a missing FILE is created from the start image.
    bool create = false;
    // --dry-run: what would change is shown, and nothing written.
    bool dryRun = false;
    // --merge --ours or --theirs: how every conflict is resolved; none: left to the user.
    enum Side { Neither, Ours, Theirs } side = Neither;
    // --merge --path=PATH: the name conflicts are reported under.
    const char* path = nullptr;
    // --force: with -o -, the image written to standard output even on a
    // terminal; in a mode that edits files, a file that is not 3950 bytes
    // long edited all the same; in a mode that reads many files, such a file
    // read without the report that it is not a parameter file.
    bool force = false;
    // --wait=SECONDS, for the modes that write files: the text given, and how long to
    // wait for a file's edit lock, read from it once; negative for as long as
    // it takes (no --wait), and NaN for a text that gives no seconds, which is
    // refused.
    const char* wait = nullptr;
    double waitSeconds = -1;
    // --schema=FILE: the schema of every file of the run; --no-schema: none.
    const char* schema = nullptr;
    bool noSchema = false;
    // The INPUT of a mode that reads one, and -o OUTPUT.
    const char* input = nullptr;
    const char* output = nullptr;
    // Every --set ENTRY=VALUE, in command-line order.
    std::vector<const char*> assignments;
    // Every --get ENTRY, in command-line order.
    std::vector<const char*> wanted;
    // --get -r: a name printed as its text, not as JSON.
    bool raw = false;
    char* const* operands = nullptr;
    int count = 0;
};

// Whether a command-line word looks like an option rather than a file.
bool looksLikeOption(const char* word);

// What every mode tells of such a word among the files.
constexpr char optionsGoFirst[] = "options go before the files";

#endif
