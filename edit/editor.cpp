// The user's editor on a private copy of a text: the copy, the editor run as
// crontab -e and git commit run it, the signals that end the edit, and the
// text opened again when what came back does not read and the user asks.
#include "editor.h"

#include "Parameter.h"
#include "diagnostics.h"
#include "watched_signals.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
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

PrivateDirectory::PrivateDirectory(const char* temporaryDirectory, const char* prefix)
{
    std::string pattern = std::string(temporaryDirectory) + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(&pattern[0]) != nullptr) {
        name = pattern;
    }
}

PrivateDirectory::~PrivateDirectory()
{
    if (!ok()) {
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(name.c_str()), ::closedir);
    for (const dirent* entry = directory ? ::readdir(directory.get()) : nullptr; entry != nullptr;
         entry = ::readdir(directory.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            ::unlinkat(::dirfd(directory.get()), entry->d_name, 0);
        }
    }
    ::rmdir(name.c_str());
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

// How long an editor that a signal was passed on to is given to end.
constexpr int editorGraceMilliseconds = 2000;

// The script that runs command on its "$1": a command that is a program's
// name and its words replaces the shell, so that a signal passed on reaches
// the editor itself; one in the shell's own syntax (an assignment first, a
// builtin, a list) runs within it.
std::string editorScript(const std::string& command)
{
    const std::string first = command.substr(0, command.find_first_of(" \t"));
    const bool program = command.find_first_of(";&|<>()`{}!\n") == std::string::npos &&
                         first.find('=') == std::string::npos && first != "exec" && first != "command" &&
                         first != "eval" && first != ".";
    return (program ? "exec " : "") + command + " \"$@\"";
}

// Waits for child to end, at most milliseconds (negative: as long as it
// takes), taking the signals that come meanwhile; true once it has ended,
// with its wait status.
bool waitForChild(pid_t child, int& status, const WatchedSignals& signals, int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (milliseconds >= 0 && left <= 0) {
            return false;
        }
        if (signals.fd() < 0) {
            return ::waitpid(child, &status, 0) == child;
        }
        pollfd watched{signals.fd(), POLLIN, 0};
        ::poll(&watched, 1, milliseconds >= 0 ? static_cast<int>(left) : -1);
        signals.take(true);
    }
}

// Reads a line that the user types on terminal, for an answer; false at
// the end of input, or with signal set when one ended the edit meanwhile.
bool readAnswer(int terminal, const WatchedSignals& signals, std::string& line, int& signal)
{
    line.clear();
    for (;;) {
        std::array<pollfd, 2> watched{{{signals.fd(), POLLIN, 0}, {terminal, POLLIN, 0}}};
        if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) {
            return false;
        }
        signal = signals.take(false).ending;
        if (signal != 0) {
            return false;
        }
        if (watched[1].revents == 0) {
            continue;
        }
        std::array<char, 256> typed;
        const ssize_t count = ::read(terminal, typed.data(), typed.size());
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        line.append(typed.data(), static_cast<std::size_t>(count));
        const std::size_t end = line.find_first_of("\r\n");
        if (end != std::string::npos) {
            line.erase(end);
            return true;
        }
    }
}

} // namespace

