// The files a mode reads: a path or standard input ("-"), what a file holds
// as a parameter file, and operands that name the same file, which are read
// once.
#ifndef PARAMLIST_INPUT_FILES_H
#define PARAMLIST_INPUT_FILES_H

#include "Parameter.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// Whether path names standard input as "-".
bool isStandardInput(const char* path);

// Whether path names standard input by any of its names: "-", /dev/stdin,
// /dev/fd/0 or /proc/self/fd/0.
bool namesStandardInput(const char* path);

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

// What a file holds: the bytes of the image it reaches, zeros where it ends
// short, and how many bytes follow the image.
struct FileContents {
    Parameter::Image bytes{};
    std::size_t held = 0;
    std::size_t excess = 0;
    // More than excess bytes follow: the file was not read to its end.
    bool excessCapped = false;

    const unsigned char* image() const { return bytes.data(); }
    // The file's length, as far as it was read.
    std::size_t length() const { return held + excess; }
    // A parameter file is the image, not a byte more or less.
    bool isParameterFile() const { return held == Parameter::FileBytes && excess == 0; }
};

// Reads path, or standard input for "-", into contents, in as few reads as a
// reader that must find where the file ends can make: one that takes the
// file (the image and up to 16 KiB past it) and one that finds its end. How
// many bytes follow the image is counted by reading where the size cannot be
// trusted (/proc, /sys, pipes; at most 1 MiB of them). False, errno set,
// when it cannot be read (EISDIR for a directory).
bool readContents(const char* path, FileContents& contents);

// What a read mode reports of a file that is not 3950 bytes long, the
// wording the edits refuse such a file with: "not a parameter file (N
// bytes, not 3950)".
std::string notParameterFile(const FileContents& contents);
std::string notParameterFile(std::size_t bytes);

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

// Reads the files a mode names, each once where a second read would lose
// what the first took: standard input, a pipe, a device. What more than one
// operand names (as RepeatedOperands tells) is then read before any other
// file and what it held given for each; a regular file is read for each of
// its names, as holding them all could take the memory of the fleet. In a
// list, standard input is read the first time it comes and given again
// after, and shared with an operand "-" (--diff's REFERENCE). Both threads
// of a run read through one FileReads.
class FileReads
{
public:
    FileReads(char* const* operands, int count, bool listed);
    FileReads(const FileReads&) = delete;
    FileReads& operator=(const FileReads&) = delete;

    // Reads file, an operand or a name of the list, into contents; false,
    // errno set, when it cannot be read.
    bool read(const char* file, FileContents& contents) const;

private:
    // A read done once: what the file held, or the errno it failed with.
    struct Once {
        FileContents contents;
        int reason = 0;
        void read(const char* path);
    };
    static bool give(const Once& once, FileContents& contents);

    // The reads of operands named more than once, by the operand's address,
    // which the batches are given.
    std::vector<Once> repeated;
    std::unordered_map<const char*, std::size_t> slots;
    // A list's names are not known before they come: of them, those that
    // name standard input where a second read would find it empty.
    bool listed;
    bool inputLosesReads = false;
    const Once* operandInput = nullptr;
    mutable std::once_flag listedInputRead;
    mutable Once listedInput;
};

#endif
