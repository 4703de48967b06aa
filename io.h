// What every mode does with files and streams: read a record from a path or
// from standard input ("-"), write standard output in large blocks, and
// report errors as "paramlist: PATH: reason" on standard error.
#ifndef PARAMLIST_IO_H
#define PARAMLIST_IO_H

#include "Parameter.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Exit statuses: a usage error is 2 in every mode.
constexpr int usageStatus = 2;

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, for
// writing on 0 and for reading on 1 and 2: reading "-" or writing standard
// output then fails with EBADF as it would on the closed descriptor, and no
// file the program opens lands on them. Exits with status 2 when it cannot.
void openStandardDescriptors();

// Whether descriptor fd is a terminal, where text is shown escaped.
bool isTerminal(int fd);

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

// Prints "paramlist: PATH: reason" on standard error. On a terminal every
// diagnostic is shown escaped (see appendVisible), so that a crafted path
// cannot drive it.
void reportError(const char* path, const std::string& reason);

// The same, with the reason errno gives.
void reportErrno(const char* path);

// The line "paramlist: message" as reportMessage prints it.
std::string diagnostic(const std::string& message);

// The line "paramlist: PATH: reason" with the reason errno gives, as
// reportErrno prints it.
std::string errnoDiagnostic(const char* path);

// Prints "paramlist: message" on standard error.
void reportMessage(const std::string& message);

// Prints "paramlist: message" and the hint to --help on standard error;
// returns the usage status.
int usageError(const std::string& message);

// What a mode makes of a run of files: its standard output, the diagnostics
// of files it could not read, and the exit status of the run.
struct Batch {
    std::string out;
    std::string diagnostics;
    int status = 0;

    // Room for at least most bytes after what out holds, to be written
    // through a pointer and kept with keep: a mode whose lines are many and
    // made of pieces writes them there, straight into the batch's output,
    // where a string would fill the room with zeros before each file or
    // copy the lines in after it.
    char* room(std::size_t most);
    // Keeps what was written into room up to end; it follows out.
    void keep(const char* end) { roomUsed = static_cast<std::size_t>(end - roomBytes.data()); }
    // What was kept, written after out.
    std::size_t roomUsed = 0;
    std::vector<char> roomBytes;
};

// Runs work over files a batch at a time and writes each batch's output and
// diagnostics in file order. Over many files a second thread works on every
// other batch, since formatting, not reading, is most of the cost. work is
// given an empty batch whose buffers keep their room from batch to batch,
// and may hold what the mode shares by every batch (two run at once).
// Returns the highest status of any batch.
using BatchWork = std::function<void(Batch&, char* const*, int)>;
int runInBatches(char* const* files, int count, const BatchWork& work);

// Writes out to standard output, then flushes and closes standard output:
// a full disk or a closed descriptor shows up only then. Returns false after
// reporting a write error: output that could not be written, never a closed
// standard output that nothing was written to.
bool finishStandardOutput(const std::string& out);

#endif
