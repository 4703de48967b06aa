// --apply and --dry-run, run as a user runs them: a fleet's text written
// back changes no byte that the text does not change, a change made in the
// text changes that entry alone, and input that does not read touches no file.
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What tells a file that was not rewritten: its inode, its time and its bytes.
struct Look {
    ino_t inode;
    timespec modified;
    std::string bytes;
};

Look lookAt(const std::string& file)
{
    struct stat status {
    };
    EXPECT_EQ(::stat(file.c_str(), &status), 0) << file;
    return {status.st_ino, status.st_mtim, readFile(file)};
}

bool untouched(const Look& before, const std::string& file)
{
    const Look now = lookAt(file);
    return now.inode == before.inode && now.modified.tv_sec == before.modified.tv_sec &&
           now.modified.tv_nsec == before.modified.tv_nsec && now.bytes == before.bytes;
}

// Files whose bytes a canonical write would not keep.
const std::vector<std::pair<std::string, std::string>> crafted = {
    {"document.par", Image().document(0, 2).document(49, 255).operation(10, 850).bytes},
    {"name.par", Image().name(2, std::string("feed\0rate", 9)).name(49, std::string(50, 'N')).bytes},
    {"past.par", Image().operation(10, 851).bytes + "bytes past the image"},
    {"nan.par", Image().operation(1, fromBits(0x7ff0000000000001)).terminal(3, fromBits(0xfff8000000000abc)).bytes},
    {"zero.par", Image().operation(10, -0.0).terminal(0, -0.0).init(49, 4294967295u).bytes},
};

} // namespace

TEST(Apply, TheFleetsTextWrittenBackChangesNoFile)
{
    const ScratchDir dir;
    // Beside the crafted files, what a real fleet holds: a path that is not
    // UTF-8 next to the one its U+FFFD spelling names, a short file, a path
    // with a line break and quotes, and a symbolic link to another file.
    std::vector<std::pair<std::string, std::string>> fleet = crafted;
    fleet.insert(fleet.end(), {{"caf\xe9.par", Image().init(0, 5).bytes},
                               {"caf\xef\xbf\xbd.par", Image().init(0, 9).bytes},
                               {"short.par", Image().init(0, 3).bytes.substr(0, 3000)},
                               {"new\nline \"q\".par", Image().init(1, 1).bytes}});
    std::vector<Look> before;
    before.reserve(fleet.size());
    for (const auto& [name, bytes] : fleet) {
        before.push_back(lookAt(dir.write(name, bytes)));
    }
    ASSERT_EQ(::symlink("document.par", (dir.path + "/link.par").c_str()), 0);
    // Whether or not --force lets past.par and short.par be edited, nothing is
    // to be edited; --force reads them without the report that they are no
    // parameter files.
    const char* lines[] = {
        "$P --json --force *.par | $P --apply - --force",
        "$P --json --force *.par | $P --apply -",
        "$P --json --force *.par | $P --apply - -n",
        "$P --json --force *.par >fleet.jsonl && $P --apply fleet.jsonl --force",
        "for f in *.par; do $P --entries --force \"$f\" | $P --apply - --force \"$f\" || exit; done",
        "for f in *.par; do $P --entries --force \"$f\" | $P --apply - \"$f\" || exit; done",
        "for f in *.par; do $P --json --force \"$f\" | $P --apply - --force \"$f\" || exit; done",
    };
    for (const char* line : lines) {
        const Outcome outcome = run(script(line).in(dir));
        EXPECT_EQ(outcome.status, 0) << line;
        EXPECT_EQ(outcome.out, "") << line;
        EXPECT_EQ(outcome.err, "") << line;
        for (std::size_t k = 0; k < fleet.size(); ++k) {
            EXPECT_TRUE(untouched(before[k], dir.path + "/" + fleet[k].first)) << line << ": " << fleet[k].first;
        }
    }
}

