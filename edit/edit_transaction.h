// The one edit transaction of every mode that changes a file in place (--set,
// --merge, --from-json -o, --apply, --edit): refuse what cannot be edited,
// take the edit lock, read the file whole, change its bytes, replace it under
// the lock, start again when the path came to lead to another file, and word
// each failure one way; and, unless --force, refuse an entry set outside its
// schema.
#ifndef PARAMLIST_EDIT_TRANSACTION_H
#define PARAMLIST_EDIT_TRANSACTION_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class FileNames;
class Schema;

// What a change did to the bytes it was given.
enum class Change {
    // The bytes are to replace the file's.
    Made,
    // The bytes are the file's: it is left as it is, unless it was short.
    None,
};

// Changes bytes, the file's whole contents, in place. It is called under the
// lock, once for each attempt, so it starts from what it is given each time.
using ChangeFunction = std::function<Change(std::vector<unsigned char>& bytes)>;

// How a mode edits.
struct EditSettings {
    explicit EditSettings(const char* mode) : option(mode) {}
    // The mode's option, named where a file is not a regular one: "--set".
    const char* option;
    // --create: a missing file is created, from the start image changed;
    // only where nothing is, so that one made meanwhile is edited instead.
    bool create = false;
    // --force: a file that is not 3950 bytes long is edited all the same (a
    // short one completed with zeros); otherwise it is refused as not a
    // parameter file, or a damaged one.
    bool force = false;
    // --wait=SECONDS: how long to wait for the edit lock of a file that
    // another holds before giving the file up; negative: as long as it
    // takes. A wait of over a second is told on standard error as it goes.
    double wait = -1;
    // Whether a file that the change leaves as it is, is left alone whatever
    // its length: neither refused as not a parameter file, nor completed with
    // --force. A fleet's text written back then changes no file it does not
    // change an entry of (--apply).
    bool leaveAlike = false;
    // Whether the change reads the file. An edit that reads it refuses what
    // it cannot lock and read. One that replaces the whole image
    // (--from-json -o) is given no bytes, writes wherever a replace writes,
    // and takes the lock only of a regular file it may read.
    bool readsFile = true;
    // The schema of the file edited, or nullptr: unless force, an entry that
    // the change changes (compared as --diff compares) must keep its limits,
    // or the file is refused as schemaRefusal words it. An entry the change
    // leaves as it is is not checked, however it breaks them.
    const Schema* schema = nullptr;
    // What is said, before the reason, of a file that holds the change while
    // its directory could not be flushed.
    const char* notFlushed = "edited, but the directory could not be flushed, so the edit may not survive a power cut";
};

// How an edit of a file ended.
enum class EditResult {
    // The file holds the change.
    Replaced,
    // The change made none, and the file was not rewritten.
    Unchanged,
    // The file is as it was, and the diagnostics say why.
    Failed,
    // The file holds the change, but it may not survive a power cut; the
    // diagnostics say so.
    NotFlushed,
};

// Why path cannot be edited in place by option, or "" when it may be:
// standard input and anything but a regular file (a pipe would block the
// open, a device would be written to, not replaced). A mode that reads other
// files first asks this before them; editFile asks it again.
std::string editRefusal(const char* path, const char* option);

// Why a file of bytes bytes is not edited, or "" when it may be: one that is
// not 3950 bytes long is not a parameter file, or a damaged one, unless force.
std::string sizeRefusal(std::size_t bytes, bool force);

// Why the edit of settings refuses to change path from before to after, two
// images of at least 3950 bytes: a line for each limit of settings.schema
// that an entry changed breaks, in file order, "paramlist: PATH:
// Operations[10] feed_rate 12000 mm/min is above its maximum 8000
// (paramlist.toml:8); --force sets it anyway"; "" when none does, with force
// or without a schema. editFile refuses with it; a dry run asks it too.
std::string schemaRefusal(const char* path, const EditSettings& settings, const unsigned char* before,
                          const unsigned char* after);

// Reads the record of file into record without the lock, for a look before
// an edit (--dry-run, --edit's text): the diagnostic line of what editFile
// would refuse of the file as it is now, or "" when it would edit it; a
// missing file, with create, leaves record at the start image and sets
// missing, if given. length, if given, receives how many bytes of the image
// the file held. With misfit, the refusal of a file's length goes there
// instead, for one who refuses it only when the change would change the
// file (leaveAlike).
class Parameter;
std::string readForEdit(const char* file, const EditSettings& settings, Parameter& record,
                        std::size_t* length = nullptr, std::string* misfit = nullptr, bool* missing = nullptr);

// Edits path with change, appending to diagnostics a line for each failure.
// A short file (with force) is given completed with zeros to the 3950-byte
// image, and is written back completed whatever the change (unless
// leaveAlike, when the change changes nothing); a missing file (with create)
// is created only when the change makes one. A file over 1
// GiB is refused (EFBIG), as its copy is held in memory. What the path leads
// to is refused as at the start whenever the edit starts again, and a file
// that would hold the bytes it holds is not rewritten (Unchanged).
EditResult editFile(const char* path, const EditSettings& settings, const ChangeFunction& change,
                    std::string& diagnostics);

// Edits each file of names by edit(file, diagnostics), which says whether the
// file holds the change. Most of a file's cost is waiting for its two
// flushes, which the file system completes together for files edited at the
// same time; so runs of files are edited side by side, and their diagnostics
// written to standard error in file order, a refused name's in its place.
// Says how many files there were and how many hold the change.
struct EditCount {
    std::size_t files = 0;
    std::size_t edited = 0;
};
using FileEdit = std::function<bool(const char* file, std::string& diagnostics)>;
EditCount editSideBySide(FileNames& names, const FileEdit& edit);

#endif
