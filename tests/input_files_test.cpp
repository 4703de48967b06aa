// Operands that name one file, which every mode reads once.
#include "input_files.h"
#include "support.h"

#include <gtest/gtest.h>

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
            CommandLine run(Request::Diff, row.operands);
            const RepeatedOperands repeats(run.request.operands, run.request.count);
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
