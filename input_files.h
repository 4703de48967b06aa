// The files a mode reads: a path or standard input ("-"), and operands that
// name the same file, which are read once.
#ifndef PARAMLIST_INPUT_FILES_H
#define PARAMLIST_INPUT_FILES_H

#include <cstddef>
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

// Which operands name the same file, so that a mode reads each file once: a
// second read of standard input or a pipe would find it empty. Operands name
// the same file when they lead to the same device and inode, whatever their
// spelling, as "-", /dev/stdin and /dev/fd/0 all lead to a piped standard
// input; an operand that leads nowhere is the same only as its own spelling.
class RepeatedOperands
{
public:
    RepeatedOperands(char* const* operands, int count);
    // The first operand that names what operand k names: k, when none before it does.
    int firstNaming(int k) const { return firsts[static_cast<std::size_t>(k)]; }

private:
    std::vector<int> firsts;
};

#endif
