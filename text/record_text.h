// A record as more than one mode writes it: its --json line, its --entries
// text, and a line of a merge conflict.
#ifndef PARAMLIST_RECORD_TEXT_H
#define PARAMLIST_RECORD_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

class Parameter;
struct Entry;

// Appends the --json line of a record read from file, which held length bytes.
void appendRecordJson(std::string& out, const char* file, std::size_t length, const Parameter& para);

// Appends the --entries text of a record read from a file of length bytes,
// each line after prefix. What a schema says of the entries comes from the
// layer above, each by the entry's place in file order (Init[0] 0,
// Document[49] 299), or not at all (null): notes end the entries' lines,
// and lines before, each ended by a newline, are put above them.
void appendEntriesText(std::string& out, const std::string& prefix, std::size_t length, const Parameter& para,
                       const std::string* notes = nullptr, const std::string* linesBefore = nullptr);

// The same written through a pointer, for a mode that writes many files'
// text: each entry's "Table[i]: " is made once, and copied as a block.
class EntriesText
{
public:
    EntriesText();
    // The most that write takes.
    std::size_t room(std::size_t prefixLength, const std::string* notes, const std::string* linesBefore) const;
    // Writes the text at at, and returns its end.
    char* write(char* at, const std::string& prefix, std::size_t length, const Parameter& para,
                const std::string* notes, const std::string* linesBefore) const;

private:
    // Entry k's label starts at labelRoom * k, labelLengths[k] bytes of it.
    static constexpr std::size_t labelRoom = 32;
    std::vector<char> labels;
    std::vector<unsigned char> labelLengths;
};

// Appends --merge's line of a conflict, "PATH: Table[i]: base B, ours O, theirs T".
void appendConflict(std::string& out, const std::string& path, const Parameter& base, const Parameter& ours,
                    const Parameter& theirs, Entry entry);

#endif
