// --get: values written as --json writes them, named by file and entry
// unless one entry of one file is asked for; for scripts, -r prints a name
// as its bytes, which a shell variable takes as it is, and an ENTRY is read
// whole before any file; a name is the entry each file's schema gives it,
// and a line that names its file ends with what the schema calls the entry.
#include "support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

} // namespace

TEST(Get, GetWritesValuesAsJsonDoesAndTheValueAloneOfOneOfOne)
{
    const std::vector<ScriptCase> cases = {
        {"$P --get 'Operations[10]' a.par", 0, "850\n", ""},
        {"$P --get 'Names[2]' a.par", 0, "\"feed rate\"\n", ""},
        {"$P --get 'Names[2]' -H a.par", 0, "a.par: Names[2]: \"feed rate\"\n", ""},
        {"$P --get 'Operations[10]' --get Document[0] a.par", 0,
         "a.par: Operations[10]: 850\na.par: Document[0]: false\n", ""},
        {"$P --get 'Operations[10]' a.par missing.par b.par", 1,
         "a.par: Operations[10]: 850\nb.par: Operations[10]: 851.5\n",
         "paramlist: missing.par: No such file or directory\n"},
        {"$P --get 'Operations[100]' a.par", 2, "",
         "paramlist: --get 'Operations[100]': index 100 is past the end of Operations, which has 100 entries (0 "
         "to 99)\n" +
             tryHelp},
        {"$P --get a.par", 2, "", "paramlist: missing operand after '--get'\n" + tryHelp},
    };
    expectEach(cases, [] {
        ScratchDir dir;
        dir.write("a.par", Image().operation(10, 850).name(2, "feed rate").bytes);
        dir.write("b.par", Image().operation(10, 851.5).name(2, "feed rate").bytes);
        return dir;
    });
}

TEST(Get, RawPrintsANameAsItsBytesAndEveryOtherValueAsJsonDoes)
{
    const std::string a = Image()
                              .operation(10, 850)
                              .terminal(0, fromBits(0x7ff8000000000000))
                              .name(2, "feed rate")
                              .name(3, "\xff\x1b[2J say \"hi\"\\\n")
                              .bytes;
    expectEach(
        {
            {"$P -r --get 'Names[2]' a.par", 0, "feed rate\n", ""},
            {"$P --get 'Names[2]' --raw -H a.par", 0, "a.par: Names[2]: feed rate\n", ""},
            {"$P -r --get 'Names[3]' a.par", 0, "\xff\x1b[2J say \"hi\"\\\n\n", ""},
            {"$P -r --get 'Operations[10]' --get 'TerminalCondition[0]' --get 'Document[0]' a.par", 0,
             "a.par: Operations[10]: 850\na.par: TerminalCondition[0]: \"NaN\"\na.par: Document[0]: false\n", ""},
            {"$P --json --raw a.par", 2, "", "paramlist: -r goes with --get\n" + tryHelp},
            // An ENTRY without an index.
            {"$P --get Init a.par", 2, "",
             "paramlist: --get 'Init': an entry is written Init[INDEX], INDEX in decimal digits\n" + tryHelp},
        },
        [&] {
            ScratchDir dir;
            dir.write("a.par", a);
            return dir;
        });
}

TEST(Get, ANameIsTheEntryOfEachFilesSchemaAndALineThatNamesItsFileEndsWithItsNote)
{
    const std::string aFeed = "a/m.par: Operations[10]: 850  # feed_rate: Feed rate [mm/min]\n";
    const std::string bFeed = "b/m.par: Operations[20]: 30  # feed_rate [in/min]\n";
    const std::vector<ScriptCase> cases = {
        {"$P --get feed_rate a/m.par", 0, "850\n", ""},
        {"$P --get 'Operations[10]' -H a/m.par", 0, aFeed, ""},
        {"$P --get feed_rate a/m.par b/m.par c/m.par", 1, aFeed + bFeed,
         "paramlist: c/m.par: no entry is named feed_rate: the file has no schema\n"},
        {"$P --get 'Operations[10]' --get 'Operations[20]' a/m.par b/m.par", 0,
         aFeed + "a/m.par: Operations[20]: 30\nb/m.par: Operations[10]: 850\n" + bFeed, ""},
        // A file is answered whole or not at all.
        {"$P --get 'Init[0]' --get label a/m.par b/m.par", 1,
         "a/m.par: Init[0]: 0\na/m.par: Names[2]: \"feed rate\"  # label\n",
         "paramlist: b/m.par: no entry is named label in b/paramlist.toml\n"},
    };
    expectEach(cases, [] {
        ScratchDir dir;
        for (const char* folder : {"a", "b", "c"}) {
            EXPECT_EQ(::mkdir((dir.path + "/" + folder).c_str(), 0700), 0);
            dir.write(std::string(folder) + "/m.par",
                      Image().operation(10, 850).operation(20, 30).name(2, "feed rate").bytes);
        }
        dir.write("a/paramlist.toml", "[[entry]]\nat = \"Operations[10]\"\nname = \"feed_rate\"\nlabel = \"Feed "
                                      "rate\"\nunit = \"mm/min\"\n[[entry]]\nat = \"Names[2]\"\nname = \"label\"\n");
        dir.write("b/paramlist.toml", "[[entry]]\nat = \"Operations[20]\"\nname = \"feed_rate\"\nunit = \"in/min\"\n");
        return dir;
    });
}
