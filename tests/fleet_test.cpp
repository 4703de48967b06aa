// The modes for files kept in git and in fleets, run in-process: --entries,
// and --diff of one reference against many files in its three forms.
#include "Parameter.h"
#include "diagnostics.h"
#include "modes.h"
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// Runs a mode in-process with standard input read from stdinFile, if given.
Outcome runMode(int (*mode)(const Request&), const CommandLine& run, const std::string& stdinFile = "")
{
    const int savedInput = ::dup(STDIN_FILENO);
    if (!stdinFile.empty()) {
        const int input = ::open(stdinFile.c_str(), O_RDONLY);
        ::dup2(input, STDIN_FILENO);
        ::close(input);
    }
    CaptureStdout();
    CaptureStderr();
    Outcome outcome{};
    outcome.status = mode(run.request);
    outcome.out = GetCapturedStdout();
    outcome.err = GetCapturedStderr();
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    return outcome;
}

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
        const Outcome r = runMode(mode::entries, CommandLine(Request::Entries, {dir.write("f.par", c.bytes)}));
        EXPECT_EQ(r.status, 0);
        const std::vector<std::string> lines = linesOf(r.out);
        ASSERT_EQ(lines.size(), 301U);
        for (const auto& line : c.lines) {
            EXPECT_EQ(lines[line.first], line.second);
        }
    }
    ScratchDir dir;
    const Outcome missing = runMode(mode::entries, CommandLine(Request::Entries, {dir.path + "/gone.par"}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "paramlist: " + dir.path + "/gone.par: No such file or directory\n");
}

TEST(Diff, OneReferenceAgainstManyFilesInEachForm)
{
    ScratchDir dir;
    const std::string reference = dir.write("golden.par", golden.bytes);
    const std::string same = dir.write("same.par", golden.bytes + "past the image");
    const std::string drifted = dir.write("drifted.par", Image(golden).operation(10, 851.5).init(1, 2).bytes);
    const std::string missing = dir.path + "/gone.par";
    const struct {
        std::vector<std::string> files;
        bool json, brief;
        std::string out;
        int status;
    } cases[] = {
        {{same}, false, false, "", sameStatus},
        {{drifted}, false, false, "Init[1]: 0 -> 2\nOperations[10]: 850 -> 851.5\n", foundStatus},
        {{drifted}, false, true, drifted + "\n", foundStatus},
        {{same}, false, true, "", sameStatus},
        {{same, same}, false, false, "", sameStatus},
        {{same, drifted, same},
         false,
         false,
         drifted + ": Init[1]: 0 -> 2\n" + drifted + ": Operations[10]: 850 -> 851.5\n",
         foundStatus},
        {{drifted, same},
         true,
         false,
         "{\"file\":\"" + drifted + "\",\"table\":\"Init\",\"index\":1,\"a\":0,\"b\":2}\n{\"file\":\"" + drifted +
             "\",\"table\":\"Operations\",\"index\":10,\"a\":850,\"b\":851.5}\n",
         foundStatus},
        {{drifted, same, drifted}, false, true, drifted + "\n" + drifted + "\n", foundStatus},
        {{missing, same}, false, true, "", troubleStatus},
        {{drifted, missing, same}, false, true, drifted + "\n", troubleStatus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        std::vector<std::string> operands{reference};
        operands.insert(operands.end(), c.files.begin(), c.files.end());
        CommandLine run(Request::Diff, operands);
        run.request.json = c.json;
        run.request.brief = c.brief;
        const Outcome r = runMode(mode::diff, run);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.status == troubleStatus ? "paramlist: " + missing + ": No such file or directory\n" : "");
    }
    const Outcome noReference = runMode(mode::diff, CommandLine(Request::Diff, {missing, same, drifted}));
    EXPECT_EQ(noReference.status, troubleStatus);
    EXPECT_EQ(noReference.out, "");
    EXPECT_EQ(noReference.err, "paramlist: " + missing + ": No such file or directory\n");
}

TEST(Diff, AnOperandNamedTwiceIsReadOnce)
{
    ScratchDir dir;
    const std::string reference = dir.write("golden.par", golden.bytes);
    const std::string drifted = dir.write("drifted.par", Image(golden).init(1, 2).bytes);
    const struct {
        std::vector<std::string> operands;
        std::string out;
        int status;
    } cases[] = {
        {{"-", "-"}, "", sameStatus},
        {{"-", "-", "-"}, "", sameStatus},
        {{reference, "-", "-"}, "-\n-\n", foundStatus},
        {{"-", reference, "-"}, reference + "\n", foundStatus},
        {{reference, drifted, "-", reference, "-"}, drifted + "\n-\n-\n", foundStatus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        CommandLine run(Request::Diff, c.operands);
        run.request.brief = true;
        const Outcome r = runMode(mode::diff, run, drifted);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
    }
}

TEST(Diff, ManyFilesOverSeveralBatchesKeepTheirOrder)
{
    ScratchDir dir;
    const std::string reference = dir.write("golden.par", golden.bytes);
    std::vector<std::string> operands{reference};
    std::string expected;
    for (std::uint32_t k = 0; k < 300; ++k) {
        const bool drifts = k % 3 == 0;
        const std::string file =
            dir.write(std::to_string(k) + ".par", drifts ? Image(golden).init(7, k).bytes : golden.bytes);
        operands.push_back(file);
        if (drifts && k != 0) {
            expected += file + ": Init[7]: 0 -> " + std::to_string(k) + "\n";
        }
    }
    // Named again in a later batch, and the reference named as a file.
    operands.push_back(operands[4]);
    expected += operands[4] + ": Init[7]: 0 -> 3\n";
    operands.push_back(reference);
    const Outcome r = runMode(mode::diff, CommandLine(Request::Diff, operands));
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, foundStatus);
}
