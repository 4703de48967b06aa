// --apply: the text of a fleet, or of one file, written back. In each file
// only the entries whose values the text changes are set, as --set sets them,
// so that a file the text leaves as it is is not rewritten, and whatever else
// a file holds stays; no entry is set outside the file's schema. Entries
// text may call an entry by a name that its file's schema gives, and the dry
// run's lines carry each file's notes.
#include "Parameter.h"
#include "batches.h"
#include "changes.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"
#include "schema_finder.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A fleet's JSON is a few kilobytes a file; the limit keeps an endless
// input such as /dev/zero from exhausting memory.
constexpr std::size_t inputLimit = std::size_t{1} << 30;

// Whether two changes ask for the same: the same entries, each of the same
// value as --diff compares them.
bool asksAlike(const RecordChange& a, const RecordChange& b)
{
    const std::vector<Entry> entries = a.entries();
    return a.given == b.given && std::all_of(entries.begin(), entries.end(), [&](Entry entry) {
               return sameEntry(a.values, b.values, entry.table, entry.index);
           });
}

// Keeps one record of those that name one file, by any of its names (a
// symbolic link, another spelling): the fleet's text of a file listed twice
// asks the same of it twice, which is one edit. Records that ask for
// different values are refused, as one would undo the other: false.
bool oneRecordAFile(const char* input, const std::string& text, std::vector<RecordPlace>& places,
                    const std::vector<char*>& files)
{
    const RepeatedOperands repeated(files.data(), static_cast<int>(files.size()), true);
    std::vector<RecordPlace> kept;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const auto first = static_cast<std::size_t>(repeated.firstNaming(static_cast<int>(k)));
        if (first == k) {
            kept.push_back(places[k]);
        } else if (!asksAlike(changeAt(text, places[first]), changeAt(text, places[k]))) {
            reportTextProblem(input,
                              {places[k].line, 1,
                               places[k].file + " asks for other values than " + places[first].file + " on line " +
                                   std::to_string(places[first].line) + ", which names the same file"});
            return false;
        }
    }
    places = std::move(kept);
    return true;
}

} // namespace

int mode::apply(const Request& request)
{
    const char* input = request.input;
    if (request.schema != nullptr && isStandardInput(request.schema) && isStandardInput(input)) {
        return usageError("--schema=- reads the schema from standard input, which cannot be INPUT's too");
    }
    std::string text;
    if (!readText(input, text, inputLimit)) {
        reportErrno(input);
        return troubleStatus;
    }
    if (text.size() > inputLimit) {
        reportError(input, "larger than 1 GiB, far more than a fleet's text");
        return troubleStatus;
    }
    // Every record is read and checked before any file is touched; the
    // one file's schema, which its entries text may name entries by, is
    // found first.
    const bool toFile = request.count == 1;
    SchemaFinder schemas(request);
    if (!schemas.start() || (toFile && !schemas.findAll(request.operands, 1))) {
        return troubleStatus;
    }
    std::string toldByFindAll;
    const Schema* fileSchema = toFile ? schemas.of(request.operands[0], toldByFindAll).schema : nullptr;
    std::vector<RecordPlace> places;
    std::vector<TextProblem> problems;
    if (!findChanges(text, toFile, places, problems, fileSchema)) {
        for (const TextProblem& problem : problems) {
            reportTextProblem(input, problem);
        }
        return troubleStatus;
    }
    if (toFile && places.empty()) {
        reportError(input, std::string("holds no record and no entry for ") + request.operands[0]);
        return troubleStatus;
    }
    std::vector<char*> files;
    const auto name = [&] {
        files.resize(places.size());
        std::transform(places.begin(), places.end(), files.begin(),
                       [&](RecordPlace& place) { return toFile ? request.operands[0] : &place.file[0]; });
    };
    name();
    if (!oneRecordAFile(input, text, places, files)) {
        return troubleStatus;
    }
    // The names point into the places' strings, which the kept places own now.
    name();
    if (!toFile && !schemas.findAll(files.data(), static_cast<int>(files.size()))) {
        return troubleStatus;
    }
    // The runs hand back each file's name, which leads to its record.
    std::unordered_map<const char*, std::size_t> recordOf;
    for (std::size_t k = 0; k < files.size(); ++k) {
        recordOf.emplace(files[k], k);
    }
    const auto changeOf = [&](const char* file) { return changeAt(text, places[recordOf.at(file)], fileSchema); };
    FileNames names(nullptr, files.data(), static_cast<int>(files.size()));
    EditSettings settings("--apply");
    settings.force = request.force;
    settings.wait = request.waitSeconds;
    settings.leaveAlike = true;
    if (request.dryRun) {
        return showChanges(
            names, request.json, settings,
            [&](const char* file, unsigned char* image, const Schema*, std::string&) {
                applyChange(image, changeOf(file));
                return true;
            },
            &schemas);
    }
    const EditCount count = editSideBySide(names, [&](const char* file, std::string& diagnostics) {
        // Read again here, side by side with the other files' edits.
        const RecordChange change = changeOf(file);
        std::vector<Entry> stored;
        const ChangeFunction apply = [&](std::vector<unsigned char>& bytes) {
            stored = applyChange(bytes.data(), change).stored;
            return stored.empty() ? Change::None : Change::Made;
        };
        EditSettings edit = settings;
        edit.schema = schemas.of(file, diagnostics).schema;
        const EditResult result = editFile(file, edit, apply, diagnostics);
        for (const Entry entry : result == EditResult::Replaced ? stored : std::vector<Entry>()) {
            if (entry.table == Table::Names &&
                nameLength(change.values.getNamesParameter(entry.index)) == Parameter::NameBytes) {
                diagnostics += diagnostic(std::string(file) + ": " + unterminatedNameWarning(entry));
            }
        }
        return result == EditResult::Replaced || result == EditResult::Unchanged;
    });
    return count.edited == count.files ? 0 : 1;
}
