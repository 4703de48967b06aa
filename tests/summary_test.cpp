// --summary, run as a user runs it: which entries vary and how, their
// values ordered and counted as --diff tells them apart, the files named,
// damaged files left out; and the page, escaped and within its bounds.
#include "support.h"

#include "fleet_page.h"
#include "fleet_tally.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// A fleet: file names and their bytes, written in this order.
using Fleet = std::vector<std::pair<std::string, std::string>>;

// A directory holding fleet.
ScratchDir holding(const Fleet& fleet)
{
    ScratchDir dir;
    for (const auto& [name, bytes] : fleet) {
        const std::size_t slash = name.rfind('/');
        if (slash != std::string::npos) {
            ::mkdir((dir.path + "/" + name.substr(0, slash)).c_str(), 0755);
        }
        dir.write(name, bytes);
    }
    return dir;
}

// Runs the script, $P the program, in a directory holding fleet.
Outcome inFleet(const Fleet& fleet, const std::string& script)
{
    return run(::script(script).in(holding(fleet)).within(120));
}

Outcome summarise(const Fleet& fleet, const std::string& words)
{
    return inFleet(fleet, "$P " + words);
}

// Files f0.par, f1.par, ... each the image that make gives for its number,
// its digits padded with zeros to digits.
template <typename Make> Fleet numbered(int count, Make make, std::size_t digits = 1)
{
    Fleet fleet;
    for (int k = 0; k < count; ++k) {
        const std::string number = std::to_string(k);
        fleet.emplace_back("f" + std::string(digits - std::min(digits, number.size()), '0') + number + ".par",
                           make(k).bytes);
    }
    return fleet;
}

// Named f0000.par, f0001.par, ..., so that a glob lists them in number order.
template <typename Make> Fleet padded(int count, Make make)
{
    return numbered(count, make, 4);
}

std::size_t occurrences(const std::string& text, const std::string& piece)
{
    std::size_t found = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++found;
    }
    return found;
}

const std::string nan1 = Image().operation(0, fromBits(0x7ff8000000000001)).bytes;

} // namespace

