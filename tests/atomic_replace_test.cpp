// The atomic replace (AtomicReplace.h): the identity and links of the file it
// replaces kept, and against a hostile or unusual system: links the kernel
// would refuse to follow, descriptor links, ACLs, no /proc, write-only
// directories, taken temporary names, a kill mid-way, a failed flush, closed
// standard streams. What needs root, strace, ACLs or a mount namespace skips
// where it is missing.
#include "Parameter.h"
#include "shell.h"
#include "support.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstring>
#include <functional>
#include <regex>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr uid_t nobody = 65534;

// Runs body in a child process, as nobody when this process is root, and
// returns its exit status: what a user without privileges gets.
int unprivileged(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                               setresuid(nobody, nobody, nobody) != 0)) {
            _exit(100);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A directory that an unprivileged child may write in, under a scratch
// directory it may search.
std::string userDirectory(const ScratchDir& dir, const char* name, mode_t mode)
{
    chmod(dir.path.c_str(), 0711);
    std::string path = dir.path + "/" + name;
    mkdir(path.c_str(), 0700);
    if (geteuid() == 0) {
        chown(path.c_str(), nobody, nobody);
    }
    chmod(path.c_str(), mode);
    return path;
}

// Saves a record with Init[0] = value; the errno of a failure as the result.
int save(const std::string& file, std::uint32_t value = 42)
{
    Parameter para;
    para.setInitParameter(0, value);
    return para.write(file.c_str()) ? 0 : errno;
}

// Sets a sysctl for as long as it lives and restores it then. A sysctl is
// the whole machine's and ctest runs tests side by side, so each holder first
// takes a lock that the others wait for: otherwise one test's restore turns
// another's protection off half-way.
struct Sysctl {
    int lock;
    std::string path;
    std::string old;
    bool set;
    Sysctl(const char* name, const std::string& value)
        : lock(::open("/tmp/paramlist-tests-sysctl.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600)),
          path(std::string("/proc/sys/") + name), set(false)
    {
        if (lock >= 0 && ::flock(lock, LOCK_EX) == 0) {
            old = readFile(path);
            std::ofstream out(path);
            set = !old.empty() && (out << value).flush().good();
        }
    }
    Sysctl(const Sysctl&) = delete;
    Sysctl& operator=(const Sysctl&) = delete;
    ~Sysctl()
    {
        if (set) {
            std::ofstream(path) << old;
        }
        if (lock >= 0) {
            ::close(lock);
        }
    }
};

const std::string image = Image().init(0, 42).bytes;

} // namespace

// How many entries a directory has besides . and ..
static int entriesIn(const std::string& path)
{
    int entries = -2;
    DIR* listing = opendir(path.c_str());
    while (readdir(listing) != nullptr) {
        ++entries;
    }
    closedir(listing);
    return entries;
}

TEST(Save, KeepsTheIdentityOfTheFileItReplaces)
{
    const std::string image = Image().init(0, 42).bytes;
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

TEST(Save, AProcessKilledPartWayLeavesNoFileBehind)
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

TEST(SaveRefusal, NothingOpeningForWritingWouldNotReach)
{
    // As a user: a read-only file in a directory the user may write.
    {
        ScratchDir dir;
        const std::string folder = userDirectory(dir, "own", 0755);
        const std::string file = folder + "/read-only.par";
        std::ofstream(file) << "old";
        if (geteuid() == 0) {
            chown(file.c_str(), nobody, nobody);
        }
        chmod(file.c_str(), 0444);
        EXPECT_EQ(unprivileged([&] { return save(file); }), EACCES);
        EXPECT_EQ(readFile(file), "old");
    }
    if (geteuid() != 0) {
        GTEST_SKIP() << "the sticky-directory links need root, to own a link as another user";
    }
    const struct {
        const char* what;
        const char* protect;
        const char* link;
        int error;
    } cases[] = {
        {"another user's link to root's file", "1", "../vault/secret.txt", EACCES},
        {"another user's link to a file root could create", "1", "../vault/new.txt", EACCES},
        {"the same link, followed where the system follows it", "0", "../vault/secret.txt", 0},
        {"the same dangling link, followed", "0", "../vault/new.txt", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Sysctl protect("fs/protected_symlinks", c.protect);
        if (!protect.set) {
            GTEST_SKIP() << "fs.protected_symlinks cannot be set here";
        }
        ScratchDir dir;
        mkdir((dir.path + "/vault").c_str(), 0700);
        const std::string secret = dir.write("vault/secret.txt", "secret");
        chmod(secret.c_str(), 0600);
        mkdir((dir.path + "/sticky").c_str(), 0700);
        chmod((dir.path + "/sticky").c_str(), 01777);
        const std::string evil = dir.path + "/sticky/evil.par";
        ASSERT_EQ(symlink(c.link, evil.c_str()), 0);
        ASSERT_EQ(lchown(evil.c_str(), nobody, nobody), 0);
        const std::string reached = dir.path + "/sticky/" + c.link;
        const std::string before = readFile(reached);

        EXPECT_EQ(save(evil), c.error);
        EXPECT_EQ(readFile(reached), c.error == 0 ? image : before);
    }
}

TEST(SaveRefusal, NoLinkSwappedInAfterTheKernelLookedIsFollowed)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to own a link as another user";
    }
    const Sysctl protect("fs/protected_symlinks", "1");
    if (!protect.set) {
        GTEST_SKIP() << "fs.protected_symlinks cannot be set here";
    }
    // Another user makes and removes a link to root's directory as fast as
    // it can; whenever the save sees no file there, it creates one.
    ScratchDir dir;
    mkdir((dir.path + "/vault").c_str(), 0700);
    mkdir((dir.path + "/sticky").c_str(), 0700);
    chmod((dir.path + "/sticky").c_str(), 01777);
    chmod(dir.path.c_str(), 0711);
    const std::string evil = dir.path + "/sticky/evil.par";
    const pid_t attacker = fork();
    if (attacker == 0) {
        if (setresgid(nobody, nobody, nobody) == 0 && setresuid(nobody, nobody, nobody) == 0) {
            for (;;) {
                symlink("../vault/planted.par", evil.c_str());
                unlink(evil.c_str());
            }
        }
        _exit(1);
    }
    for (int i = 0; i < 1000; ++i) {
        save(evil);
        unlink(evil.c_str());
    }
    kill(attacker, SIGKILL);
    waitpid(attacker, nullptr, 0);
    EXPECT_EQ(access((dir.path + "/vault/planted.par").c_str(), F_OK), -1) << "the attacker's link was followed";
}

TEST(SaveInPlace, ADescriptorLinkIsWrittenThroughItsDescriptor)
{
    const std::string prior(5000, 'p');
    const struct {
        const char* what;
        std::string script;
        std::string result;
    } cases[] = {
        {"/dev/stdout appended to", "$P --from-json s.json -o /dev/stdout >>log.par", prior + image},
        {"/dev/fd/1", "$P --from-json s.json -o /dev/fd/1 >>log.par", prior + image},
        {"/proc/self/fd/1", "$P --from-json s.json -o /proc/self/fd/1 >>log.par", prior + image},
        {"/proc/thread-self/fd/1", "$P --from-json s.json -o /proc/thread-self/fd/1 >>log.par", prior + image},
        {"standard output at an offset", "{ printf x; $P --from-json s.json -o /dev/stdout; } 1<>log.par",
         "x" + image + prior.substr(1 + image.size())},
        {"another process's appending descriptor", "exec 3>>log.par; $P --from-json s.json -o /proc/$$/fd/3",
         prior + image},
        {"another process's descriptor, not appending", "exec 3<>log.par; $P --from-json s.json -o /proc/$$/fd/3",
         image},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("i", image);
        dir.write("s.json", shell(dir, "$P --json i").out);
        const std::string log = dir.write("log.par", prior);
        const Outcome outcome = shell(dir, c.script);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(readFile(log), c.result);
        EXPECT_EQ(shell(dir, "ls -A | grep -v -x -e .script -e .out -e .err -e s.json -e log.par -e i").out, "");
    }
}

TEST(SaveAttributes, AclsAndExtendedAttributesAreKept)
{
    if (!available("setfacl --version >/dev/null 2>&1")) {
        GTEST_SKIP() << "setfacl (Debian: acl) is missing";
    }
    ScratchDir dir;
    const std::string file = dir.write("shared.par", "old");
    // The group bits show the mask; the group itself may do nothing.
    if (std::system(("setfacl -m u:1000:rw,g::---,m::rw '" + file + "'").c_str()) != 0 ||
        setxattr(file.c_str(), "user.note", "kept", 4, 0) != 0) {
        GTEST_SKIP() << "the file system here has no ACLs or user attributes";
    }
    if (geteuid() == 0) {
        chown(file.c_str(), 0, nobody);
    }
    const auto acl = [&] { return shell(dir, "getfacl -cp shared.par").out; };
    const std::string before = acl();
    struct stat old {
    };
    stat(file.c_str(), &old);
    ASSERT_EQ(save(file), 0);
    EXPECT_EQ(acl(), before);
    std::array<char, 16> note{};
    EXPECT_EQ(getxattr(file.c_str(), "user.note", note.data(), note.size()), 4);
    EXPECT_STREQ(note.data(), "kept");
    struct stat now {
    };
    stat(file.c_str(), &now);
    EXPECT_EQ(now.st_mode, old.st_mode);
    EXPECT_EQ(now.st_gid, old.st_gid);
    EXPECT_EQ(readFile(file), image);

    // A directory's default ACL gives a new file an ACL; a file that had none
    // gets none.
    const std::string folder = dir.path + "/inheriting";
    mkdir(folder.c_str(), 0755);
    ASSERT_EQ(std::system(("setfacl -d -m u:1000:rwx '" + folder + "'").c_str()), 0);
    const std::string plain = dir.write("inheriting/plain.par", "old");
    ASSERT_EQ(std::system(("setfacl -b '" + plain + "'").c_str()), 0);
    ASSERT_EQ(save(plain), 0);
    EXPECT_EQ(getxattr(plain.c_str(), "system.posix_acl_access", nullptr, 0), -1);
    ASSERT_EQ(save(folder + "/new.par"), 0);
    EXPECT_GT(getxattr((folder + "/new.par").c_str(), "system.posix_acl_access", nullptr, 0), 0);

    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    // An ACL that cannot be set leaves the file as it was.
    dir.write("s.json", shell(dir, "$P --json shared.par").out);
    dir.write("shared.par", "old");
    const std::string kept = acl();
    const Outcome refused =
        shell(dir, "strace -o /dev/null -e inject=fsetxattr:error=EOPNOTSUPP $P --from-json s.json -o shared.par");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "paramlist: shared.par: Operation not supported\n");
    EXPECT_EQ(readFile(file), "old");
    EXPECT_EQ(acl(), kept);
}

TEST(SavePlaces, AWriteOnlyDirectoryTakesSaves)
{
    ScratchDir dir;
    // A drop box: others may put files in it, not list it.
    const std::string drop = userDirectory(dir, "drop", geteuid() == 0 ? 01733 : 0333);
    if (geteuid() == 0) {
        chown(drop.c_str(), 0, 0);
    }
    EXPECT_EQ(unprivileged([&] { return save(drop + "/a.par", 1) + save(drop + "/a.par", 42); }), 0);
    EXPECT_EQ(readFile(drop + "/a.par"), image);
}

TEST(SavePlaces, SavesWithoutProc)
{
    if (geteuid() != 0 || !available("unshare -m true 2>/dev/null")) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
#ifdef PARAMLIST_TESTS_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer reads its options and checks leaks through /proc";
#endif
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", shell(dir, "$P --json i").out);
    const Outcome outcome = shell(dir, "unshare -m sh -c 'mount -t tmpfs none /proc && "
                                       "$P --from-json s.json -o new.par && $P --from-json s.json -o new.par'");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(readFile(dir.path + "/new.par"), image);
}

TEST(SavePlaces, TheHiddenFileOfTheFallbackIsTheOwnersAlone)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    // With no way to link an unnamed file in, a hidden file is created
    // owner-only, written, and given the mode a new file gets.
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", shell(dir, "$P --json i").out);
    const Outcome outcome =
        shell(dir, "umask 027; strace -f -o trace -e trace=openat,linkat -e inject=linkat:error=ENOENT "
                   "$P --from-json s.json -o new.par && grep O_EXCL trace");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(std::regex_search(outcome.out, std::regex("\"\\.paramlist-[0-9]+-[0-9a-f]{16}\", .*O_EXCL.*, 0600\\)")))
        << outcome.out;
    struct stat status {
    };
    stat((dir.path + "/new.par").c_str(), &status);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(dir.path + "/new.par"), image);
    EXPECT_EQ(shell(dir, "ls -A | grep paramlist").out, "");
}

