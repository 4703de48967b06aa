// Schemas: every refusal of the reader at its line and column, what a schema
// read says of its entries, the findings --check makes of entries outside it,
// and which schema each file has.
#include "schema.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>

#include <unistd.h>

namespace {

// What the reader reports of text, a schema read from s.toml, each line
// without its "paramlist: s.toml:".
std::string refusals(const std::string& text)
{
    std::string problems;
    const std::optional<Schema> schema = parseSchema(text, "s.toml", problems);
    EXPECT_EQ(schema.has_value(), problems.empty()) << text;
    std::string lines;
    for (const std::string& line : piecesOf(problems)) {
        EXPECT_EQ(line.compare(0, 18, "paramlist: s.toml:"), 0) << line;
        lines += line.substr(18) + '\n';
    }
    return lines;
}

const std::string entryAt = "[[entry]]\nat = ";

} // namespace

TEST(Schema, RefusesEachProblemAtItsLineAndColumn)
{
    std::string deepKey = "a";
    for (int i = 0; i < 300; ++i) {
        deepKey += ".a";
    }
    // Parts that begin and end with a digit, whose dots lie between digits as a number's do.
    std::string digitsKey = "1a1";
    for (int i = 0; i < 300; ++i) {
        digitsKey += ".1a1";
    }
    // Keys of two parts each, more than 256 dots in all.
    std::string shallowKeys;
    for (int i = 0; i < 150; ++i) {
        shallowKeys += entryAt + "\"" + (i < 50 ? "Init[" : "Operations[") + std::to_string(i < 50 ? i : i - 50) +
                       "]\"\nvalues.1 = \"on\"\nvalues.2 = \"off\"\n";
    }
    const struct {
        std::string schema;
        std::string problems;
    } cases[] = {
        {"x = 1\n", "1:1: unknown key \"x\": a schema holds [[entry]] tables\n"},
        {"entry = 1\n", "1:9: entry is written [[entry]], a table for each entry described\n"},
        {entryAt + "\"Init[0]\"\nlimit = 3\n", "3:1: unknown key \"limit\" (an entry takes at, name, label, unit, "
                                               "description, min, max, nonzero or values)\n"},
        {"[[entry]]\nname = \"a\"\n", "1:1: this entry has no at = \"Table[INDEX]\"\n"},
        {entryAt + "3\n", "2:6: at is a string, \"Table[INDEX]\" or \"Table[FIRST..LAST]\"\n"},
        {entryAt + "\"Init(3)\"\n",
         "2:6: at = \"Init(3)\": unknown table \"Init(3)\" (Init, TerminalCondition, Operations, Names or Document)\n"},
        {entryAt + "\"Init[2..x]\"\n", "2:6: at = \"Init[2..x]\": an entry is written Init[INDEX], INDEX in decimal "
                                       "digits\n"},
        {entryAt + "\"Operations[9..3]\"\n",
         "2:6: at = \"Operations[9..3]\": the range runs backwards; write FIRST..LAST, FIRST <= LAST\n"},
        {entryAt + "\"Names[50]\"\n",
         "2:6: at = \"Names[50]\": index 50 is past the end of Names, which has 50 entries (0 to 49)\n"},
        {entryAt + "\"Init[40..50]\"\n",
         "2:6: at = \"Init[40..50]\": index 50 is past the end of Init, which has 50 entries (0 to 49)\n"},
        {entryAt + "\"Init[3]\"\n" + entryAt + "\"Init[3]\"\n", "4:6: Init[3] is described twice (first at line 1)\n"},
        {entryAt + "\"Operations[0..20]\"\n" + entryAt + "\"Operations[15..30]\"\n",
         "4:6: Operations[15] is described twice (first at line 1)\n"},
        {entryAt + "\"Init[1]\"\nname = \"rate\"\n" + entryAt + "\"Init[2]\"\nname = \"rate\"\n",
         "6:8: the name rate is given twice (first at line 1)\n"},
        {entryAt + "\"Operations[0..30]\"\nname = \"step\"\n" + entryAt + "\"Operations[40]\"\nname = \"step_25\"\n",
         "6:8: the name step_25 is given twice (first at line 1)\n"},
        {entryAt + "\"Init[1]\"\nname = \"Feed-rate\"\n",
         "3:8: name \"Feed-rate\" is not of the form [a-z_][a-z0-9_]*\n"},
        {entryAt + "\"Init[1]\"\nname = \"2nd\"\n", "3:8: name \"2nd\" is not of the form [a-z_][a-z0-9_]*\n"},
        {entryAt + "\"Init[1]\"\nname = \"\"\n", "3:8: name \"\" is not of the form [a-z_][a-z0-9_]*\n"},
        {entryAt + "\"Operations[1]\"\nmin = 5.5\nmax = 3\n", "4:7: max 3 is below min 5.5\n"},
        {entryAt + "\"Init[1]\"\nmin = -1\n", "3:7: min of an Init entry is a whole number from 0 to 4294967295\n"},
        {entryAt + "\"Init[1]\"\nmax = 4294967296\n",
         "3:7: max of an Init entry is a whole number from 0 to 4294967295\n"},
        {entryAt + "\"Init[1]\"\nmax = 2.5\n", "3:7: max of an Init entry is a whole number from 0 to 4294967295\n"},
        {entryAt + "\"TerminalCondition[1]\"\nmin = nan\n",
         "3:7: min of a real is a number (inf and -inf too), not nan\n"},
        {entryAt + "\"Operations[1]\"\nmax = \"8000\"\n",
         "3:7: max of a real is a number (inf and -inf too), not a string\n"},
        {entryAt + "\"Names[1]\"\nmin = 1\n", "3:1: Names entries take no min\n"},
        {entryAt + "\"Document[1]\"\nvalues = { 1 = \"on\" }\n", "3:1: Document entries take no values\n"},
        {entryAt + "\"Init[3]\"\nvalues = { off = \"0\" }\n",
         "3:12: the key \"off\" of values is not a value of Init: an Init entry is a whole number from 0 to 4294967295 "
         "in decimal digits\n"},
        {entryAt + "\"Operations[3]\"\nvalues = { \"half\" = \"0.5\" }\n",
         "3:12: the key \"half\" of values is not a value of Operations: a real is a JSON number, NaN, Infinity, "
         "-Infinity or 0x and the 16 hex digits of a NaN\n"},
        {entryAt + "\"Operations[3]\"\nvalues = { 0.5 = \"half\" }\n",
         "3:12: the key of a real's value is quoted, as in \"0.5\" = \"half\"\n"},
        {entryAt + "\"Operations[3]\"\nvalues = { \"NaN\" = \"unset\" }\n",
         "3:12: values cannot allow NaN, which equals no value\n"},
        {entryAt + "\"Operations[3]\"\nvalues = { \"1\" = \"one\", \"1.0\" = \"also one\" }\n",
         "3:25: values gives 1 twice\n"},
        {entryAt + "\"Init[3]\"\nvalues = { 7 = \"seven\", 007 = \"bond\" }\n", "3:25: values gives 7 twice\n"},
        {entryAt + "\"Init[3]\"\nvalues = {}\n",
         "3:10: values is a table of the values allowed and their meanings, as { 0 = \"off\" }\n"},
        {entryAt + "\"Init[3]\"\nvalues = { 1 = 2 }\n", "3:16: 1 is a string\n"},
        {entryAt + "\"Init[3]\"\nnonzero = 1\n", "3:11: nonzero is true or false\n"},
        {entryAt + "\"Init[3]\"\nlabel = \"Mode\\u001b[2J\"\n", "3:9: label holds a control character\n"},
        {entryAt + "\"Init[3]\"\nunit = \"mm\\nper minute\"\n", "3:8: unit holds a control character\n"},
        {entryAt + "\"Init[3]\"\nlabel = 3\n", "3:9: label is a string\n"},
        {"[[entry]\n", "1:9: Error while parsing table header: expected ']', saw '\\n'\n"},
        {"\u00e9 = 1\n",
         "1:1: Error while parsing root table: expected keys, tables, whitespace or comments, saw '\u00e9'\n"},
        {entryAt + "\"Init[1]\"\ndescription = \"\"\"Flow \\\n    \u00e9tal\u00e9\"\"\"\n", ""},
        {"[[=]]\n", "1:3: Error while parsing key: expected bare key starting character or string delimiter, saw "
                    "'='\n"},
        {entryAt + "\"Init[3]\"\nat = \"Init[4]\"\n",
         "3:6: Error while parsing key-value pair: cannot redefine existing string 'at'\n"},
        {deepKey + " = 1\n", "1:514: keys with more than 256 dots: a schema's keys are not nested this deep\n"},
        {digitsKey + " = 1\n", "1:1028: keys with more than 256 dots: a schema's keys are not nested this deep\n"},
        {"\xef\xbb\xbf" + deepKey + " = 1\n",
         "1:514: keys with more than 256 dots: a schema's keys are not nested this deep\n"},
        {shallowKeys, ""},
        {entryAt + "\"Init\\n[1]\"\n",
         "2:6: at = \"Init\\x0a[1]\": unknown table \"Init\\x0a\" (Init, TerminalCondition, Operations, Names "
         "or Document)\n"},
        {entryAt + "\"Init[1]\"\nname = \"a\\tb\"\n", "3:8: name holds a control character\n"},
        {"a = " + std::string(300, '[') + std::string(300, ']') + "\n",
         "1:37: Error while parsing value: exceeded maximum nested value depth of 32 (TOML_MAX_NESTED_VALUES)\n"},
        {"# " + std::string(schemaLimit, 'x') + "\n", "1:1048577: the schema goes on past 1 MiB here, more than a "
                                                      "schema may hold\n"},
        {entryAt + "\"Init[1]\"\nnonzero = 0\nweight = 3\n" + entryAt + "\"Init[60]\"\n",
         "3:11: nonzero is true or false\n4:1: unknown key \"weight\" (an entry takes at, name, label, unit, "
         "description, min, max, nonzero or values)\n6:6: at = \"Init[60]\": index 60 is past the end of Init, which "
         "has 50 entries (0 to 49)\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refusals(c.schema), c.problems) << c.schema.substr(0, 200);
    }
}

TEST(Schema, DescribesEachEntryOfARangeByNameAndByEntry)
{
    std::string problems;
    const std::optional<Schema> schema =
        parseSchema("# channels\n\n[[entry]]\nat = \"Names[2..4]\"\nname = \"channel\"\nnonzero = true\n\n"
                    "[[entry]]\nat = \"Operations[10]\"\nname = \"feed_rate\"\nunit = \"mm/min\"\nmin = 0\n"
                    "max = 8000\ndescription = \"\"\"\nFeed of the main axis\nwhile cutting.\"\"\"\n"
                    "[[entry]]\nat = \"TerminalCondition[1]\"\nvalues = { \"0.1\" = \"loose\", \"1e-2\" = \"tight\", "
                    "\"-Infinity\" = \"none\" }\n",
                    "paramlist.toml", problems);
    ASSERT_TRUE(schema) << problems;
    ASSERT_EQ(schema->described().size(), 5U);
    const EntryDescription* channel = schema->find("channel_3");
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->entry.table, Table::Names);
    EXPECT_EQ(channel->entry.index, 3U);
    EXPECT_EQ(channel->line, 3U);
    EXPECT_EQ(schema->find("channel"), nullptr);
    const EntryDescription* feed = schema->find(Entry{Table::Operations, 10});
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(feed->name, "feed_rate");
    EXPECT_EQ(feed->description, "Feed of the main axis\nwhile cutting.");
    EXPECT_EQ(*feed->max, 8000);
    EXPECT_EQ(schema->find(Entry{Table::Operations, 11}), nullptr);
    // File order: TerminalCondition before Operations before Names.
    EXPECT_EQ(schema->described()[0].entry.table, Table::TerminalCondition);
    std::string values;
    for (const AllowedValue& allowed : schema->described()[0].values) {
        values += allowed.text + "=" + allowed.meaning + " ";
    }
    EXPECT_EQ(values, "\"-Infinity\"=none 0.01=tight 0.1=loose ");
}

