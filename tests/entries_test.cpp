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
