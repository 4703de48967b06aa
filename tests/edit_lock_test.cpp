// The edit lock (EditLock.h) and the edit transaction around it: a file
// that an edit created and failed to save is removed again, a write waits for
// an edit that holds the lock, an edit whose path comes to lead to another
// file starts again on that one, what is swapped in while an edit waits is
// checked again, a wait is told and given up when --wait says, and a lease
// is waited for.
#include "Parameter.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string image = Image().init(0, 42).bytes;

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

} // namespace

TEST(EditLock, AFailedFirstSaveOfACreatedFileLeavesNoFile)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    // With the disk full no file may be left that reads as the start image.
    // A file that was there, empty (edited with --force), stays, and so does
    // a link that led to nothing.
    ScratchDir dir;
    dir.write("empty.par", "");
    ASSERT_EQ(symlink("gone.par", (dir.path + "/dangling.par").c_str()), 0);
    const Outcome outcome = run(script("strace -f -o /dev/null -e inject=fsync:error=ENOSPC "
                                       "$P --set Init[0]=1 --create --force new.par dangling.par empty.par; ls -A")
                                    .in(dir)
                                    .withoutLeakChecks());
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "paramlist: new.par: No space left on device\n"
                           "paramlist: dangling.par: No space left on device\n"
                           "paramlist: empty.par: No space left on device\n");
    EXPECT_EQ(outcome.out, "dangling.par\nempty.par\n");
}

TEST(EditLock, AWriteWaitsForTheEditLock)
{
    // An edit that read the file before this write must not replace the
    // written file with what it read.
    ScratchDir dir;
    dir.write("s.json", jsonOf(image));
    const std::string file = dir.write("f.par", "old");
    const int lock = Parameter::openLocked(file.c_str(), false);
    ASSERT_GE(lock, 0);
    Running writer(command({"--from-json", "s.json", "-o", "f.par"}).in(dir));
    usleep(200000);
    EXPECT_EQ(readFile(file), "old");
    EXPECT_TRUE(Parameter::replace(file.c_str(), "edit", 4));
    close(lock);
    EXPECT_EQ(writer.finish().status, 0);
    EXPECT_EQ(readFile(file), image);
}

TEST(EditLock, AnEditNeverReplacesWhatAnotherProgramPutAtThePath)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    // The edit is held up at its read, after the lock; meanwhile another
    // program makes the path lead to other contents. The edit must land on
    // those, not put the file it read back under the path. --merge reads
    // BASE and THEIRS first, so its read of OURS is its third.
    const char* const edits[] = {
        "-e inject=read:delay_exit=1000000:when=1 $P --set Init[5]=5 f.par",
        "-e inject=read:delay_exit=1000000:when=3 $P --merge base.par f.par theirs.par",
    };
    const struct {
        const char* what;
        const char* change;
        const char* edited;
    } cases[] = {
        {"a link repointed", "ln -sfn other.par f.par", "other.par"},
        {"a file renamed over it", "cp other.par new && mv new f.par", "f.par"},
    };
    const std::string other = Image().init(0, 2).name(0, "precious").bytes;
    for (const auto& c : cases) {
        for (const char* edit : edits) {
            SCOPED_TRACE(std::string(c.what) + ": " + edit);
            ScratchDir dir;
            dir.write("first.par", Image().init(0, 1).bytes);
            dir.write("base.par", Image().init(0, 1).bytes);
            dir.write("theirs.par", Image().init(0, 1).init(5, 5).bytes);
            dir.write("other.par", other);
            if (std::string(c.edited) == "f.par") {
                dir.write("f.par", Image().init(0, 1).bytes);
            } else {
                ASSERT_EQ(symlink("first.par", (dir.path + "/f.par").c_str()), 0);
            }
            const Outcome outcome =
                run(script(std::string("strace -f -o /dev/null ") + edit + " & sleep 0.3; " + c.change + "; wait $!")
                        .in(dir)
                        .withoutLeakChecks());
            EXPECT_EQ(outcome.status, 0) << outcome.err;
            EXPECT_EQ(readFile(dir.path + "/" + c.edited), Image{other}.init(5, 5).bytes);
            EXPECT_EQ(readFile(dir.path + "/first.par"), Image().init(0, 1).bytes);
        }
    }
}

// What the path leads to when an edit has waited for its lock is refused
// as it would have been at the start, and never blocks the open.
TEST(EditLock, WhatIsSwappedInWhileAnEditWaitsIsCheckedAsAtTheStart)
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
        const std::string file = dir.write("x.par", unedited);
        dir.write("base.par", unedited);
        dir.write("theirs.par", edited);
        const int lock = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
        Running edit(command(c.args).in(dir).within(10));
        ::usleep(300000);
        ASSERT_EQ(run(script(std::string(c.swap) + " && mv -T in x.par").in(dir)).status, 0);
        ::close(lock);
        const Outcome outcome = edit.finish();
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(withoutWaits(outcome.err), c.err);
    }
}

// An edit that waits for a lock says so after a second, and --wait gives
// up on the file after that long.
TEST(EditLock, AnEditThatWaitsForALockSaysSoAndGivesUpWhenTold)
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
        const std::string file = dir.write("x.par", unedited);
        dir.write("y.par", unedited);
        dir.write("base.par", unedited);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        const LockHolder holder(file, c.holdMilliseconds);
        ASSERT_TRUE(holder.held);
        const Outcome outcome = run(command(c.args).in(dir));
        std::string err = c.err;
        for (std::size_t at; (at = err.find("PID")) != std::string::npos;) {
            err.replace(at, 3, std::to_string(holder.pid));
        }
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, err);
        EXPECT_TRUE(holds(file, c.xEdited ? edited : unedited));
        if (c.args[0] == "--set") {
            EXPECT_TRUE(holds(dir.path + "/y.par", edited));
        }
    }
    // A lock held by the command's own wrapper, as flock(1) holds it, ends too.
    ScratchDir dir;
    dir.write("x.par", unedited);
    const Outcome outcome = run(script("flock x.par $P --set Operations[10]=851 --wait=2 x.par").in(dir));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("paramlist: x.par: gave up waiting for the edit lock"), std::string::npos)
        << outcome.err;
    EXPECT_TRUE(holds(dir.path + "/x.par", unedited));
    for (const char* word : {"--wait=soon", "--wait=-1", "--wait=", "--wait"}) {
        SCOPED_TRACE(word);
        const Outcome refused = run(command({"--set", "Init[0]=1", word, "x.par"}).in(dir));
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find("--wait"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(run(command({"--json", "--wait=1", "x.par"}).in(dir)).status, 2);
}

// A read lease (an oplock, a delegation) on the file is broken and waited
// for, as a plain open waits for it.
TEST(EditLock, AnEditWaitsForALeaseToBreak)
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
        const std::string file = dir.write("x.par", unedited);
        dir.write("base.par", unedited);
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
        const Outcome outcome = run(command(c.args).in(dir));
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(file, edited));
    }
}