TEST(Schema, CheckFindsEachLimitAnEntryBreaks)
{
    // The [[entry]] of each case is on line 8 of its schema.
    const std::string head = "# The furnace line.\n#\n#\n#\n#\n#\n\n[[entry]]\n";
    const struct {
        std::string entry;
        Image image;
        std::string out;
    } cases[] = {
        {"at = \"Operations[10]\"\nname = \"feed_rate\"\nunit = \"mm/min\"\nmin = 0\nmax = 8000\n",
         Image().operation(10, 12000),
         "f.par:680: Operations[10] feed_rate is 12000 mm/min, above its maximum 8000 (paramlist.toml:8)\n"},
        {"at = \"Operations[10]\"\nmin = 0\nmax = 8000\n", Image().operation(10, 8000), ""},
        {"at = \"Init[4]\"\nname = \"zones\"\nmin = 2\n", Image().init(4, 1),
         "f.par:16: Init[4] zones is 1, below its minimum 2 (paramlist.toml:8)\n"},
        {"at = \"Init[3]\"\nname = \"mode\"\nvalues = { 0 = \"off\", 1 = \"auto\", 2 = \"manual\" }\n",
         Image().init(3, 5), "f.par:12: Init[3] mode is 5, not one of its values 0, 1 and 2 (paramlist.toml:8)\n"},
        {"at = \"TerminalCondition[2]\"\nvalues = { \"0.5\" = \"half\" }\n", Image().terminal(2, 0.25),
         "f.par:216: TerminalCondition[2] is 0.25, not its value 0.5 (paramlist.toml:8)\n"},
        {"at = \"TerminalCondition[2]\"\nvalues = { \"0.5\" = \"half\" }\n", Image().terminal(2, 0.5), ""},
        {"at = \"Operations[0]\"\nunit = \"bar\"\nmax = 10\n", Image().operation(0, fromBits(0x7ff8000000000000)),
         "f.par:600: Operations[0] is NaN\n"
         "f.par:600: Operations[0] is \"NaN\" bar, not a number its limits allow (paramlist.toml:8)\n"},
        {"at = \"Operations[0]\"\nnonzero = true\n", Image().operation(0, fromBits(0x7ff8000000000000)),
         "f.par:600: Operations[0] is NaN\n"},
        {"at = \"Operations[0]\"\nmax = 10\n", Image().operation(0, HUGE_VAL),
         "f.par:600: Operations[0] is infinity\n"
         "f.par:600: Operations[0] is \"Infinity\", above its maximum 10 (paramlist.toml:8)\n"},
        {"at = \"Operations[1..2]\"\nname = \"step\"\nunit = \"s\"\nmin = 1\nnonzero = true\n",
         Image().operation(1, -0.0).operation(2, 3),
         "f.par:608: Operations[1] step_1 is -0.0 s, below its minimum 1 (paramlist.toml:8)\n"
         "f.par:608: Operations[1] step_1 is -0.0 s, but must be non-zero (paramlist.toml:8)\n"},
        {"at = \"Names[1]\"\nname = \"tool\"\nunit = \"x\"\nnonzero = true\n", Image(),
         "f.par:1450: Names[1] tool is empty, but must be given (paramlist.toml:8)\n"},
        {"at = \"Document[7]\"\nname = \"calibrated\"\nnonzero = true\n", Image().document(7, 0),
         "f.par:3907: Document[7] calibrated is clear, but must be set (paramlist.toml:8)\n"},
        {"at = \"Document[7]\"\nnonzero = true\n", Image().document(7, 2),
         "f.par:3907: Document[7] is 2, not 0 or 1\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("paramlist.toml", head + c.entry);
        dir.write("f.par", c.image.bytes);
        const Outcome outcome = run(script("$P --check f.par").in(dir));
        EXPECT_EQ(outcome.out, c.out) << c.entry;
        EXPECT_EQ(outcome.status, c.out.empty() ? 0 : 1) << c.entry;
        EXPECT_EQ(outcome.err, "") << c.entry;
    }
}

TEST(Schema, TheExampleSchemaDescribesTheSample)
{
    ScratchDir dir;
    const Outcome outcome =
        run(script("cp '" PARAMLIST_EXAMPLES "/paramlist.toml' '" PARAMLIST_EXAMPLES "/sample.par' . && "
                   "$P --check sample.par && echo sound && cp sample.par fast.par && "
                   "$P --set 'Operations[10]=12000' --set 'Names[3]=' --force fast.par && $P --check fast.par")
                .in(dir));
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_EQ(outcome.out, "sound\n"
                           "fast.par:680: Operations[10] feed_rate is 12000 mm/min, above its maximum 8000 "
                           "(paramlist.toml:49)\n"
                           "fast.par:1550: Names[3] channel_3 is empty, but must be given (paramlist.toml:58)\n");
}

TEST(Schema, CheckJsonNamesTheEntryAndItsName)
{
    ScratchDir dir;
    dir.write("paramlist.toml", "[[entry]]\nat = \"Operations[10]\"\nname = \"feed_rate\"\nunit = \"\\\"in\\\"\"\n"
                                "max = 8000\n[[entry]]\nat = \"Init[0]\"\nnonzero = true\n");
    dir.write("short.par", Image().operation(10, 9000).bytes.substr(0, 700));
    const Outcome outcome = run(script("$P --check --json short.par").in(dir));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out,
              "{\"file\":\"short.par\",\"offset\":0,\"kind\":\"required\",\"entry\":\"Init[0]\",\"message\":\"Init[0] "
              "is 0, but must be non-zero (paramlist.toml:6)\"}\n"
              "{\"file\":\"short.par\",\"offset\":680,\"kind\":\"above-maximum\",\"entry\":\"Operations[10]\","
              "\"name\":\"feed_rate\",\"message\":\"Operations[10] feed_rate is 9000 \\\"in\\\", above its maximum "
              "8000 (paramlist.toml:1)\"}\n"
              "{\"file\":\"short.par\",\"offset\":700,\"kind\":\"short-file\",\"message\":\"the file ends 3250 bytes "
              "short of the 3950-byte image; the entries from here on are read as their start values\"}\n");
}

