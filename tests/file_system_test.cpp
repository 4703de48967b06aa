// What a save asks of the file system (FileSystem.h): no link followed that
// the kernel would refuse to follow, nor one swapped in after it looked;
// links the kernel resolves resolved the same; a descriptor link written
// through its descriptor; ACLs, extended attributes and the flags of chattr
// kept; write-only directories and taken temporary names. What needs root,
// strace or ACLs skips where it is missing.
#include "Parameter.h"
#include "support.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <fstream>
#include <functional>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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

TEST(FileSystem, NothingOpeningForWritingWouldNotReach)
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

TEST(FileSystem, NoLinkSwappedInAfterTheKernelLookedIsFollowed)
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

TEST(FileSystem, ADescriptorLinkIsWrittenThroughItsDescriptor)
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
        dir.write("s.json", jsonOf(image, "i"));
        const std::string log = dir.write("log.par", prior);
        const Outcome outcome = run(script(c.script).in(dir));
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(readFile(log), c.result);
        EXPECT_EQ(run(script("ls -A | grep -v -x -e s.json -e log.par -e i").in(dir)).out, "");
    }
}

TEST(FileSystem, AclsAndExtendedAttributesAreKept)
{
    if (!available("setfacl --version")) {
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
    const auto acl = [&] { return run(script("getfacl -cp shared.par").in(dir)).out; };
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
    dir.write("s.json", jsonOf(image, "shared.par"));
    dir.write("shared.par", "old");
    const std::string kept = acl();
    const Outcome refused =
        run(script("strace -o /dev/null -e inject=fsetxattr:error=EOPNOTSUPP $P --from-json s.json -o shared.par")
                .in(dir)
                .withoutLeakChecks());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "paramlist: shared.par: Operation not supported\n");
    EXPECT_EQ(readFile(file), "old");
    EXPECT_EQ(acl(), kept);
}

TEST(FileSystem, AWriteOnlyDirectoryTakesSaves)
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

TEST(FileSystem, TemporaryNamesTakenBeforehandDoNotStopASave)
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

// A chain of links that the kernel follows, each relative, whose texts
// joined are longer than a path may be, is followed by a save too.
TEST(FileSystem, WhatTheKernelResolvesASaveResolves)
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
        dir.write("t.par", unedited);
        dir.write("base.par", unedited);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        ::mkdir((dir.path + "/d").c_str(), 0755);
        ASSERT_EQ(::symlink("../t.par", (dir.path + "/d/l3").c_str()), 0);
        ASSERT_EQ(::symlink((detour + "d/l3").c_str(), (dir.path + "/l2").c_str()), 0);
        ASSERT_EQ(::symlink((detour + "l2").c_str(), (dir.path + "/l1").c_str()), 0);
        ASSERT_EQ(::symlink((detour + "l1").c_str(), (dir.path + "/l0").c_str()), 0);
        ASSERT_EQ(run(command({"--entries", "l0"}).in(dir)).status, 0);
        const Outcome outcome = run(command(c.args).in(dir));
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(dir.path + "/t.par", edited));
        EXPECT_TRUE(S_ISLNK(statusOf(dir.path + "/l0").st_mode));
        EXPECT_TRUE(S_ISLNK(statusOf(dir.path + "/d/l3").st_mode));
    }
}

// The attributes that chattr sets and that say how a file is kept are
// kept by every replace.
TEST(FileSystem, TheAttributesOfChattrAreKept)
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
        dir.write("base.par", unedited);
        dir.write("theirs.par", edited);
        dir.write("in.json", jsonOf(edited));
        const std::string file = dir.write("f.par", unedited);
        const int before = flagsOf(file, c.flags);
        if (before < 0) {
            GTEST_SKIP() << "the file system here takes no such attributes, or this process may not set them";
        }
        const Outcome outcome = run(command(c.args).in(dir));
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(holds(file, edited));
        EXPECT_EQ(flagsOf(file, 0), before);
    }
}
