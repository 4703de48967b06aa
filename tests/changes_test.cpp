// Changes given as text: which form the text is in, the entries text read
// strictly with every problem placed, the records of JSON input, and a change
// applied in the differing entries' bytes alone, with and without the record
// it was made from.
#include "Parameter.h"
#include "changes.h"
#include "schema.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::string entryNames(const std::vector<Entry>& entries)
{
    std::string names;
    for (const Entry entry : entries) {
        names += names.empty() ? "" : " ";
        appendEntryName(names, entry);
    }
    return names;
}

std::string problemsText(const std::vector<TextProblem>& problems)
{
    std::string text;
    for (const TextProblem& problem : problems) {
        text += std::to_string(problem.line) + ":" + std::to_string(problem.column) + ": " + problem.what + "\n";
    }
    return text;
}

// Every record of text, found and read as --apply finds and reads them.
struct Found {
    bool read;
    std::vector<RecordPlace> places;
    std::vector<RecordChange> changes;
    std::vector<TextProblem> problems;
};

Found findAll(const std::string& text, bool oneRecord)
{
    Found found{};
    found.read = findChanges(text, oneRecord, found.places, found.problems);
    for (const RecordPlace& place : found.read ? found.places : std::vector<RecordPlace>()) {
        found.changes.push_back(changeAt(text, place));
    }
    return found;
}

} // namespace

TEST(Changes, JsonIsToldByItsFirstCharacterOutsideComments)
{
    const struct {
        const char* text;
        bool json;
    } cases[] = {
        {"{\"file\":\"a\"}", true},         {"  \n\t{", true}, {"# a comment { \n{", true}, {"#{\nInit[0]: 1", false},
        {"bytes: 3950\nInit[0]: 1", false}, {"", false},       {"# only a comment", false}, {"[{}]", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isJsonText(c.text), c.json) << c.text;
    }
}

TEST(Changes, EntriesTextGivesTheEntriesItNamesWithTheirValues)
{
    const std::string text = "# header\nbytes: 3950\n\nOperations[10]: 851.5\r\nInit[3]: 7\n  # indented comment\n"
                             "Names[2]: feed rate\nDocument[4]: true\nTerminalCondition[0]: -0.0\n"
                             "Operations[11]: \"0x7ff0000000000001\"\nNames[3]: {\"hex\":\"41ff\"}\n";
    RecordChange change;
    std::vector<TextProblem> problems;
    readEntriesText(text, change, problems);
    ASSERT_EQ(problemsText(problems), "");
    // In file order, whatever the order of the lines.
    EXPECT_EQ(entryNames(change.entries()),
              "Init[3] TerminalCondition[0] Operations[10] Operations[11] Names[2] Names[3] Document[4]");
    EXPECT_EQ(change.values.getInitParameter(3), 7u);
    EXPECT_EQ(change.values.getOperationsParameter(10), 851.5);
    EXPECT_TRUE(std::signbit(change.values.getTerminalConditionParameter(0)));
    EXPECT_EQ(realBits(change.values.getOperationsParameter(11)), 0x7ff0000000000001u);
    EXPECT_STREQ(change.values.getNamesParameter(2), "feed rate");
    EXPECT_STREQ(change.values.getNamesParameter(3), "A\xff");
    EXPECT_TRUE(change.values.getDocumentParameter(4));
}

TEST(Changes, EveryProblemOfEntriesTextIsPlacedAndNamesItsEntry)
{
    const struct {
        std::string text;
        const char* problems;
    } cases[] = {
        {"Operations[10]=851", "1:1: an entry is written as --entries writes it: Table[INDEX]: VALUE\n"},
        {"Operations[10]:851", "1:1: an entry is written as --entries writes it: Table[INDEX]: VALUE\n"},
        {"\nOps[1]: 2", "2:1: unknown table \"Ops\" (Init, TerminalCondition, Operations, Names or Document)\n"},
        // A table named without an index: no "[" to read the index after.
        {"Names: 3950", "1:1: an entry is written Names[INDEX], INDEX in decimal digits\n"},
        {"Init[50]: 1", "1:1: index 50 is past the end of Init, which has 50 entries (0 to 49)\n"},
        {"Init[0]: 1.5", "1:10: Init[0]: an Init entry is a whole number from 0 to 4294967295 in decimal digits\n"},
        {"Operations[2]: 1e999", "1:16: Operations[2]: the number is too large for a real\n"},
        {"Names[0]: \"" + std::string(51, 'x') + "\"", "1:11: Names[0]: a name holds at most 50 bytes, not 51\n"},
        {"Document[0]: 2", "1:14: Document[0]: a Document entry is true, false, 1 or 0\n"},
        {"Init[1]: 1\n#\nInit[1]: 2", "3:1: Init[1]: given twice (first on line 1)\n"},
        {"Names[0]: \"a\" b",
         "1:15: Names[0]: after the value, only a comment (# and what follows) may end the line\n"},
        {"feed_rate: 1", "1:1: no entry is named feed_rate: the file has no schema\n"},
        // Each problem, not only the first.
        {"Init[0]: x\nInit[1]: 2\nInit[2]: y",
         "1:10: Init[0]: an Init entry is a whole number from 0 to 4294967295 in decimal digits\n"
         "3:10: Init[2]: an Init entry is a whole number from 0 to 4294967295 in decimal digits\n"},
    };
    for (const auto& c : cases) {
        RecordChange change;
        std::vector<TextProblem> problems;
        readEntriesText(c.text, change, problems);
        EXPECT_EQ(problemsText(problems), c.problems) << c.text;
    }
}

