// The modes beside the listing, one file each. Each returns the exit status
// of its run; standard output is closed by the caller.
#ifndef PARAMLIST_MODES_H
#define PARAMLIST_MODES_H

#include <cstddef>
#include <string>

class Parameter;

// --json FILE...: one JSON object a file, one a line, written to standard
// output as it goes (json.cpp).
int exportJson(char* const* files, int count);

// Appends the --json line of a record read from file, which held length bytes.
void appendRecordJson(std::string& out, const char* file, std::size_t length, const Parameter& para);

// --from-json INPUT -o OUTPUT: the image a JSON object describes (from_json.cpp).
int importJson(const char* input, const char* output);

// The reader behind --from-json: fills para from text, one JSON object as
// --json writes it; otherwise false, and problem says "LINE:COLUMN: what".
bool parseRecord(const std::string& text, Parameter& para, std::string& problem);

// --diff [--json] A B: the entries whose values differ (diff.cpp).
int diffFiles(const char* a, const char* b, bool json, std::string& out);

// --check FILE...: what is unsound in each file, written to standard output as
// it goes (check.cpp).
int checkFiles(char* const* files, int count);

// Statuses of --diff and --check, as diff and cmp have them.
constexpr int sameStatus = 0;
constexpr int foundStatus = 1;
constexpr int troubleStatus = 2;

#endif
