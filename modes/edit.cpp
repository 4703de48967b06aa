// --edit: a file's entries changed in the user's editor, on a private copy of
// its --entries text, and the entries the user changed set as --apply sets
// them, once the editor has closed.
#include "Parameter.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "editor.h"
#include "input_files.h"
#include "modes.h"
#include "record_text.h"
#include "terminal_text.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

// Where the user's text is kept, for the message that ends the edit.
std::string keptMessage(const std::string& kept)
{
    return kept.empty() ? std::string("your text could not be kept: ") + std::strerror(errno)
                        : "your text is kept in " + kept;
}

// Sets in file the entries that the user changed from base, through the edit
// transaction, as the file is when the editor has closed: what another edit
// changed meanwhile is kept, and an entry both changed to different values
// stops the edit. The status of the run.
int applyEdit(const Request& request, const char* file, const Parameter& base, const RecordChange& change,
              const std::string& text, const char* directory)
{
    std::string shownFile;
    appendShown(shownFile, file, isTerminal(STDOUT_FILENO));
    std::string conflicts;
    std::vector<Entry> stored;
    const ChangeFunction apply = [&](std::vector<unsigned char>& bytes) {
        Parameter theirs;
        theirs.fromImage(bytes.data());
        const Application application = applyChange(bytes.data(), change, &base);
        conflicts.clear();
        for (const Entry entry : application.conflicts) {
            appendConflict(conflicts, shownFile, base, change.values, theirs, entry);
        }
        stored = application.stored;
        return stored.empty() ? Change::None : Change::Made;
    };
    EditSettings settings("--edit");
    settings.create = request.create;
    settings.force = request.force;
    settings.wait = request.waitSeconds;
    std::string diagnostics;
    const EditResult result = editFile(file, settings, apply, diagnostics);
    std::fwrite(diagnostics.data(), 1, diagnostics.size(), stderr);
    std::fwrite(conflicts.data(), 1, conflicts.size(), stdout);
    if (!conflicts.empty() || result == EditResult::Failed) {
        reportError(file, (conflicts.empty() ? "nothing written; "
                                             : "changed meanwhile in the same entries, so "
                                               "nothing is written; ") +
                              keptMessage(keepText(directory, text)));
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
    const char* file = request.operands[0];
    // Refused before the editor opens, so that no work is done in vain.
    EditSettings settings("--edit");
    settings.create = request.create;
    settings.force = request.force;
    Parameter base;
    std::size_t length = 0;
    const std::string refusal = readForEdit(file, settings, base, &length);
    if (!refusal.empty()) {
        std::fputs(refusal.c_str(), stderr);
        return 1;
    }
    std::string text;
    appendEntriesText(text, "", length, base);
    std::string shownFile;
    appendVisible(shownFile, file, std::strlen(file));
    const char* directory = temporaryDirectory(std::getenv("TMPDIR"));
    const EditedText edited =
        editText(editHeader(shownFile), text, editorCommand(std::getenv("VISUAL"), std::getenv("EDITOR")), directory,
                 isTerminal(STDIN_FILENO));
    switch (edited.outcome) {
    case EditedText::Trouble:
        reportError(file, edited.reason);
        return 1;
    case EditedText::Cancelled:
        reportError(file, edited.reason + "; nothing written");
        return 1;
    case EditedText::Unreadable: {
        const std::string kept = keepText(directory, edited.text);
        const std::string keptNote = keptMessage(kept);
        for (const TextProblem& problem : edited.problems) {
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
    if (std::all_of(given.begin(), given.end(),
                    [&](Entry entry) { return sameEntry(base, edited.change.values, entry.table, entry.index); })) {
        reportError(file, "unchanged");
        return 0;
    }
    return applyEdit(request, file, base, edited.change, edited.text, directory);
}
