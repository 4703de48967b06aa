// --merge: a three-way merge entry by entry, into OURS. An entry changed on
// one side only takes that side's value; changed on both to different values
// it is a conflict, which keeps OURS' value unless --theirs says otherwise, so
// the result is always an image that lists and checks.
#include "Parameter.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"
#include "record_text.h"
#include "terminal_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

// What a file holds: its record, and its bytes, the image completed with
// zeros to 3950 bytes.
struct Contents {
    Parameter record;
    std::vector<unsigned char> bytes;
};

bool readContents(int fd, Contents& contents)
{
    contents.bytes.assign(Parameter::FileBytes, 0);
    std::size_t held = 0;
    if (!Parameter::readFully(fd, contents.bytes.data(), contents.bytes.size(), held)) {
        return false;
    }
    // Read from the bytes, not the file again: a pipe cannot be read twice.
    contents.record.fromImage(contents.bytes.data());
    return true;
}

bool readContents(const char* path, Contents& contents)
{
    const InputFile input(path);
    return input.fd() >= 0 && readContents(input.fd(), contents);
}

} // namespace

int mode::merge(const Request& request)
{
    const char* basePath = request.operands[0];
    const char* oursPath = request.operands[1];
    const char* theirsPath = request.operands[2];
    // Refused before BASE and THEIRS are read, which may wait on a pipe for nothing.
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
    // Named twice, as in --merge - OURS /dev/stdin, the operand is read once:
    // a second read of standard input would find it empty, and take every
    // entry away.
    Contents theirs;
    if (RepeatedOperands(request.operands, request.count).firstNaming(2) == 0) {
        theirs = baseContents;
    } else if (!readContents(theirsPath, theirs)) {
        reportErrno(theirsPath);
        return troubleStatus;
    }
    std::string shownPath;
    const char* path = request.path != nullptr ? request.path : oursPath;
    appendShown(shownPath, path, isTerminal(STDOUT_FILENO));
    std::string conflicts;
    // OURS' bytes, read under the edit lock, so that no edit made in between is lost.
    const ChangeFunction merge = [&](std::vector<unsigned char>& bytes) {
        Parameter ours;
        ours.fromImage(bytes.data());
        conflicts.clear();
        Change change = Change::None;
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i) {
                if (sameEntry(base, theirs.record, table, i) || sameEntry(ours, theirs.record, table, i)) {
                    continue;
                }
                const Entry entry{table, i};
                const bool conflict = !sameEntry(base, ours, table, i);
                if (conflict) {
                    appendConflict(conflicts, shownPath, base, ours, theirs.record, entry);
                }
                if (!conflict || request.side == Request::Theirs) {
                    // The entry differs from OURS', so its bytes do too.
                    const std::size_t offset = entryOffset(entry);
                    std::copy_n(theirs.bytes.begin() + static_cast<std::ptrdiff_t>(offset), entrySize(table),
                                bytes.begin() + static_cast<std::ptrdiff_t>(offset));
                    change = Change::Made;
                }
            }
        }
        return change;
    };
    EditSettings settings("--merge");
    settings.force = request.force;
    settings.wait = request.waitSeconds;
    settings.notFlushed = "the merge is in place but may not survive a power cut";
    std::string diagnostics;
    const EditResult result = editFile(oursPath, settings, merge, diagnostics);
    std::fwrite(diagnostics.data(), 1, diagnostics.size(), stderr);
    if (result == EditResult::Failed) {
        return troubleStatus;
    }
    std::fwrite(conflicts.data(), 1, conflicts.size(), stdout);
    if (result == EditResult::NotFlushed) {
        return troubleStatus;
    }
    return conflicts.empty() || request.side != Request::Neither ? sameStatus : foundStatus;
}
