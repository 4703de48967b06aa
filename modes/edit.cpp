// --edit: a file's entries changed in the user's editor, on a private copy of
// its --entries text, and the entries the user changed set as --apply sets
// them, once the editor has closed. An entry that the file's schema
// describes is shown under comment lines of what the schema says of it, and
// a value it changes to outside the schema does not read, unless --force.
#include "Parameter.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "editor.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"
#include "record_text.h"
#include "schema_finder.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the user's text, or the changes alone, are kept, for the message
// that ends the edit.
std::string keptMessage(const std::string& kept, bool changesAlone = false)
{
    const std::string what = changesAlone ? "your changes" : "your text";
    return kept.empty() ? what + " could not be kept: " + std::strerror(errno)
                        : what + (changesAlone ? " are" : " is") + " kept in " + kept;
}

// path as one word of a shell command that a user may paste.
std::string shellWord(const std::string& path)
{
    std::string word = path.compare(0, 1, "-") == 0 ? "./" + path : path;
    if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                                "_./:@%+=,-") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The entries the user changed from base, each after a comment line with
// the value it held when the editor opened: what --apply then sets on the
// file as it is, and nothing that another changed meanwhile.
std::string changesText(const std::string& shownFile, const Parameter& base, const RecordChange& change)
{
    std::string text = "# The entries you changed in " + shownFile +
                       ", which are not set, each after the value it held when the editor opened.\n";
    for (const Entry entry : change.entries()) {
        if (!sameEntry(base, change.values, entry.table, entry.index)) {
            text += "# ";
            appendEntryName(text, entry);
            text += ": ";
            appendJsonEntry(text, base, entry.table, entry.index);
            text += '\n';
            appendEntryName(text, entry);
            text += ": ";
            appendJsonEntry(text, change.values, entry.table, entry.index);
            text += '\n';
        }
    }
    return text;
}

// The comment lines above each entry that schema describes, by its place in
// file order: its name, label and unit; its limits; its values and their
// meanings; its description, a line for each of its lines.
std::array<std::string, 300> describedLines(const Schema& schema)
{
    std::array<std::string, 300> lines;
    for (const EntryDescription& description : schema.described()) {
        std::string& out = lines[entryNumber(description.entry)];
        const std::string& note = schema.note(description.entry);
        if (!note.empty()) {
            out += note.substr(2) + '\n';
        }
        const Table table = description.entry.table;
        std::string limits;
        if (description.min) {
            limits += ", min " + valueText(table, *description.min);
        }
        if (description.max) {
            limits += ", max " + valueText(table, *description.max);
        }
        if (description.nonzero) {
            limits += ", nonzero";
        }
        if (!limits.empty()) {
            out += "# limits: " + limits.substr(2) + '\n';
        }
        std::string values;
        for (const AllowedValue& allowed : description.values) {
            values += ", " + allowed.text + " = " + allowed.meaning;
        }
        if (!values.empty()) {
            out += "# values: " + values.substr(2) + '\n';
        }
        for (std::size_t at = 0; at < description.description.size();) {
            const std::size_t end = std::min(description.description.find('\n', at), description.description.size());
            out += (end == at ? "#" : "# ") + description.description.substr(at, end - at) + '\n';
            at = end + 1;
        }
    }
    return lines;
}

// The file the editor opened for an edit, as it was then.
struct Opened {
    const char* file;
    std::string shown;
    Parameter base;
    // Whether there was no file (--create): one made meanwhile is edited,
    // and none is made where one was removed meanwhile.
    bool missing = false;
    // Its schema, whose limits the entries the user changed must keep.
    const Schema* schema = nullptr;
};

