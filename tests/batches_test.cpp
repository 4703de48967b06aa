// The files a mode works through: operands in batches, and the NUL-ended
// names of a --files0-from list, refused names in their places, streamed;
// listed files giving what the same files give as operands; the work done
// on one thread where no other can start; the batches' output in file order.
#include "batches.h"
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::string_literals;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Files a.par (Operations[10] 850) and b.par (851.5), and a fleet listed
// NUL-ended in list, one name with a newline in it and a document byte
// that --check reports.
ScratchDir fleet()
{
    ScratchDir dir;
    dir.write("a.par", Image().operation(10, 850).name(2, "feed rate").bytes);
    dir.write("b.par", Image().operation(10, 851.5).name(2, "feed rate").bytes);
    dir.write("new\nline.par", Image().operation(10, 852).document(3, 2).bytes);
    dir.write("list", std::string("a.par\0b.par\0new\nline.par\0", 25));
    return dir;
}

// Every name a source gives, batch by batch of most; a refused name as
// "refused: " and its diagnostic.
std::vector<std::string> namesOf(FileNames& source, std::size_t most)
{
    std::vector<std::string> names;
    NameBatch batch;
    while (source.next(most, batch)) {
        EXPECT_LE(batch.names.size(), most);
        std::size_t refusal = 0;
        for (const char* name : batch.names) {
            names.push_back(name != nullptr ? std::string(name) : "refused: " + batch.refusals.at(refusal++));
        }
        EXPECT_EQ(refusal, batch.refusals.size());
    }
    return names;
}

} // namespace

TEST(Batches, AListGivesEachNameEndedByAZeroAndRefusesEmptyOnes)
{
    // The longest path open takes; past it a name is no path, and the list,
    // whose names may never end, is read no further.
    const std::string longName = std::string(4095, 'n');
    std::string acrossBlocks;
    for (int k = 0; k < 20; ++k) {
        acrossBlocks += longName + '\0';
    }
    const std::string tooLong = " File name too long (more than 4095 bytes before a zero byte); the list is read no "
                                "further\n";
    const struct {
        std::string list;
        std::vector<std::string> names;
    } cases[] = {
        {"a.par\0b.par\0"s, {"a.par", "b.par"}},
        {"a.par\0b.par"s, {"a.par", "b.par"}},
        {"", {}},
        {"\0"s, {"refused: paramlist: LIST:1: invalid zero-length file name\n"}},
        {"a\0\0b\0"s, {"a", "refused: paramlist: LIST:2: invalid zero-length file name\n", "b"}},
        {"new\nline.par\0tab\t.par\0"s, {"new\nline.par", "tab\t.par"}},
        // A list read from a file may name standard input.
        {"-\0"s, {"-"}},
        // Names as long as a path may be, one of them split across blocks of the list.
        {longName + '\0' + longName, {longName, longName}},
        {acrossBlocks, std::vector<std::string>(20, longName)},
        {longName + "n\0b\0"s, {"refused: paramlist: LIST:1:" + tooLong}},
        {"a\0"s + std::string(100000, 'n'), {"a", "refused: paramlist: LIST:2:" + tooLong}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list.size());
        ScratchDir dir;
        const std::string list = dir.write("list", c.list);
        for (const std::size_t most : {std::size_t{1}, std::size_t{2}, std::size_t{256}}) {
            FileNames source(list.c_str(), nullptr, 0);
            ASSERT_EQ(source.failure(), "");
            std::vector<std::string> expected = c.names;
            for (std::string& name : expected) {
                const std::size_t at = name.find("LIST");
                if (name.compare(0, 9, "refused: ") == 0 && at != std::string::npos) {
                    name.replace(at, 4, list);
                }
            }
            EXPECT_EQ(namesOf(source, most), expected);
        }
    }
}

TEST(Batches, OperandsComeInBatchesOfAtMostTheSizeAsked)
{
    std::vector<std::string> words{"a", "b", "", "-", "e"};
    std::vector<char*> operands;
    operands.reserve(words.size());
    for (std::string& word : words) {
        operands.push_back(&word[0]);
    }
    for (const std::size_t most : {std::size_t{1}, std::size_t{2}, std::size_t{10}}) {
        FileNames source(nullptr, operands.data(), static_cast<int>(operands.size()));
        EXPECT_EQ(namesOf(source, most), words);
    }
}

TEST(Batches, AListThatCannotBeOpenedSaysWhy)
{
    ScratchDir dir;
    const struct {
        std::string list;
        const char* reason;
    } cases[] = {
        {dir.path + "/missing", "No such file or directory"},
        {dir.path, "Is a directory"},
    };
    for (const auto& c : cases) {
        FileNames source(c.list.c_str(), nullptr, 0);
        EXPECT_EQ(source.failure(), "paramlist: " + c.list + ": " + c.reason + "\n");
        NameBatch batch;
        EXPECT_FALSE(source.next(10, batch));
    }
}

// A million names are held a batch at a time, never all at once.
TEST(Batches, AListOfAMillionNamesCostsTheMemoryOfOneBatch)
{
    ScratchDir dir;
    std::string list;
    for (int i = 0; i < 1000000; ++i) {
        list += "fleet/plant" + std::to_string(i) + ".par";
        list += '\0';
    }
    const std::string path = dir.write("list", list);
    FileNames source(path.c_str(), nullptr, 0);
    NameBatch batch;
    std::size_t names = 0;
    std::size_t largest = 0;
    while (source.next(256, batch)) {
        names += batch.names.size();
        largest = std::max(largest, batch.bytes.capacity());
    }
    EXPECT_EQ(names, 1000000U);
    EXPECT_LT(largest, std::size_t{64} * 1024);
}

