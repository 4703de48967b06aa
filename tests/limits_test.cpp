// Inputs past what memory holds or past their limits, run as a user runs
// them: each ends with a diagnostic naming what could not be held, never
// with the runtime's abort.
#include "support.h"

#include <gtest/gtest.h>

TEST(Limits, WhatMemoryCannotHoldIsNamed)
{
#ifdef PARAMLIST_TESTS_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer cannot run within a limit of address space";
#endif
    ScratchDir dir;
    dir.write("f.par", Image().bytes);
    const std::string tooLong = "paramlist: -:1: File name too long (more than 4095 bytes before a zero byte); the "
                                "list is read no further\n";
    const struct {
        std::string script;
        std::string err;
        int status;
    } cases[] = {
        // 200 MB of text, which a limit of 150 MB cannot hold.
        {"truncate -s 200M big.txt && (ulimit -v 150000; $P --apply big.txt f.par)",
         "paramlist: big.txt: Cannot allocate memory\n", 2},
        {"(ulimit -v 500000; $P --apply /dev/zero f.par)", "paramlist: /dev/zero: Cannot allocate memory\n", 2},
        {"(ulimit -v 500000; $P --from-json /dev/zero -o out.par)",
         "paramlist: /dev/zero: larger than 16 MiB, far more than one record's JSON\n", 1},
        // A list whose one name never ends.
        {"tr '\\0' a </dev/zero | (ulimit -v 500000; $P --json --files0-from=-)", tooLong, 1},
        {"tr '\\0' a </dev/zero | (ulimit -v 500000; $P --diff --files0-from=- f.par)", tooLong, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const Outcome outcome = run(script(c.script).in(dir));
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(readFile(dir.path + "/f.par"), Image().bytes);
    }
}
