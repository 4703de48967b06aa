// Operands that name one file, which every mode reads once: standard input
// above all, which on a pipe cannot be read twice; and text read up to its
// limit.
#include "diagnostics.h"
#include "input_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <fstream>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Standard input taken from fd while it lives, then given back.
class StandardInputFrom
{
public:
    explicit StandardInputFrom(int fd) : saved(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
    StandardInputFrom(const StandardInputFrom&) = delete;
    StandardInputFrom& operator=(const StandardInputFrom&) = delete;
    ~StandardInputFrom()
    {
        dup2(saved, STDIN_FILENO);
        close(saved);
    }

private:
    int saved;
};

const Image golden = Image().init(0, 3).operation(10, 850).name(2, "feed rate").document(4, 1);

} // namespace

// Operands spelled alike are one. Where standard input is a pipe that an
// operand names, a file is one operand by any path that leads to it, and
// standard input by every name of it; elsewhere nothing is looked at. On a
// regular file "-" reads from where standard input stands, so only "-" is "-".
TEST(InputFiles, OperandsNamingOneFileAreReadOnce)
{
    ScratchDir dir;
    const std::string a = dir.write("a.par", "a");
    const std::string b = dir.path + "/b.par";
    const std::string c = dir.path + "/./c.par";
    const std::string d = dir.write("d.par", "d");
    ASSERT_EQ(link(a.c_str(), b.c_str()), 0);
    ASSERT_EQ(symlink("a.par", (dir.path + "/c.par").c_str()), 0);
    const std::string missing = dir.path + "/missing.par";
    const struct {
        bool pipedInput;
        std::vector<std::string> operands;
        std::vector<int> firsts;
    } cases[] = {
        {true, {a, b, c, d, a, "-"}, {0, 0, 0, 3, 0, 5}},
        {true, {a, b, c, d, a}, {0, 1, 2, 3, 0}},
        {true, {missing, missing, dir.path + "/./missing.par", "-"}, {0, 0, 2, 3}},
        {true, {a, "-", "/dev/stdin", "/dev/fd/0", "/proc/self/fd/0", "-"}, {0, 1, 1, 1, 1, 1}},
        {true, {"/dev/fd/0", "/proc/self/fd/0"}, {0, 0}},
        {false, {"-", a, "/dev/stdin", "-", d, a}, {0, 1, 2, 0, 4, 1}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.operands[1]);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        const int file = open(a.c_str(), O_RDONLY);
        ASSERT_GE(file, 0);
        {
            const StandardInputFrom input(row.pipedInput ? ends[0] : file);
            std::vector<std::string> words = row.operands;
            std::vector<char*> operands;
            operands.reserve(words.size());
            for (std::string& word : words) {
                operands.push_back(&word[0]);
            }
            const RepeatedOperands repeats(operands.data(), static_cast<int>(operands.size()));
            std::vector<int> firsts(row.operands.size());
            for (std::size_t k = 0; k < firsts.size(); ++k) {
                firsts[k] = repeats.firstNaming(static_cast<int>(k));
            }
            EXPECT_EQ(firsts, row.firsts);
        }
        close(file);
        close(ends[0]);
        close(ends[1]);
    }
}

