// The user's editor on a private copy of a text, for --edit: the copy, the
// editor run as crontab -e and git commit run it, and the text it is opened
// with again when what came back does not read.
#ifndef PARAMLIST_EDIT_H
#define PARAMLIST_EDIT_H

#include "changes.h"

#include <csignal>
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

// The directory for private files: $TMPDIR when set and not empty, else /tmp.
const char* temporaryDirectory(const char* tmpdir);

// The editor command: $VISUAL, else $EDITOR, else vi (empty counts as unset).
std::string editorCommand(const char* visual, const char* editor);

// Runs command on path through /bin/sh -c, so that a command with arguments
// ("code --wait") works, and waits for it. While it runs, an interrupt or
// quit from the terminal is the editor's alone, as in git, and a hangup or a
// termination waits until the caller has cleaned up (see HeldSignals).
// Returns the wait status, or -1 with errno set when no shell could be run.
int runEditor(const std::string& command, const std::string& path);

// Why the editor's wait status means that the edit is cancelled, or "" when it
// exited with 0.
std::string editorFailure(int status);

// Holds back a hangup and a termination while it lives, so that the private
// copy it guards is removed first; they take effect when it ends.
class HeldSignals
{
public:
    HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    ~HeldSignals();

private:
    sigset_t before{};
};

// The lines at the top of the text for file: what it is and how to cancel.
std::string editHeader(const std::string& shownFile);

// The text to open again after text did not read: the header, then each
// problem as a comment line naming the line of the new text it is about, then
// text without the comment lines it started with.
std::string reopenedText(const std::string& header, const std::string& text, const std::vector<TextProblem>& problems);

// What an edit in the editor came to.
struct EditedText {
    enum Outcome {
        // The text read: change holds what it gives.
        Read,
        // The editor failed, which cancels the edit; reason says how.
        Cancelled,
        // The text did not read, and there was no terminal to open it on
        // again: problems say why, about text.
        Unreadable,
        // The private file or the editor could not be used; reason says why.
        Trouble,
    } outcome = Trouble;
    RecordChange change;
    std::string text;
    std::vector<TextProblem> problems;
    std::string reason;
};

// Opens text under header in the editor, in a private file in directory,
// and reads back what the user saved, as entries text. When it does not read
// and terminal says a user is there to see it, the editor opens again with
// the problems at the top, until it reads or is cancelled.
EditedText editText(const std::string& header, const std::string& text, const std::string& command,
                    const char* directory, bool terminal);

// Keeps text in a new private file in directory, whose path it returns; ""
// with errno set when it cannot.
std::string keepText(const char* directory, const std::string& text);

#endif
