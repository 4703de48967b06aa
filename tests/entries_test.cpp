// --entries: a line for each entry after the file's length, whatever the
// length of the file.
#include "support.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

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
        const std::vector<std::string> lines = linesOf(r.out);
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

TEST(Entries, ADescribedEntrysLineEndsWithItsFilesSchemasWords)
{
    // f.par has no schema; d/f.par and e/f.par each have their folder's.
    const std::string setUp =
        "mkdir d e && cp f.par d/ && cp f.par e/ && printf '[[entry]]\\nat = \"Operations[10]\"\\nname = "
        "\"feed_rate\"\\n"
        "label = \"Feed rate\"\\nunit = \"mm/min\"\\n[[entry]]\\nat = \"Init[0]\"\\nlabel = \"Zones\"\\n[[entry]]\\n"
        "at = \"Init[1]\"\\nunit = \"s\"\\n' >d/paramlist.toml && printf '[[entry]]\\nat = \"Names[1..2]\"\\n"
        "name = \"channel\"\\n' >e/paramlist.toml\n";
    const struct {
        std::string script;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"$P --entries d/f.par | grep '#'", 0,
         "Init[0]: 3  # Zones\nInit[1]: 0  # [s]\nOperations[10]: 850  # feed_rate: Feed rate [mm/min]\n", ""},
        {"$P --entries e/f.par f.par | grep -e '#' -e 'Names.2.:'", 0,
         "e/f.par: Names[1]: \"\"  # channel_1\ne/f.par: Names[2]: \"feed rate\"  # channel_2\n"
         "f.par: Names[2]: \"feed rate\"\n",
         ""},
        {"$P --entries f.par >plain && $P --entries --no-schema d/f.par | cmp - plain && echo same", 0, "same\n", ""},
        // A schema that cannot be used stops the run before any file is read.
        {"echo 'max = ' >>e/paramlist.toml && $P --entries f.par e/f.par", 2, "",
         "paramlist: e/paramlist.toml:4:7: Error while parsing key-value pair: expected value, saw '\\n'\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("f.par", golden.bytes);
        const Outcome r = run(script(setUp + c.script).in(dir));
        EXPECT_EQ(r.status, c.status) << c.script;
        EXPECT_EQ(r.out, c.out) << c.script;
        EXPECT_EQ(r.err, c.err) << c.script;
    }
}