EditorRun runEditor(const std::string& command, const std::string& path, const WatchedSignals& signals)
{
    EditorRun run;
    run.signal = signals.take(false).ending;
    if (run.signal != 0) {
        return run;
    }
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
    std::string script = editorScript(command);
    std::string shell = "/bin/sh";
    std::string option = "-c";
    std::string name = command;
    std::string file = path;
    std::array<char*, 6> arguments{&shell[0], &option[0], &script[0], &name[0], &file[0], nullptr};
    // A quit from the terminal is the editor's alone.
    const SignalDisposition quit(SIGQUIT, SIG_IGN);
    pid_t child = 0;
    const int error = ::posix_spawn(&child, shell.c_str(), nullptr, attributes.get(), arguments.data(), environ);
    if (error != 0) {
        errno = error;
        return run;
    }
    // Without the descriptor (none was left to make it), the signals wait
    // until the editor has ended.
    if (signals.fd() < 0) {
        waitForChild(child, run.status, signals, -1);
        return run;
    }
    for (;;) {
        pollfd watched{signals.fd(), POLLIN, 0};
        ::poll(&watched, 1, -1);
        const WatchedSignals::Taken taken = signals.take(true);
        if (taken.ending != 0) {
            run.signal = taken.ending;
            ::unlink(path.c_str());
            ::kill(child, taken.ending);
            waitForChild(child, run.status, signals, editorGraceMilliseconds);
            ::unlink(path.c_str());
            return run;
        }
        if (taken.child && waitForChild(child, run.status, signals, 0)) {
            return run;
        }
    }
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

int askToRetry(int terminal, const WatchedSignals& signals)
{
    for (;;) {
        std::fputs("Do you want to retry the same edit? (y/n) ", stderr);
        std::string line;
        int signal = 0;
        if (!readAnswer(terminal, signals, line, signal)) {
            std::fputs("\n", stderr);
            return -signal;
        }
        const std::size_t first = line.find_first_not_of(" \t");
        const char answer = first == std::string::npos
                                ? '\0'
                                : static_cast<char>(std::tolower(static_cast<unsigned char>(line[first])));
        if (answer == 'y' || answer == 'n') {
            return answer == 'y' ? 1 : 0;
        }
    }
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

namespace {

// Opens opened in the editor, in a private file that lives only while the
// editor runs, and reads what the user saved into edited.text; false with
// edited's outcome set when there is nothing to read.
bool openInEditor(const EditSession& session, const std::string& opened, const WatchedSignals& signals,
                  EditedText& edited)
{
    const auto trouble = [&edited](const std::string& what) {
        edited.outcome = EditedText::Trouble;
        edited.reason = what + ": " + std::strerror(errno);
        return false;
    };
    const PrivateDirectory place(session.directory, "paramlist-edit");
    if (!place.ok()) {
        return trouble(std::string("cannot make a private directory in ") + session.directory);
    }
    const PrivateFile file(place.path().c_str(), "entries");
    if (!file.ok()) {
        return trouble("cannot make a private file in " + place.path());
    }
    if (!file.write(opened)) {
        return trouble("cannot write " + file.path());
    }
    const EditorRun run = runEditor(session.command, file.path(), signals);
    if (run.signal != 0) {
        edited.outcome = EditedText::Stopped;
        edited.signal = run.signal;
        return false;
    }
    if (run.status < 0) {
        return trouble("cannot run the editor");
    }
    edited.reason = editorFailure(run.status);
    if (!edited.reason.empty()) {
        edited.outcome = EditedText::Cancelled;
        return false;
    }
    return file.read(edited.text) || trouble("cannot read " + file.path());
}

} // namespace

EditedText editText(const EditSession& session, const std::string& text)
{
    // Taken first, so that no signal ends the edit before its file is gone.
    const WatchedSignals signals;
    EditedText edited;
    std::string opened = session.header + text;
    for (bool again = false;; again = true) {
        if (!openInEditor(session, opened, signals, edited)) {
            return edited;
        }
        // As vi's :q! leaves it: the user gave up.
        if (again && edited.text == opened) {
            edited.outcome = EditedText::Abandoned;
            edited.reason = "the text was left as it was opened again, which cancels the edit";
            return edited;
        }
        edited.change = RecordChange();
        edited.problems.clear();
        readEntriesText(edited.text, edited.change, edited.problems, session.schema, session.checkedFrom);
        if (edited.problems.empty()) {
            edited.outcome = EditedText::Read;
            return edited;
        }
        edited.outcome = EditedText::Unreadable;
        if (session.terminal < 0) {
            return edited;
        }
        for (const TextProblem& problem : edited.problems) {
            reportError(session.file.c_str(), "line " + std::to_string(problem.line) + ", column " +
                                                  std::to_string(problem.column) + ": " + problem.what);
        }
        edited.shown = true;
        const int answer = askToRetry(session.terminal, signals);
        if (answer < 0) {
            edited.outcome = EditedText::Stopped;
            edited.signal = -answer;
        }
        if (answer <= 0) {
            return edited;
        }
        opened = reopenedText(session.header, edited.text, edited.problems);
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