TEST(Changes, AValueEndsWhereItsFormDoesAndANameOfTheSchemaMeansItsEntry)
{
    std::string unused;
    const std::optional<Schema> schema = parseSchema("[[entry]]\nat = \"Operations[10]\"\nname = \"feed_rate\"\n"
                                                     "[[entry]]\nat = \"Names[5]\"\nname = \"bytes\"\n",
                                                     "s.toml", unused);
    const struct {
        std::string text;
        // Each entry given and its value, or the problems.
        const char* read;
    } cases[] = {
        {"feed_rate: 851\t#x\nNames[0]: {\"hex\":\"41\"}  # x", "Operations[10]=851 Names[0]=\"A\""},
        // A name's text, unquoted, runs to "  # " exactly.
        {"Names[0]: plain # text  # x\nNames[2]: plain  #", "Names[0]=\"plain # text\" Names[2]=\"plain  #\""},
        {"feed_rate: 1\nOperations[10]: 2", "2:1: Operations[10]: given twice (first on line 1)\n"},
        {"feed_rat: 1", "1:1: no entry is named feed_rat in s.toml\n"},
        // The length line --entries writes is its digits; any other value is the entry's that the schema names so.
        {"bytes: 3950\nbytes: \"zz\"  # bytes", "Names[5]=\"zz\""},
    };
    for (const auto& c : cases) {
        RecordChange change;
        std::vector<TextProblem> problems;
        readEntriesText(c.text, change, problems, &*schema);
        std::string read = problemsText(problems);
        for (const Entry entry : problems.empty() ? change.entries() : std::vector<Entry>()) {
            appendEntryName(read += read.empty() ? "" : " ", entry);
            appendJsonEntry(read += "=", change.values, entry.table, entry.index);
        }
        EXPECT_EQ(read, c.read) << c.text;
    }
}

TEST(Changes, JsonInputIsRecordsThatNameTheirFiles)
{
    const std::string a = jsonOf(Image().init(0, 5).bytes, "a.par");
    const std::string b = jsonOf(Image().operation(10, 850).bytes, "dir/b.par");
    const Found found = findAll(a + b, false);
    ASSERT_TRUE(found.read) << problemsText(found.problems);
    const std::vector<RecordChange>& changes = found.changes;
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(found.places[0].file, "a.par");
    EXPECT_EQ(found.places[1].file, "dir/b.par");
    EXPECT_EQ(found.places[1].line, 2u);
    EXPECT_EQ(changes[0].values.getInitParameter(0), 5u);
    EXPECT_EQ(changes[1].values.getOperationsParameter(10), 850);
    EXPECT_EQ(changes[0].entries().size(), 300u);
}

TEST(Changes, AnObjectMayLeaveTablesOutAndSpanLines)
{
    std::string operations = "850";
    std::string documents = "true";
    for (int i = 1; i < 100; ++i) {
        operations += ",0";
        documents += i < 50 ? ",false" : "";
    }
    // As jq writes objects without -c: over many lines, one after another.
    const std::string input = "{\n  \"file\": \"a.par\",\n  \"Operations\": [\n    " + operations +
                              "\n  ]\n}\n# between\n{\"file\":\"b.par\",\"Document\":[" + documents +
                              "]}\n{\"file\":\"c.par\"}";
    const Found found = findAll(input, false);
    ASSERT_TRUE(found.read) << problemsText(found.problems);
    const std::vector<RecordChange>& changes = found.changes;
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].entries().size(), 100u);
    EXPECT_EQ(entryNames({changes[0].entries().front()}), "Operations[0]");
    EXPECT_EQ(changes[0].values.getOperationsParameter(0), 850);
    EXPECT_EQ(found.places[1].line, 8u);
    EXPECT_EQ(entryNames({changes[1].entries().front(), changes[1].entries().back()}), "Document[0] Document[49]");
    EXPECT_TRUE(changes[1].values.getDocumentParameter(0));
    EXPECT_EQ(found.places[2].file, "c.par");
    EXPECT_TRUE(changes[2].entries().empty());
}

