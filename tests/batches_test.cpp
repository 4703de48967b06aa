// The files a mode works through: operands in batches, and the NUL-ended
// names of a --files0-from list, refused names in their places, streamed.
#include "batches.h"
#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

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

TEST(FileNames, AListGivesEachNameEndedByAZeroAndRefusesEmptyOnes)
{
    const std::string longName = std::string(100000, 'n');
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
        // Names longer than a block of the list, and split across blocks.
        {longName + '\0' + longName, {longName, longName}},
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

TEST(FileNames, OperandsComeInBatchesOfAtMostTheSizeAsked)
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

TEST(FileNames, AListThatCannotBeOpenedSaysWhy)
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
TEST(FileNames, AListOfAMillionNamesCostsTheMemoryOfOneBatch)
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
