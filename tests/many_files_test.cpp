// The conventions of runs over many files, through the built program: names
// from --files0-from, -z, -H, --get, --entries of many files, and options
// written after the files.
#include "shell.h"
#include "support.h"

#include <gtest/gtest.h>

namespace {

const std::string tryHelp = "Try 'paramlist --help' for more information.\n";

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

struct Case {
    std::string script;
    int status;
    std::string out;
    std::string err;
};

void runCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const ScratchDir dir = fleet();
        const Outcome r = shell(dir, c.script);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

} // namespace

TEST(ManyFiles, ListedNamesAreTheFilesAndAnEmptyOneIsAnError)
{
    runCases({
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
        {"printf 'a.par\\0\\0' | $P --set 'Init[0]=1' --files0-from=- ; echo $?; $P --get 'Init[0]' a.par", 0, "1\n1\n",
         "paramlist: -:2: invalid zero-length file name\n"},
        {"$P --check --files0-from=missing", 2, "", "paramlist: missing: No such file or directory\n"},
        {"$P --json --files0-from=list a.par", 2, "",
         "paramlist: extra operand 'a.par': FILE operands cannot be given with --files0-from\n" + tryHelp},
        {"$P --diff --files0-from=list", 2, "", "paramlist: missing operand after '--diff'\n" + tryHelp},
        {"$P --files0-from=list", 2, "",
         "paramlist: --files0-from goes with --json or --csv or --tsv or --diff or --check or --summary or --set or "
         "--entries or --get\n" +
             tryHelp},
    });
}

TEST(ManyFiles, ListedFilesGiveWhatTheSameFilesGiveAsOperands)
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
        const Outcome listed = shell(dir, "$P " + mode.first + " --files0-from=list " + mode.second);
        const Outcome given = shell(dir, "xargs -0 $P " + mode.first + " " + mode.second + " <list");
        EXPECT_EQ(listed.out, given.out);
        EXPECT_FALSE(listed.out.empty());
    }
}

TEST(ManyFiles, NullEndsBriefPathsAndWithFilenameNamesEveryLine)
{
    runCases({
        {"$P --diff --brief -z a.par b.par 'new\nline.par'", 1, std::string("b.par\0new\nline.par\0", 19), ""},
        {"$P --diff --brief --null a.par a.par", 0, "", ""},
        {"$P --diff -z a.par b.par", 2, "", "paramlist: -z goes with --brief\n" + tryHelp},
        {"$P --check -z a.par", 2, "", "paramlist: -z goes with --diff\n" + tryHelp},
        {"$P --diff -H a.par b.par", 1, "b.par: Operations[10]: 850 -> 851.5\n", ""},
        {"$P --diff --json --with-filename a.par b.par", 1,
         "{\"file\":\"b.par\",\"table\":\"Operations\",\"index\":10,\"a\":850,\"b\":851.5}\n", ""},
        {"$P --entries -H a.par | sed -n '1p;112p'", 0, "a.par: bytes: 3950\na.par: Operations[10]: 850\n", ""},
        {"$P --entries a.par | sed -n '1p;112p'", 0, "bytes: 3950\nOperations[10]: 850\n", ""},
        {"$P --entries a.par b.par | grep -c ': '", 0, "602\n", ""},
        {"$P --entries a.par b.par | sed -n '302p;413p'", 0, "b.par: bytes: 3950\nb.par: Operations[10]: 851.5\n", ""},
        {"$P --check -H a.par", 2, "", "paramlist: -H goes with --diff or --entries or --get\n" + tryHelp},
    });
}

TEST(ManyFiles, GetWritesValuesAsJsonDoesAndTheValueAloneOfOneOfOne)
{
    runCases({
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
    });
}

TEST(ManyFiles, AnOptionAfterTheFilesIsToldToGoBeforeThem)
{
    const std::string hint = ": No such file or directory (options go before the files; -- ends them)\n";
    runCases({
        {"$P --diff a.par b.par --brief", 2, "b.par: Operations[10]: 850 -> 851.5\n", "paramlist: --brief" + hint},
        {"$P --get 'Init[0]' a.par -H", 1, "a.par: Init[0]: 0\n", "paramlist: -H" + hint},
        {"$P --json -- a.par --csv | wc -l", 0, "1\n", "paramlist: --csv" + hint},
        {"$P --check -- -missing.par", 2, "", "paramlist: -missing.par" + hint},
        // Only a word that looks like an option is told so.
        {"$P --get 'Init[0]' missing.par", 1, "", "paramlist: missing.par: No such file or directory\n"},
    });
}