TEST(SavePlaces, TemporaryNamesTakenBeforehandDoNotStopASave)
{
    ScratchDir dir;
    for (int i = 0; i < 100; ++i) {
        dir.write(".paramlist-" + std::to_string(getpid()) + "-" + std::to_string(i), "");
    }
    const std::string file = dir.write("f.par", "old");
    EXPECT_EQ(save(file), 0);
    EXPECT_EQ(save(dir.path + "/new.par"), 0);
    EXPECT_EQ(readFile(file), image);
}

TEST(SaveKilled, LeavesTheFileWholeAndRecognisableDebrisAtMost)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", shell(dir, "$P --json i").out);
    dir.write("old.par", "old");
    chmod((dir.path + "/old.par").c_str(), 0640);
    // A new file is linked straight to its name: there is no rename to kill.
    Outcome outcome = shell(dir, "strace -f -o /dev/null -e inject=renameat,renameat2,rename:signal=SIGKILL "
                                 "$P --from-json s.json -o new.par; ls -A | grep paramlist");
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(readFile(dir.path + "/new.par"), image);
    // Killed between link and rename: a complete hidden copy with the mode.
    outcome = shell(dir, "strace -f -o /dev/null -e inject=renameat,renameat2,rename:signal=SIGKILL "
                         "$P --from-json s.json -o old.par; ls -A | grep paramlist");
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

