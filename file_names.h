// The files a mode works through: its operands, or the NUL-ended names of a
// --files0-from list, read a batch at a time so that a list of any length
// costs the memory of one batch.
#ifndef PARAMLIST_FILE_NAMES_H
#define PARAMLIST_FILE_NAMES_H

#include "io.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Names taken at once. A name that cannot be a file's is a null pointer in
// names, and its diagnostic is the next of refusals: the mode reports it in
// its place, as it would a file that could not be read.
struct NameBatch {
    std::vector<char*> names;
    std::vector<std::string> refusals;
    // The names' bytes, each ended by a zero, when they come from a list.
    std::string bytes;
};

class FileNames
{
public:
    // The operands given on the command line.
    FileNames(char* const* operands, int count);
    // The names listed in the file list, or on standard input for "-": each
    // ended by a zero byte, the last one maybe by the end of the list.
    explicit FileNames(const char* list);
    FileNames(const FileNames&) = delete;
    FileNames& operator=(const FileNames&) = delete;

    // Whether the list could be opened; errno says why not.
    bool opened() const { return !list || list->fd() >= 0; }

    // Replaces what batch holds by the next names, at most most of them;
    // false when none are left. An empty name is refused; so is "-" in a list
    // read from standard input, which the list itself is reading. A list that
    // cannot be read further ends with its read error as a refusal.
    bool next(std::size_t most, NameBatch& batch);

private:
    // Appends the next name's bytes to to; false at the end of the list or
    // on a read error, which error then holds.
    bool readName(std::string& to);

    char* const* operands = nullptr;
    int remaining = 0;

    const char* listPath = nullptr;
    std::optional<InputFile> list;
    std::vector<char> buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool listEnded = false;
    int error = 0;
    // How many names of the list were read, to say which one was refused.
    unsigned long number = 0;
};

#endif
