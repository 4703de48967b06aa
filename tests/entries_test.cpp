// --entries: a line for each entry after the file's length, whatever the
// length of the file.
#include "support.h"

#include <gtest/gtest.h>

namespace {

const Image golden = Image().init(0, 3).operation(10, 850).name(2, "feed rate").document(4, 1);

} // namespace

TEST(Entries, EveryFileGivesOneLineAnEntryAfterItsLength)
{
    const Image full = Image(golden).operation(5, fromBits(0x7ff8000000000001)).terminal(49, -0.0);
    const struct {
        std::string bytes;
        std::vector<std::pair<std::size_t, std::string>> lines;
    } cases[] = {
        {full.bytes,
         {{0, "bytes: 3950"},
          {1, "Init[0]: 3"},
          {50, "Init[49]: 0"},
          {100, "TerminalCondition[49]: -0.0"},
          {106, "Operations[5]: \"0x7ff8000000000001\""},
          {111, "Operations[10]: 850"},
          {203, "Names[2]: \"feed rate\""},
          {255, "Document[4]: true"},
          {300, "Document[49]: false"}}},
        {full.bytes + "past the image", {{0, "bytes: 3950"}, {255, "Document[4]: true"}}},
        {full.bytes.substr(0, 1000), {{0, "bytes: 1000"}, {111, "Operations[10]: 850"}, {203, "Names[2]: \"\""}}},
        {"", {{0, "bytes: 0"}, {1, "Init[0]: 0"}, {255, "Document[4]: false"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        ScratchDir dir;
        // --force: a file of any length, read without the report that it is no parameter file.
        const Outcome r = run(command({"--entries", "--force", dir.write("f.par", c.bytes)}));
        EXPECT_EQ(r.status, 0);
        const std::vector<std::string> lines = piecesOf(r.out);
        ASSERT_EQ(lines.size(), 301U);
        for (const auto& line : c.lines) {
            EXPECT_EQ(lines[line.first], line.second);
        }
    }
    ScratchDir dir;
    const Outcome missing = run(command({"--entries", dir.path + "/gone.par"}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "paramlist: " + dir.path + "/gone.par: No such file or directory\n");
}

TEST(Entries, ADescribedEntrysLineEndsWithItsFilesSchemasWordsThereAndInDiff)
{
    // g.par has no schema; d/a.par and e/a.par, alike, each their folder's.
    const std::string setUp =
        "mkdir d e && cp a.par d/ && cp a.par e/ && printf '[[entry]]\\nat = \"Operations[10]\"\\n"
        "name = \"feed_rate\"\\nlabel = \"Feed rate\"\\nunit = \"mm/min\"\\n[[entry]]\\nat = \"Init[0]\"\\n"
        "label = \"Zones\"\\n[[entry]]\\nat = \"Names[1..2]\"\\nname = \"c\"\\n' >d/paramlist.toml && "
        "printf '[[entry]]\\nat = \"Init[1]\"\\nname = \"steps\"\\nunit = \"\\\\\"in\\\\\"\"\\n' "
        ">e/paramlist.toml\n";
    const std::string feed = "Operations[10]: 850 -> 851.5";
    const struct {
        std::string script;
        int status;
        std::string out;
    } cases[] = {
        {"$P --entries d/a.par | grep '#'", 0,
         "Init[0]: 3  # Zones\nOperations[10]: 851.5  # feed_rate: Feed rate [mm/min]\nNames[1]: \"\"  # c_1\n"
         "Names[2]: \"feed rate\"  # c_2\n"},
        {"$P --entries --no-schema d/a.par | grep '#' || echo none", 0, "none\n"},
        {"$P --diff g.par d/a.par e/a.par", 1,
         "d/a.par: Init[1]: 0 -> 2\nd/a.par: " + feed +
             "  # feed_rate: Feed rate [mm/min]\n"
             "e/a.par: Init[1]: 0 -> 2  # steps [\"in\"]\ne/a.par: " +
             feed + "\n"},
        {"$P --diff --json g.par e/a.par", 1,
         "{\"table\":\"Init\",\"index\":1,\"a\":0,\"b\":2,\"name\":\"steps\",\"unit\":\"\\\"in\\\"\"}\n"
         "{\"table\":\"Operations\",\"index\":10,\"a\":850,\"b\":851.5}\n"},
        // The reference's schema says nothing of the files.
        {"$P --diff d/a.par g.par", 1, "Init[1]: 2 -> 0\nOperations[10]: 851.5 -> 850\n"},
        // A schema that cannot be used stops the run before any file is
        // read, but --brief, which names files alone, uses none.
        {"echo 'max = ' >>e/paramlist.toml && $P --entries g.par e/a.par", 2, ""},
        {"echo 'max = ' >>e/paramlist.toml && $P --diff --brief g.par e/a.par", 1, "e/a.par\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("g.par", golden.bytes);
        dir.write("a.par", Image(golden).operation(10, 851.5).init(1, 2).bytes);
        const Outcome r = run(script(setUp + c.script).in(dir));
        EXPECT_EQ(r.status, c.status) << c.script;
        EXPECT_EQ(r.out, c.out) << c.script;
        EXPECT_EQ(r.err, c.status == 2 ? "paramlist: e/paramlist.toml:5:7: Error while parsing key-value pair: "
                                         "expected value, saw '\\n'\n"
                                       : "")
            << c.script;
    }
}
