// --set: each value form of each table, the edits refused before any file is
// touched, every byte outside the edited entries kept, files it cannot edit
// among others, a name that each file's schema gives and the limits that
// every edit keeps, and edits of one file at the same moment that all hold.
#include "Parameter.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <list>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// --set with edits of files: its status, and standard error. With force,
// files that are not 3950 bytes long are edited too.
std::pair<int, std::string> setEdits(const std::vector<std::string>& edits, const std::vector<std::string>& files,
                                     bool create = false, bool force = false)
{
    std::vector<std::string> args;
    for (const std::string& edit : edits) {
        args.push_back("--set");
        args.push_back(edit);
    }
    if (create) {
        args.push_back("--create");
    }
    if (force) {
        args.push_back("--force");
    }
    args.insert(args.end(), files.begin(), files.end());
    const Outcome r = run(command(args));
    return {r.status, r.err};
}

// An image in which no byte is what --set or a canonical write would put
// there, with bytes past its end.
std::string unusualImage()
{
    std::string bytes(4000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(0x80 | (i * 7 % 0x7b));
    }
    return bytes;
}

std::string le(std::uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
    return out;
}

std::string nameField(const std::string& text)
{
    return text + std::string(50 - text.size(), '\0');
}

} // namespace

TEST(Set, EveryValueFormChangesTheEntrysBytesAlone)
{
    const std::string fifty(50, 'x');
    const struct {
        std::vector<std::string> edits;
        std::size_t offset;
        std::string bytes;
        std::string err;
    } cases[] = {
        {{"Init[0]=0"}, 0, le(0, 4), ""},
        {{"Init[49]=4294967295"}, 196, le(4294967295, 4), ""},
        {{"Init[7]=1", "Init[7]=123"}, 28, le(123, 4), ""},
        {{"Operations[10]=851.5"}, 680, realBytes(851.5), ""},
        {{"Operations[99]=0.30000000000000004"}, 1392, realBytes(0.30000000000000004), ""},
        {{"Operations[0]=1E5"}, 600, realBytes(1e5), ""},
        {{"Operations[0]=-0"}, 600, realBytes(-0.0), ""},
        {{"Operations[0]=-1e-400"}, 600, realBytes(-0.0), ""},
        {{"Operations[0]=4.9e-324"}, 600, le(1, 8), ""},
        {{"Operations[0]=NaN"}, 600, le(0x7ff8000000000000, 8), ""},
        {{"Operations[0]=\"Infinity\""}, 600, realBytes(HUGE_VAL), ""},
        {{"Operations[0]=-Infinity"}, 600, realBytes(-HUGE_VAL), ""},
        {{"Operations[0]=0x7ff0000000000001"}, 600, le(0x7ff0000000000001, 8), ""},
        {{"TerminalCondition[49]=\"0xfff8000000000002\""}, 592, le(0xfff8000000000002, 8), ""},
        // A flag already set holds true, whatever its byte: the byte stays.
        {{"Document[0]=true"}, 3900, unusualImage().substr(3900, 1), ""},
        {{"Document[1]=1"}, 3901, unusualImage().substr(3901, 1), ""},
        {{"Document[49]=false"}, 3949, std::string(1, '\0'), ""},
        {{"Document[2]=0"}, 3902, std::string(1, '\0'), ""},
        {{"Names[0]=feed rate 2"}, 1400, nameField("feed rate 2"), ""},
        {{"Names[1]=\"caf\\u00e9\\n\""}, 1450, nameField("caf\xc3\xa9\n"), ""},
        // A C1 control as --json and --entries write it.
        {{"Names[4]=\"\\u009b2J\""},
         1600,
         nameField("\xc2\x9b"
                   "2J"),
         ""},
        {{"Names[2]={\"hex\":\"ff41\"}"},
         1500,
         nameField("\xff"
                   "A"),
         ""},
        {{"Names[3]="}, 1550, nameField(""), ""},
        {{"Names[49]=" + fifty},
         3850,
         fifty,
         "paramlist: warning: Names[49] holds 50 bytes and so has no terminating zero (see --check)\n"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edits.back());
        const std::string file = dir.write("f.par", unusualImage());
        EXPECT_EQ(setEdits(c.edits, {file}, false, true), std::make_pair(0, c.err));
        std::string expected = unusualImage();
        expected.replace(c.offset, c.bytes.size(), c.bytes);
        EXPECT_EQ(readFile(file), expected);
    }
}

