// The atomic replace (AtomicReplace.h): the identity of the file it replaces
// kept, its group where the user may not keep it; a kill mid-way, a failed
// flush, no /proc, the fallback through a hidden file and an append-only
// directory, none of which leaves a wrong file or debris that is not
// recognisable. What needs root, strace, ACLs or a mount namespace skips
// where it is missing.
#include "Parameter.h"
#include "support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <regex>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string image = Image().init(0, 42).bytes;

} // namespace

TEST(AtomicReplace, KeepsTheIdentityOfTheFileItReplaces)
{
    const bool root = ::geteuid() == 0;
    const struct {
        const char* what;
        std::function<std::string(const ScratchDir&)> prepare; // returns the path to save to
        std::function<void(const ScratchDir&)> verify;
    } cases[] = {
        {"permission bits and set-group-ID",
         [](const ScratchDir& d) {
             std::string file = d.write("secret.par", "old");
             chmod(file.c_str(), 02600);
             return file;
         },
         [&](const ScratchDir& d) {
             struct stat status {
             };
             ASSERT_EQ(stat((d.path + "/secret.par").c_str(), &status), 0);
             EXPECT_EQ(status.st_mode & 07777, root ? 02600u : 0600u);
         }},
        {"owner and group",
         [&](const ScratchDir& d) {
             std::string file = d.write("owned.par", "old");
             EXPECT_EQ(chown(file.c_str(), 65534, 65534) == 0, root);
             return file;
         },
         [&](const ScratchDir& d) {
             struct stat status {
             };
             ASSERT_EQ(stat((d.path + "/owned.par").c_str(), &status), 0);
             if (root) {
                 EXPECT_EQ(status.st_uid, 65534u);
                 EXPECT_EQ(status.st_gid, 65534u);
             }
         }},
        {"a chain of links, relative and dangling",
         [](const ScratchDir& d) {
             mkdir((d.path + "/sub").c_str(), 0755);
             symlink("sub/middle", (d.path + "/link").c_str());
             symlink("target.par", (d.path + "/sub/middle").c_str());
             return d.path + "/link";
         },
         [&](const ScratchDir& d) {
             struct stat status {
             };
             ASSERT_EQ(lstat((d.path + "/link").c_str(), &status), 0);
             EXPECT_TRUE(S_ISLNK(status.st_mode));
             ASSERT_EQ(lstat((d.path + "/sub/middle").c_str(), &status), 0);
             EXPECT_TRUE(S_ISLNK(status.st_mode));
             EXPECT_EQ(readFile(d.path + "/sub/target.par"), image);
         }},
        {"a name of 255 bytes", [](const ScratchDir& d) { return d.path + "/" + std::string(255, 'n'); },
         [&](const ScratchDir& d) { EXPECT_EQ(readFile(d.path + "/" + std::string(255, 'n')), image); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string file = c.prepare(dir);
        const int before = entriesIn(dir.path);
        Parameter para;
        para.setInitParameter(0, 42);
        ASSERT_TRUE(para.write(file.c_str())) << std::strerror(errno);
        EXPECT_EQ(readFile(file), image);
        c.verify(dir);
        EXPECT_EQ(entriesIn(dir.path), before + (before == 0 ? 1 : 0)) << "no temporary file is left";
    }
}

TEST(AtomicReplace, AProcessKilledPartWayLeavesNoFileBehind)
{
    ScratchDir dir;
    const std::string kept = dir.write("kept.par", "old contents");
    for (const std::string& file : {kept, dir.path + "/new.par"}) {
        SCOPED_TRACE(file);
        const pid_t child = fork();
        if (child == 0) {
            const rlimit limit{1024, 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            Parameter para;
            para.write(file.c_str());
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
        EXPECT_EQ(entriesIn(dir.path), 1) << "only kept.par";
    }
    EXPECT_EQ(readFile(kept), "old contents");
}

TEST(AtomicReplace, SavesWithoutProc)
{
    if (geteuid() != 0 || !available("unshare -m true")) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
#ifdef PARAMLIST_TESTS_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer reads its options and checks leaks through /proc";
#endif
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", jsonOf(image, "i"));
    const Outcome outcome = run(script("unshare -m sh -c 'mount -t tmpfs none /proc && "
                                       "$P --from-json s.json -o new.par && $P --from-json s.json -o new.par'")
                                    .in(dir)
                                    .withoutLeakChecks());
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(readFile(dir.path + "/new.par"), image);
}

TEST(AtomicReplace, TheHiddenFileOfTheFallbackIsTheOwnersAlone)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    // With no way to link an unnamed file in, a hidden file is created
    // owner-only, written, and given the mode a new file gets.
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", jsonOf(image, "i"));
    const Outcome outcome =
        run(script("umask 027; strace -f -o trace -e trace=openat,linkat -e inject=linkat:error=ENOENT "
                   "$P --from-json s.json -o new.par && grep O_EXCL trace")
                .in(dir)
                .withoutLeakChecks());
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(std::regex_search(outcome.out, std::regex("\"\\.paramlist-[0-9]+-[0-9a-f]{16}\", .*O_EXCL.*, 0600\\)")))
        << outcome.out;
    struct stat status {
    };
    stat((dir.path + "/new.par").c_str(), &status);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(dir.path + "/new.par"), image);
    EXPECT_EQ(run(script("ls -A | grep paramlist").in(dir)).out, "");
}

TEST(AtomicReplace, LeavesTheFileWholeAndRecognisableDebrisAtMost)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", jsonOf(image, "i"));
    dir.write("old.par", "old");
    chmod((dir.path + "/old.par").c_str(), 0640);
    // A new file is linked straight to its name: there is no rename to kill.
    Outcome outcome = run(script("strace -f -o /dev/null -e inject=renameat,renameat2,rename:signal=SIGKILL "
                                 "$P --from-json s.json -o new.par; ls -A | grep paramlist")
                              .in(dir)
                              .withoutLeakChecks());
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(readFile(dir.path + "/new.par"), image);
    // Killed between link and rename: a complete hidden copy with the mode.
    outcome = run(script("strace -f -o /dev/null -e inject=renameat,renameat2,rename:signal=SIGKILL "
                         "$P --from-json s.json -o old.par; ls -A | grep paramlist")
                      .in(dir)
                      .withoutLeakChecks());
    EXPECT_EQ(readFile(dir.path + "/old.par"), "old");
    std::smatch debris;
    const std::string listed = outcome.out;
    ASSERT_TRUE(std::regex_match(listed, debris, std::regex("(\\.paramlist-[0-9]+-[0-9a-f]{16})\n"))) << listed;
    EXPECT_EQ(readFile(dir.path + "/" + debris[1].str()), image);
    struct stat status {
    };
    stat((dir.path + "/" + debris[1].str()).c_str(), &status);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST(AtomicReplace, AFailedDirectoryFlushReportsAFailureWithTheNewContentsInPlace)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", jsonOf(image, "i"));
    dir.write("base.par", "");
    const std::string flushed = "the directory could not be flushed, so ";
    // Every mode that writes says that the file holds the new contents.
    const struct {
        const char* command;
        int status;
        std::string err;
    } cases[] = {
        {"--from-json s.json -o f.par", 1,
         "paramlist: f.par: written, but " + flushed + "it may not survive a power cut: Input/output error\n"},
        {"--set Init[0]=42 f.par", 1,
         "paramlist: f.par: edited, but " + flushed + "the edit may not survive a power cut: Input/output error\n"},
        {"--merge base.par f.par i", 2,
         "paramlist: f.par: the merge is in place but may not survive a power cut: Input/output error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        dir.write("f.par", std::string(3950, '\0'));
        // The second flush is the directory's, after the rename.
        const Outcome outcome =
            run(script(std::string("strace -f -o /dev/null -e inject=fsync:error=EIO:when=2 $P ") + c.command)
                    .in(dir)
                    .withoutLeakChecks());
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(readFile(dir.path + "/f.par"), image);
    }
}

// In an append-only directory a save that cannot rename over the file
// leaves nothing behind.
TEST(AtomicReplace, ARefusedSaveInAnAppendOnlyDirectoryLeavesNothing)
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
        dir.write("base.par", unedited);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        ::mkdir((dir.path + "/ap").c_str(), 0755);
        dir.write("ap/f.par", unedited);
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
        const Outcome outcome = run(command(c.args).in(dir));
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(run(script("ls -A ap").in(dir)).out, c.names);
        EXPECT_TRUE(holds(dir.path + "/ap/f.par", unedited));
    }
}

// A replace by a user who cannot give the new file the old one's group
// gives the user's group, other people than the old group, no more than
// everyone else had: in the group bits, or in an ACL's owning group entry.
TEST(AtomicReplace, AGroupThatCannotBeKeptGetsNoMoreThanOthersHad)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to give a file to another user and group";
    }
    const bool acls = available("setfacl --version");
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
        const std::string file = dir.write("f.par", unedited);
        ASSERT_EQ(::chown(file.c_str(), 0, c.group), 0);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        if (!c.acl.empty() && run(script("setfacl -m " + c.acl + " f.par").in(dir)).status != 0) {
            continue;
        }
        const Outcome outcome = run(command({"--set", "Operations[10]=851", "f.par"}).in(dir).as(user));
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(file, edited));
        EXPECT_EQ(statusOf(file).st_mode & 07777, c.after);
        EXPECT_EQ(statusOf(file).st_gid, user);
        if (!c.acl.empty()) {
            const std::string entries = run(script("getfacl -cp f.par").in(dir)).out;
            EXPECT_NE(entries.find(c.groupEntry), std::string::npos) << entries;
        }
    }
}