TEST(Apply, AChangeMadeInTheTextChangesThatEntryAlone)
{
    if (std::system("command -v jq >/dev/null") != 0) {
        GTEST_SKIP() << "jq is not installed";
    }
    const ScratchDir dir;
    std::vector<Look> before;
    before.reserve(crafted.size());
    for (const auto& [name, bytes] : crafted) {
        before.push_back(lookAt(dir.write(name, bytes)));
    }
    const struct {
        std::string command;
        std::size_t offset;
        std::string bytes;
    } cases[] = {
        {"$P --json --force *.par | jq -c '.Operations[10] = 850' | $P --apply - --force", 680, realBytes(850)},
        // The objects of jq without -c span lines, and may leave tables out.
        {"$P --json --force *.par | jq '{file, TerminalCondition: (.TerminalCondition | .[5] = 2.5)}' | "
         "$P --apply - --force",
         240, realBytes(2.5)},
        {"for f in *.par; do $P --entries --force $f | sed 's/^Init.7.: .*/Init[7]: 9/' | $P --apply - --force $f || "
         "exit; "
         "done",
         28, std::string("\x09\0\0\0", 4)},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run(script(c.command).in(dir));
        EXPECT_EQ(outcome.status, 0) << c.command;
        EXPECT_EQ(outcome.err, "") << c.command;
        for (std::size_t k = 0; k < crafted.size(); ++k) {
            const std::string file = dir.path + "/" + crafted[k].first;
            std::string expected = before[k].bytes;
            expected.replace(c.offset, c.bytes.size(), c.bytes);
            // A file that held the value already is not rewritten.
            if (expected == before[k].bytes) {
                EXPECT_TRUE(untouched(before[k], file)) << c.command << ": " << crafted[k].first;
            }
            EXPECT_TRUE(holds(file, expected)) << c.command << ": " << crafted[k].first;
            before[k] = lookAt(file);
        }
    }
}

TEST(Apply, InputThatDoesNotReadTouchesNoFile)
{
    const ScratchDir dir;
    const std::string a = dir.write("a.par", Image().operation(10, 850).bytes);
    dir.write("b.par", Image().bytes);
    ::symlink("a.par", (dir.path + "/link.par").c_str());
    const Look before = lookAt(a);
    std::string zeros;
    for (int i = 1; i < 50; ++i) {
        zeros += ",0";
    }
    const std::string objectA = "{\"file\":\"a.par\",\"Init\":[7" + zeros + "]}";
    const struct {
        std::string input;
        std::string operands;
        std::string err;
    } cases[] = {
        {objectA + "\n{\"Init\":[1" + zeros + "]}", "",
         "paramlist: in:2:1: the object has no \"file\", which names the file it is for\n"},
        {objectA + "\n" + "{\"file\":\"./a.par\"}", "",
         "paramlist: in:2:1: ./a.par asks for other values than a.par on line 1, which names the same file\n"},
        {objectA + "\n{\"file\":\"link.par\",\"Init\":[8" + zeros + "]}", "",
         "paramlist: in:2:1: link.par asks for other values than a.par on line 1, which names the same file\n"},
        // A zero byte would cut the path short, to a.par.
        {"{\"file\":\"a.par\\u0000.bak\",\"Init\":[7" + zeros + "]}", "",
         "paramlist: in:1:9: \"file\" must not hold a zero byte\n"},
        {"{\"file\":{\"hex\":\"612e70617200\"},\"Init\":[7" + zeros + "]}", "",
         "paramlist: in:1:30: \"file\" must not hold a zero byte\n"},
        {"{\"file\":\"\",\"Init\":[7" + zeros + "]}", "", "paramlist: in:1:9: \"file\" must not be empty\n"},
        {"", " a.par", "paramlist: in: holds no record and no entry for a.par\n"},
        {"# nothing\n\n", " a.par", "paramlist: in: holds no record and no entry for a.par\n"},
        {objectA + "\n{\"file\":\"b.par\",\"Init\":[1]}", "", "paramlist: in:2:26: \"Init\" has 1 entry, not 50\n"},
        {"Init[0]: 7\n", "", "paramlist: in:1:1: entries text names no file: give the FILE it is for\n"},
        {"Init[0]: 7\nInit[1]: x\nInit[0]: 8\n", " a.par",
         "paramlist: in:2:10: Init[1]: an Init entry is a whole number from 0 to 4294967295 in decimal digits\n"
         "paramlist: in:3:1: Init[0]: given twice (first on line 1)\n"},
        {objectA + "\n" + objectA, " a.par",
         "paramlist: in:2:1: a second object: with a FILE, the input describes "
         "one record\n"},
    };
    for (const auto& c : cases) {
        dir.write("in", c.input);
        const Outcome outcome = run(script("$P --apply in" + c.operands).in(dir));
        EXPECT_EQ(outcome.status, 2) << c.input;
        EXPECT_EQ(outcome.err, c.err) << c.input;
        EXPECT_TRUE(untouched(before, a)) << c.input;
    }
}

