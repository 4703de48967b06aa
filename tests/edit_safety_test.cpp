// Edits that cannot hurt, each rule run against the program as a user runs
// it: files that are not parameter files, a second name for standard input,
// what is swapped in while an edit waits, held locks and leases, the limits
// of the process, append-only directories, long chains of links, edits that
// change nothing, and the JSON count of bytes. Setups that need root or a
// facility of the kernel skip where it is missing.
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <map>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How a run is started: its words after the program, or a script for sh
// with the program as $P; the limits and user it runs under. Standard input
// is /dev/null.
struct Launch {
    std::vector<std::string> args;
    std::string script;
    std::vector<std::pair<int, rlim_t>> limits;
    std::optional<uid_t> user;
};

Launch command(std::vector<std::string> args)
{
    Launch launch;
    launch.args = std::move(args);
    return launch;
}

Launch script(std::string text)
{
    Launch launch;
    launch.script = std::move(text);
    return launch;
}

// A run of the program in dir, in a process group of its own, so that a run
// that hangs is ended with whatever it started.
class Running
{
public:
    Running(const ScratchDir& dir, const Launch& launch)
    {
        pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            // Close-on-exec: a descriptor left open would count against the program's limit.
            const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            const int out = ::open((logs.path + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const int err = ::open((logs.path + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (::chdir(dir.path.c_str()) != 0 || in < 0 || out < 0 || err < 0 || ::dup2(in, 0) != 0 ||
                ::dup2(out, 1) != 1 || ::dup2(err, 2) != 2) {
                ::_exit(126);
            }
            for (const auto& [resource, value] : launch.limits) {
                const rlimit limit{value, value};
                if (::setrlimit(resource, &limit) != 0) {
                    ::_exit(126);
                }
            }
            if (launch.user &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(*launch.user, *launch.user, *launch.user) != 0 ||
                 ::setresuid(*launch.user, *launch.user, *launch.user) != 0)) {
                ::_exit(126);
            }
            ::setenv("P", PARAMLIST_BINARY, 1);
            // LeakSanitizer needs a thread of its own at exit, which a process limit refuses.
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            std::vector<std::string> given = launch.args;
            if (!launch.script.empty()) {
                given = {"sh", "-c", launch.script};
            } else {
                given.insert(given.begin(), "paramlist");
            }
            std::vector<char*> words;
            words.reserve(given.size() + 1);
            for (std::string& word : given) {
                words.push_back(&word[0]);
            }
            words.push_back(nullptr);
            ::execv(launch.script.empty() ? PARAMLIST_BINARY : "/bin/sh", words.data());
            ::_exit(127);
        }
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    ~Running()
    {
        if (pid > 0) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Waits at most seconds for the run to end. The status of a process
    // killed by a signal is 128 and the signal; -1 for one still running
    // when its time was up.
    Outcome finish(int seconds = 30)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        int result;
        while ((result = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (result == 0) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
        const int code = result == 0           ? -1
                         : WIFEXITED(status)   ? WEXITSTATUS(status)
                         : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                               : -1;
        return {code, readFile(logs.path + "/out"), readFile(logs.path + "/err")};
    }

private:
    ScratchDir logs;
    pid_t pid = -1;
};

Outcome run(const ScratchDir& dir, const Launch& launch, int seconds = 30)
{
    return Running(dir, launch).finish(seconds);
}

Outcome runArgs(const ScratchDir& dir, std::vector<std::string> args)
{
    return run(dir, command(std::move(args)));
}

// Standard error without the notes that an edit waits for a lock, which a
// slow machine may print in a test that is not about them.
std::string withoutWaits(const std::string& err)
{
    std::string kept;
    for (std::size_t at = 0; at < err.size();) {
        const std::size_t end = std::min(err.find('\n', at), err.size() - 1);
        const std::string line = err.substr(at, end + 1 - at);
        if (line.find(": waiting for the edit lock") == std::string::npos) {
            kept += line;
        }
        at = end + 1;
    }
    return kept;
}

// Whether a file's bytes are the expected ones; where they are not, the
// sizes and the first offset that differs, not the bytes themselves.
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

// The image every case starts from, and the same with Operations[10] set.
const std::string image = Image().init(0, 3).operation(10, 850).name(0, "furnace").bytes;
const std::string edited = Image().init(0, 3).operation(10, 851).name(0, "furnace").bytes;

// The JSON of an image, as --from-json reads it.
std::string jsonOf(const std::string& bytes)
{
    ScratchDir dir;
    dir.write("i", bytes);
    return runArgs(dir, {"--json", "i"}).out;
}

std::string refusal(const std::string& path, std::size_t bytes)
{
    return "paramlist: " + path + ": not a parameter file (" + std::to_string(bytes) +
           " bytes, not 3950); --force edits it anyway\n";
}

// A process that holds the edit lock of file until it is killed or its time
// is up; started holding it.
class LockHolder
{
public:
    LockHolder(const std::string& file, int milliseconds)
    {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(file.c_str(), O_RDONLY);
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "x", 1) != 1) {
                ::_exit(1);
            }
            ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte;
        held = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    ~LockHolder()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    pid_t pid = -1;
    bool held = false;
};

struct stat statusOf(const std::string& file)
{
    struct stat status {
    };
    ::lstat(file.c_str(), &status);
    return status;
}

// The names in a directory, hidden ones too, sorted.
std::string listing(const std::string& directory)
{
    ScratchDir dir;
    return run(dir, script("ls -A '" + directory + "'")).out;
}

} // namespace

// 1. A file that is not 3950 bytes long is not a parameter file: an edit
// leaves it as it was, unless --force says to edit it anyway.
TEST(EditSafety, AFileOfAnotherLengthIsLeftAsItWasUnlessForced)
{
    const std::string notes = "buy milk\n";
    const std::string lines = std::string(5000, 'j');
    const std::string longer = image + "tail";
    const std::string theirs = Image().init(0, 3).operation(10, 851).init(1, 9).name(0, "furnace").bytes;
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
        std::map<std::string, std::string> after;
    } cases[] = {
        {{"--set", "Operations[10]=851", "NOTES.txt", "a.par", "export.jsonl"},
         1,
         refusal("NOTES.txt", notes.size()) + refusal("export.jsonl", lines.size()),
         {{"NOTES.txt", notes}, {"a.par", edited}, {"export.jsonl", lines}}},
        {{"--set", "Operations[10]=851", "long.par", "empty.par"},
         1,
         refusal("long.par", longer.size()) + refusal("empty.par", 0),
         {{"long.par", longer}, {"empty.par", ""}}},
        // --force: a short file completed with zeros, the bytes past the image kept.
        {{"--set", "Operations[10]=851", "--force", "NOTES.txt", "long.par"},
         0,
         "",
         {{"NOTES.txt", Image().put(0, notes).operation(10, 851).bytes}, {"long.par", edited + "tail"}}},
        {{"--set", "Operations[10]=851", "--create", "new.par", "empty.par"},
         1,
         refusal("empty.par", 0),
         {{"new.par", Image().operation(10, 851).bytes}, {"empty.par", ""}}},
        {{"--merge", "base.par", "NOTES.txt", "theirs.par"},
         2,
         refusal("NOTES.txt", notes.size()),
         {{"NOTES.txt", notes}}},
        {{"--merge", "--force", "base.par", "long.par", "theirs.par"}, 0, "", {{"long.par", theirs + "tail"}}},
        // A dry run refuses what the edit would, and writes nothing either way.
        {{"--set", "Operations[10]=851", "--dry-run", "NOTES.txt", "a.par"},
         2,
         refusal("NOTES.txt", notes.size()),
         {{"NOTES.txt", notes}, {"a.par", image}}},
        {{"--set", "Operations[10]=851", "--dry-run", "--force", "NOTES.txt"}, 1, "", {{"NOTES.txt", notes}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
        ScratchDir dir;
        dir.write("NOTES.txt", notes);
        dir.write("export.jsonl", lines);
        dir.write("a.par", image);
        dir.write("long.par", longer);
        dir.write("empty.par", "");
        dir.write("base.par", image);
        dir.write("theirs.par", theirs);
        const Outcome outcome = runArgs(dir, c.args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        for (const auto& [name, bytes] : c.after) {
            EXPECT_TRUE(holds(dir.path + "/" + name, bytes));
        }
    }
}

// 2. --merge reads standard input once, whatever names it is given by.
TEST(EditSafety, MergeReadsStandardInputOnceByAnyOfItsNames)
{
    const std::string ours = Image(Image{image}).init(1, 7).bytes;
    const char* const lines[] = {
        "cat base.par | $P --merge /dev/stdin ours.par -",
        "cat base.par | $P --merge - ours.par /dev/stdin",
        "cat base.par | $P --merge /dev/stdin ours.par /proc/self/fd/0",
        "cat base.par | $P --merge - ours.par -",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        ScratchDir dir;
        dir.write("base.par", image);
        dir.write("ours.par", ours);
        const Outcome outcome = run(dir, script(line));
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out, "");
        EXPECT_TRUE(holds(dir.path + "/ours.par", ours));
    }
}

// 3. What the path leads to when an edit has waited for its lock is refused
// as it would have been at the start, and never blocks the open.
TEST(EditSafety, WhatIsSwappedInWhileAnEditWaitsIsCheckedAsAtTheStart)
{
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* swap;
        int status;
        std::string err;
    } cases[] = {
        {"a FIFO",
         {"--set", "Init[0]=1", "x.par"},
         "mkfifo in",
         1,
         "paramlist: x.par: not a regular file, which --set cannot replace\n"},
        {"a link to a device",
         {"--set", "Init[0]=1", "x.par"},
         "ln -s /dev/null in",
         1,
         "paramlist: x.par: not a regular file, which --set cannot replace\n"},
        {"a FIFO, merged into",
         {"--merge", "base.par", "x.par", "theirs.par"},
         "mkfifo in",
         2,
         "paramlist: x.par: not a regular file, which --merge cannot replace\n"},
        {"a link to a device, merged into",
         {"--merge", "base.par", "x.par", "theirs.par"},
         "ln -s /dev/null in",
         2,
         "paramlist: x.par: not a regular file, which --merge cannot replace\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string file = dir.write("x.par", image);
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        const int lock = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
        Running edit(dir, command(c.args));
        ::usleep(300000);
        ASSERT_EQ(run(dir, script(std::string(c.swap) + " && mv -T in x.par")).status, 0);
        ::close(lock);
        const Outcome outcome = edit.finish(10);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(withoutWaits(outcome.err), c.err);
    }
}

// 4. An edit that waits for a lock says so after a second, and --wait gives
// up on the file after that long.
TEST(EditSafety, AnEditThatWaitsForALockSaysSoAndGivesUpWhenTold)
{
    const std::string waiting = "paramlist: x.par: waiting for the edit lock, held by process ";
    const std::string gaveUp = "paramlist: x.par: gave up waiting for the edit lock, held by process ";
    const struct {
        std::vector<std::string> args;
        int holdMilliseconds;
        int status;
        // With PID for the holder's process ID.
        std::string err;
        bool xEdited;
    } cases[] = {
        {{"--set", "Operations[10]=851", "--wait=2", "x.par", "y.par"},
         8000,
         1,
         waiting + "PID\n" + gaveUp + "PID (--wait=2)\n",
         false},
        {{"--set", "Operations[10]=851", "x.par", "y.par"}, 1600, 0, waiting + "PID\n", true},
        {{"--set", "Operations[10]=851", "--wait=0", "x.par", "y.par"}, 8000, 1, gaveUp + "PID (--wait=0)\n", false},
        {{"--set", "Operations[10]=851", "--wait=5", "x.par", "y.par"}, 1600, 0, waiting + "PID\n", true},
        {{"--merge", "--wait=2", "base.par", "x.par", "theirs.par"},
         8000,
         2,
         waiting + "PID\n" + gaveUp + "PID (--wait=2)\n",
         false},
        {{"--from-json", "in.json", "--wait=2", "-o", "x.par"},
         8000,
         1,
         waiting + "PID\n" + gaveUp + "PID (--wait=2)\n",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[2]);
        ScratchDir dir;
        const std::string file = dir.write("x.par", image);
        dir.write("y.par", image);
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        const LockHolder holder(file, c.holdMilliseconds);
        ASSERT_TRUE(holder.held);
        const Outcome outcome = run(dir, command(c.args));
        std::string err = c.err;
        for (std::size_t at; (at = err.find("PID")) != std::string::npos;) {
            err.replace(at, 3, std::to_string(holder.pid));
        }
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, err);
        EXPECT_TRUE(holds(file, c.xEdited ? edited : image));
        if (c.args[0] == "--set") {
            EXPECT_TRUE(holds(dir.path + "/y.par", edited));
        }
    }
    // A lock held by the command's own wrapper, as flock(1) holds it, ends too.
    ScratchDir dir;
    dir.write("x.par", image);
    const Outcome outcome = run(dir, script("flock x.par $P --set Operations[10]=851 --wait=2 x.par"));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("paramlist: x.par: gave up waiting for the edit lock"), std::string::npos)
        << outcome.err;
    EXPECT_TRUE(holds(dir.path + "/x.par", image));
    for (const char* word : {"--wait=soon", "--wait=-1", "--wait=", "--wait"}) {
        SCOPED_TRACE(word);
        const Outcome refused = runArgs(dir, {"--set", "Init[0]=1", word, "x.par"});
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find("--wait"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(runArgs(dir, {"--json", "--wait=1", "x.par"}).status, 2);
}

// 5. A read lease (an oplock, a delegation) on the file is broken and waited
// for, as a plain open waits for it.
TEST(EditSafety, AnEditWaitsForALeaseToBreak)
{
    const struct {
        std::vector<std::string> args;
    } cases[] = {
        {{"--set", "Operations[10]=851", "x.par"}},
        {{"--merge", "base.par", "x.par", "theirs.par"}},
        {{"--from-json", "in.json", "-o", "x.par"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ScratchDir dir;
        const std::string file = dir.write("x.par", image);
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        // The holder gives the lease up a while after it is told to, as a
        // client on the network does.
        const pid_t holder = ::fork();
        if (holder == 0) {
            sigset_t io;
            sigemptyset(&io);
            sigaddset(&io, SIGIO);
            ::sigprocmask(SIG_BLOCK, &io, nullptr);
            const int fd = ::open(file.c_str(), O_RDONLY);
            const char taken = fd >= 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0 ? 'y' : 'n';
            static_cast<void>(::write(ready[1], &taken, 1));
            const timespec patience{10, 0};
            ::sigtimedwait(&io, nullptr, &patience);
            ::usleep(300000);
            ::fcntl(fd, F_SETLEASE, F_UNLCK);
            ::_exit(0);
        }
        ::close(ready[1]);
        char taken = 'n';
        static_cast<void>(::read(ready[0], &taken, 1));
        ::close(ready[0]);
        if (taken != 'y') {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
            GTEST_SKIP() << "leases cannot be taken here";
        }
        const Outcome outcome = run(dir, command(c.args));
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(file, edited));
    }
}

// 6. A file that would pass the file size limit fails alone, with a
// diagnostic that names it; the run goes on.
TEST(EditSafety, TheFileSizeLimitFailsTheFileNotTheRun)
{
    const std::string big = image + std::string(4000, 'b');
    const struct {
        rlim_t limit;
        std::vector<std::string> args;
        int status;
        std::string err;
        std::map<std::string, std::string> after;
    } cases[] = {
        {2000,
         {"--set", "Operations[10]=851", "a.par", "b.par"},
         1,
         "paramlist: a.par: File too large\nparamlist: b.par: File too large\n",
         {{"a.par", image}, {"b.par", image}}},
        {6000,
         {"--set", "Operations[10]=851", "--force", "big.par", "a.par"},
         1,
         "paramlist: big.par: File too large\n",
         {{"big.par", big}, {"a.par", edited}}},
        {2000,
         {"--merge", "base.par", "a.par", "theirs.par"},
         2,
         "paramlist: a.par: File too large\n",
         {{"a.par", image}}},
        {2000, {"--from-json", "in.json", "-o", "a.par"}, 1, "paramlist: a.par: File too large\n", {{"a.par", image}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[2]);
        ScratchDir dir;
        dir.write("a.par", image);
        dir.write("b.par", image);
        dir.write("big.par", big);
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        Launch launch = command(c.args);
        launch.limits = {{RLIMIT_FSIZE, c.limit}};
        const Outcome outcome = run(dir, launch);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        for (const auto& [name, bytes] : c.after) {
            EXPECT_TRUE(holds(dir.path + "/" + name, bytes));
        }
    }
}

// 7. Where no second thread can be started, the modes over many files do
// all the work on one.
TEST(EditSafety, ModesOverManyFilesWorkWhereNoThreadCanStart)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to run as a user of its own with a process limit";
    }
    ScratchDir dir;
    ::chmod(dir.path.c_str(), 0755);
    std::vector<std::string> files;
    for (int i = 0; i < 300; ++i) {
        files.push_back("f" + std::to_string(i) + ".par");
        dir.write(files.back(), Image().init(0, static_cast<std::uint32_t>(i)).operation(3, i * 0.25).bytes);
    }
    // A user no other process runs as, so that this process is its only one.
    const uid_t user = 50000 + static_cast<uid_t>(::getpid() % 10000);
    for (const char* mode : {"--json", "--check", "--diff"}) {
        SCOPED_TRACE(mode);
        Launch launch = command({mode});
        launch.args.insert(launch.args.end(), files.begin(), files.end());
        const Outcome expected = run(dir, launch);
        launch.user = user;
        launch.limits = {{RLIMIT_NPROC, 1}};
        const Outcome outcome = run(dir, launch);
        EXPECT_EQ(outcome.status, expected.status);
        EXPECT_EQ(outcome.err, expected.err);
        EXPECT_TRUE(outcome.out == expected.out) << outcome.out.size() << " bytes, not " << expected.out.size();
    }
}

// 8. --set runs no more files side by side than the descriptor limit allows.
TEST(EditSafety, ManyFilesAreEditedWithinTheDescriptorLimit)
{
    for (const rlim_t limit : {8, 12, 20, 40}) {
        SCOPED_TRACE(limit);
        ScratchDir dir;
        Launch launch = command({"--set", "Operations[10]=851"});
        for (int i = 0; i < 40; ++i) {
            launch.args.push_back(dir.write("f" + std::to_string(i) + ".par", image));
        }
        launch.limits = {{RLIMIT_NOFILE, limit}};
        const Outcome outcome = run(dir, launch);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        const auto editedFiles = std::count_if(launch.args.begin() + 2, launch.args.end(),
                                               [](const std::string& file) { return readFile(file) == edited; });
        EXPECT_EQ(editedFiles, 40);
    }
}

// 9. In an append-only directory a save that cannot rename over the file
// leaves nothing behind.
TEST(EditSafety, ARefusedSaveInAnAppendOnlyDirectoryLeavesNothing)
{
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
        std::string names;
    } cases[] = {
        {{"--set", "Operations[10]=851", "ap/f.par"}, 1, "paramlist: ap/f.par: Operation not permitted\n", "f.par\n"},
        {{"--merge", "base.par", "ap/f.par", "theirs.par"},
         2,
         "paramlist: ap/f.par: Operation not permitted\n",
         "f.par\n"},
        {{"--from-json", "in.json", "-o", "ap/f.par"}, 1, "paramlist: ap/f.par: Operation not permitted\n", "f.par\n"},
        // A new name may be added to it.
        {{"--set", "Operations[10]=851", "--create", "ap/new.par"}, 0, "", "f.par\nnew.par\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        ScratchDir dir;
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        ::mkdir((dir.path + "/ap").c_str(), 0755);
        dir.write("ap/f.par", image);
        // Cleared again before the scratch directory is removed.
        struct AppendOnly {
            int fd;
            bool set = false;
            explicit AppendOnly(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY))
            {
                int flags = 0;
                if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                    flags |= FS_APPEND_FL;
                    set = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
                }
            }
            AppendOnly(const AppendOnly&) = delete;
            AppendOnly& operator=(const AppendOnly&) = delete;
            ~AppendOnly()
            {
                int flags = 0;
                if (set && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                    flags &= ~FS_APPEND_FL;
                    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
                }
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        } appendOnly(dir.path + "/ap");
        if (!appendOnly.set) {
            GTEST_SKIP() << "the file system here has no append-only directories, or this process may not make one";
        }
        const Outcome outcome = runArgs(dir, c.args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(listing(dir.path + "/ap"), c.names);
        EXPECT_TRUE(holds(dir.path + "/ap/f.par", image));
    }
}

// 10. A chain of links that the kernel follows, each relative, whose texts
// joined are longer than a path may be, is followed by a save too.
TEST(EditSafety, WhatTheKernelResolvesASaveResolves)
{
    const struct {
        std::vector<std::string> args;
    } cases[] = {
        {{"--set", "Operations[10]=851", "l0"}},
        {{"--merge", "base.par", "l0", "theirs.par"}},
        {{"--from-json", "in.json", "-o", "l0"}},
    };
    std::string detour;
    for (int i = 0; i < 1500; ++i) {
        detour += "./";
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ScratchDir dir;
        dir.write("t.par", image);
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        ::mkdir((dir.path + "/d").c_str(), 0755);
        ASSERT_EQ(::symlink("../t.par", (dir.path + "/d/l3").c_str()), 0);
        ASSERT_EQ(::symlink((detour + "d/l3").c_str(), (dir.path + "/l2").c_str()), 0);
        ASSERT_EQ(::symlink((detour + "l2").c_str(), (dir.path + "/l1").c_str()), 0);
        ASSERT_EQ(::symlink((detour + "l1").c_str(), (dir.path + "/l0").c_str()), 0);
        ASSERT_EQ(runArgs(dir, {"--entries", "l0"}).status, 0);
        const Outcome outcome = runArgs(dir, c.args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(dir.path + "/t.par", edited));
        EXPECT_TRUE(S_ISLNK(statusOf(dir.path + "/l0").st_mode));
        EXPECT_TRUE(S_ISLNK(statusOf(dir.path + "/d/l3").st_mode));
    }
}

// 11. An edit that changes nothing leaves the file as it was: its inode,
// its time of modification and its bytes.
TEST(EditSafety, AnEditThatChangesNothingDoesNotRewrite)
{
    const std::string longer = edited + "tail";
    const struct {
        std::vector<std::string> args;
        const char* file;
    } cases[] = {
        {{"--set", "Operations[10]=851", "x.par"}, "x.par"},
        {{"--set", "Operations[10]=8.51e2", "--set", "Names[0]=furnace", "--set", "Init[0]=3", "x.par"}, "x.par"},
        {{"--set", "Operations[10]=851", "--force", "long.par"}, "long.par"},
        {{"--merge", "base.par", "x.par", "base.par"}, "x.par"},
        {{"--from-json", "in.json", "-o", "x.par"}, "x.par"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        ScratchDir dir;
        const std::string file = dir.write("x.par", edited);
        dir.write("long.par", longer);
        dir.write("base.par", image);
        dir.write("in.json", jsonOf(edited));
        const std::string path = dir.path + "/" + c.file;
        const timespec past[2] = {{978307200, 0}, {978307200, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
        const struct stat before = statusOf(path);
        const std::string bytes = readFile(path);
        const Outcome outcome = runArgs(dir, c.args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        const struct stat after = statusOf(path);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_TRUE(holds(path, bytes));
    }
}

// 12. "bytes" is a count, written in digits alone, as an Init entry is.
TEST(EditSafety, TheCountOfBytesIsWrittenInDigitsAlone)
{
    const std::string json = jsonOf(image);
    const std::string digitsAlone = "\"bytes\" must be a whole number, written in digits alone";
    const struct {
        const char* bytes;
        int status;
        std::string problem;
    } cases[] = {
        {"1.5e300", 1, digitsAlone},
        {"-0.0", 1, digitsAlone},
        {"3950.0", 1, digitsAlone},
        {"3.95e3", 1, digitsAlone},
        {"-0", 1, "\"bytes\" must not be negative"},
        {"3950", 0, ""},
        {"0", 0, ""},
    };
    const std::size_t at = json.find("\"bytes\":3950") + 8;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        ScratchDir dir;
        std::string given = json;
        given.replace(at, 4, c.bytes);
        dir.write("in.json", given);
        const Outcome outcome = runArgs(dir, {"--from-json", "in.json", "-o", "out.par"});
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err,
                  c.problem.empty() ? "" : "paramlist: in.json:1:" + std::to_string(at + 1) + ": " + c.problem + "\n");
        EXPECT_TRUE(holds(dir.path + "/out.par", c.status == 0 ? image : ""));
    }
}

// 13. A replace by a user who cannot give the new file the old one's group
// gives the user's group, other people than the old group, no more than
// everyone else had: in the group bits, or in an ACL's owning group entry.
TEST(EditSafety, AGroupThatCannotBeKeptGetsNoMoreThanOthersHad)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to give a file to another user and group";
    }
    const bool acls = run(ScratchDir(), script("setfacl --version")).status == 0;
    // A user and group that nothing else has.
    const uid_t user = 50000 + static_cast<uid_t>(::getpid() % 10000);
    const struct {
        mode_t mode;
        gid_t group;
        std::string acl;
        mode_t after;
        std::string groupEntry;
    } cases[] = {
        {0676, 0, "", 0666, ""},
        {0636, 0, "", 0626, ""},
        // The user's own group is kept, and so are its bits.
        {0670, user, "", 0670, ""},
        {0660, 0, "u:" + std::to_string(user) + ":rw", 0660, "group::---\n"},
        {0664, 0, "u:" + std::to_string(user) + ":rw", 0664, "group::r--\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode << " " << c.acl);
        if (!c.acl.empty() && !acls) {
            continue;
        }
        ScratchDir dir;
        ::chmod(dir.path.c_str(), 0755);
        ASSERT_EQ(::chown(dir.path.c_str(), user, user), 0);
        const std::string file = dir.write("f.par", image);
        ASSERT_EQ(::chown(file.c_str(), 0, c.group), 0);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        if (!c.acl.empty() && run(dir, script("setfacl -m " + c.acl + " f.par")).status != 0) {
            continue;
        }
        Launch launch = command({"--set", "Operations[10]=851", "f.par"});
        launch.user = user;
        const Outcome outcome = run(dir, launch);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(file, edited));
        EXPECT_EQ(statusOf(file).st_mode & 07777, c.after);
        EXPECT_EQ(statusOf(file).st_gid, user);
        if (!c.acl.empty()) {
            const std::string entries = run(dir, script("getfacl -cp f.par")).out;
            EXPECT_NE(entries.find(c.groupEntry), std::string::npos) << entries;
        }
    }
}

// 14. A file that memory cannot hold twice, as an edit holds it while it
// changes it, fails alone: reported, left as it was, the others edited.
TEST(EditSafety, AFileThatMemoryCannotHoldFailsAlone)
{
#ifdef PARAMLIST_TESTS_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer cannot run within a limit of address space";
#endif
    constexpr off_t large = off_t{128} << 20;
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> edited;
    } cases[] = {
        {{"--set", "Operations[10]=851", "--force", "a.par", "big.par", "z.par"}, 1, {"a.par", "z.par"}},
        {{"--merge", "--force", "base.par", "big.par", "theirs.par"}, 2, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ScratchDir dir;
        dir.write("a.par", image);
        dir.write("z.par", image);
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        const std::string big = dir.write("big.par", image);
        ASSERT_EQ(::truncate(big.c_str(), large), 0);
        Launch launch = command(c.args);
        // Room for the file once, not twice.
        launch.limits = {{RLIMIT_AS, static_cast<rlim_t>(large) + (rlim_t{100} << 20)}};
        const Outcome outcome = run(dir, launch);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, "paramlist: big.par: Cannot allocate memory\n");
        EXPECT_EQ(statusOf(big).st_size, large);
        std::string start(image.size(), '\0');
        const int fd = ::open(big.c_str(), O_RDONLY);
        EXPECT_EQ(::read(fd, &start[0], start.size()), static_cast<ssize_t>(start.size()));
        ::close(fd);
        EXPECT_EQ(start, image);
        for (const std::string& file : c.edited) {
            EXPECT_TRUE(holds(dir.path + "/" + file, edited));
        }
    }
}

// 15. The attributes that chattr sets and that say how a file is kept are
// kept by every replace.
TEST(EditSafety, TheAttributesOfChattrAreKept)
{
    // The inode flags of file with added set; -1 where they cannot be read or set.
    const auto flagsOf = [](const std::string& file, int added) {
        int flags = 0;
        const int fd = ::open(file.c_str(), O_RDONLY);
        if (fd < 0 || ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
            flags = -1;
        } else if (added != 0) {
            flags |= added;
            flags = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0 ? flags : -1;
        }
        if (fd >= 0) {
            ::close(fd);
        }
        return flags;
    };
    const struct {
        std::vector<std::string> args;
        int flags;
    } cases[] = {
        {{"--set", "Operations[10]=851", "f.par"}, FS_NODUMP_FL},
        {{"--set", "Operations[10]=851", "f.par"}, FS_NOATIME_FL | FS_SYNC_FL},
        {{"--merge", "base.par", "f.par", "theirs.par"}, FS_NODUMP_FL | FS_NOATIME_FL},
        {{"--from-json", "in.json", "-o", "f.par"}, FS_NODUMP_FL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.flags));
        ScratchDir dir;
        dir.write("base.par", image);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        const std::string file = dir.write("f.par", image);
        const int before = flagsOf(file, c.flags);
        if (before < 0) {
            GTEST_SKIP() << "the file system here takes no such attributes, or this process may not set them";
        }
        const Outcome outcome = runArgs(dir, c.args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(file, edited));
        EXPECT_EQ(flagsOf(file, 0), before);
    }
}
