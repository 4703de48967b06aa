// --get for scripts: -r prints a name as its bytes, which a shell variable
// takes as it is, and an ENTRY is read whole before any file.
#include "shell.h"
#include "support.h"

#include <gtest/gtest.h>

namespace {

const std::string tryHelp = "Try 'paramlist --help' for more information.\n";

} // namespace

TEST(Get, RawPrintsANameAsItsBytesAndEveryOtherValueAsJsonDoes)
{
    ScratchDir dir;
    dir.write("a.par", Image()
                           .operation(10, 850)
                           .terminal(0, fromBits(0x7ff8000000000000))
                           .name(2, "feed rate")
                           .name(3, "\xff"
                                    "A")
                           .name(4, "say \"hi\"\\\n")
                           .name(5, "\x1b[2J")
                           .document(0, 2)
                           .bytes);
    const struct {
        std::string script;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"$P -r --get 'Names[2]' a.par", 0, "feed rate\n", ""},
        {"v=$($P --raw --get 'Names[2]' a.par) && test \"$v\" = 'feed rate' && echo same", 0, "same\n", ""},
        {"$P --get 'Names[2]' --raw -H a.par", 0, "a.par: Names[2]: feed rate\n", ""},
        {"$P -r --get 'Names[3]' a.par", 0,
         "\xff"
         "A\n",
         ""},
        {"$P -r --get 'Names[4]' a.par", 0, "say \"hi\"\\\n\n", ""},
        {"$P -r --get 'Names[5]' a.par", 0, "\x1b[2J\n", ""},
        {"$P -r --get 'Names[6]' a.par", 0, "\n", ""},
        {"$P -r --get 'Operations[10]' --get 'TerminalCondition[0]' --get 'Document[0]' a.par", 0,
         "a.par: Operations[10]: 850\na.par: TerminalCondition[0]: \"NaN\"\na.par: Document[0]: true\n", ""},
        {"$P -r a.par", 2, "", "paramlist: -r goes with --get\n" + tryHelp},
        {"$P --json --raw a.par", 2, "", "paramlist: -r goes with --get\n" + tryHelp},
        // An ENTRY without an index is refused, however it is cut short.
        {"$P --get Init a.par", 2, "",
         "paramlist: --get 'Init': an entry is written Init[INDEX], INDEX in decimal digits\n" + tryHelp},
        {"$P --get 'Names[' a.par", 2, "",
         "paramlist: --get 'Names[': an entry is written Names[INDEX], INDEX in decimal digits\n" + tryHelp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const Outcome outcome = shell(dir, c.script);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
    }
}

// On a terminal a name cannot drive it: its control characters are shown
// escaped, as the listing shows them.
TEST(Get, RawShowsANameEscapedOnATerminal)
{
    if (!available("script --version >/dev/null 2>&1")) {
        GTEST_SKIP() << "script(1) is missing";
    }
    ScratchDir dir;
    dir.write("a.par", Image().name(5, "\x1b[2J").bytes);
    const Outcome outcome = shell(dir, "script -qec \"$P -r --get 'Names[5]' a.par\" /dev/null");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "\\x1b[2J\r\n");
}