// A pipe on standard input cannot be read again from its start, nor twice:
// a second read would find nothing, all entries zero.
TEST(InputFiles, StandardInputOnAPipeIsReadOnce)
{
    ScratchDir dir;
    const std::string golden = dir.write("golden.par", sample.bytes);
    const std::string drifted = dir.write("drifted.par", Image(sample).init(4, 9).bytes);
    const std::string ours = dir.path + "/ours.par";
    const Image oursImage = Image(sample).init(3, 8);
    const std::string list = dir.write("list", std::string("-\0/dev/stdin\0-\0", 15));
    const auto fromAFile = [](const std::string& arguments, const std::string& input) {
        return run(script("$P " + arguments + " <" + input)).out;
    };
    const struct {
        std::string input;
        std::string arguments;
        int status;
        std::string out;
        std::string oursAfter;
    } cases[] = {
        {drifted, "--merge " + golden + " " + ours + " -", 0, "", Image(oursImage).init(4, 9).bytes},
        {drifted, "--merge - " + ours + " -", 0, "", oursImage.bytes},
        {golden, "--diff --brief " + golden + " - /dev/stdin /dev/fd/0", 0, "", oursImage.bytes},
        {drifted, "--diff --brief " + golden + " - /dev/stdin", 1, "-\n/dev/stdin\n", oursImage.bytes},
        {drifted, "--diff --brief /dev/stdin " + golden + " -", 1, golden + "\n", oursImage.bytes},
        // Every mode that reads many files gives what it gives where standard
        // input is a file, which each of its names reads whole.
        {drifted, "--get Init[4] - /dev/stdin", 0, fromAFile("--get Init[4] - /dev/stdin", drifted), oursImage.bytes},
        {drifted, "--json - /dev/stdin /dev/fd/0", 0, fromAFile("--json - /dev/stdin /dev/fd/0", drifted),
         oursImage.bytes},
        {drifted, "--csv /dev/stdin -", 0, fromAFile("--csv /dev/stdin -", drifted), oursImage.bytes},
        {drifted, "--tsv - -", 0, fromAFile("--tsv - -", drifted), oursImage.bytes},
        {drifted, "--entries - /proc/self/fd/0", 0, fromAFile("--entries - /proc/self/fd/0", drifted), oursImage.bytes},
        {drifted, "--check - /dev/stdin", 1, fromAFile("--check - /dev/stdin", drifted), oursImage.bytes},
        {drifted, "--json --files0-from=" + list, 0, fromAFile("--json --files0-from=" + list, drifted),
         oursImage.bytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        std::ofstream(ours, std::ios::binary) << oursImage.bytes;
        const Outcome r = run(script("cat " + c.input + " | $P " + c.arguments));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(readFile(ours), c.oursAfter);
    }
}

// --merge reads standard input once, whatever names it is given by.
TEST(InputFiles, MergeReadsStandardInputOnceByAnyOfItsNames)
{
    const std::string ours = Image(Image{unedited}).init(1, 7).bytes;
    const char* const lines[] = {
        "cat base.par | $P --merge /dev/stdin ours.par -",
        "cat base.par | $P --merge - ours.par /dev/stdin",
        "cat base.par | $P --merge /dev/stdin ours.par /proc/self/fd/0",
        "cat base.par | $P --merge - ours.par -",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        ScratchDir dir;
        dir.write("base.par", unedited);
        dir.write("ours.par", ours);
        const Outcome outcome = run(script(line).in(dir));
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out, "");
        EXPECT_TRUE(holds(dir.path + "/ours.par", ours));
    }
}

TEST(InputFiles, AnOperandNamedTwiceIsReadOnce)
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
        std::vector<std::string> args{"--diff", "--brief"};
        args.insert(args.end(), c.operands.begin(), c.operands.end());
        const Outcome r = run(command(args).input(drifted));
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
    }
}

// An endless input is read until it holds the limit and a byte, which tells
// it is too long, and its text never takes more room than that: a string
// grown by its double would take twice the limit.
TEST(InputFiles, TextIsHeldUpToItsLimitAndAByte)
{
    ScratchDir dir;
    const std::string spaces = dir.write("short.txt", std::string(1000, ' '));
    const struct {
        std::string path;
        std::size_t limit;
        std::size_t size;
    } cases[] = {
        {"/dev/zero", std::size_t{1} << 20, (std::size_t{1} << 20) + 1},
        {"/dev/zero", 3 << 17, (3 << 17) + 1},
        {"/dev/zero", 100, 101},
        {spaces, std::size_t{1} << 20, 1000},
        {spaces, 999, 1000},
        {spaces, 10, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.limit));
        std::string text;
        ASSERT_TRUE(readText(c.path.c_str(), text, c.limit));
        EXPECT_EQ(text.size(), c.size);
        EXPECT_LE(text.capacity(), std::max<std::size_t>(c.limit + 1, 64 << 10));
    }
}
