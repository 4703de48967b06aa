// What the program sends a terminal: names and paths with their controls
// escaped, in the listing, the JSON lines, the differences, the findings of
// --check and the conflicts of --merge; JSON the same as it is elsewhere.
#include "support.h"

#include <gtest/gtest.h>

namespace {

// What a terminal was sent by a script for the program's standard output
// and standard error.
std::string onTerminal(const std::string& line)
{
    return run(script(line).onTerminal(Terminal::Output)).out;
}

} // namespace

TEST(TerminalText, NamesAndPathsCannotDriveATerminal)
{
    ScratchDir dir;
    // An OSC 52 clipboard write, a carriage return, bytes that are not UTF-8,
    // a UTF-8 name, and the C1 control CSI.
    const std::string names[] = {"\x1b]52;c;aGk=\x07", "over\rwrite", "\xff\xfe", "caf\xc3\xa9",
                                 std::string("\xc2\x9b") + "2J"};
    Image image;
    for (std::size_t i = 0; i < 5; ++i) {
        image.name(i, names[i]);
    }
    const std::string file = dir.write("title\x1b]0;x\x07.par", image.bytes);
    const std::string shell = "'" + file + "'";

    const std::string escaped =
        "(0:\\x1b]52;c;aGk=\\x07) (1:over\\x0dwrite) (2:\\xff\\xfe) (3:caf\xc3\xa9) (4:\\xc2\\x9b2J) ";
    const std::string shownPath = dir.path + "/title\\x1b]0;x\\x07.par";
    const std::string shown = onTerminal("$P " + shell);
    EXPECT_NE(shown.find("reading from file : " + shownPath + "\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find(escaped), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    const std::string missing = onTerminal("$P '" + dir.path + "/gone\x1b[2J'");
    EXPECT_NE(missing.find("paramlist: " + dir.path + "/gone\\x1b[2J: No such file or directory"), std::string::npos)
        << missing;

    std::string raw;
    for (std::size_t i = 0; i < 5; ++i) {
        raw += "(" + std::to_string(i) + ":" + names[i] + ") ";
    }
    const Outcome piped = run(script("$P " + shell));
    EXPECT_NE(piped.out.find("reading from file : " + file + "\n"), std::string::npos);
    EXPECT_NE(piped.out.find(raw), std::string::npos);
}

TEST(TerminalText, JsonAndDiffCannotDriveATerminal)
{
    ScratchDir dir;
    // The C1 controls CSI and OSC, in a name and in a path.
    const std::string file = dir.write("osc\xc2\x9d.par", Image()
                                                              .name(4, "\xc2\x9b"
                                                                       "2J")
                                                              .bytes);
    const std::string other = dir.write("other.par", Image().bytes);
    const std::string ours = dir.write("ours.par", Image().name(4, "x").bytes);
    const std::string csi = "\"\\u009b2J\"";
    const struct {
        std::string arguments;
        std::string shown;
    } cases[] = {
        {"--json '" + file + "'", csi},
        {"--diff " + other + " '" + file + "'", "Names[4]: \"\" -> " + csi},
        {"--diff --json " + other + " '" + file + "'", ",\"b\":" + csi},
        {"--check --json '" + file + "'",
         dir.path + "/osc\\u009d.par\",\"offset\":1600,\"kind\":\"control-character\""},
        {"--check '" + file + "'", dir.path + "/osc\\xc2\\x9d.par:1600: Names[4] holds a control character"},
        // The conflict lines of git's merge driver, which names the file with --path.
        {"--merge --path='" + file + "' " + other + " " + ours + " '" + file + "'",
         dir.path + "/osc\\xc2\\x9d.par: Names[4]: base \"\", ours \"x\", theirs " + csi},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string shown = onTerminal("$P " + c.arguments);
        EXPECT_EQ(shown.find("\xc2\x9b"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("\xc2\x9d"), std::string::npos) << shown;
        EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
        // JSON is the same value on a terminal or not.
        if (c.arguments.find("--json") != std::string::npos) {
            EXPECT_EQ(run(script("$P " + c.arguments)).out, shown);
        }
    }
}
