// The files a mode reads: a path or standard input ("-"), and operands that
// name the same file, which are read once.
#ifndef PARAMLIST_INPUT_FILES_H
#define PARAMLIST_INPUT_FILES_H

#include <cstddef>
#include <string>
#include <vector>

class Parameter;

// Whether path names standard input.
bool isStandardInput(const char* path);

// A file open for reading: standard input for "-", otherwise path, opened as
// Parameter::openForReading does; closed when it goes out of scope.
class InputFile
{
public:
    explicit InputFile(const char* path);
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();
    // The descriptor, or -1 with errno set when the file could not be opened.
    int fd() const { return descriptor; }

private:
    int descriptor;
    bool owned;
};

// Reads a record from path, or from standard input for "-", printing nothing;
// errno says why it failed. length as for Parameter::read.
bool readRecord(Parameter& para, const char* path, std::size_t* length = nullptr);

// Reads all of path, or of standard input for "-", into text, but stops once
// it holds more than limit bytes, so that an endless input such as /dev/zero
// cannot exhaust memory; errno says why it failed.
bool readText(const char* path, std::string& text, std::size_t limit);

// Which operands name the same file, so that a mode reads each file once: a
// second read of standard input on a pipe or a terminal would find it empty.
// Operands spelled alike name the same file, and so do those that lead to
// the same device and inode. Learning that takes a stat of each operand,
// which would slow a run over many files by a sixth; so operands are looked
// at only where a second read would lose what the first took: when standard
// input is no regular file and an operand names it as "-", /dev/stdin,
// /dev/fd/0 or /proc/self/fd/0, or when everyOne asks for it, as a mode that
// edits what it names does (a stat is little next to an edit).
class RepeatedOperands
{
public:
    RepeatedOperands(char* const* operands, int count, bool everyOne = false);
    // The first operand that names what operand k names: k, when none before it does.
    int firstNaming(int k) const { return firsts[static_cast<std::size_t>(k)]; }

private:
    std::vector<int> firsts;
};

#endif
