// The modes that read files without editing them, run as a user runs them:
// each tells of a file that is no parameter file, and writes for it what it
// writes today; --force reads such a file without the report.
#include "support.h"

#include <gtest/gtest.h>

namespace {

const Image sound = Image().init(0, 3).operation(10, 850).name(2, "feed rate").document(4, 1);

std::string notParameterFile(const std::string& file, const std::string& bytes)
{
    return "paramlist: " + file + ": not a parameter file (" + bytes + " bytes, not 3950)\n";
}

} // namespace

TEST(Reads, AFileThatIsNotAnImageLongIsReported)
{
    ScratchDir dir;
    dir.write("sound.par", sound.bytes);
    dir.write("notes.txt", "notes\n");
    dir.write("empty.par", "");
    dir.write("long.par", sound.bytes + "export footer\n");
    const struct {
        std::string arguments;
        std::string err;
        int status;
    } cases[] = {
        {"--json notes.txt sound.par", notParameterFile("notes.txt", "6"), 1},
        {"--csv sound.par empty.par", notParameterFile("empty.par", "0"), 1},
        {"--tsv long.par", notParameterFile("long.par", "3964"), 1},
        {"--get 'Init[0]' long.par", notParameterFile("long.par", "3964"), 1},
        {"--entries empty.par notes.txt", notParameterFile("empty.par", "0") + notParameterFile("notes.txt", "6"), 1},
        {"--diff sound.par long.par", notParameterFile("long.par", "3964"), 2},
        {"--diff --brief sound.par notes.txt", notParameterFile("notes.txt", "6"), 2},
        {"--diff --json long.par sound.par", notParameterFile("long.par", "3964"), 2},
        {"--json /dev/zero", "paramlist: /dev/zero: not a parameter file (more than 1052526 bytes, not 3950)\n", 1},
        {"--json sound.par", "", 0},
        {"--diff sound.par sound.par", "", 0},
        // --check tells what is unsound in its own findings.
        {"--check long.par", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome reported = run(script("$P " + c.arguments).in(dir));
        EXPECT_EQ(reported.err, c.err);
        EXPECT_EQ(reported.status, c.status);
        if (c.arguments.compare(0, 7, "--check") == 0) {
            continue;
        }
        // An export hides nothing: the file's output is what --force writes.
        const Outcome forced = run(script("$P --force " + c.arguments).in(dir));
        EXPECT_EQ(forced.err, "");
        EXPECT_EQ(forced.out, reported.out);
        const bool differs = c.arguments.compare(0, 6, "--diff") == 0 && !forced.out.empty();
        EXPECT_EQ(forced.status, differs ? 1 : 0);
    }
}

// The size a report gives is the one read: knowing it takes no system call
// that a sound file does not make too, and a sound file takes as many as
// reading it to its end does.
TEST(Reads, TheReportCostsNoSystemCall)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is not available";
    }
    ScratchDir dir;
    dir.write("sound.par", sound.bytes);
    dir.write("long.par", sound.bytes + "export footer\n");
    dir.write("short.par", sound.bytes.substr(0, 100));
    for (const char* mode : {"--json", "--csv", "--get 'Init[0]'", "--entries", "--check"}) {
        SCOPED_TRACE(mode);
        // Each file's calls between its open and its close, but for the close itself.
        const auto callsOf = [&](const char* file) {
            return run(script(std::string("strace -qq -o trace -e trace=%file,%desc $P ") + mode + " " + file +
                              " >/dev/null 2>&1; sed -n '/open.*" + file +
                              "/,/^close/p' trace | grep -v -e '^close' -e '^write' | wc -l")
                           .in(dir)
                           .withoutLeakChecks())
                .out;
        };
        // The open, a read that takes the file, a read that finds its end.
        for (const char* file : {"sound.par", "long.par", "short.par"}) {
            EXPECT_EQ(callsOf(file), "3\n") << file;
        }
    }
}