TEST(Apply, ObjectsThatNameOneFileAlikeAreOneEdit)
{
    const ScratchDir dir;
    ::mkdir((dir.path + "/line03").c_str(), 0700);
    ::symlink("line03/m.par", (dir.path + "/link.par").c_str());
    // Each command runs on a fresh m.par, whose Init[0] it sets to 7.
    const char* commands[] = {
        "$P --json line03/m.par line03/m.par",
        "$P --json line03/m.par ./line03/m.par",
        "$P --json line03/m.par link.par",
    };
    for (const char* command : commands) {
        dir.write("line03/m.par", Image().operation(1, 2.5).bytes);
        const Outcome outcome =
            run(script(std::string(command) + " | sed 's/\"Init\":\\[0/\"Init\":[7/' | $P --apply -").in(dir));
        EXPECT_EQ(outcome.status, 0) << command;
        EXPECT_EQ(outcome.err, "") << command;
        EXPECT_TRUE(holds(dir.path + "/line03/m.par", Image().operation(1, 2.5).init(0, 7).bytes)) << command;
    }
}

TEST(Apply, ADamagedFileIsRefusedOnlyWhereTheTextChangesIt)
{
    const ScratchDir dir;
    const std::string shortFile = Image().init(0, 3).bytes.substr(0, 3000);
    const std::string refusal = "paramlist: short.par: not a parameter file (3000 bytes, not 3950); --force edits it "
                                "anyway\n";
    // --json --force: the file read without the report that the edit makes.
    const std::string changed = "$P --json --force short.par | sed 's/\"Init\":\\[3/\"Init\":[4/' | $P --apply -";
    const struct {
        std::string command;
        int status;
        std::string err;
        std::string after;
    } cases[] = {
        {changed, 1, refusal, shortFile},
        {changed + " -n", 2, refusal, shortFile},
        {changed + " --force", 0, "", Image().init(0, 4).bytes},
    };
    for (const auto& c : cases) {
        dir.write("short.par", shortFile);
        const Outcome outcome = run(script(c.command).in(dir));
        EXPECT_EQ(outcome.status, c.status) << c.command;
        EXPECT_EQ(outcome.err, c.err) << c.command;
        EXPECT_TRUE(holds(dir.path + "/short.par", c.after)) << c.command;
    }
}