TEST(Set, RefusesAMalformedEditBeforeTouchingAnyFile)
{
    const struct {
        std::string edit;
        const char* problem;
    } cases[] = {
        {"Operations[10]", "an edit is written ENTRY=VALUE"},
        {"Operation[10]=1", "unknown table \"Operation\""},
        {"Init[50]=1", "index 50 is past the end of Init"},
        {"Init[x]=1", "an entry is written Init[INDEX]"},
        {"Init=1", "an entry is written Init[INDEX]"},
        {"Init[ 1]=1", "an entry is written Init[INDEX]"},
        {"Init[18446744073709551617]=1", "index 18446744073709551617 is past the end of Init"},
        {"Init[0]=-1", "an Init entry is a whole number from 0 to 4294967295"},
        {"Init[0]=1.0", "an Init entry is a whole number from 0 to 4294967295"},
        {"Init[0]=4294967296", "an Init entry is at most 4294967295"},
        {"Operations[0]=1e999", "the number is too large for a real"},
        {"Operations[0]=.5", "a real is a JSON number"},
        {"Operations[0]=inf", "a real is a JSON number"},
        {"Operations[0]=0x3ff0000000000000", "a real is a JSON number"},
        {"Operations[0]=\"1.5\"", "a real is a JSON number"},
        {"Document[0]=2", "a Document entry is true, false, 1 or 0"},
        {"Names[0]=" + std::string(51, 'x'), "a name holds at most 50 bytes, not 51"},
        {"Names[0]=\"a\\u0000b\"", "a name must not hold a zero byte"},
        {"Names[0]={\"hex\":\"00\"}", "a name must not hold a zero byte"},
        {"Names[0]={\"hex\":\"6\"}", "\"hex\" must have an even number of digits"},
        {"Names[0]={\"name\":\"61\"}", "a name given as an object is {\"hex\":\"...\"}"},
        {"Names[0]={\"hex\":\"61\",\"hex\":\"62\"}", "duplicate key \"hex\""},
        {"Names[0]=\"open", "not a valid JSON string"},
        {"Names[0]=\"\xff\"", "not a valid JSON string"},
        {"feed-rate=1", "an entry is Table[INDEX], or a name that a schema gives"},
    };
    ScratchDir dir;
    const std::string file = dir.write("f.par", unusualImage());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edit);
        const std::string line = "paramlist: --set '" + c.edit + "': ";
        const auto [status, err] = setEdits({"Init[0]=1", c.edit}, {file, dir.path + "/missing.par"}, true);
        EXPECT_EQ(status, 2);
        EXPECT_EQ(err.rfind(line, 0), 0U) << err;
        EXPECT_NE(err.find(c.problem), std::string::npos) << err;
        EXPECT_EQ(readFile(file), unusualImage());
        EXPECT_NE(::access((dir.path + "/missing.par").c_str(), F_OK), 0);
    }
}

