// The user's editor on a private copy of a text: the copy, the editor run as
// crontab -e and git commit run it, and the text opened again when what came
// back does not read.
#include "editor.h"

#include "Parameter.h"
#include "terminal_text.h"

#include <algorithm>
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
