// --merge: a three-way merge entry by entry, into OURS. An entry changed on
// one side only takes that side's value; changed on both to different values
// it is a conflict, which keeps OURS' value unless --theirs says otherwise, so
// the result is always an image that lists and checks.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

// What a file holds: its record, and its bytes, the image completed with
// zeros to 3950 bytes and, with whole, any bytes past the image too.
struct Contents {
    Parameter record;
    std::vector<unsigned char> bytes;
    std::size_t held = 0;
};

// With whole, what follows the image too, as readWholeFile reads it.
bool readContents(int fd, Contents& contents, bool whole)
{
    if (whole) {
        if (!readWholeFile(fd, contents.bytes)) {
            return false;
        }
        contents.held = std::min(contents.bytes.size(), Parameter::FileBytes);
        if (contents.bytes.size() < Parameter::FileBytes) {
            contents.bytes.resize(Parameter::FileBytes, 0);
        }
    } else {
        contents.bytes.assign(Parameter::FileBytes, 0);
        if (!Parameter::readFully(fd, contents.bytes.data(), contents.bytes.size(), contents.held)) {
            return false;
        }
    }
    // Read from the bytes, not the file again: a pipe cannot be read twice.
    readImage(contents.bytes.data(), contents.record);
    return true;
}

bool readContents(const char* path, Contents& contents)
{
    const InputFile input(path);
    return input.fd() >= 0 && readContents(input.fd(), contents, false);
}

// Appends "PATH: Table[i]: base B, ours O, theirs T" and the end of the line.
void appendConflict(std::string& out, const std::string& path, const Parameter& base, const Parameter& ours,
                    const Parameter& theirs, Entry entry)
{
    out += path;
    out += ": ";
    appendEntryName(out, entry);
    out += ": base ";
    appendJsonEntry(out, base, entry.table, entry.index);
    out += ", ours ";
    appendJsonEntry(out, ours, entry.table, entry.index);
    out += ", theirs ";
    appendJsonEntry(out, theirs, entry.table, entry.index);
    out += '\n';
}

} // namespace

int mode::merge(const Request& request)
{
    const char* basePath = request.operands[0];
    const char* oursPath = request.operands[1];
    const char* theirsPath = request.operands[2];
    // Refused before any read: opening a pipe for its lock would wait for a writer.
    const std::string refusal = editRefusal(oursPath, "--merge");
    if (!refusal.empty()) {
        reportError(oursPath, refusal);
        return troubleStatus;
    }
    Contents baseContents;
    if (!readContents(basePath, baseContents)) {
        reportErrno(basePath);
        return troubleStatus;
    }
    const Parameter& base = baseContents.record;
    // Named twice, as in --merge - OURS -, the operand is read once: a second
    // read of standard input would find it empty, and take every entry away.
    Contents theirs;
    if (std::strcmp(basePath, theirsPath) == 0) {
        theirs = baseContents;
    } else if (!readContents(theirsPath, theirs)) {
        reportErrno(theirsPath);
        return troubleStatus;
    }
    // Held from the read of OURS to its replace, so that no edit made in
    // between is lost.
    const EditLock lock(oursPath, false);
    if (lock.fd() < 0) {
        std::fputs(EditLock::failure(oursPath).c_str(), stderr);
        return troubleStatus;
    }
    Contents ours;
    if (!readContents(lock.fd(), ours, true)) {
        reportErrno(oursPath);
        return troubleStatus;
    }

    std::string shownPath;
    const char* path = request.path != nullptr ? request.path : oursPath;
    if (isTerminal(STDOUT_FILENO)) {
        appendVisible(shownPath, path, std::strlen(path));
    } else {
        shownPath = path;
    }
    std::vector<unsigned char> merged = ours.bytes;
    std::string conflicts;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            if (sameEntry(base, theirs.record, table, i) || sameEntry(ours.record, theirs.record, table, i)) {
                continue;
            }
            const Entry entry{table, i};
            const bool conflict = !sameEntry(base, ours.record, table, i);
            if (conflict) {
                appendConflict(conflicts, shownPath, base, ours.record, theirs.record, entry);
            }
            if (!conflict || request.side == Request::Theirs) {
                const std::size_t offset = entryOffset(entry);
                std::copy_n(theirs.bytes.begin() + static_cast<std::ptrdiff_t>(offset), entrySize(table),
                            merged.begin() + static_cast<std::ptrdiff_t>(offset));
            }
        }
    }

    int status = conflicts.empty() || request.side != Request::Neither ? sameStatus : foundStatus;
    // A short OURS is written completed, so that the result is a whole image.
    if (merged != ours.bytes || ours.held < Parameter::FileBytes) {
        bool replaced = false;
        if (!Parameter::replace(oursPath, merged.data(), merged.size(), &replaced, lock.fd())) {
            if (!replaced) {
                reportErrno(oursPath);
                return troubleStatus;
            }
            reportError(oursPath,
                        std::string("the merge is in place but may not survive a power cut: ") + std::strerror(errno));
            status = troubleStatus;
        }
    }
    std::fwrite(conflicts.data(), 1, conflicts.size(), stdout);
    return status;
}