TEST(Set, EditsTheFilesItCanAndLeavesTheOthersAsTheyWere)
{
    ScratchDir dir;
    const std::string good = dir.write("good.par", unusualImage());
    const std::string shortFile = dir.write("short.par", std::string(100, 'x'));
    const std::string fifo = dir.path + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir.path + "/link.par";
    ASSERT_EQ(::symlink("good.par", link.c_str()), 0);
    ASSERT_EQ(::chmod(good.c_str(), 0640), 0);
    const std::string missing = dir.path + "/missing.par";
    // A descriptor is written to in place: appending, an edit would double the file.
    const std::string appended = dir.write("appended.par", unusualImage());
    // Not close-on-exec: the run has it too.
    const int appending = ::open(appended.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(appending, 0);
    const std::string descriptor = "/proc/self/fd/" + std::to_string(appending);
    // Sparse: its bytes past the image are far more than memory holds.
    const std::string huge = dir.write("huge.par", "");
    ASSERT_EQ(::truncate(huge.c_str(), off_t{1} << 40), 0);
    // A file that cannot be read past its start, and one whose directory cannot be written.
    const auto [status, err] = setEdits(
        {"Init[1]=5"},
        {"/proc/self/mem", good, "/proc/version", shortFile, missing, fifo, dir.path, "-", link, descriptor, huge},
        false, true);
    ::close(appending);
    EXPECT_EQ(readFile(appended), unusualImage());
    EXPECT_EQ(status, 1);
    // The reason for /proc/version is the file system's.
    for (const std::string& line : std::vector<std::string>{
             "paramlist: /proc/self/mem: Input/output error\n", std::string("paramlist: /proc/version: "),
             "paramlist: " + missing + ": No such file or directory\n",
             "paramlist: " + fifo + ": not a regular file, which --set cannot replace\n",
             "paramlist: " + dir.path + ": Is a directory\n",
             std::string("paramlist: -: standard input cannot be edited in place\n"),
             "paramlist: " + descriptor +
                 ": names an open descriptor, which cannot be edited in place; name the file\n",
             "paramlist: " + huge + ": File too large\n"}) {
        EXPECT_NE(err.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 8) << err;
    std::string expected = unusualImage();
    expected.replace(4, 4, le(5, 4));
    EXPECT_EQ(readFile(good), expected);
    struct stat status640 {
    };
    EXPECT_EQ(::stat(good.c_str(), &status640), 0);
    EXPECT_EQ(status640.st_mode & 07777, 0640U);
    struct stat linkStatus {
    };
    EXPECT_EQ(::lstat(link.c_str(), &linkStatus), 0);
    EXPECT_TRUE(S_ISLNK(linkStatus.st_mode));
    // A short file is completed with zeros first, as the listing reads it.
    EXPECT_EQ(readFile(shortFile), "xxxx" + le(5, 4) + std::string(92, 'x') + std::string(3850, '\0'));
    EXPECT_NE(::access(missing.c_str(), F_OK), 0);

    EXPECT_EQ(setEdits({"Init[1]=5"}, {missing}, true), std::make_pair(0, std::string()));
    EXPECT_EQ(readFile(missing), le(0, 4) + le(5, 4) + std::string(3942, '\0'));
}

// Each folder's schema says which entry a name means, and the limits that an
// entry an edit changes must keep, whichever mode edits: a/ and b/ call
// different entries feed_rate and zones, c/ has no schema.
TEST(Set, ANameIsTheEntryOfEachFilesSchemaAndNoEditBreaksItsLimits)
{
    const Image base = Image().operation(5, 2).operation(10, 850).operation(20, 30);
    const auto with = [&base](std::size_t operation, double value) { return Image(base).operation(operation, value); };
    const std::string aBreaks = "paramlist: a/m.par: Operations[10] feed_rate 9000 mm/min is above its maximum 8000 "
                                "(a/paramlist.toml:6); --force sets it anyway\n";
    const std::string bBreaks = "paramlist: b/m.par: Operations[20] feed_rate 1000 in/min is above its maximum 300 "
                                "(b/paramlist.toml:1); --force sets it anyway\n";
    const std::string cHasNone = "paramlist: c/m.par: no entry is named feed_rate: the file has no schema\n";
    // The file that --edit keeps, named at random, as KEPT.
    const std::string edit = "EDITOR=\"sed -i 's/^Operations.10.: .*/Operations[10]: 9000/'\" TMPDIR=$PWD $P --edit "
                             "a/m.par 2>err; s=$?; sed 's|[^ ]*/paramlist-kept-[^ ;]*|KEPT|g' err >&2; exit $s";
    const struct {
        std::string script;
        int status;
        std::string out;
        std::string err;
        Image a, b, c;
    } cases[] = {
        {"$P --set feed_rate=250 a/m.par b/m.par c/m.par", 1, "", cHasNone, with(10, 250), with(20, 250), base},
        {"$P --set feed_rate=1000 a/m.par b/m.par", 1, "", bBreaks, with(10, 1000), base, base},
        {"$P --set feed_rate=1000 --force a/m.par b/m.par", 0, "", "", with(10, 1000), with(20, 1000), base},
        {"$P --set 'Operations[10]=9000' a/m.par c/m.par", 1, "", aBreaks, base, base, with(10, 9000)},
        // Init[0] zones is 0 in a/, below its minimum, which an edit that leaves it so does not check.
        {"$P --set feed_rate=851 --set zones=0 a/m.par", 0, "", "", with(10, 851), base, base},
        {"$P --set zones=0 b/m.par", 1, "",
         "paramlist: b/m.par: Operations[5] zones 0 is below its minimum 1 (b/paramlist.toml:7); --force sets it "
         "anyway\nparamlist: b/m.par: Operations[5] zones must be non-zero (b/paramlist.toml:7); --force sets it "
         "anyway\n",
         base, base, base},
        // The VALUE of a name is read as a value of the table of the entry it means.
        {"$P --set zones=2.5 a/m.par b/m.par", 1, "",
         "paramlist: a/m.par: --set 'zones=2.5': an Init entry is a whole number from 0 to 4294967295 in decimal "
         "digits\n",
         base, with(5, 2.5), base},
        {"$P --set 'Operations[10]=9000' --set feed_rate=1 a/m.par", 0, "", "", with(10, 1), base, base},
        {"$P --set feed_rate=9000 --create a/new.par; s=$?; [ -e a/new.par ] && exit 9; exit $s", 1, "",
         "paramlist: a/new.par: Operations[10] feed_rate 9000 mm/min is above its maximum 8000 (a/paramlist.toml:6); "
         "--force sets it anyway\n",
         base, base, base},
        // A schema that another may write is not used: it cannot make a name mean another entry.
        {"printf '[[entry]]\\nat = \"Init[5]\"\\nname = \"feed_rate\"\\n' >c/paramlist.toml && chmod o+w "
         "c/paramlist.toml && $P --set feed_rate=1 c/m.par",
         1, "",
         "paramlist: warning: c/paramlist.toml is not used as a schema, since others may write it; the files below it "
         "have none (name it with --schema=c/paramlist.toml to use it)\n" +
             cHasNone,
         base, base, base},
        {"echo 'max =' >>b/paramlist.toml && $P --set 'Init[1]=1' a/m.par b/m.par", 2, "",
         "paramlist: b/paramlist.toml:12:6: Error while parsing key-value pair: expected value, saw '\\n'\n", base,
         base, base},
        {"$P -n --set feed_rate=1000 a/m.par b/m.par c/m.par", 2,
         "a/m.par: Operations[10]: 850 -> 1000  # feed_rate [mm/min]\n", bBreaks + cHasNone, base, base, base},
        {"$P --json a/m.par c/m.par | sed 's/,850,/,9000,/' | $P --apply -", 1, "", aBreaks, base, base,
         with(10, 9000)},
        // The editor's text refuses it first, as a value that does not read.
        {edit, 2, "",
         "paramlist: KEPT Operations[10] feed_rate 9000 mm/min is above its maximum 8000 (a/paramlist.toml:6); "
         "--force sets it anyway\nparamlist: a/m.par: the text does not read, so nothing is written; your text is "
         "kept in KEPT\n",
         base, base, base},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const ScratchDir dir;
        for (const char* folder : {"a", "b", "c"}) {
            ASSERT_EQ(::mkdir((dir.path + "/" + folder).c_str(), 0700), 0);
            dir.write(std::string(folder) + "/m.par", base.bytes);
        }
        dir.write("a/paramlist.toml", "[[entry]]\nat = \"Init[0]\"\nname = \"zones\"\nmin = 1\n\n[[entry]]\nat = "
                                      "\"Operations[10]\"\nname = \"feed_rate\"\nunit = \"mm/min\"\nmax = 8000\n");
        dir.write("b/paramlist.toml", "[[entry]]\nat = \"Operations[20]\"\nname = \"feed_rate\"\nunit = \"in/min\"\n"
                                      "max = 300\n\n[[entry]]\nat = \"Operations[5]\"\nname = \"zones\"\nmin = 1\n"
                                      "nonzero = true\n");
        const Outcome outcome = run(script(c.script).in(dir));
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_TRUE(holds(dir.path + "/a/m.par", c.a.bytes));
        EXPECT_TRUE(holds(dir.path + "/b/m.par", c.b.bytes));
        EXPECT_TRUE(holds(dir.path + "/c/m.par", c.c.bytes));
    }
}

// A value the file holds already, compared as --diff compares, is neither
// shown by the dry run nor written by the edit, which keeps the file's inode.
TEST(Set, TheDryRunAndTheEditAgreeOnWhatAFileHoldsAlready)
{
    const std::string afterZero = Image().name(0, std::string("abc\0xyz", 7)).bytes;
    const struct {
        std::string bytes;
        std::string edit;
        bool changes;
    } cases[] = {
        {Image().document(4, 2).bytes, "Document[4]=true", false},
        {Image().document(4, 2).bytes, "Document[4]=false", true},
        {afterZero, "Names[0]=abc", false},
        {afterZero, "Names[0]={\"hex\":\"616263\"}", false},
        {afterZero, "Names[0]=abcd", true},
        {Image().operation(3, fromBits(0x7ff4000000000000)).bytes, "Operations[3]=0x7ff4000000000000", false},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edit);
        const std::string file = dir.write("f.par", c.bytes);
        const auto inode = [&file] {
            struct stat status {
            };
            return ::stat(file.c_str(), &status) == 0 ? status.st_ino : 0;
        };
        const ino_t before = inode();
        EXPECT_EQ(run(command({"-n", "--set", c.edit, "f.par"}).in(dir)).status, c.changes ? 1 : 0);
        EXPECT_EQ(run(command({"--set", c.edit, "f.par"}).in(dir)).status, 0);
        EXPECT_EQ(inode() != before, c.changes);
        EXPECT_EQ(readFile(file) != c.bytes, c.changes);
    }
}

// Files are edited side by side; what is said about them keeps their order.
TEST(Set, ManyFilesAreEditedAndReportedInTheirOrder)
{
    ScratchDir dir;
    std::vector<std::string> files;
    std::string expected;
    for (int i = 0; i < 700; ++i) {
        files.push_back(i % 70 == 3 ? dir.path + "/missing" + std::to_string(i) : dir.write(std::to_string(i), ""));
        expected += i % 70 == 3 ? "paramlist: " + files.back() + ": No such file or directory\n" : "";
    }
    EXPECT_EQ(setEdits({"Init[0]=7"}, files, false, true), std::make_pair(1, expected));
    for (int i = 0; i < 700; i += 69) {
        EXPECT_EQ(readFile(files[i]), i % 70 == 3 ? "" : le(7, 4) + std::string(3946, '\0')) << files[i];
    }
}

// Processes started at the same moment, each with one edit of the same file:
// every edit must hold, however they interleave.
TEST(Set, EditsOfOneFileAtTheSameMomentAllHold)
{
    ScratchDir dir;
    constexpr int processes = 50;
    for (int round = 0; round < 20; ++round) {
        const std::string file = dir.write("shared.par", std::string(3950, '\0'));
        // Each run waits to read the pipe, which ends for all at once when this process closes it.
        int start[2];
        ASSERT_EQ(::pipe2(start, O_CLOEXEC), 0);
        const std::string barrier = "/dev/fd/" + std::to_string(start[0]);
        std::list<Running> runs;
        for (int i = 0; i < processes; ++i) {
            const std::string edit = "--set=Operations[" + std::to_string(i) + "]=" + std::to_string(i + 1);
            runs.emplace_back(
                script("read -r _; exec $P \"$EDIT\" \"$FILE\"").env("EDIT", edit).env("FILE", file).input(barrier));
        }
        ::close(start[0]);
        ::close(start[1]);
        for (Running& edit : runs) {
            EXPECT_EQ(edit.finish().status, 0);
        }
        Parameter para;
        ASSERT_TRUE(para.read(file.c_str()));
        for (int i = 0; i < processes; ++i) {
            ASSERT_EQ(para.getOperationsParameter(i), i + 1) << "round " << round << ", Operations[" << i << "]";
        }
    }
}

// A run killed part-way leaves every file whole: the old image or the new one.
TEST(Set, ARunKilledPartWayLeavesEveryFileWhole)
{
    ScratchDir dir;
    std::vector<std::string> files;
    std::vector<std::string> args{"--set", "Operations[10]=851.5", "--force"};
    for (int i = 0; i < 400; ++i) {
        files.push_back(dir.write(std::to_string(i) + ".par", unusualImage()));
        args.push_back(files.back());
    }
    std::string editedImage = unusualImage();
    editedImage.replace(680, 8, realBytes(851.5));
    for (const int delay : {2000, 20000, 60000}) {
        {
            const Running killed(command(args));
            ::usleep(static_cast<useconds_t>(delay));
        }
        int editedFiles = 0;
        for (const std::string& file : files) {
            const std::string bytes = readFile(file);
            ASSERT_TRUE(bytes == unusualImage() || bytes == editedImage) << file;
            editedFiles += bytes == editedImage ? 1 : 0;
        }
        // The first kill comes before the run could have edited them all.
        EXPECT_TRUE(delay > 2000 || editedFiles < 400) << editedFiles;
    }
}
