#include "support.h"

#include "Parameter.h"
#include "record_text.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string programCommand()
{
    const char* command = std::getenv("PARAMLIST_COMMAND");
    return command != nullptr ? command : PARAMLIST_BINARY;
}

std::vector<std::string> programWords()
{
    if (std::getenv("PARAMLIST_COMMAND") == nullptr) {
        return {PARAMLIST_BINARY};
    }
    std::vector<std::string> words;
    std::istringstream command(programCommand());
    for (std::string word; command >> word;) {
        words.push_back(word);
    }
    return words;
}

} // namespace

ScratchDir::ScratchDir()
{
    char pattern[] = "/tmp/paramlist-test-XXXXXX";
    path = mkdtemp(pattern);
}

ScratchDir::~ScratchDir()
{
    if (!path.empty()) {
        const auto removeEach = [](const char* name, const struct stat*, int, FTW*) {
            ::remove(name);
            return 0;
        };
        ::nftw(path.c_str(), removeEach, 16, FTW_DEPTH | FTW_PHYS);
    }
}

std::string ScratchDir::write(const std::string& name, const std::string& bytes) const
{
    std::string file = path + "/" + name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}

std::string readFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void expectEach(const std::vector<ScriptCase>& cases, const std::function<ScratchDir()>& made)
{
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.script);
        const ScratchDir dir = made();
        const Outcome r = run(script(c.script).in(dir));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

std::vector<std::string> piecesOf(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(separator, at), text.size());
        pieces.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return pieces;
}

testing::AssertionResult holds(const std::string& file, const std::string& expected)
{
    const std::string bytes = readFile(file);
    if (bytes == expected) {
        return testing::AssertionSuccess();
    }
    const auto differ = std::mismatch(bytes.begin(), bytes.end(), expected.begin(), expected.end());
    return testing::AssertionFailure() << file << " holds " << bytes.size() << " bytes, not " << expected.size()
                                       << ", first different at " << (differ.first - bytes.begin());
}

struct stat statusOf(const std::string& file)
{
    struct stat status {
    };
    ::lstat(file.c_str(), &status);
    return status;
}

int entriesIn(const std::string& directory)
{
    int entries = -2;
    DIR* listing = opendir(directory.c_str());
    while (listing != nullptr && readdir(listing) != nullptr) {
        ++entries;
    }
    if (listing != nullptr) {
        closedir(listing);
    }
    return entries;
}

std::string jsonOf(const std::string& bytes, const std::string& file)
{
    const ScratchDir dir;
    const std::string path = dir.write("f.par", bytes);
    Parameter para;
    std::size_t length = 0;
    EXPECT_TRUE(para.read(path.c_str(), &length));
    std::string json;
    appendRecordJson(json, (file.empty() ? path : file).c_str(), length, para);
    return json;
}

bool available(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool canTrace()
{
    return available("strace -o /dev/null true");
}

Launch command(std::vector<std::string> args)
{
    Launch run;
    run.words = std::move(args);
    return run;
}

Launch script(std::string text)
{
    Launch run;
    run.scriptText = std::move(text);
    return run;
}

// The run has a process group of its own, so that one that hangs is ended
// with whatever it started.
Running::Running(const Launch& run) : seconds(run.seconds), terminalOutput(run.terminal == Terminal::Output)
{
    std::vector<std::string> given{"/bin/sh", "-c", run.scriptText};
    if (run.scriptText.empty()) {
        given = programWords();
        given.insert(given.end(), run.words.begin(), run.words.end());
    }
    std::vector<char*> argv;
    argv.reserve(given.size() + 1);
    for (std::string& word : given) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    int slave = -1;
    const bool keyboard = run.terminal == Terminal::Keyboard;
    if (run.terminal != Terminal::None) {
        if (::openpty(&terminal, &slave, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
            return;
        }
        // Raw: what the program writes arrives as it wrote it.
        termios mode{};
        ::tcgetattr(slave, &mode);
        if (!keyboard) {
            ::cfmakeraw(&mode);
        }
        ::tcsetattr(slave, TCSANOW, &mode);
        ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    const std::string out = logs.path + "/out";
    const std::string err = logs.path + "/err";
    const std::string command = programCommand();
    pid = ::fork();
    if (pid == 0) {
        // A session of its own, the terminal its controlling one, is a group of its own too.
        if (keyboard) {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
        } else {
            ::setpgid(0, 0);
        }
        // Close-on-exec: a descriptor left open would count against the program's limits.
        const int in =
            run.terminal == Terminal::Input || keyboard ? slave : ::open(run.inputFile.c_str(), O_RDONLY | O_CLOEXEC);
        const int o = terminalOutput ? slave : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int e = terminalOutput ? slave : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if ((!run.workingDirectory.empty() && ::chdir(run.workingDirectory.c_str()) != 0) || in < 0 || o < 0 || e < 0 ||
            ::dup2(in, 0) != 0 || ::dup2(o, 1) != 1 || ::dup2(e, 2) != 2) {
            ::_exit(126);
        }
        for (const auto& [resource, value] : run.limits) {
            const rlimit limit{value, value};
            if (::setrlimit(resource, &limit) != 0) {
                ::_exit(126);
            }
        }
        if (run.user && (::setgroups(0, nullptr) != 0 || ::setresgid(*run.user, *run.user, *run.user) != 0 ||
                         ::setresuid(*run.user, *run.user, *run.user) != 0)) {
            ::_exit(126);
        }
        ::setenv("P", command.c_str(), 1);
        // LeakSanitizer needs a thread of its own at exit, ptrace and /proc.
        if (!run.leakChecks) {
            const char* options = std::getenv("ASAN_OPTIONS");
            ::setenv("ASAN_OPTIONS",
                     (options != nullptr ? std::string(options) + ":detect_leaks=0" : "detect_leaks=0").c_str(), 1);
        }
        for (const auto& [name, value] : run.environment) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    // Here as well as in the child, so that a kill straight after the fork
    // reaches the group; not for a session, which a group leader cannot start.
    if (!keyboard) {
        ::setpgid(pid, pid);
    }
    if (slave >= 0) {
        ::close(slave);
    }
}

Running::~Running()
{
    if (pid > 0) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (terminal >= 0) {
        ::close(terminal);
    }
}

Outcome Running::finish()
{
    if (pid <= 0) {
        return {-1, "", ""};
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::string shown;
    while (terminalOutput && terminal >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready{terminal, POLLIN, 0};
        if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char block[4096];
        // An error, EIO, once the run and all it started have closed the terminal.
        const ssize_t count = ::read(terminal, block, sizeof block);
        if (count <= 0) {
            break;
        }
        shown.append(block, static_cast<std::size_t>(count));
    }
    int status = 0;
    int result;
    while ((result = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (result == 0) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
    const int code = result <= 0           ? -1
                     : WIFEXITED(status)   ? WEXITSTATUS(status)
                     : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                           : -1;
    if (terminalOutput) {
        return {code, shown, ""};
    }
    return {code, readFile(logs.path + "/out"), readFile(logs.path + "/err")};
}

void Running::type(const std::string& keys) const
{
    EXPECT_EQ(::write(terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

std::string Running::errors() const
{
    return readFile(logs.path + "/err");
}

bool eventually(const std::function<bool()>& holds, int tries)
{
    for (int tried = 0; tried < tries; ++tried) {
        if (holds()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Outcome run(const Launch& run)
{
    return Running(run).finish();
}
