// --diff: each differing entry in file order, in each form; one reference
// against many files, over several batches, in their order.
#include "diagnostics.h"
#include "support.h"

#include <gtest/gtest.h>

namespace {

// --diff of a file holding a against one holding b, with --force so that
// images of any length are compared without a report: the differences, and
// the status.
std::pair<std::string, int> diffImages(const std::string& a, const std::string& b, bool json = false)
{
    ScratchDir dir;
    const std::string first = dir.write("a.par", a);
    const std::string second = dir.write("b.par", b);
    const Outcome r = run(json ? command({"--diff", "--force", "--json", first, second})
                               : command({"--diff", "--force", first, second}));
    return {r.out, r.status};
}

const Image golden = Image().init(0, 3).operation(10, 850).name(2, "feed rate").document(4, 1);

} // namespace

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
    const Outcome missing = run(command({"--diff", "/nonexistent/a.par", "/nonexistent/b.par"}));
    EXPECT_EQ(missing.status, troubleStatus);
    EXPECT_EQ(missing.err, "paramlist: /nonexistent/a.par: No such file or directory\n");
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
        // --force: same.par runs past the image, which is compared without the report.
        std::vector<std::string> args{"--diff", "--force"};
        if (c.json) {
            args.push_back("--json");
        }
        if (c.brief) {
            args.push_back("--brief");
        }
        args.push_back(reference);
        args.insert(args.end(), c.files.begin(), c.files.end());
        const Outcome r = run(command(args));
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.status == troubleStatus ? "paramlist: " + missing + ": No such file or directory\n" : "");
    }
    const Outcome noReference = run(command({"--diff", missing, same, drifted}));
    EXPECT_EQ(noReference.status, troubleStatus);
    EXPECT_EQ(noReference.out, "");
    EXPECT_EQ(noReference.err, "paramlist: " + missing + ": No such file or directory\n");
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
    operands.insert(operands.begin(), "--diff");
    const Outcome r = run(command(operands));
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, foundStatus);
}
