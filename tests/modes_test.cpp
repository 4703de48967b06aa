// The modes beside the listing, run in-process: --json and the way back from
// it, --diff and --check.
#include "Parameter.h"
#include "diagnostics.h"
#include "json_record.h"
#include "json_text.h"
#include "modes.h"
#include "support.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A JSON line without its "file" and "bytes", which say where it came from.
static std::string tablesOf(const std::string& json)
{
    return json.substr(json.find(",\"Init\""));
}

TEST(Json, AnyFileRoundTripsToItsCanonicalImage)
{
    std::mt19937_64 random(20261208);
    ScratchDir dir;
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 4200, '\0');
        for (char& byte : bytes) {
            // Mostly bytes that make names, flags and special reals likely.
            const unsigned pick = random() % 8;
            byte = static_cast<char>(pick < 3 ? 0 : pick < 5 ? 0xff : pick < 6 ? 'a' : random());
        }
        SCOPED_TRACE(round);
        const std::string json = exportImage(bytes);
        Parameter para;
        std::string problem;
        ASSERT_TRUE(parseRecord(json, para, problem)) << problem;
        const std::string copy = dir.path + "/copy.par";
        ASSERT_TRUE(para.write(copy.c_str()));
        const std::string canonical = readFile(copy);
        ASSERT_EQ(canonical.size(), 3950u);
        EXPECT_EQ(tablesOf(exportImage(canonical)), tablesOf(json));
        for (std::size_t k = 0; k < 50; ++k) {
            EXPECT_LE(static_cast<unsigned char>(canonical[3900 + k]), 1);
        }
    }
}