TEST(Schema, EachFileHasTheNearestSchemaItsUserWrote)
{
    // Each script runs in a folder where a/paramlist.toml allows Init[0] up to 1
    // and a/b/paramlist.toml up to 2, and where every f.par holds 5 there.
    const std::string setUp = "mkdir -p a/b/c d && printf '[[entry]]\\nat = \"Init[0]\"\\nmax = 1\\n' >a/paramlist.toml"
                              " && sed s/1/2/ a/paramlist.toml >a/b/paramlist.toml && for d in . a a/b a/b/c d; do "
                              "cp five.par $d/f.par; done\n";
    const std::string one = ": Init[0] is 5, above its maximum 1 (";
    const std::string two = ": Init[0] is 5, above its maximum 2 (";
    const std::string warning = "paramlist: warning: a/b/paramlist.toml is not used as a schema, since ";
    const std::string unused = "; the files below it have none (name it with --schema=a/b/paramlist.toml to use it)\n";
    const std::vector<ScriptCase> cases = {
        {"$P --check f.par d/f.par a/f.par a/b/c/f.par", 1,
         "a/f.par:0" + one + "a/paramlist.toml:1)\na/b/c/f.par:0" + two + "a/b/paramlist.toml:1)\n", ""},
        {"cd a/b/c && $P --check f.par ../../f.par", 1,
         "f.par:0" + two + "../paramlist.toml:1)\n../../f.par:0" + one + "../../paramlist.toml:1)\n", ""},
        {"$P --check --schema=a/b/paramlist.toml f.par", 1, "f.par:0" + two + "a/b/paramlist.toml:1)\n", ""},
        {"$P --check --schema=- a/f.par <a/b/paramlist.toml", 1, "a/f.par:0" + two + "-:1)\n", ""},
        {"cd a && $P --check - <../f.par", 1, "-:0" + one + "paramlist.toml:1)\n", ""},
        {"$P --check --no-schema a/f.par a/b/f.par", 0, "", ""},
        {"chmod o+w a/b/paramlist.toml && $P --check a/b/f.par a/b/c/f.par a/f.par", 1,
         "a/f.par:0" + one + "a/paramlist.toml:1)\n", warning + "others may write it" + unused},
        {"chmod g+w a/b/paramlist.toml && $P --check a/b/c/f.par", 0, "", warning + "its group may write it" + unused},
        {"chmod 1777 a/b && $P --check a/b/c/f.par", 0, "", warning + "others may write its folder" + unused},
        {"chmod g+w a/b && $P --check a/b/c/f.par", 0, "", warning + "its group may write its folder" + unused},
        {"mv a/b/paramlist.toml t.toml && ln -s gone.toml a/b/paramlist.toml && $P --check a/b/c/f.par", 2, "",
         "paramlist: a/b/paramlist.toml: No such file or directory\n"},
        // A folder too deep to be opened by its path is not passed over.
        {"p=$PWD && for i in $(seq 45); do mkdir " + std::string(100, 'd') + " && cd -P " + std::string(100, 'd') +
             " || exit; done && cp $p/five.par f.par && cp $p/a/paramlist.toml . && $P --check f.par; s=$? && cd -P $p "
             "&& rm -rf " +
             std::string(100, 'd') + " && exit $s",
         2, "", "paramlist: paramlist.toml: File name too long\n"},
        {"chmod o+w a/paramlist.toml && mv a/b/paramlist.toml t.toml && ln -s ../paramlist.toml a/b/paramlist.toml &&"
         " $P --check a/b/f.par",
         0, "", warning + "others may write it" + unused},
        {"mv a/b/paramlist.toml t.toml && ln -s ../../t.toml a/b/paramlist.toml && $P --check a/b/f.par", 1,
         "a/b/f.par:0" + two + "a/b/paramlist.toml:1)\n", ""},
        {"ln -s a/b/c e && $P --check e/f.par", 1, "e/f.par:0" + two + "a/b/paramlist.toml:1)\n", ""},
        {"echo 'max = ' >>a/b/paramlist.toml && $P --check f.par a/b/c/f.par a/f.par", 2, "",
         "paramlist: a/b/paramlist.toml:4:7: Error while parsing key-value pair: expected value, saw '\\n'\n"},
        {"rm a/b/paramlist.toml && mkfifo a/b/paramlist.toml && $P --check a/b/f.par", 2, "",
         "paramlist: a/b/paramlist.toml: a schema is a regular file\n"},
        {"$P --check --schema=d d/f.par", 2, "", "paramlist: d: Is a directory\n"},
        {"ln -s paramlist.toml d/paramlist.toml && $P --check d/f.par", 2, "",
         "paramlist: d/paramlist.toml: Too many levels of symbolic links\n"},
        {"$P --check --schema=a/paramlist.toml --no-schema f.par", 2, "",
         "paramlist: choose one of --schema and --no-schema\nTry 'paramlist --help' for more information.\n"},
        {"$P --json --schema=a/paramlist.toml f.par", 2, "",
         "paramlist: --schema goes with --csv or --tsv or --diff or --check or --summary or --set or --apply or "
         "--edit or --entries or --get\nTry 'paramlist --help' for more information.\n"},
        {"$P --check --schema=- - <f.par", 2, "",
         "paramlist: --schema=- reads the schema from standard input, which cannot be a FILE's too\n" + tryHelp},
    };
    expectEach(cases, [&] {
        ScratchDir dir;
        dir.write("five.par", Image().init(0, 5).bytes);
        EXPECT_EQ(run(script(setUp).in(dir)).status, 0);
        return dir;
    });
}

