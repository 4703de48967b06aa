// --get for scripts: -r prints a name as its bytes, which a shell variable
// takes as it is, and an ENTRY is read whole before any file.
#include "shell.h"
#include "support.h"

#include <gtest/gtest.h>

TEST(Get, RawPrintsANameAsItsBytesAndEveryOtherValueAsJsonDoes)
{
    const std::string tryHelp = "Try 'paramlist --help' for more information.\n";
    ScratchDir dir;
    dir.write("a.par", Image()
                           .operation(10, 850)
                           .terminal(0, fromBits(0x7ff8000000000000))
                           .name(2, "feed rate")
                           .name(3, "\xff\x1b[2J say \"hi\"\\\n")
                           .bytes);
    const struct {
        std::string script;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"$P -r --get 'Names[2]' a.par", 0, "feed rate\n", ""},
        {"$P --get 'Names[2]' --raw -H a.par", 0, "a.par: Names[2]: feed rate\n", ""},
        {"$P -r --get 'Names[3]' a.par", 0, "\xff\x1b[2J say \"hi\"\\\n\n", ""},
        {"$P -r --get 'Operations[10]' --get 'TerminalCondition[0]' --get 'Document[0]' a.par", 0,
         "a.par: Operations[10]: 850\na.par: TerminalCondition[0]: \"NaN\"\na.par: Document[0]: false\n", ""},
        {"$P --json --raw a.par", 2, "", "paramlist: -r goes with --get\n" + tryHelp},
        // An ENTRY without an index.
        {"$P --get Init a.par", 2, "",
         "paramlist: --get 'Init': an entry is written Init[INDEX], INDEX in decimal digits\n" + tryHelp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const Outcome outcome = shell(dir, c.script);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
    }
}