TEST(Summary, CountsEachValueTheMostCommonFirstWithTheFewFilesThatHoldIt)
{
    const Image base = Image().init(0, 3).operation(10, 850).name(2, "feed rate");
    const struct {
        const char* what;
        Fleet fleet;
        std::string out;
    } cases[] = {
        {"nothing varies", numbered(2, [&](int) { return Image(base); }), "0 of 300 entries vary across 2 files\n"},
        {"the most common value first, a value of at most 3 files with them",
         {{"a.par", base.bytes},
          {"b.par", Image(base).operation(10, 851.5).bytes},
          {"c.par", base.bytes},
          {"d.par", base.bytes},
          {"e.par", base.bytes}},
         "Operations[10]: 2 values\n  850: 4 files\n  851.5: 1 file: b.par\n1 of 300 entries vary across 5 files\n"},
        {"3 files are named, 4 are not", numbered(7, [&](int k) { return Image(base).init(1, k < 4 ? 1 : 2); }),
         "Init[1]: 2 values\n  1: 4 files\n  2: 3 files: f4.par, f5.par, f6.par\n1 of 300 entries vary across 7 "
         "files\n"},
        {"entries in file order, each table's values as --json writes them",
         {{"a.par", Image().document(4, 1).name(0, "x").terminal(0, 1e-5).bytes}, {"b.par", Image().bytes}},
         "TerminalCondition[0]: 2 values\n  0: 1 file: b.par\n  1e-05: 1 file: a.par\nNames[0]: 2 values\n  \"\": 1 "
         "file: b.par\n  \"x\": 1 file: a.par\nDocument[4]: 2 values\n  false: 1 file: b.par\n  true: 1 file: "
         "a.par\n3 of 300 entries vary across 2 files\n"},
        {"5 values are shown, then how many more", numbered(7, [&](int k) { return Image(base).init(9, 7 - k); }),
         "Init[9]: 7 values\n  1: 1 file: f6.par\n  2: 1 file: f5.par\n  3: 1 file: f4.par\n  4: 1 file: f3.par\n  "
         "5: 1 file: f2.par\n  and 2 more values\n1 of 300 entries vary across 7 files\n"},
        {"a name is the same up to its zero, whatever follows it",
         {{"a.par", Image().name(3, std::string("x\0junk", 6)).bytes}, {"b.par", Image().name(3, "x").bytes}},
         "0 of 300 entries vary across 2 files\n"},
        {"nearly every file a value of its own, as many as the files: the same counts and files",
         padded(2100,
                [&](int k) {
                    const bool x = k == 3 || k == 1500 || k == 2099;
                    const std::string number = std::to_string(10000 + k).substr(1);
                    return Image(base)
                        .init(5, x ? 5 : k + 100)
                        .init(6, 7 * k)
                        .operation(0, k == 1800   ? -0.0
                                      : k == 1900 ? 0
                                                  : k)
                        .name(0, x ? "serial-x" : "serial-" + number)
                        .name(1, x ? std::string(50, 'x') : std::string(46, 'n') + number);
                }),
         "Init[5]: 2098 values\n  5: 3 files: f0003.par, f1500.par, f2099.par\n  100: 1 file: f0000.par\n  101: 1 "
         "file: f0001.par\n  102: 1 file: f0002.par\n  104: 1 file: f0004.par\n  and 2093 more values\nInit[6]: 2100 "
         "values\n  0: 1 file: f0000.par\n  7: 1 file: f0001.par\n  14: 1 file: f0002.par\n  21: 1 file: "
         "f0003.par\n  28: 1 file: f0004.par\n  and 2095 more values\nOperations[0]: 2099 values\n  0: 2 files: "
         "f0000.par, f1900.par\n  -0.0: 1 file: f1800.par\n  1: 1 file: f0001.par\n  2: 1 file: f0002.par\n  3: 1 "
         "file: f0003.par\n  and 2094 more values\nNames[0]: 2098 values\n  \"serial-x\": 3 files: f0003.par, "
         "f1500.par, f2099.par\n  \"serial-0000\": 1 file: f0000.par\n  \"serial-0001\": 1 file: f0001.par\n  "
         "\"serial-0002\": 1 file: f0002.par\n  \"serial-0004\": 1 file: f0004.par\n  and 2093 more values\nNames[1]: "
         "2098 values\n  \"" +
             std::string(50, 'x') + "\": 3 files: f0003.par, f1500.par, f2099.par\n  \"" + std::string(46, 'n') +
             "0000\": 1 file: f0000.par\n  \"" + std::string(46, 'n') + "0001\": 1 file: f0001.par\n  \"" +
             std::string(46, 'n') + "0002\": 1 file: f0002.par\n  \"" + std::string(46, 'n') +
             "0004\": 1 file: f0004.par\n  and 2093 more values\n5 of 300 entries vary across "
             "2100 files\n"},
        {"names of every length among a name of its own in each file, the same up to their zero",
         padded(1200,
                [&](int k) {
                    const std::string number = std::to_string(10000 + k).substr(1);
                    return Image(base).name(2, k < 600 ? "u" + number : std::string(k % 49, 'a') + '\0' + "x");
                }),
         "Names[2]: 649 values\n  \"" + std::string(12, 'a') + "\": 13 files\n  \"" + std::string(13, 'a') +
             "\": 13 files\n  \"" + std::string(14, 'a') + "\": 13 files\n  \"" + std::string(15, 'a') +
             "\": 13 files\n  \"" + std::string(16, 'a') +
             "\": 13 files\n  and 644 more values\n1 of 300 entries vary across 1200 files\n"},
        {"-0.0 and 0.0 differ, and so do NaNs of other bits",
         {{"a.par", Image().operation(0, -0.0).bytes},
          {"b.par", Image().bytes},
          {"c.par", nan1},
          {"d.par", Image().operation(0, fromBits(0x7ff8000000000000)).bytes}},
         "Operations[0]: 4 values\n  -0.0: 1 file: a.par\n  0: 1 file: b.par\n  \"NaN\": 1 file: d.par\n  "
         "\"0x7ff8000000000001\": 1 file: c.par\n1 of 300 entries vary across 4 files\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = summarise(c.fleet, "--summary *.par");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

TEST(Summary, TiesGoInValueOrder)
{
    const auto each = [](std::vector<Image> images) {
        Fleet fleet;
        for (std::size_t k = 0; k < images.size(); ++k) {
            fleet.emplace_back("f" + std::to_string(k) + ".par", images[k].bytes);
        }
        return fleet;
    };
    const auto real = [](double value) { return Image().operation(0, value); };
    const struct {
        const char* what;
        Fleet fleet;
        std::string values;
    } cases[] = {
        {"numbers ascending, -0.0 just before 0.0, NaNs last by their bits",
         each({real(fromBits(0xfff8000000000000)), real(2), real(fromBits(0x7ff8000000000001)), real(0.0),
               real(-HUGE_VAL), real(-0.0), real(HUGE_VAL), real(-1), real(fromBits(0x7ff8000000000000))}),
         "\"-Infinity\",-1,-0.0,0,2,\"Infinity\",\"NaN\",\"0x7ff8000000000001\",\"0xfff8000000000000\""},
        {"integers as numbers, not as text", each({Image().init(0, 10), Image().init(0, 9), Image().init(0, 100)}),
         "9,10,100"},
        {"names by their bytes",
         each({Image().name(0, "b"), Image().name(0, "\xff"), Image().name(0, "ab"), Image().name(0, "a"),
               Image().name(0, "B")}),
         "\"B\",\"a\",\"ab\",\"b\",{\"hex\":\"ff\"}"},
        {"a clear flag before a set one", each({Image().document(0, 2), Image()}), "false,true"},
        {"the most common first, then the ties", each({real(3), real(1), real(3), real(2), real(1), real(3)}), "3,1,2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = summarise(c.fleet, "--summary --json *.par");
        std::string values;
        for (std::size_t at = r.out.find("{\"value\":"); at != std::string::npos;
             at = r.out.find("{\"value\":", at + 1)) {
            const std::size_t start = at + 9;
            values += (values.empty() ? "" : ",") + r.out.substr(start, r.out.find(",\"count\":", at) - start);
        }
        EXPECT_EQ(values, c.values);
    }
}

TEST(Summary, TheSameHoweverTheFilesAreNamed)
{
    // Init[0] a value in each file, Operations[5] one in each of two files
    // in three, so that both are kept file by file, Document[0] in turns.
    const Fleet fleet = padded(1500, [](int k) {
        const int pair = k * 2 / 3;
        return Image().init(0, static_cast<std::uint32_t>(k)).operation(5, pair).document(0, k % 2);
    });
    for (const char* mode : {"--summary", "--summary --json", "--summary --html"}) {
        const std::string command = std::string("$P ") + mode;
        const Outcome glob = inFleet(fleet, command + " *.par");
        EXPECT_EQ(glob.status, 0);
        EXPECT_NE(glob.out.find("Operations[5]"), std::string::npos);
        const struct {
            const char* what;
            std::string script;
        } cases[] = {
            {"a list, their number not known before",
             "printf '%s\\0' *.par >list && " + command + " --files0-from=list"},
            {"a list on standard input", "printf '%s\\0' *.par | " + command + " --files0-from=-"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(mode) + ": " + c.what);
            const Outcome r = inFleet(fleet, c.script);
            EXPECT_EQ(r.status, 0);
            EXPECT_TRUE(r.out == glob.out) << r.out.size() << " bytes, not " << glob.out.size();
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST(Summary, JsonListsTheFilesOfAValueHeldByAtMostTen)
{
    const struct {
        int files;
        std::string object;
    } cases[] = {
        {2, "{\"entry\":\"Init[0]\",\"total\":3,\"values\":[{\"value\":0,\"count\":2,\"files\":[\"f1.par\",\"f2."
            "par\"]},{\"value\":1,\"count\":1,\"files\":[\"f0.par\"]}]}\n"},
        {10, "\"count\":10,\"files\":[\"f1.par\",\"f10.par\",\"f2.par\",\"f3.par\",\"f4.par\",\"f5.par\",\"f6.par\","
             "\"f7.par\",\"f8.par\",\"f9.par\"]}"},
        {11, "{\"value\":0,\"count\":11},{\"value\":1,\"count\":1,\"files\":[\"f0.par\"]}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files);
        const Outcome r = summarise(numbered(c.files + 1, [](int k) { return Image().init(0, k == 0 ? 1 : 0); }),
                                    "--summary --json *.par");
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(c.object), std::string::npos) << r.out;
    }
}

TEST(Summary, HoldsNoMoreOfItsOutputThanALine)
{
#ifdef PARAMLIST_TESTS_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer cannot run within a limit of address space";
#endif
    // 500 random files, each named by a path of 3980 bytes: --json's lines
    // name a file for each of their 150,000 values, 600 MB in all.
    const std::string fleet = "head -c 1975000 /dev/urandom | split -b 3950 -a 3 - f && p=$(printf './%.0s' $(seq "
                              "1990)) && for f in f*; do printf '%s%s\\0' \"$p\" \"$f\"; done >list && ";
    const char* cases[] = {"--summary --json", "--summary"};
    for (const char* words : cases) {
        SCOPED_TRACE(words);
        const Outcome r =
            inFleet({}, fleet + "(ulimit -v 400000; $P " + words + " --force --files0-from=list >/dev/null)");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }
}

TEST(Summary, LeavesOutWhatIsNoParameterFileAndEndsInTrouble)
{
    const std::string a = Image().init(0, 1).bytes;
    const std::string b = Image().init(0, 2).bytes;
    const struct {
        std::string words;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"--summary a.par short.par b.par", 2,
         "Init[0]: 2 values\n  1: 1 file: a.par\n  2: 1 file: b.par\n1 of 300 "
         "entries vary across 2 files\n",
         "paramlist: short.par: not a parameter file (5 bytes, not 3950)\n"},
        {"--summary a.par long.par", 2, "0 of 300 entries vary across 1 file\n",
         "paramlist: long.par: not a parameter file (3951 bytes, not 3950)\n"},
        {"--summary a.par missing.par", 2, "0 of 300 entries vary across 1 file\n",
         "paramlist: missing.par: No such file or directory\n"},
        {"--summary --force a.par short.par", 0,
         "Init[0]: 2 values\n  0: 1 file: short.par\n  1: 1 file: a.par\n1 of "
         "300 entries vary across 2 files\n",
         ""},
        {"--summary --json --force long.par b.par", 0,
         "{\"entry\":\"Init[0]\",\"total\":2,\"values\":[{\"value\":1,"
         "\"count\":1,\"files\":[\"long.par\"]},{\"value\":2,\"count\":"
         "1,\"files\":[\"b.par\"]}]}\n",
         ""},
        {"--summary --files0-from=list", 2, "0 of 300 entries vary across 1 file\n",
         "paramlist: list:2: invalid zero-length file name\n"},
        {"--summary - - <a.par", 0, "0 of 300 entries vary across 2 files\n", ""},
        {"--summary --schema=missing.toml a.par", 2, "", "paramlist: missing.toml: No such file or directory\n"},
        {"--summary a.par bad/c.par", 2, "", "paramlist: bad/paramlist.toml:4:7: max 1 is below min 5\n"},
        {"--summary --files0-from=badlist", 2, "0 of 300 entries vary across 1 file\n",
         "paramlist: bad/paramlist.toml:4:7: max 1 is below min 5\n"},
    };
    const Fleet fleet = {{"a.par", a},
                         {"b.par", b},
                         {"short.par", std::string(5, '\0')},
                         {"long.par", a + "x"},
                         {"list", std::string("a.par\0\0", 7)},
                         {"bad/paramlist.toml", "[[entry]]\nat = \"Init[0]\"\nmin = 5\nmax = 1\n"},
                         {"bad/c.par", a},
                         {"badlist", std::string("a.par\0bad/c.par\0", 16)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        const Outcome r = summarise(fleet, c.words);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(SummaryPage, ShowsWhatTheFilesHoldAsTextAndRunsNothing)
{
    const std::string hostile = "<script>alert(1)</script>";
    const struct {
        std::string name;
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"a.par", Image().name(1, hostile).bytes, "&quot;&lt;script&gt;alert(1)&lt;/script&gt;&quot;"},
        {"<img src=x onerror=alert(2)>.par", Image().init(0, 1).bytes, "&lt;img src=x onerror=alert(2)&gt;.par"},
        {"q\"'&.par", Image().init(0, 2).bytes, "q&quot;&#39;&amp;.par"},
        {"bell\a\xff.par", Image().init(0, 3).bytes, "bell\\x07\\xff.par"},
        {"n.par", Image().name(2, "\x1b[31m\"&").bytes, "&quot;\\u001b[31m\\&quot;&amp;&quot;"},
    };
    Fleet fleet = {{"plain.par", Image().bytes}};
    for (const auto& c : cases) {
        fleet.emplace_back(c.name, c.bytes);
    }
    const Outcome r = summarise(fleet, "--summary --html -- *.par");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(r.out.find(c.shown), std::string::npos);
    }
    EXPECT_EQ(occurrences(r.out, "<script"), 0U);
    EXPECT_EQ(occurrences(r.out, "<img"), 0U);
    EXPECT_NE(r.out.find("content=\"default-src 'none'; style-src 'unsafe-inline'\""), std::string::npos);
    EXPECT_EQ(occurrences(r.out, "http"), 1U); // the policy's http-equiv, and no address
}

TEST(SummaryPage, KeepsToItsCaps)
{
    // 70 entries that vary, the first 10 in one file of four, the others in two.
    const Fleet wide = numbered(4, [](int k) {
        Image image;
        for (std::size_t i = 0; i < 70; ++i) {
            image.operation(i, (i < 10 ? k == 0 : k < 2) ? 1 : 0);
        }
        return image;
    });
    Fleet manyFiles = numbered(501, [](int k) { return Image().init(0, k % 3 == 0); });
    for (auto& [name, bytes] : manyFiles) {
        name.insert(0, name < "f3" ? "x/" : "y/");
    }
    // The last directories as a glob lists them are f97/, f98/ and f99/.
    Fleet manyDirectories = numbered(503, [](int k) { return Image().init(0, k == 99); });
    for (auto& [name, bytes] : manyDirectories) {
        name.insert(0, name.substr(0, name.size() - 4) + "/");
    }
    // Each file a value of its own, which the tally keeps apart from the values it looks up.
    const Fleet ownValues = padded(400, [](int k) { return Image().init(0, static_cast<std::uint32_t>(k)); });
    const Fleet repeated =
        padded(450, [](int k) { return Image().init(0, k == 440 ? 0 : static_cast<std::uint32_t>(k)); });
    Fleet ownValuesApart = padded(1200, [](int k) { return Image().init(0, static_cast<std::uint32_t>(k)); });
    for (auto& [name, bytes] : ownValuesApart) {
        name.insert(0, name < "f0600" ? "x/" : "y/");
    }
    const Fleet found = numbered(3, [](int) {
        Image image;
        for (std::size_t i = 0; i < 100; ++i) {
            image.operation(i, NAN);
        }
        return image;
    });
    const struct {
        const char* what;
        const Fleet& fleet;
        std::size_t columns;
        std::size_t rows;
        std::vector<std::string> pieces;
    } cases[] = {
        {"60 columns, those in which most files differ; the others named",
         wide,
         60,
         4,
         {"Also varying, not in the map: Operations[0], Operations[1],", "Operations[9].</p>"}},
        {"over 500 files a row for each directory, a cell its share",
         manyFiles,
         1,
         2,
         {"x/ (", "y/ (", "A row for each directory", " differ\">"}},
        {"over 500 directories, one row for the rest",
         manyDirectories,
         1,
         501,
         {"<tr><th>3 more directories (3 files)<td class=s2 title=\"3 more directories\nInit[0]: 1 of 3 differ\">"}},
        {"a value in each file: its row's cell",
         ownValues,
         1,
         400,
         {"<tr><th><span title=\"f0000.par\">f0000.par</span><td>\n",
          "<td class=v12 title=\"f0399.par\nInit[0] = 399\">"}},
        {"a value in each file but one, which holds the first's: their rows grey",
         repeated,
         1,
         450,
         {"<tr><th><span title=\"f0000.par\">f0000.par</span><td>\n",
          "<tr><th><span title=\"f0440.par\">f0440.par</span><td>\n",
          "<td class=v12 title=\"f0449.par\nInit[0] = 449\">"}},
        {"a value in each of 1200 files: all files of a directory but one or none differ",
         ownValuesApart,
         1,
         2,
         {"<tr><th>x/ (600 files)<td class=s5 title=\"x/\nInit[0]: 599 of 600 differ\">",
          "<tr><th>y/ (600 files)<td class=s5 title=\"y/\nInit[0]: 600 of 600 differ\">"}},
        {"200 findings, then the count by kind",
         found,
         0,
         0,
         {"300 findings in the files", "<tr><td>nan<td>300</table>", "and 100 more findings"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = summarise(c.fleet, "--summary --html */*.par *.par 2>/dev/null");
        const std::string head = r.out.substr(0, r.out.find("</thead>"));
        EXPECT_EQ(occurrences(head, "<th title="), c.columns);
        EXPECT_EQ(occurrences(r.out, "\n<tr><th>"), c.rows);
        for (const std::string& piece : c.pieces) {
            EXPECT_NE(r.out.find(piece), std::string::npos) << piece;
        }
        EXPECT_LE(occurrences(r.out, "<li>"), 200U);
    }
}

TEST(SummaryPage, StaysWithinFiveMegabytesForTheWorstOf500Files)
{
    // 60 entries differ in every file, the paths are long and the names all
    // quotes, which the page writes as seven bytes each (\&quot;): the most
    // a map of files can take.
    Fleet fleet;
    const std::string directory = std::string(200, '&') + "/";
    for (int k = 0; k < 500; ++k) {
        Image image;
        for (std::size_t i = 0; i < 50; ++i) {
            image.name(i, std::string(45, '"') + std::to_string(k));
        }
        for (std::size_t i = 0; i < 10; ++i) {
            image.operation(i, static_cast<double>(k) + static_cast<double>(i) / 100);
        }
        fleet.emplace_back(directory + std::string(200, '<') + std::to_string(k) + ".par", image.bytes);
    }
    const Outcome r = summarise(fleet, "--summary --html */*.par");
    EXPECT_EQ(r.status, 0);
    EXPECT_LE(r.out.size(), std::size_t{5} << 20);
    // In each column one file holds the value that comes first, the others another.
    EXPECT_EQ(occurrences(r.out.substr(0, r.out.find("</tbody>")), "<td class="), 499U * 60);
}

// The schema of the fleets below: its [[entry]] of Operations[10] is on
// line 1, of Init[3] on line 7.
const std::string fleetSchema = "[[entry]]\nat = \"Operations[10]\"\nname = \"feed_rate\"\nlabel = \"Feed rate\"\n"
                                "unit = \"mm/min\"\nmax = 8000\n[[entry]]\nat = \"Init[3]\"\nname = \"mode\"\n"
                                "label = \"Mode\"\nvalues = { 1 = \"on\", 2 = \"off\" }\n";

TEST(Summary, EntriesCarryTheNamesOfTheOneSchemaEveryFileHas)
{
    const Fleet fleet = {{"paramlist.toml", fleetSchema},
                         {"a/1.par", Image().init(3, 1).operation(10, 850).bytes},
                         {"a/2.par", Image().init(3, 2).operation(10, 851.5).bytes},
                         {"b/3.par", Image().init(3, 1).operation(10, 851.5).bytes}};
    const std::string named = "Init[3]: 2 values  # mode: Mode\n  1: 2 files: a/1.par, b/3.par\n  2: 1 file: "
                              "a/2.par\nOperations[10]: 2 values  # feed_rate: Feed rate [mm/min]\n  851.5: 2 files: "
                              "a/2.par, b/3.par\n  850: 1 file: a/1.par\n2 of 300 entries vary across 3 files\n";
    const std::string bare = "Init[3]: 2 values\n  1: 2 files: a/1.par, b/3.par\n  2: 1 file: a/2.par\nOperations[10]: "
                             "2 values\n  851.5: 2 files: a/2.par, b/3.par\n  850: 1 file: a/1.par\n2 of 300 entries "
                             "vary across 3 files\n";
    expectEach(
        {
            {"$P --summary */*.par", 0, named, ""},
            {"cp paramlist.toml a && mv paramlist.toml b && $P --summary */*.par", 0, named, ""},
            {"printf 'a/1.par\\0a/2.par\\0b/3.par\\0' | $P --summary --files0-from=-", 0, named, ""},
            {"mv paramlist.toml s.toml && $P --summary --schema=s.toml */*.par", 0, named, ""},
            {"$P --summary --no-schema */*.par", 0, bare, ""},
            {"sed s/8000/9000/ paramlist.toml >b/paramlist.toml && $P --summary */*.par", 0, bare, ""},
            {"mv paramlist.toml a && $P --summary */*.par", 0, bare, ""},
            {"mv paramlist.toml a && $P --summary a/*.par", 0,
             "Init[3]: 2 values  # mode: Mode\n  1: 1 file: a/1.par\n  2: 1 file: a/2.par\nOperations[10]: 2 values  # "
             "feed_rate: Feed rate [mm/min]\n  850: 1 file: a/1.par\n  851.5: 1 file: a/2.par\n2 of 300 entries vary "
             "across "
             "2 files\n",
             ""},
            {"$P --summary --json */*.par | cut -c 1-60", 0,
             "{\"entry\":\"Init[3]\",\"name\":\"mode\",\"total\":3,\"values\":[{\"value\n{\"entry\":\"Operations[10]\","
             "\"name\":\"feed_rate\",\"unit\":\"mm/min\"\n",
             ""},
            {"mv paramlist.toml a && $P --summary --json */*.par | cut -c 1-40", 0,
             "{\"entry\":\"Init[3]\",\"total\":3,\"values\":[{\n{\"entry\":\"Operations[10]\",\"total\":3,\"val\n", ""},
        },
        [&] { return holding(fleet); });
}

TEST(SummaryPage, MarksWhatBreaksTheSchemasLimits)
{
    const Fleet fleet = {{"paramlist.toml", fleetSchema},
                         {"a/low.par", Image().operation(10, 850).init(3, 1).bytes},
                         {"a/high.par", Image().operation(10, 9000).init(3, 7).bytes},
                         {"b/odd.par", Image().operation(10, NAN).operation(3, NAN).init(3, 2).bytes}};
    const std::string above = "<td class=out title=\"a/high.par\nOperations[10] feed_rate [mm/min] = 9000\">";
    const std::string found = "<li>a/high.par:680: Operations[10] feed_rate is 9000 mm/min, above its maximum 8000 "
                              "(paramlist.toml:1)\n";
    const struct {
        const char* what;
        std::string script;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        {"one schema: its names head the columns, a value outside its limits is marked, a NaN too",
         "$P --summary --html */*.par",
         {above, "<td class=out title=\"b/odd.par\nOperations[10] feed_rate [mm/min] = &quot;NaN&quot;\">",
          "<td class=out title=\"a/high.par\nInit[3] mode = 7\">",
          "<td class=v1 title=\"b/odd.par\nInit[3] mode = 2\">",
          "<td class=nan title=\"b/odd.par\nOperations[3] = &quot;NaN&quot;\">",
          "<span>Operations[10] feed_rate [mm/min]</span>",
          "<td title=\"9000\">9000<td class=n>1<td class=w><i class=out", found,
          "<tr><td>not-allowed<td>2<tr><td>above-maximum<td>1<tr><td>nan<td>2</table>"},
         {"<td class=out title=\"a/low.par"}},
        {"the same marks over 500 files, in each directory's cell",
         "for k in $(seq 1 500); do cp a/low.par a/c$k.par; done && $P --summary --html */*.par",
         {"<tr><th>a/ (502 files)<td class=out title=\"a/\nInit[3] mode: 1 of 502 differ, 1 outside the limits\">"
          "<td><td class=out title=\"a/\nOperations[10] feed_rate [mm/min]: 1 of 502 differ, 1 outside the limits\">",
          "<tr><th>b/ (1 file)<td class=s5 title=\"b/\nInit[3] mode: 1 of 1 differ\"><td class=s5 title=\"b/\n"
          "Operations[3]: 1 of 1 differ, 1 NaN\"><td class=out title=\"b/\nOperations[10] feed_rate [mm/min]: 1 of 1 "
          "differ, 1 outside the limits, 1 NaN\">"},
         {}},
        {"two schemas: no names and no marks, but each file's findings",
         "sed 's/max = 8000/max = 9500/' paramlist.toml >b/paramlist.toml && $P --summary --html */*.par",
         {"<td class=v1 title=\"a/high.par\nOperations[10] = 9000\">", "<span>Operations[10]</span>", found,
          "<li>b/odd.par:680: Operations[10] feed_rate is &quot;NaN&quot; mm/min, not a number its limits allow "
          "(b/paramlist.toml:1)\n"},
         {"class=out", "feed_rate [mm/min]"}},
        {"a schema with a unit of 3000 bytes, in a directory of control bytes: its finding cut, and shown as a path",
         "d=$(printf 'c\\033\\377') && mkdir \"$d\" && cp a/high.par \"$d\" && { printf '[[entry]]\\nat = "
         "\"Operations[10]\"\\nunit = \"'; head -c 3000 /dev/zero | tr '\\0' '<'; printf '\"\\nmax = 8000\\n'; } "
         ">\"$d/paramlist.toml\" && $P --summary --html \"$d\"/*.par",
         {"<li>c\\x1b\\xff/high.par:680: Operations[10] is 9000 &lt;&lt;", "&lt;\xe2\x80\xa6\n</ol>"},
         {"\x1b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = inFleet(fleet, c.script);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        for (const std::string& piece : c.present) {
            EXPECT_NE(r.out.find(piece), std::string::npos) << piece;
        }
        for (const std::string& piece : c.absent) {
            EXPECT_EQ(r.out.find(piece), std::string::npos) << piece;
        }
    }
}