TEST(SaveKilled, AFailedDirectoryFlushReportsAFailureWithTheNewContentsInPlace)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing or may not trace here";
    }
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", shell(dir, "$P --json i").out);
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
            shell(dir, std::string("strace -f -o /dev/null -e inject=fsync:error=EIO:when=2 $P ") + c.command);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(readFile(dir.path + "/f.par"), image);
    }
}

TEST(SaveStreams, ClosedStandardStreams)
{
    ScratchDir dir;
    std::string operands;
    std::string records;
    for (int i = 0; i < 300; ++i) {
        dir.write("f" + std::to_string(i) + ".par", Image().init(0, i).bytes);
        operands += " f" + std::to_string(i) + ".par";
    }
    dir.write("i", image);
    dir.write("s.json", shell(dir, "$P --json i").out);
    const struct {
        const char* what;
        std::string script;
        int status;
        std::string err;
    } cases[] = {
        // Another thread's file must never be read as "-".
        {"- with standard input closed", "$P --json" + operands + " -" + operands + " <&- | grep -c '\"file\":\"-\"'",
         1, "paramlist: -: Bad file descriptor\n"},
        {"a save with every standard stream closed", "$P --from-json s.json -o c.par <&- >&- 2>&- && cmp c.par i", 0,
         ""},
        {"a save with standard output closed", "$P --from-json s.json -o c.par >&-", 0, ""},
        {"no differences, standard output closed", "$P --diff i i >&-", 0, ""},
        {"nothing to report, standard output closed", "$P --check i >&-", 0, ""},
        {"a listing to a closed standard output", "$P i >&-", 1, "paramlist: write error: Bad file descriptor\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = shell(dir, c.script);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
    }
}