TEST(Apply, TimeGrowsWithTheInputNotWithItsRecordsTimesWhatPrecedesThem)
{
    const ScratchDir dir;
    for (int i = 0; i < 400; ++i) {
        dir.write("m" + std::to_string(i) + ".par", Image().bytes);
    }
    ASSERT_EQ(run(script("$P --json *.par | sed 's/\"Init\":\\[0/\"Init\":[1/' >fleet.jsonl").in(dir)).status, 0);
    const auto seconds = [&](const std::string& input) {
        const auto start = std::chrono::steady_clock::now();
        const Outcome outcome = run(script("$P --apply " + input + " -n >/dev/null").in(dir));
        EXPECT_EQ(outcome.status, 1) << input << outcome.err;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const double plain = seconds("fleet.jsonl");
    // 10 MB before the records: read once, a few hundredths of a second in a
    // release build; a rescan per record took half a minute. Twice the plain
    // time leaves room for a sanitized build on a loaded machine.
    const char* before[] = {
        "head -c 10000000 /dev/zero | tr '\\0' ' '",
        "yes '# a comment line' | head -c 10000000",
    };
    for (const char* text : before) {
        ASSERT_EQ(run(script(std::string("{ ") + text + "; echo; cat fleet.jsonl; } >in").in(dir)).status, 0) << text;
        EXPECT_LT(seconds("in"), 2 * plain + 2) << text;
    }
}

TEST(Apply, AFileThatCannotBeEditedLeavesTheOthersEdited)
{
    const ScratchDir dir;
    dir.write("a.par", Image().bytes);
    dir.write("c.par", Image().bytes);
    ::mkdir((dir.path + "/dir.par").c_str(), 0700);
    const Outcome outcome = run(script("printf 'Init[0]: 7\\n' >in && $P --apply in a.par && $P --json a.par | "
                                       "sed 's/\"a.par\"/\"missing.par\"/p; s/\"missing.par\"/\"dir.par\"/p; "
                                       "s/\"dir.par\"/\"c.par\"/' | $P --apply -")
                                    .in(dir));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "paramlist: missing.par: No such file or directory\n"
                           "paramlist: dir.par: Is a directory\n");
    EXPECT_EQ(readFile(dir.path + "/c.par"), Image().init(0, 7).bytes);
}

TEST(Apply, ADryRunShowsWhatWouldChangeAndWritesNothing)
{
    const ScratchDir dir;
    const Look a = lookAt(dir.write("a.par", Image().operation(10, 850).bytes));
    const Look b = lookAt(dir.write("b.par", Image().operation(10, 851).name(0, "x").bytes));
    dir.write("in", "Operations[10]: 851\nNames[0]: \"x\"\n");
    dir.write("s.toml", "[[entry]]\nat = \"Operations[10]\"\nname = \"feed_rate\"\nunit = \"mm/min\"\n");
    const struct {
        std::string command;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"$P --set Operations[10]=851 -n a.par b.par", 1, "a.par: Operations[10]: 850 -> 851\n", ""},
        {"$P --set Operations[10]=851 --dry-run --json a.par", 1,
         "{\"file\":\"a.par\",\"table\":\"Operations\",\"index\":10,\"a\":850,\"b\":851}\n", ""},
        {"$P --set Operations[10]=851 -n b.par", 0, "", ""},
        {"$P --apply in -n a.par", 1, "a.par: Operations[10]: 850 -> 851\na.par: Names[0]: \"\" -> \"x\"\n", ""},
        {"$P --apply in -n b.par", 0, "", ""},
        {"sed 's/^Operations.10./feed_rate/' in | $P --apply - -n --schema=s.toml a.par", 1,
         "a.par: Operations[10]: 850 -> 851  # feed_rate [mm/min]\na.par: Names[0]: \"\" -> \"x\"\n", ""},
        {"$P --apply in -n --json --schema=s.toml a.par", 1,
         "{\"file\":\"a.par\",\"table\":\"Operations\",\"index\":10,\"a\":850,\"b\":851,\"name\":\"feed_rate\","
         "\"unit\":\"mm/min\"}\n{\"file\":\"a.par\",\"table\":\"Names\",\"index\":0,\"a\":\"\",\"b\":\"x\"}\n",
         ""},
        {"$P --json a.par b.par | $P --apply - -n", 0, "", ""},
        {"$P --json b.par | sed s/b.par/a.par/ | $P --apply - -n --json", 1,
         "{\"file\":\"a.par\",\"table\":\"Operations\",\"index\":10,\"a\":850,\"b\":851}\n"
         "{\"file\":\"a.par\",\"table\":\"Names\",\"index\":0,\"a\":\"\",\"b\":\"x\"}\n",
         ""},
        {"$P --set Init[0]=1 -n missing.par a.par", 2, "a.par: Init[0]: 0 -> 1\n",
         "paramlist: missing.par: No such file or directory\n"},
        {"$P --set Init[0]=1 -n --create missing.par", 1, "missing.par: Init[0]: 0 -> 1\n", ""},
        // What the edit would refuse, refused before anything is shown.
        {"$P --set Init[3]=2 -n /dev/stdin <a.par", 2, "",
         "paramlist: /dev/stdin: names an open descriptor, which cannot be edited in place; name the file\n"},
        {"$P --apply in -n /proc/self/fd/5 5<a.par", 2, "",
         "paramlist: /proc/self/fd/5: names an open descriptor, which cannot be edited in place; name the file\n"},
        {"$P --set Init[3]=2 -n a.par /dev/fd/0 <b.par", 2, "a.par: Init[3]: 0 -> 2\n",
         "paramlist: /dev/fd/0: names an open descriptor, which cannot be edited in place; name the file\n"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run(script(c.command).in(dir));
        EXPECT_EQ(outcome.status, c.status) << c.command;
        EXPECT_EQ(outcome.out, c.out) << c.command;
        EXPECT_EQ(outcome.err, c.err) << c.command;
        EXPECT_TRUE(untouched(a, dir.path + "/a.par")) << c.command;
        EXPECT_TRUE(untouched(b, dir.path + "/b.par")) << c.command;
        EXPECT_NE(::access((dir.path + "/missing.par").c_str(), F_OK), 0) << c.command;
    }
}