// Sets in file the entries that the user changed from base, through the edit
// transaction, as the file is when the editor has closed: what another edit
// changed meanwhile is kept, and an entry both changed to different values
// stops the edit. What cannot be set is kept, the changes alone, with the
// command that sets them. The status of the run.
int applyEdit(const Request& request, const Opened& opened, const RecordChange& change, const char* directory)
{
    const char* file = opened.file;
    std::string shownFile;
    appendShown(shownFile, file, isTerminal(STDOUT_FILENO));
    std::string conflicts;
    std::vector<Entry> stored;
    const ChangeFunction apply = [&](std::vector<unsigned char>& bytes) {
        Parameter theirs;
        theirs.fromImage(bytes.data());
        const Application application = applyChange(bytes.data(), change, &opened.base);
        conflicts.clear();
        for (const Entry entry : application.conflicts) {
            appendConflict(conflicts, shownFile, opened.base, change.values, theirs, entry);
        }
        stored = application.stored;
        return stored.empty() ? Change::None : Change::Made;
    };
    EditSettings settings("--edit");
    settings.create = request.create && opened.missing;
    settings.force = request.force;
    settings.wait = request.waitSeconds;
    settings.schema = opened.schema;
    std::string diagnostics;
    const EditResult result = editFile(file, settings, apply, diagnostics);
    struct stat status {
    };
    const bool removed =
        result == EditResult::Failed && !opened.missing && ::lstat(file, &status) != 0 && errno == ENOENT;
    std::fwrite(diagnostics.data(), 1, removed ? 0 : diagnostics.size(), stderr);
    std::fwrite(conflicts.data(), 1, conflicts.size(), stdout);
    if (!conflicts.empty() || result == EditResult::Failed) {
        const std::string kept = keepText(directory, changesText(opened.shown, opened.base, change));
        std::string said = removed             ? "removed while the editor was open, so nothing is written"
                           : conflicts.empty() ? "nothing written"
                                               : "changed meanwhile in the same entries, so nothing is written";
        said += "; " + keptMessage(kept, true);
        if (!kept.empty() && !removed) {
            said += "; to set them on the file as it is now: paramlist --apply " + shellWord(kept) +
                    (request.force ? " --force " : " ") + shellWord(file);
        }
        reportError(file, said);
        return 1;
    }
    for (const Entry entry : stored) {
        if (entry.table == Table::Names &&
            nameLength(change.values.getNamesParameter(entry.index)) == Parameter::NameBytes) {
            reportError(file, unterminatedNameWarning(entry));
        }
    }
    return result == EditResult::NotFlushed ? 1 : 0;
}

} // namespace

int mode::edit(const Request& request)
{
    Opened opened{request.operands[0], "", Parameter(), false, nullptr};
    const char* file = opened.file;
    // Refused before the editor opens, so that no work is done in vain.
    SchemaFinder schemas(request);
    if (!schemas.start() || !schemas.findAll(request.operands, 1)) {
        return troubleStatus;
    }
    // findAll has reported what there is to say of it.
    std::string toldByFindAll;
    const Schema* schema = schemas.of(file, toldByFindAll).schema;
    opened.schema = schema;
    EditSettings settings("--edit");
    settings.create = request.create;
    settings.force = request.force;
    std::size_t length = 0;
    const std::string refusal = readForEdit(file, settings, opened.base, &length, nullptr, &opened.missing);
    if (!refusal.empty()) {
        std::fputs(refusal.c_str(), stderr);
        return 1;
    }
    std::string text;
    const std::array<std::string, 300> described = schema != nullptr ? describedLines(*schema) : decltype(described)();
    appendEntriesText(text, "", length, opened.base, nullptr, described.data());
    appendVisible(opened.shown, file, std::strlen(file));
    EditSession session;
    session.file = file;
    session.header = editHeader(opened.shown);
    session.command = editorCommand(std::getenv("VISUAL"), std::getenv("EDITOR"));
    session.directory = temporaryDirectory(std::getenv("TMPDIR"));
    session.terminal = isTerminal(STDIN_FILENO) ? STDIN_FILENO : -1;
    session.schema = schema;
    session.checkedFrom = request.force ? nullptr : &opened.base;
    const EditedText edited = editText(session, text);
    switch (edited.outcome) {
    case EditedText::Trouble:
        reportError(file, edited.reason);
        return 1;
    case EditedText::Cancelled:
        reportError(file, edited.reason + "; nothing written");
        return 1;
    case EditedText::Stopped:
        reportError(file, std::string("stopped by signal ") + std::to_string(edited.signal) + " (" +
                              ::strsignal(edited.signal) + "); nothing written");
        endBySignal(edited.signal);
    case EditedText::Abandoned:
        reportError(file,
                    edited.reason + "; nothing written; " + keptMessage(keepText(session.directory, edited.text)));
        return 1;
    case EditedText::Unreadable: {
        const std::string kept = keepText(session.directory, edited.text);
        const std::string keptNote = keptMessage(kept);
        for (const TextProblem& problem : edited.shown ? std::vector<TextProblem>() : edited.problems) {
            reportTextProblem(kept.empty() ? file : kept.c_str(), problem);
        }
        reportError(file, "the text does not read, so nothing is written; " + keptNote);
        return troubleStatus;
    }
    case EditedText::Read:
        break;
    }
    const std::vector<Entry> given = edited.change.entries();
    if (given.empty()) {
        reportError(file, "the text holds no entry, which cancels the edit; nothing written");
        return 1;
    }
    if (std::all_of(given.begin(), given.end(), [&](Entry entry) {
            return sameEntry(opened.base, edited.change.values, entry.table, entry.index);
        })) {
        reportError(file, "unchanged");
        return 0;
    }
    return applyEdit(request, opened, edited.change, session.directory);
}