TEST(Json, RejectsWhatItWouldNotWriteAndNamesThePlace)
{
    const std::string good = exportImage(Image().init(0, 3).operation(0, 1.5).name(0, "n").document(0, 1).bytes);
    ASSERT_EQ(good.find("\"Operations\":[1.5,"), good.find("\"Operations\""));
    // Replaces the first occurrence of what in the good line.
    const auto with = [&](const std::string& what, const std::string& by) {
        std::string text = good;
        return text.replace(text.find(what), what.size(), by);
    };
    const struct {
        std::string text;
        const char* problem;
    } cases[] = {
        {with("{\"file\"", "{\"extra\":1,\"file\""), "1:2: unknown key \"extra\""},
        {with("\"Init\":[3", "\"Init\":[],\"Init\":[3"), "has 0 entries, not 50"},
        {with("{\"file\"", "{\"Document\":[],\"file\""), "has 0 entries, not 50"},
        {with("{\"file\"", "{\"file\":\"x\",\"file\""), "1:13: duplicate key \"file\""},
        {with("\"file\":\"", "\"file\":[\""), "\"file\" must be a string"},
        {with("\"Init\":[3", "\"Init\":[-3"), "Init entries must not be negative"},
        {with("\"Init\":[3", "\"Init\":[3.5"), "Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[4294967296"), "Init entries must not be above 4294967295"},
        {with("\"Init\":[3", "\"Init\":[\"3\""), "Init entries must be a whole number, not a string"},
        {with("[1.5,", "[1e999,"), "1:302: Operations[0]: the number is too large for a real"},
        {with("[1.5,", "[\"inf\","), "a real must be a number"},
        {with("[1.5,", "[\"0x3ff0000000000000\","), "a real must be a number"},
        {with("[1.5,", "[null,"), "a null is not allowed here"},
        {with("[1.5,", "[1.5,2,"), "\"Operations\" has more than 100 entries"},
        {with("\"n\"", "\"" + std::string(51, 'n') + "\""), "a name holds at most 50 bytes, not 51"},
        {with("\"n\"", "\"a\\u0000b\""), "a name must not hold a zero byte"},
        {with("\"n\"", "{\"hex\":\"6\"}"), "\"hex\" must have an even number of digits"},
        {with("\"n\"", "{\"hex\":\"6g\"}"), "\"hex\" must hold only hexadecimal digits"},
        {with("\"n\"", "{\"hex\":\"61\",\"hex\":\"62\"}"), "duplicate key \"hex\""},
        {with("\"n\"", "{}"), "a name object needs the key \"hex\""},
        {with("\"n\"", "{\"hex\":[[[[[[[[]]]]]]]]}"), "\"hex\" must be a string, not an array"},
        {with("[true", "[1"), "Document entries must be true or false, not a number"},
        {good + good, "expected end of input"},
        {with("\"n\"", "\"\xff\""), "invalid string: ill-formed UTF-8 byte"},
        {"\n\n  [1]", "3:3: expected an object, found an array"},
        {std::string(100000, '['), "1:1: expected an object, found an array"},
        {"", "1:1: syntax error while parsing value - unexpected end of input"},
        // An Init entry is written in digits alone, as --json writes it.
        {with("\"Init\":[3", "\"Init\":[3e0"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[3.0"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[0.99999999999999999"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[4294967295.0000001"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[99999999999999999999"), "Init[0]: Init entries must not be above"},
        {with("\"Init\":[3", "\"Init\":[3,0]"), "\"Init\" has 2 entries, not 50"},
        {with("\"Init\":[3", "\"Init\":[3]"), "\"Init\" has 1 entry, not 50"},
        // The parser's own message, without the text it last read.
        {with("\"n\"", "\"" + std::string(2000, 'n') + "\\q\""),
         "Names[0]: syntax error while parsing value - invalid string"},
        // A zero byte ends nothing: after the object, or inside it.
        {good + std::string("\0 this is not JSON {{{", 22), "a zero byte is not allowed in JSON"},
        {good + std::string(1, '\0'), "a zero byte is not allowed in JSON"},
        {with("[1.5,", std::string("[1.5\0,", 6)), "a zero byte is not allowed in JSON"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        Parameter para;
        std::string problem;
        EXPECT_FALSE(parseRecord(c.text, para, problem));
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;

        const std::string input = dir.write("in.json", c.text);
        const std::string output = dir.write("out.par", "kept");
        CaptureStderr();
        CommandLine run(Request::FromJson, {});
        run.request.input = input.c_str();
        run.request.output = output.c_str();
        EXPECT_EQ(mode::fromJson(run.request), 1);
        const std::string diagnostic = GetCapturedStderr();
        EXPECT_EQ(diagnostic.rfind("paramlist: " + input + ":" + problem.substr(0, problem.find(':')) + ":", 0), 0U)
            << diagnostic;
        EXPECT_LT(diagnostic.size(), 200U) << diagnostic;
        EXPECT_EQ(readFile(output), "kept");
    }
    Parameter para;
    std::string problem;
    EXPECT_TRUE(parseRecord(with("[1.5,", "[-0,"), para, problem)) << problem;
    EXPECT_TRUE(std::signbit(para.getOperationsParameter(0)));
    // Below the smallest denormal, a real keeps its sign, as the nearest double does.
    EXPECT_TRUE(parseRecord(with("[1.5,", "[-1e-400,"), para, problem)) << problem;
    EXPECT_EQ(realBits(para.getOperationsParameter(0)), realBits(-0.0));
    EXPECT_TRUE(parseRecord(with("[1.5,", "[4.9e-324,"), para, problem)) << problem;
    EXPECT_EQ(realBits(para.getOperationsParameter(0)), 1U);
}

// Runs --diff in-process; the differences, and the status.
static std::pair<std::string, int> diffImages(const std::string& a, const std::string& b, bool json = false)
{
    ScratchDir dir;
    const std::string first = dir.write("a.par", a);
    const std::string second = dir.write("b.par", b);
    CommandLine run(Request::Diff, {first, second});
    run.request.json = json;
    CaptureStdout();
    const int status = mode::diff(run.request);
    return {GetCapturedStdout(), status};
}

TEST(Diff, ListsEachDifferingEntryExactlyInFileOrder)
{
    const double nan = fromBits(0x7ff8000000000001);
    const Image base = Image().init(1, 5).operation(10, 850).name(2, "feed rate").document(4, 1).operation(5, nan);
    const struct {
        Image changed;
        const char* lines;
    } cases[] = {
        {base, ""},
        {Image(base).init(1, 6).init(49, 1), "Init[1]: 5 -> 6\nInit[49]: 0 -> 1\n"},
        {Image(base).terminal(0, -0.0), "TerminalCondition[0]: 0 -> -0.0\n"},
        {Image(base).operation(99, -0.0), "Operations[99]: 0 -> -0.0\n"},
        {Image(base).operation(10, 850.0000000000001), "Operations[10]: 850 -> 850.0000000000001\n"},
        {Image(base).operation(5, fromBits(0x7ff8000000000002)),
         "Operations[5]: \"0x7ff8000000000001\" -> \"0x7ff8000000000002\"\n"},
        {Image(base).name(2, "feed rate 2"), "Names[2]: \"feed rate\" -> \"feed rate 2\"\n"},
        {Image(base).name(2, std::string("feed rate\0junk", 14)), ""},
        {Image(base).document(4, 2), ""},
        {Image(base).document(4, 0).init(0, 1), "Init[0]: 0 -> 1\nDocument[4]: true -> false\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        const auto result = diffImages(base.bytes, c.changed.bytes);
        EXPECT_EQ(result.first, c.lines);
        EXPECT_EQ(result.second, *c.lines == '\0' ? sameStatus : foundStatus);
    }
    EXPECT_EQ(diffImages(base.bytes.substr(0, 1000), base.bytes.substr(0, 1000) + std::string(2950, '\0')).second,
              sameStatus);
    EXPECT_EQ(diffImages(base.bytes, Image(base).operation(10, 851.5).bytes, true).first,
              "{\"table\":\"Operations\",\"index\":10,\"a\":850,\"b\":851.5}\n");
    CaptureStderr();
    EXPECT_EQ(mode::diff(CommandLine(Request::Diff, {"/nonexistent/a.par", "/nonexistent/b.par"}).request),
              troubleStatus);
    EXPECT_EQ(GetCapturedStderr(), "paramlist: /nonexistent/a.par: No such file or directory\n");
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
        CaptureStdout();
        EXPECT_EQ(mode::check(CommandLine(Request::Check, {file}).request),
                  c.findings.empty() ? sameStatus : foundStatus);
        const std::string out = GetCapturedStdout();
        std::string expected = c.findings;
        for (std::size_t at = 0; (at = expected.find("F:", at)) != std::string::npos; at += file.size()) {
            expected.replace(at, 1, file);
        }
        EXPECT_EQ(out, expected);
    }
    const std::string file = dir.write("sound", sound);
    CaptureStderr();
    EXPECT_EQ(mode::check(CommandLine(Request::Check, {file, "/nonexistent"}).request), troubleStatus);
    EXPECT_EQ(GetCapturedStderr(), "paramlist: /nonexistent: No such file or directory\n");
}

// Runs --check in-process over files, as text or as JSON Lines.
static std::string checkOutput(const std::vector<std::string>& files, bool json)
{
    CommandLine run(Request::Check, files);
    run.request.json = json;
    CaptureStdout();
    mode::check(run.request);
    return GetCapturedStdout();
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
