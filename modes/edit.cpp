// --edit: a file's entries changed in the user's editor, on a private copy of
// its --entries text, and the entries the user changed set as --apply sets
// them, once the editor has closed.
#include "edit.h"

#include "Parameter.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "input_files.h"
#include "modes.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

PrivateFile::PrivateFile(const char* temporaryDirectory, const char* prefix)
{
    std::string pattern = std::string(temporaryDirectory) + "/" + prefix + "-XXXXXX";
    // mkostemp makes the file with O_EXCL and mode 0600, whatever the umask.
    const int fd = ::mkostemp(&pattern[0], O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        name = pattern;
    }
}

PrivateFile::~PrivateFile()
{
    if (ok() && !kept) {
        ::unlink(name.c_str());
    }
}

bool PrivateFile::write(const std::string& text) const
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno != EINTR) {
            const int reason = errno;
            ::close(fd);
            errno = reason;
            return false;
        }
        done += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    return ::close(fd) == 0;
}

bool PrivateFile::read(std::string& text) const
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    text.clear();
    std::array<char, 1 << 16> block;
    std::size_t got = block.size();
    bool read = true;
    while (read && got == block.size()) {
        read = Parameter::readFully(fd, block.data(), block.size(), got);
        text.append(block.data(), read ? got : 0);
    }
    const int reason = errno;
    ::close(fd);
    errno = reason;
    return read;
}

const char* temporaryDirectory(const char* tmpdir)
{
    return tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
}

std::string editorCommand(const char* visual, const char* editor)
{
    const std::array<const char*, 2> set{visual, editor};
    const auto chosen = std::find_if(set.begin(), set.end(),
                                     [](const char* command) { return command != nullptr && *command != '\0'; });
    return chosen != set.end() ? *chosen : "vi";
}

namespace {

// Sets the disposition of signals while it lives.
class SignalDisposition
{
public:
    SignalDisposition(int signal, void (*handler)(int)) : number(signal)
    {
        struct sigaction action {
        };
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        ::sigaction(number, &action, &before);
    }
    SignalDisposition(const SignalDisposition&) = delete;
    SignalDisposition& operator=(const SignalDisposition&) = delete;
    ~SignalDisposition() { ::sigaction(number, &before, nullptr); }

private:
    int number;
    struct sigaction before {
    };
};

// posix_spawn's attributes, destroyed with the object.
class SpawnAttributes
{
public:
    SpawnAttributes() { ::posix_spawnattr_init(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes); }
    posix_spawnattr_t* get() { return &attributes; }

private:
    posix_spawnattr_t attributes{};
};

} // namespace

int runEditor(const std::string& command, const std::string& path)
{
    // The editor starts with every signal as the user's shell would give it:
    // none held back, an interrupt and a quit not ignored.
    SpawnAttributes attributes;
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        sigaddset(&defaults, signal);
    }
    ::posix_spawnattr_setsigmask(attributes.get(), &none);
    ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);
    ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // The path is the shell's "$1", so that no character of it is the shell's.
    std::string script = command + " \"$@\"";
    std::string shell = "/bin/sh";
    std::string option = "-c";
    std::string name = command;
    std::string file = path;
    std::array<char*, 6> arguments{&shell[0], &option[0], &script[0], &name[0], &file[0], nullptr};
    const SignalDisposition interrupt(SIGINT, SIG_IGN);
    const SignalDisposition quit(SIGQUIT, SIG_IGN);
    pid_t child = 0;
    const int error = ::posix_spawn(&child, shell.c_str(), nullptr, attributes.get(), arguments.data(), environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

std::string editorFailure(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status) == 0 ? "" : "the editor exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("the editor was ended by signal ") + std::to_string(WTERMSIG(status)) + " (" +
               ::strsignal(WTERMSIG(status)) + ")";
    }
    return "the editor stopped";
}

HeldSignals::HeldSignals()
{
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGHUP);
    sigaddset(&held, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &held, &before);
}

HeldSignals::~HeldSignals()
{
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

std::string editHeader(const std::string& shownFile)
{
    return "# paramlist --edit " + shownFile +
           "\n"
           "# Change the values and save: the entries you change are set in the file, and only those.\n"
           "# To cancel, delete every entry line, or quit the editor with an error (in vi, :cq).\n";
}

std::string reopenedText(const std::string& header, const std::string& text, const std::vector<TextProblem>& problems)
{
    std::size_t comments = 0;
    std::size_t start = 0;
    while (start < text.size() && text[start] == '#') {
        start = std::min(text.find('\n', start), text.size() - 1) + 1;
        ++comments;
    }
    const std::size_t headerLines = static_cast<std::size_t>(std::count(header.begin(), header.end(), '\n'));
    std::string out = header;
    for (const TextProblem& problem : problems) {
        out += "# line " + std::to_string(problem.line - comments + headerLines + problems.size()) + ", column " +
               std::to_string(problem.column) + ": ";
        // A problem quotes what the user wrote, which may hold a line break.
        for (const char c : problem.what) {
            out += c == '\n' || c == '\r' ? ' ' : c;
        }
        out += '\n';
    }
    out.append(text, start, std::string::npos);
    return out;
}

EditedText editText(const std::string& header, const std::string& text, const std::string& command,
                    const char* directory, bool terminal)
{
    // Held first, so that a hangup waits until the private file is gone.
    const HeldSignals held;
    const PrivateFile file(directory, "paramlist-edit");
    EditedText edited;
    const auto trouble = [&edited](const std::string& what) {
        edited.reason = what + ": " + std::strerror(errno);
        return edited;
    };
    if (!file.ok()) {
        return trouble(std::string("cannot make a private file in ") + directory);
    }
    std::string opened = header + text;
    for (;;) {
        if (!file.write(opened)) {
            return trouble("cannot write " + file.path());
        }
        const int status = runEditor(command, file.path());
        if (status < 0) {
            return trouble("cannot run the editor");
        }
        edited.reason = editorFailure(status);
        if (!edited.reason.empty()) {
            edited.outcome = EditedText::Cancelled;
            return edited;
        }
        if (!file.read(edited.text)) {
            return trouble("cannot read " + file.path());
        }
        edited.change = RecordChange();
        edited.problems.clear();
        readEntriesText(edited.text, edited.change, edited.problems);
        if (edited.problems.empty() || !terminal) {
            edited.outcome = edited.problems.empty() ? EditedText::Read : EditedText::Unreadable;
            return edited;
        }
        opened = reopenedText(header, edited.text, edited.problems);
    }
}

std::string keepText(const char* directory, const std::string& text)
{
    PrivateFile file(directory, "paramlist-kept");
    if (!file.ok() || !file.write(text)) {
        return "";
    }
    file.keep();
    return file.path();
}

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
    settings.wait = request.waitSeconds();
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
