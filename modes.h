// The modes beside the listing, one file each, and the request that the
// command line makes of them. Each mode returns the exit status of its run;
// standard output is flushed and closed by the caller.
#ifndef PARAMLIST_MODES_H
#define PARAMLIST_MODES_H

#include <cstddef>
#include <string>
#include <vector>

class Parameter;

// What the command line asks for: the mode, the options that shape it, and
// the operands that follow the options.
struct Request {
    enum Mode { Listing, Json, FromJson, Diff, Check, Set, Entries, Merge } mode = Listing;
    // --json with --diff (or --check): JSON Lines instead of text.
    bool json = false;
    // --diff --brief: only the paths of the files that differ.
    bool brief = false;
    // --set ... --create: a missing FILE is created from the start image.
    bool create = false;
    // --merge --ours or --theirs: how every conflict is resolved; none: left to the user.
    enum Side { Neither, Ours, Theirs } side = Neither;
    // --merge --path=PATH: the name conflicts are reported under.
    const char* path = nullptr;
    // --from-json ... --force: the image written to standard output even on a terminal.
    bool force = false;
    // --from-json INPUT and -o OUTPUT.
    const char* input = nullptr;
    const char* output = nullptr;
    // Every --set ENTRY=VALUE, in command-line order.
    std::vector<const char*> assignments;
    char* const* operands = nullptr;
    int count = 0;
};

// --json FILE...: one JSON object a file, one a line, written to standard
// output as it goes (json.cpp).
int exportJson(const Request& request);

// Appends the --json line of a record read from file, which held length bytes.
void appendRecordJson(std::string& out, const char* file, std::size_t length, const Parameter& para);

// --from-json INPUT -o OUTPUT: the image a JSON object describes (from_json.cpp).
int importJson(const Request& request);

// The reader behind --from-json: fills para from text, one JSON object as
// --json writes it; otherwise false, and problem says "LINE:COLUMN: what".
bool parseRecord(const std::string& text, Parameter& para, std::string& problem);

// --diff [--json | --brief] REFERENCE FILE...: the entries whose values
// differ (diff.cpp).
int diffFiles(const Request& request);

// --check FILE...: what is unsound in each file, written to standard output as
// it goes (check.cpp).
int checkFiles(const Request& request);

// --set ENTRY=VALUE... FILE...: each file changed in the named entries'
// bytes alone, under a lock, and replaced atomically (set.cpp).
int setEntries(const Request& request);

// --entries FILE: every entry on a line of its own, for text diffs (entries.cpp).
int listEntries(const Request& request);

// --merge BASE OURS THEIRS: a three-way merge entry by entry into OURS (merge.cpp).
int mergeFiles(const Request& request);

#endif
