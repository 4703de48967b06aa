// The files a mode works through, from its operands or a --files0-from list,
// and running the mode over them a batch at a time, on two threads, with the
// output written in file order.
#ifndef PARAMLIST_BATCHES_H
#define PARAMLIST_BATCHES_H

#include "findings.h"
#include "input_files.h"
#include "request.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class Parameter;

// Names taken at once. A name that cannot be a file's is a null pointer in
// names, and its diagnostic is the next of refusals: the mode reports it in
// its place, as it would a file that could not be read.
struct NameBatch {
    std::vector<char*> names;
    std::vector<std::string> refusals;
    // The names' bytes, each ended by a zero, when they come from a list.
    std::string bytes;
};

// The files of a mode that takes many: its operands, or the names of a list,
// read a batch at a time so that a list of any length costs the memory of
// one batch.
class FileNames
{
public:
    // The names in list, or on standard input for "-", each ended by a zero
    // byte (the last one maybe by the end of the list); without a list, the
    // count operands.
    FileNames(const char* list, char* const* operands, int count);
    FileNames(const FileNames&) = delete;
    FileNames& operator=(const FileNames&) = delete;

    // Whether the names come from a list, where their number is not known
    // before the last: the modes then say which file each line is about.
    bool listed() const { return list.has_value(); }
    // "" when the names can be read, otherwise the diagnostic of the list
    // that could not be opened.
    const std::string& failure() const { return openFailure; }

    // Replaces what batch holds by the next names, at most most of them;
    // false when none are left. An empty name is refused; so is "-" in a list
    // read from standard input, which the list itself is reading. A list that
    // cannot be read further ends with its read error as a refusal, and so
    // does one whose name runs past the longest path a file can have: an
    // endless one is not held, and a list of names ended by newlines, not
    // zeros, is no list.
    bool next(std::size_t most, NameBatch& batch);

private:
    // Appends the next name's bytes to to; false at the end of the list, on
    // a read error, which readError then holds, or at a name too long to be
    // a path, which overlong then says.
    bool readName(std::string& to);

    char* const* operands = nullptr;
    int remaining = 0;

    const char* listPath = nullptr;
    std::optional<InputFile> list;
    std::string openFailure;
    std::vector<char> buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool listEnded = false;
    int readError = 0;
    bool overlong = false;
    // How many names of the list were read, to say which one was refused.
    unsigned long number = 0;
};

// What a mode makes of a run of files: its standard output, the diagnostics
// of files it could not read, and the exit status of the run.
struct Batch {
    std::string out;
    std::string diagnostics;
    int status = 0;

    // A mode whose lines are many and made of pieces writes them straight
    // into the batch's tail, which follows out, through a pointer: a string
    // would fill its room with zeros before each file, or copy the lines in
    // after it. reserveTail returns where to write at least most bytes;
    // commitTail keeps what was written up to end.
    char* reserveTail(std::size_t most);
    void commitTail(const char* end) { tailLength = static_cast<std::size_t>(end - tailBuffer.data()); }
    // The tail is the first tailLength bytes of tailBuffer.
    std::vector<char> tailBuffer;
    std::size_t tailLength = 0;
};

// Names a batch takes: enough to keep both threads busy, few enough that a
// batch's files stay in the cache.
constexpr std::size_t batchFiles = 128;

// Runs work over the files of names a batch at a time and writes each
// batch's output and diagnostics in file order. Over many files a second
// thread works beside this one, each taking the next batch when it is free,
// since formatting, not reading, is most of the cost; where no thread can be
// started, or the descriptor limit leaves room for one batch at a time,
// every batch is worked on in turn on this one. work is given an empty batch whose buffers keep their room
// from batch to batch, and may hold what the mode shares by every batch (two
// run at once). A refused name counts as a file that could not be read,
// whose status is unreadStatus. Returns the highest status of any batch, or
// 2 after reporting a list that could not be opened.
using BatchWork = std::function<void(Batch&, char* const*, int)>;
int runInBatches(FileNames& names, const BatchWork& work, int unreadStatus);

// The work of a mode that writes what each file holds, given what it holds.
using ReadWork = std::function<void(Batch&, const char* file, const FileContents& contents)>;

// Runs work over what each file of names holds, read through reads, as
// runInBatches runs a mode. A file that cannot be read, or whose work memory
// cannot hold, gets its diagnostic and unreadStatus, and whatever its work
// wrote is taken back.
int runOverReads(FileNames& names, const FileReads& reads, const ReadWork& work, int unreadStatus);

// The work of a mode that writes what each file holds: given the file, how
// many bytes of the image it held, and its record.
using RecordWork = std::function<void(Batch&, const char* file, std::size_t length, const Parameter& record)>;

// Runs work over the record of each file of names, as runOverReads runs a
// mode. A file that is not 3950 bytes long is worked on all the same, and
// reported as not a parameter file with unreadStatus, unless force.
int runOverRecords(FileNames& names, const FileReads& reads, bool force, const RecordWork& work, int unreadStatus);

// The same for a mode whose operands are its files, each read once, with
// --force from request and status 1 for a file that cannot be read.
int runOverRecords(FileNames& names, const Request& request, const RecordWork& work);

// The work of a mode that takes in what every file holds rather than writing
// what each does: given each file and what it holds, in file order.
using ContentsWork = std::function<void(const char* file, const FileContents& contents)>;

// Reads the files of names through reads, a batch on a second thread
// while work takes in the batch before on this one, so that
// work sees every file in file order and is never run on two at once. A file
// that cannot be read, and a refused name, gets its diagnostic in its place
// and status unreadStatus. Returns the highest status, or 2 after reporting a
// list that could not be opened.
int runOverContents(FileNames& names, const FileReads& reads, const ContentsWork& work, int unreadStatus);

// How many of wanted tasks, each holding at most descriptorsEach open
// descriptors at once, fit side by side in what the descriptor limit
// (ulimit -n) leaves free now; at least one.
int sideBySide(int wanted, int descriptorsEach);

#endif