TEST(Apply, TheEntriesTextOfADescribedFileReadsBackThroughItsNotes)
{
    // Notes after the entries that the crafted files hold oddly, and after
    // names that hold what a note starts with.
    const ScratchDir fleet;
    fleet.write("paramlist.toml",
                "[[entry]]\nat = \"Names[0..3]\"\nname = \"channel\"\nlabel = \"Channel # \\\"1\\\"\"\n"
                "[[entry]]\nat = \"Operations[10]\"\nunit = \"mm/min\"\n[[entry]]\nat = \"Document[0]\"\n"
                "label = \"Calibrated\"\n[[entry]]\nat = \"Operations[1]\"\nunit = \"s\"\n");
    std::vector<std::pair<std::string, std::string>> files = crafted;
    files.emplace_back("hash.par", Image().name(2, "x  # y").name(3, "\"q\"  # z").bytes);
    std::vector<Look> before;
    before.reserve(files.size());
    for (const auto& [name, bytes] : files) {
        before.push_back(lookAt(fleet.write(name, bytes)));
    }
    const Outcome roundTrip = run(
        script("for f in *.par; do $P --entries --force \"$f\" | $P --apply - --force \"$f\" || exit; done").in(fleet));
    EXPECT_EQ(roundTrip.status, 0);
    EXPECT_EQ(roundTrip.out + roundTrip.err, "");
    for (std::size_t k = 0; k < files.size(); ++k) {
        EXPECT_TRUE(untouched(before[k], fleet.path + "/" + files[k].first)) << files[k].first;
    }
    // The schema of a file that JSON records name is found before any is read.
    const Outcome broken =
        run(script("$P --json --force *.par >in && echo x >>paramlist.toml && $P --apply in").in(fleet));
    EXPECT_EQ(broken.status, 2);
    EXPECT_EQ(broken.err,
              "paramlist: paramlist.toml:14:2: Error while parsing key-value pair: expected '=', saw '\\n'\n");
}
