// The program with its standard streams closed: "-" never read from another
// file, saves that need none of them, a run with nothing to write, and a
// listing that cannot be written.
#include "support.h"

#include <gtest/gtest.h>

namespace {

const std::string image = Image().init(0, 42).bytes;

} // namespace

TEST(StandardStreams, ClosedStandardStreams)
{
    ScratchDir dir;
    std::string operands;
    std::string records;
    for (int i = 0; i < 300; ++i) {
        dir.write("f" + std::to_string(i) + ".par", Image().init(0, i).bytes);
        operands += " f" + std::to_string(i) + ".par";
    }
    dir.write("i", image);
    dir.write("s.json", jsonOf(image, "i"));
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
        const Outcome outcome = run(script(c.script).in(dir));
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
    }
}
