// The edit lock (EditLock.h) and the edit transaction around it: a file
// that an edit created and failed to save is removed again, a write waits for
// an edit that holds the lock, and an edit whose path comes to lead to
// another file starts again on that one.
#include "Parameter.h"
#include "shell.h"
#include "support.h"

#include <gtest/gtest.h>

#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string image = Image().init(0, 42).bytes;

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
    const Outcome outcome = shell(dir, "strace -f -o /dev/null -e inject=fsync:error=ENOSPC "
                                       "$P --set Init[0]=1 --create --force new.par dangling.par empty.par; ls -A");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "paramlist: new.par: No space left on device\n"
                           "paramlist: dangling.par: No space left on device\n"
                           "paramlist: empty.par: No space left on device\n");
    EXPECT_EQ(outcome.out, ".err\n.out\n.script\ndangling.par\nempty.par\n");
}

TEST(EditLock, AWriteWaitsForTheEditLock)
{
    // An edit that read the file before this write must not replace the
    // written file with what it read.
    ScratchDir dir;
    dir.write("i", image);
    dir.write("s.json", shell(dir, "$P --json i").out);
    const std::string file = dir.write("f.par", "old");
    const int lock = Parameter::openLocked(file.c_str(), false);
    ASSERT_GE(lock, 0);
    const pid_t writer = fork();
    if (writer == 0) {
        const std::string command = "cd '" + dir.path + "' && exec '" PARAMLIST_BINARY "' --from-json s.json -o f.par";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    usleep(200000);
    EXPECT_EQ(readFile(file), "old");
    EXPECT_TRUE(Parameter::replace(file.c_str(), "edit", 4));
    close(lock);
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_EQ(status, 0);
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
                shell(dir, std::string("strace -f -o /dev/null ") + edit + " & sleep 0.3; " + c.change + "; wait $!");
            EXPECT_EQ(outcome.status, 0) << outcome.err;
            EXPECT_EQ(readFile(dir.path + "/" + c.edited), Image{other}.init(5, 5).bytes);
            EXPECT_EQ(readFile(dir.path + "/first.par"), Image().init(0, 1).bytes);
        }
    }
}