TEST(Schema, ASchemaOfAnotherUserIsNotUsed)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    const std::string unused = "paramlist: warning: paramlist.toml is not used as a schema, since it belongs to user "
                               "65534; the files below it have none (name it with --schema=paramlist.toml to use it)\n";
    const struct {
        std::string script;
        std::string err;
    } cases[] = {
        {"printf '[[entry]]\\nat = \"Init[0]\"\\nmax = 1\\n' >paramlist.toml && chown 65534 paramlist.toml", unused},
        // A link that leads nowhere is judged by its own owner.
        {"ln -s paramlist.toml paramlist.toml && chown -h 65534 paramlist.toml", unused},
        // Another user's link, in a folder of theirs, to a schema the user wrote for other files.
        {"printf '[[entry]]\\nat = \"Init[0]\"\\nmax = 1\\n' >s.toml && ln -s s.toml paramlist.toml && chown -h 65534 "
         "paramlist.toml . && chmod go-w .",
         "paramlist: warning: paramlist.toml is not used as a schema, since its folder belongs to user 65534; the "
         "files below it have none (name it with --schema=paramlist.toml to use it)\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("f.par", Image().init(0, 5).bytes);
        const Outcome outcome = run(script(c.script + " && $P --check f.par f.par").in(dir));
        EXPECT_EQ(outcome.status, 0) << c.script;
        EXPECT_EQ(outcome.out, "") << c.script;
        EXPECT_EQ(outcome.err, c.err) << c.script;
    }
}

TEST(Schema, EachDirectoryIsSearchedOncePerRun)
{
    if (!canTrace()) {
        GTEST_SKIP() << "strace is missing";
    }
    ScratchDir dir;
    dir.write("f.par", Image().bytes);
    const Outcome outcome =
        run(script("for d in 1 2 3; do mkdir -p fleet/$d && for i in 1 2 3 4 5; do cp f.par fleet/$d/$i.par; done; "
                   "done && strace -f -e trace=openat -o trace $P --check fleet/*/*.par fleet/1/../2/1.par && "
                   "grep -c 'paramlist.toml' trace")
                .in(dir)
                .withoutLeakChecks());
    // fleet/1, fleet/2, fleet/3, fleet and the scratch folder, then each
    // folder above it, as many as its path has slashes, each once.
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const std::string slashes = run(script("pwd -P | tr -cd / | wc -c").in(dir)).out;
    EXPECT_EQ(std::stoi(outcome.out), 5 + std::stoi(slashes));
}
