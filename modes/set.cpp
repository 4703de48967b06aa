// --set: entries changed in place. Each file is changed in the bytes of the
// named entries alone, so that whatever else it holds (a document byte of 2,
// bytes after a name's zero or past the image) stays as it was; an entry that
// holds its value already keeps its bytes too. A file is held under the edit
// lock from the read to the replace, so that two edits of one file at the
// same moment both hold. An ENTRY may be a name, which each file's schema
// gives an entry of its own, and no entry is set outside its schema.
#include "Parameter.h"
#include "batches.h"
#include "changes.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "entry.h"
#include "modes.h"
#include "schema_finder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Assignment {
    Entry entry;
    EntryValue value;
};

// An ENTRY=VALUE as given. A name's VALUE is read in each file, as a value
// of the table of the entry that the file's schema names.
struct GivenAssignment {
    const char* given;
    EntryWord word;
    std::string valueText;
    // The value of a Table[INDEX].
    EntryValue value;
};

bool isSameEntry(const Entry& a, const Entry& b)
{
    return a.table == b.table && a.index == b.index;
}

// Adds assignment to assignments: of one entry given twice, the last holds.
void keep(std::vector<Assignment>& assignments, const Assignment& assignment)
{
    assignments.erase(
        std::remove_if(assignments.begin(), assignments.end(),
                       [&](const Assignment& earlier) { return isSameEntry(earlier.entry, assignment.entry); }),
        assignments.end());
    assignments.push_back(assignment);
}

// Reads every ENTRY=VALUE before any file is touched, the VALUE of each
// Table[INDEX] too. False after reporting the usage error.
bool parseAssignments(const Request& request, std::vector<GivenAssignment>& assignments)
{
    for (const char* given : request.assignments) {
        const char* equals = std::strchr(given, '=');
        GivenAssignment assignment{given, {}, {}, {}};
        std::string problem;
        if (equals == nullptr) {
            problem = "an edit is written ENTRY=VALUE, as in Operations[10]=851.5";
        } else if (parseEntryWord(std::string(given, equals), assignment.word, problem)) {
            assignment.valueText = equals + 1;
            if (assignment.word.name.empty()) {
                parseEntryValue(assignment.word.entry.table, assignment.valueText, assignment.value, problem);
            }
        }
        if (!problem.empty()) {
            usageError(std::string("--set '") + given + "': " + problem);
            return false;
        }
        assignments.push_back(std::move(assignment));
    }
    return true;
}

// The edits of a file that schema describes (nullptr: none): false, with
// problem, when it does not give a name or the VALUE is not one of the
// named entry's table.
bool assignmentsIn(const std::vector<GivenAssignment>& given, const Schema* schema,
                   std::vector<Assignment>& assignments, std::string& problem)
{
    assignments.clear();
    for (const GivenAssignment& assignment : given) {
        Assignment meant{};
        if (!assignment.word.in(schema, meant.entry, problem)) {
            return false;
        }
        meant.value = assignment.value;
        if (!assignment.word.name.empty() &&
            !parseEntryValue(meant.entry.table, assignment.valueText, meant.value, problem)) {
            problem.insert(0, std::string("--set '").append(assignment.given).append("': "));
            return false;
        }
        keep(assignments, meant);
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

bool isUnterminatedName(const Assignment& assignment)
{
    return assignment.entry.table == Table::Names && assignment.value.name.size() == Parameter::NameBytes;
}

} // namespace

int mode::set(const Request& request)
{
    std::vector<GivenAssignment> given;
    if (!parseAssignments(request, given)) {
        return usageStatus;
    }
    const bool named =
        std::any_of(given.begin(), given.end(), [](const GivenAssignment& each) { return !each.word.name.empty(); });
    // Without a name, every file has the same edits, read once; they cannot fail.
    std::vector<Assignment> fixed;
    if (!named) {
        std::string none;
        assignmentsIn(given, nullptr, fixed, none);
    }
    FileNames names(request.fileList, request.operands, request.count);
    if (!names.failure().empty()) {
        std::fputs(names.failure().c_str(), stderr);
        return troubleStatus;
    }
    SchemaFinder schemas(request);
    if (!schemas.start() || (!names.listed() && !schemas.findAll(request.operands, request.count))) {
        return troubleStatus;
    }
    // A list's file whose schema cannot be used is not edited, and gives the run status 2.
    std::atomic<bool> schemaFailed{false};
    // The edits of file, whose schema is schema, or nullptr after diagnostics says why it has none.
    const auto editsIn = [&](const char* file, const Schema* schema, std::vector<Assignment>& own,
                             std::string& diagnostics) -> const std::vector<Assignment>* {
        if (!named) {
            return &fixed;
        }
        std::string problem;
        if (!assignmentsIn(given, schema, own, problem)) {
            diagnostics += diagnostic(std::string(file) + ": " + problem);
            return nullptr;
        }
        return &own;
    };
    EditSettings settings("--set");
    settings.create = request.create;
    settings.force = request.force;
    settings.wait = request.waitSeconds;
    if (request.dryRun) {
        return showChanges(
            names, request.json, settings,
            [&](const char* file, unsigned char* image, const Schema* schema, std::string& diagnostics) {
                std::vector<Assignment> own;
                const std::vector<Assignment>* edits = editsIn(file, schema, own, diagnostics);
                if (edits != nullptr) {
                    assignDiffering(image, *edits);
                }
                return edits != nullptr;
            },
            &schemas);
    }
    const EditCount count = editSideBySide(names, [&](const char* file, std::string& diagnostics) {
        const SchemaFinder::Found schema = schemas.of(file, diagnostics);
        if (schema.failed) {
            schemaFailed = true;
            return false;
        }
        EditSettings edit = settings;
        edit.schema = schema.schema;
        std::vector<Assignment> own;
        const std::vector<Assignment>* edits = editsIn(file, edit.schema, own, diagnostics);
        if (edits == nullptr) {
            return false;
        }
        const ChangeFunction change = [edits](std::vector<unsigned char>& bytes) {
            assignDiffering(bytes.data(), *edits);
            // A file whose every entry held its value already is told by its bytes, unchanged.
            return Change::Made;
        };
        const EditResult result = editFile(file, edit, change, diagnostics);
        // A name's entry is the file's own, and so is its warning.
        for (const Assignment& assignment : named&& result == EditResult::Replaced ? own : std::vector<Assignment>()) {
            if (isUnterminatedName(assignment)) {
                diagnostics += diagnostic(std::string(file) + ": " + unterminatedNameWarning(assignment.entry));
            }
        }
        return result == EditResult::Replaced || result == EditResult::Unchanged;
    });
    // Once a run, not once a file: every file has the same edits.
    for (const Assignment& assignment : fixed) {
        if (count.edited > 0 && isUnterminatedName(assignment)) {
            reportMessage(unterminatedNameWarning(assignment.entry));
        }
    }
    return schemaFailed ? troubleStatus : count.edited == count.files ? 0 : 1;
}