TEST(Batches, ListedNamesAreTheFilesAndAnEmptyOneIsAnError)
{
    expectEach(
        {
            {"$P --get 'Operations[10]' --files0-from=list", 0,
             "a.par: Operations[10]: 850\nb.par: Operations[10]: 851.5\nnew\nline.par: Operations[10]: 852\n", ""},
            {"printf 'a.par\\0\\0b.par\\0' | $P --get 'Operations[10]' --files0-from=-", 1,
             "a.par: Operations[10]: 850\nb.par: Operations[10]: 851.5\n",
             "paramlist: -:2: invalid zero-length file name\n"},
            {"printf 'a.par\\0-\\0' | $P --get 'Operations[10]' --files0-from=-", 1, "a.par: Operations[10]: 850\n",
             "paramlist: -:2: when reading file names from standard input, no file name of '-' allowed\n"},
            // A list from a file may name standard input, which is read once.
            {"printf 'a.par\\0-\\0-\\0' >l; $P --diff --files0-from=l a.par <b.par", 1,
             "-: Operations[10]: 850 -> 851.5\n-: Operations[10]: 850 -> 851.5\n", ""},
            {"$P --diff --brief --files0-from=list a.par", 1, "b.par\nnew\nline.par\n", ""},
            {"$P --set 'Operations[10]=1' --files0-from=list && $P --get 'Operations[10]' a.par 'new\nline.par'", 0,
             "a.par: Operations[10]: 1\nnew\nline.par: Operations[10]: 1\n", ""},
            {"printf 'a.par\\0\\0' | $P --set 'Init[0]=1' --files0-from=- ; echo $?; $P --get 'Init[0]' a.par", 0,
             "1\n1\n", "paramlist: -:2: invalid zero-length file name\n"},
            {"$P --check --files0-from=missing", 2, "", "paramlist: missing: No such file or directory\n"},
            {"$P --json --files0-from=list a.par", 2, "",
             "paramlist: extra operand 'a.par': FILE operands cannot be given with --files0-from\n" + tryHelp},
            {"$P --diff --files0-from=list", 2, "", "paramlist: missing operand after '--diff'\n" + tryHelp},
            {"$P --files0-from=list", 2, "",
             "paramlist: --files0-from goes with --json or --csv or --tsv or --diff or --check or --summary or "
             "--init-schema or --set or "
             "--entries or --get\n" +
                 tryHelp},
        },
        fleet);
}

TEST(Batches, ListedFilesGiveWhatTheSameFilesGiveAsOperands)
{
    const ScratchDir dir = fleet();
    // Each mode's options, and the operands before its files.
    const std::pair<std::string, std::string> modes[] = {
        {"--json", ""},
        {"--csv", ""},
        {"--tsv", ""},
        {"--check", ""},
        {"--entries -H", ""},
        {"--diff", "a.par"},
        {"--get Names[2] --get Operations[10]", ""},
    };
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.first);
        const Outcome listed = run(script("$P " + mode.first + " --files0-from=list " + mode.second).in(dir));
        const Outcome given = run(script("xargs -0 $P " + mode.first + " " + mode.second + " <list").in(dir));
        EXPECT_EQ(listed.out, given.out);
        EXPECT_FALSE(listed.out.empty());
    }
}

// Where no second thread can be started, the modes over many files do
// all the work on one.
TEST(Batches, ModesOverManyFilesWorkWhereNoThreadCanStart)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to run as a user of its own with a process limit";
    }
    ScratchDir dir;
    ::chmod(dir.path.c_str(), 0755);
    std::vector<std::string> files;
    for (int i = 0; i < 300; ++i) {
        files.push_back("f" + std::to_string(i) + ".par");
        dir.write(files.back(), Image().init(0, static_cast<std::uint32_t>(i)).operation(3, i * 0.25).bytes);
    }
    // A user no other process runs as, so that this process is its only one.
    const uid_t user = 50000 + static_cast<uid_t>(::getpid() % 10000);
    for (const char* mode : {"--json", "--check", "--diff", "--summary"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> args{mode};
        args.insert(args.end(), files.begin(), files.end());
        const Outcome expected = run(command(args).in(dir));
        const Outcome outcome = run(command(args).in(dir).as(user).limit(RLIMIT_NPROC, 1));
        EXPECT_EQ(outcome.status, expected.status);
        EXPECT_EQ(outcome.err, expected.err);
        EXPECT_TRUE(outcome.out == expected.out) << outcome.out.size() << " bytes, not " << expected.out.size();
    }
}

// Whichever thread finishes a batch first, the output goes in file order,
// and the run ends with the highest status of any batch; a batch held up
// (here by a sleep) holds up its own output alone.
TEST(Batches, OutputKeepsFileOrderWhicheverThreadFinishesFirst)
{
    for (const int count : {1, 127, 128, 129, 1000, 3000}) {
        SCOPED_TRACE(count);
        std::vector<std::string> words;
        words.reserve(count);
        for (int k = 0; k < count; ++k) {
            words.push_back(std::to_string(k));
        }
        std::vector<char*> operands;
        operands.reserve(words.size());
        for (std::string& word : words) {
            operands.push_back(&word[0]);
        }
        FileNames names(nullptr, operands.data(), count);
        CaptureStdout();
        const int status = runInBatches(
            names,
            [](Batch& batch, char* const* files, int n) {
                const int first = std::stoi(files[0]);
                if (first % 384 == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                for (int k = 0; k < n; ++k) {
                    batch.out += std::string(files[k]) + '\n';
                }
                batch.status = first == 128 ? 2 : 1;
            },
            1);
        std::string expected;
        for (const std::string& word : words) {
            expected += word + '\n';
        }
        EXPECT_EQ(GetCapturedStdout(), expected);
        EXPECT_EQ(status, count > 128 ? 2 : 1);
    }
}
