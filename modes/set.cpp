// --set: entries changed in place. Each file is changed in the bytes of the
// named entries alone, so that whatever else it holds (a document byte of 2,
// bytes after a name's zero or past the image) stays as it was; an entry that
// holds its value already keeps its bytes too. A file is held under the edit
// lock from the read to the replace, so that two edits of one file at the
// same moment both hold.
#include "Parameter.h"
#include "batches.h"
#include "changes.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "entry.h"
#include "modes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Assignment {
    Entry entry;
    EntryValue value;
};

bool isSameEntry(const Entry& a, const Entry& b)
{
    return a.table == b.table && a.index == b.index;
}

// Reads every ENTRY=VALUE before any file is touched; of one entry given
// twice, the last holds. False after reporting the usage error.
bool parseAssignments(const Request& request, std::vector<Assignment>& assignments)
{
    for (const char* given : request.assignments) {
        const char* equals = std::strchr(given, '=');
        Assignment assignment{};
        std::string problem;
        if (equals == nullptr) {
            problem = "an edit is written ENTRY=VALUE, as in Operations[10]=851.5";
        } else if (parseEntryName(std::string(given, equals), assignment.entry, problem)) {
            parseEntryValue(assignment.entry.table, equals + 1, assignment.value, problem);
        }
        if (!problem.empty()) {
            usageError(std::string("--set '") + given + "': " + problem);
            return false;
        }
        assignments.erase(
            std::remove_if(assignments.begin(), assignments.end(),
                           [&](const Assignment& earlier) { return isSameEntry(earlier.entry, assignment.entry); }),
            assignments.end());
        assignments.push_back(assignment);
    }
    return true;
}

// Stores each assignment whose entry does not hold its value already,
// compared as --diff compares: a document byte of 2 holds true and a name
// with bytes after its zero holds that name, so that the dry run, which
// looks at the values, and the edit, which looks at the bytes, agree.
void assignDiffering(unsigned char* image, const std::vector<Assignment>& assignments)
{
    Parameter held;
    held.fromImage(image);
    Parameter::Image assignedImage = held.toImage();
    for (const Assignment& assignment : assignments) {
        storeEntryValue(assignedImage.data(), assignment.entry, assignment.value);
    }
    Parameter assigned;
    assigned.fromImage(assignedImage.data());
    for (const Assignment& assignment : assignments) {
        if (!sameEntry(held, assigned, assignment.entry.table, assignment.entry.index)) {
            storeEntryValue(image, assignment.entry, assignment.value);
        }
    }
}

} // namespace

int mode::set(const Request& request)
{
    std::vector<Assignment> assignments;
    if (!parseAssignments(request, assignments)) {
        return usageStatus;
    }
    FileNames names(request.fileList, request.operands, request.count);
    if (!names.failure().empty()) {
        std::fputs(names.failure().c_str(), stderr);
        return troubleStatus;
    }
    const auto assign = [&assignments](unsigned char* image) { assignDiffering(image, assignments); };
    EditSettings settings("--set");
    settings.create = request.create;
    settings.force = request.force;
    settings.wait = request.waitSeconds;
    if (request.dryRun) {
        return showChanges(names, request.json, settings,
                           [&assign](const char*, unsigned char* image) { assign(image); });
    }
    const ChangeFunction change = [&assign](std::vector<unsigned char>& bytes) {
        assign(bytes.data());
        // A file whose every entry held its value already is told by its bytes, unchanged.
        return Change::Made;
    };
    const EditCount count = editSideBySide(names, [&](const char* file, std::string& diagnostics) {
        const EditResult result = editFile(file, settings, change, diagnostics);
        return result == EditResult::Replaced || result == EditResult::Unchanged;
    });
    // Once a run, not once a file: every file has the same edits.
    for (const Assignment& assignment : assignments) {
        if (count.edited > 0 && assignment.entry.table == Table::Names &&
            assignment.value.name.size() == Parameter::NameBytes) {
            reportMessage(unterminatedNameWarning(assignment.entry));
        }
    }
    return count.edited == count.files ? 0 : 1;
}
