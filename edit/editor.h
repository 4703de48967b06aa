// The user's editor on a private copy of a text, for --edit: the copy, the
// editor run as crontab -e and git commit run it, the signals that end the
// edit at any moment, and the text it is opened with again when what came
// back does not read and the user asks for it.
#ifndef PARAMLIST_EDIT_H
#define PARAMLIST_EDIT_H

#include "changes.h"
#include "watched_signals.h"

#include <string>
#include <vector>

// A new file only this user can read (mode 0600, made with O_EXCL, so no
// file that someone else put there is used), in $TMPDIR or else /tmp, removed
// when the object ends unless it was kept.
class PrivateFile
{
public:
    // prefix starts the file's name; ok() says whether it could be made.
    PrivateFile(const char* temporaryDirectory, const char* prefix);
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;
    ~PrivateFile();

    bool ok() const { return !name.empty(); }
    const std::string& path() const { return name; }
    // Replaces what the file holds; false with errno set.
    bool write(const std::string& text) const;
    // Reads what the file holds now, by its path: an editor may have put a
    // new file in its place.
    bool read(std::string& text) const;
    // Leaves the file in place when the object ends.
    void keep() { kept = true; }

private:
    std::string name;
    bool kept = false;
};

// A new directory only this user can enter (mode 0700, made by mkdtemp), in
// $TMPDIR or else /tmp, for the file the editor opens and whatever the editor
// keeps beside it (vi's swap file, a backup): removed, with every file in it,
// when the object ends.
class PrivateDirectory
{
public:
    // prefix starts the directory's name; ok() says whether it could be made.
    PrivateDirectory(const char* temporaryDirectory, const char* prefix);
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;
    ~PrivateDirectory();

    bool ok() const { return !name.empty(); }
    const std::string& path() const { return name; }

private:
    std::string name;
};

// The directory for private files: $TMPDIR when set and not empty, else /tmp.
const char* temporaryDirectory(const char* tmpdir);

// The editor command: $VISUAL, else $EDITOR, else vi (empty counts as unset).
std::string editorCommand(const char* visual, const char* editor);

// How a run of the editor ended: the wait status, -1 with errno set when no
// shell could be run, or the signal that ended the edit.
struct EditorRun {
    int status = -1;
    int signal = 0;
};

// Runs command on path through /bin/sh -c, so that a command with arguments
// ("code --wait") works, and waits for it. When a signal ends the edit
// meanwhile, path is removed at once, the signal is passed on to the editor,
// which is waited for a moment, and path removed again, as the editor may
// have written it once more.
EditorRun runEditor(const std::string& command, const std::string& path, const WatchedSignals& signals);

// Why the editor's wait status means that the edit is cancelled, or "" when it
// exited with 0.
std::string editorFailure(int status);

// Asks the user on terminal whether to open the text again, as crontab -e
// asks: 1 for yes, 0 for no (or no answer: the end of input, a terminal
// gone), or minus the signal that ended the edit meanwhile.
int askToRetry(int terminal, const WatchedSignals& signals);

// The lines at the top of the text for file: what it is and how to cancel.
std::string editHeader(const std::string& shownFile);

// The text to open again after text did not read: the header, then each
// problem as a comment line naming the line of the new text it is about, then
// text without the comment lines it started with.
std::string reopenedText(const std::string& header, const std::string& text, const std::vector<TextProblem>& problems);

// An edit in the user's editor.
struct EditSession {
    // The file edited, as messages name it.
    std::string file;
    // The lines at the top of the text.
    std::string header;
    // The editor command.
    std::string command;
    // Where the private file is made.
    const char* directory = "/tmp";
    // The terminal on which the user answers (standard input), or -1: text
    // that does not read is then not opened again.
    int terminal = -1;
    // The file's schema, whose names the text may call entries by, or null.
    const Schema* schema = nullptr;
    // With the schema, the record the text was made from: an entry the user
    // changes to a value the schema does not allow does not read (unless
    // --force, which leaves this null).
    const Parameter* checkedFrom = nullptr;
};

// What an edit in the editor came to.
struct EditedText {
    enum Outcome {
        // The text read: change holds what it gives.
        Read,
        // The editor failed, which cancels the edit; reason says how.
        Cancelled,
        // The text did not read, and the user did not ask to open it again:
        // problems say why, about text; shown says whether the user was
        // shown them already.
        Unreadable,
        // The text opened again came back as it was, which cancels the edit,
        // and is in text; reason says so.
        Abandoned,
        // A signal ended the edit (signal), after the private file was removed.
        Stopped,
        // The private file or the editor could not be used; reason says why.
        Trouble,
    } outcome = Trouble;
    RecordChange change;
    std::string text;
    std::vector<TextProblem> problems;
    bool shown = false;
    std::string reason;
    int signal = 0;
};

// Opens text under the session's header in the editor, in a private file
// in a private directory that exist only while the editor runs, and reads back what the user
// saved, as entries text. When it does not read and a terminal is there,
// the user is shown the problems and asked whether to open it again (with
// the problems at the top), until it reads, the user says no, or the editor
// cancels.
EditedText editText(const EditSession& session, const std::string& text);

// Keeps text in a new private file in directory, whose path it returns; ""
// with errno set when it cannot.
std::string keepText(const char* directory, const std::string& text);

#endif