TEST(Changes, InputThatCannotBeAppliedIsRefusedWithItsPlace)
{
    const std::string a = jsonOf(Image().bytes, "a.par");
    std::string unnamed = a;
    unnamed.erase(1, unnamed.find(',') - 1 + 1);
    const struct {
        std::string text;
        bool oneRecord;
        const char* problems;
    } cases[] = {
        {"Init[0]: 1\n", false, "1:1: entries text names no file: give the FILE it is for\n"},
        {a + unnamed, false, "2:1: the object has no \"file\", which names the file it is for\n"},
        {a + a, true, "2:1: a second object: with a FILE, the input describes one record\n"},
        {a + "{\"file\":\"b\",\"bytes\":1,\"Init\":[-1]}", false, "2:31: Init[0]: Init entries must not be negative\n"},
        // A table that is given is given whole.
        {"{\"file\":\"b\",\"Init\":[1]}", false, "1:22: \"Init\" has 1 entry, not 50\n"},
        {"{\"file\":\"b\",\"Size\":[1]}", false, "1:13: unknown key \"Size\"\n"},
        {a + std::string(1, '\0') + a, false, "2:1: a zero byte is not allowed in JSON\n"},
        {"{\"file\":\"b\"} x", false, "1:14: syntax error while parsing value - invalid literal\n"},
    };
    for (const auto& c : cases) {
        const Found found = findAll(c.text, c.oneRecord);
        EXPECT_FALSE(found.read) << c.text;
        EXPECT_EQ(problemsText(found.problems), c.problems) << c.text;
    }
}

TEST(Changes, InputWithoutRecordsChangesNothing)
{
    for (const bool oneRecord : {false, true}) {
        for (const char* text : {"", "\n \n", "# nothing\n"}) {
            const Found found = findAll(text, oneRecord);
            EXPECT_TRUE(found.read);
            EXPECT_TRUE(found.places.empty());
        }
    }
}

TEST(Changes, AChangeStoresTheDifferingEntriesAloneAsSetStoresThem)
{
    // Bytes that a canonical write would not keep: a document byte of 2,
    // bytes after a name's zero, a NaN payload.
    const std::string file = Image()
                                 .operation(1, fromBits(0x7ff0000000000001))
                                 .operation(2, 0.0)
                                 .name(0, std::string("ab\0zz", 5))
                                 .document(0, 2)
                                 .init(1, 9)
                                 .bytes;
    const struct {
        const char* text;
        const char* stored;
        std::vector<std::pair<std::size_t, std::string>> bytes;
    } cases[] = {
        {"Operations[1]: \"0x7ff0000000000001\"\nNames[0]: ab\nDocument[0]: true\nInit[1]: 9", "", {}},
        {"Operations[2]: -0.0", "Operations[2]", {{600 + 16 + 7, "\x80"}}},
        {"Operations[2]: 0\nInit[1]: 10", "Init[1]", {{4, "\x0a"}}},
        {"Document[0]: false", "Document[0]", {{3900, std::string(1, '\0')}}},
        {"Names[0]: abc", "Names[0]", {{1402, std::string("c\0\0", 3)}}},
    };
    for (const auto& c : cases) {
        RecordChange change;
        std::vector<TextProblem> problems;
        readEntriesText(c.text, change, problems);
        std::string bytes = file;
        const Application application = applyChange(reinterpret_cast<unsigned char*>(&bytes[0]), change);
        EXPECT_EQ(entryNames(application.stored), c.stored) << c.text;
        EXPECT_TRUE(application.conflicts.empty());
        std::string expected = file;
        for (const auto& [offset, replaced] : c.bytes) {
            expected.replace(offset, replaced.size(), replaced);
        }
        EXPECT_EQ(bytes, expected) << c.text;
    }
}

TEST(Changes, AChangeFromABaseKeepsTheFilesOtherChangesAndStopsAtAConflict)
{
    const std::string base = Image().init(0, 1).init(1, 1).init(2, 1).bytes;
    Parameter baseRecord;
    baseRecord.fromImage(reinterpret_cast<const unsigned char*>(base.data()));
    const struct {
        const char* ours;
        std::string theirs;
        const char* stored;
        const char* conflicts;
    } cases[] = {
        // Given but unchanged from base: the file's newer value stays.
        {"Init[0]: 1\nInit[1]: 1", Image().init(0, 7).init(1, 1).init(2, 1).bytes, "", ""},
        {"Init[0]: 2", Image().init(0, 1).init(1, 7).init(2, 1).bytes, "Init[0]", ""},
        {"Init[0]: 2", Image().init(0, 2).init(1, 1).init(2, 1).bytes, "", ""},
        // A conflict stores nothing, not even what would apply cleanly.
        {"Init[0]: 2\nInit[2]: 5", Image().init(0, 3).init(1, 1).init(2, 1).bytes, "", "Init[0]"},
    };
    for (const auto& c : cases) {
        RecordChange change;
        std::vector<TextProblem> problems;
        readEntriesText(c.ours, change, problems);
        std::string bytes = c.theirs;
        const Application application = applyChange(reinterpret_cast<unsigned char*>(&bytes[0]), change, &baseRecord);
        EXPECT_EQ(entryNames(application.stored), c.stored) << c.ours;
        EXPECT_EQ(entryNames(application.conflicts), c.conflicts) << c.ours;
        EXPECT_EQ(bytes == c.theirs, application.stored.empty()) << c.ours;
    }
}
