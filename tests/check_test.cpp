// --check: each unsound part of a file at its offset, in text and in JSON
// Lines, and the bytes of files in /proc counted by reading.
#include "diagnostics.h"
#include "support.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>

#include <sys/wait.h>
#include <unistd.h>

// The findings of --check over files, as text or as JSON Lines.
static std::string checkOutput(const std::vector<std::string>& files, bool json)
{
    std::vector<std::string> args{"--check"};
    if (json) {
        args.push_back("--json");
    }
    args.insert(args.end(), files.begin(), files.end());
    return run(command(args)).out;
}

TEST(Check, ReportsEachUnsoundPartAtItsOffset)
{
    const std::string sound = Image().name(0, "caf\xc3\xa9").document(1, 1).operation(3, 1e308).bytes;
    const auto with = [&](std::size_t offset, const std::string& bytes) {
        return std::string(sound).replace(offset, bytes.size(), bytes);
    };
    const struct {
        std::string bytes;
        std::string findings;
    } cases[] = {
        {sound, ""},
        {sound.substr(0, 1000), "F:1000: the file ends 2950 bytes short of the 3950-byte image; the entries from "
                                "here on are read as their start values\n"},
        {sound + "xyz", "F:3950: 3 bytes past the 3950-byte image are ignored\n"},
        {with(1450, std::string(50, 'u')), "F:1450: Names[1] is unterminated: its 50 bytes hold no zero byte\n"},
        {with(1450, std::string("ab\0\0z", 5)), "F:1454: Names[1] has non-zero bytes after its terminating zero\n"},
        {with(1500, "\xff"), "F:1500: Names[2] is not valid UTF-8\n"},
        {with(1500, "a\x1b"), "F:1500: Names[2] holds a control character\n"},
        {with(1500, "a\xc2\x9b"), "F:1500: Names[2] holds a control character\n"},
        {with(1500, "\xc2\xa0\xc2\xbf"), ""},
        {sound + std::string(2000000, 'x'), "F:3950: 2000000 bytes past the 3950-byte image are ignored\n"},
        {with(3905, "\x02"), "F:3905: Document[5] is 2, not 0 or 1\n"},
        {Image().bytes.replace(600 + 8 * 4, 8, std::string("\0\0\0\0\0\0\xf8\x7f", 8)),
         "F:632: Operations[4] is NaN\n"},
        {Image().terminal(2, -HUGE_VAL).bytes, "F:216: TerminalCondition[2] is -infinity\n"},
        {with(1500, std::string(50, '\x7f')) + "x",
         "F:1500: Names[2] is unterminated: its 50 bytes hold no zero byte\nF:1500: Names[2] holds a control "
         "character\nF:3950: 1 byte past the 3950-byte image is ignored\n"},
        // Only what the file holds is checked: the cut name is terminated by the zeros it is read with.
        {with(1450, std::string(50, 'u')).substr(0, 1460),
         "F:1460: the file ends 2490 bytes short of the 3950-byte image; the entries from here on are read as "
         "their start values\n"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.findings);
        const std::string file = dir.write("F", c.bytes);
        const Outcome r = run(command({"--check", file}));
        EXPECT_EQ(r.status, c.findings.empty() ? sameStatus : foundStatus);
        const std::string& out = r.out;
        std::string expected = c.findings;
        for (std::size_t at = 0; (at = expected.find("F:", at)) != std::string::npos; at += file.size()) {
            expected.replace(at, 1, file);
        }
        EXPECT_EQ(out, expected);
    }
    const std::string file = dir.write("sound", sound);
    const Outcome missing = run(command({"--check", file, "/nonexistent"}));
    EXPECT_EQ(missing.status, troubleStatus);
    EXPECT_EQ(missing.err, "paramlist: /nonexistent: No such file or directory\n");
}

TEST(Check, JsonLinesGiveEachFindingItsKindAndTheTextMessage)
{
    const Image sound = Image().name(0, "ok");
    const struct {
        std::string bytes;
        std::size_t offset;
        const char* kind;
    } cases[] = {
        {sound.bytes.substr(0, 100), 100, "short-file"},
        {sound.bytes + "x", 3950, "long-file"},
        {Image(sound).name(1, std::string(50, 'u')).bytes, 1450, "unterminated-name"},
        {Image(sound).name(1, std::string("a\0b", 3)).bytes, 1452, "bytes-after-name"},
        {Image(sound).name(1, "\xfe").bytes, 1450, "name-not-utf8"},
        {Image(sound).name(1, "\xc2\x85").bytes, 1450, "control-character"},
        {Image(sound).document(2, 7).bytes, 3902, "document-value"},
        {Image(sound).operation(1, std::nan("")).bytes, 608, "nan"},
        {Image(sound).terminal(1, -HUGE_VAL).bytes, 208, "infinity"},
    };
    ScratchDir dir;
    // A newline and a C1 control in the path cannot break a line.
    const std::string file = dir.path + "/line\nbreak\xc2\x9b.par";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        std::ofstream(file, std::ios::binary) << c.bytes;
        const std::string out = checkOutput({file}, true);
        ASSERT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos);
        const nlohmann::json finding = nlohmann::json::parse(out);
        EXPECT_EQ(finding.size(), 4u);
        EXPECT_EQ(finding.at("file"), file);
        EXPECT_EQ(finding.at("offset"), c.offset);
        EXPECT_EQ(finding.at("kind"), c.kind);
        EXPECT_EQ(file + ":" + std::to_string(c.offset) + ": " + finding.at("message").get<std::string>() + "\n",
                  checkOutput({file}, false));
    }
}

// Files whose size says nothing of what they hold, as in /proc: the bytes past
// the image are counted by reading. The environment of a process of our own
// is a file of /proc whose length is known.
TEST(Check, CountsTheBytesOfProcFilesByReading)
{
    std::string padding = "PAD=" + std::string(3950 + 10 - 5, 'p');
    char* environment[] = {&padding[0], nullptr};
    const pid_t child = fork();
    if (child == 0) {
        execle("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr), environment);
        _exit(127);
    }
    const std::string file = "/proc/" + std::to_string(child) + "/environ";
    for (int tries = 0; tries < 1000 && readFile(file).compare(0, 4, "PAD=") != 0; ++tries) {
        usleep(1000);
    }
    const std::string out = checkOutput({file}, false);
    const std::string last = file + ":3950: 10 bytes past the 3950-byte image are ignored\n";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}
