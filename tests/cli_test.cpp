// The command line, run as a user runs the program: exit statuses and
// diagnostics, the rules of the options, --help made from the option table,
// and the options of runs over many files.
#include "command_line.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace {

// A directory holding a.par (Operations[10] 850), b.par (851.5) and a file
// whose name holds a newline.
ScratchDir fleet()
{
    ScratchDir dir;
    dir.write("a.par", Image().operation(10, 850).name(2, "feed rate").bytes);
    dir.write("b.par", Image().operation(10, 851.5).name(2, "feed rate").bytes);
    dir.write("new\nline.par", Image().operation(10, 852).document(3, 2).bytes);
    return dir;
}

} // namespace

TEST(Cli, ExitStatusAndDiagnostics)
{
    ScratchDir dir;
    const std::string missing = dir.path + "/missing.par";
    const struct {
        std::string arguments;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"", 2, "", "paramlist: missing operand\nTry 'paramlist --help' for more information.\n"},
        {missing, 1, "File could not be opened\n\ncould not read\n",
         "paramlist: " + missing + ": No such file or directory\n"},
        {dir.path, 1, "File could not be opened\n\ncould not read\n", "paramlist: " + dir.path + ": Is a directory\n"},
        {"/proc/self/mem", 1, "reading from file : /proc/self/mem\n\ncould not read\n",
         "paramlist: /proc/self/mem: Input/output error\n"},
        {dir.write("full.par", sample.bytes) + " >/dev/full", 1, "",
         "paramlist: write error: No space left on device\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome r = run(script("$P " + c.arguments));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(Cli, OptionRules)
{
    ScratchDir dir;
    const std::string file = dir.write("sample.par", sample.bytes);
    const std::string json = dir.write("sample.json", run(command({"--json", file})).out);
    const std::string copy = dir.path + "/copy.par";
    const std::string dashHint = "; to name a file that starts with '-', put -- before the files\n";
    // The sample's first name fills its field.
    const std::string unterminated = "warning: Names[0] holds 50 bytes and so has no terminating zero (see --check)\n";
    const struct {
        std::string arguments;
        int status;
        std::string out; // a prefix of standard output
        std::string err;
    } cases[] = {
        {"--help", 0, "Usage: paramlist [OPTION]... FILE...\n", ""},
        {"--version", 0, "paramlist " PARAMLIST_VERSION "\n", ""},
        {"--bogus " + file, 2, "", "paramlist: unrecognized option '--bogus'\n" + tryHelp},
        {"-x", 2, "", "paramlist: invalid option -- 'x'\n" + tryHelp},
        {"--json", 2, "", "paramlist: missing operand after '--json'\n" + tryHelp},
        {"--check", 2, "", "paramlist: missing operand after '--check'\n" + tryHelp},
        {"--diff " + file, 2, "", "paramlist: missing operand after '--diff'\n" + tryHelp},
        {"--from-json " + json, 2, "", "paramlist: --from-json needs -o OUTPUT\n" + tryHelp},
        {"--from-json", 2, "", "paramlist: option '--from-json' requires an argument\n" + tryHelp},
        {"-o x " + file, 2, "", "paramlist: -o goes with --from-json\n" + tryHelp},
        {"--set Init[0]=1 --json " + file, 2, "",
         "paramlist: --json goes with --set and --apply only with --dry-run\n" + tryHelp},
        {"--merge --json a b c", 2, "",
         "paramlist: --json goes with --diff or --check or --summary or --set or --apply\n" + tryHelp},
        {"-n --diff a b", 2, "", "paramlist: -n goes with --set or --apply\n" + tryHelp},
        {"--create --apply x", 2, "", "paramlist: --create goes with --set or --edit\n" + tryHelp},
        {"--apply -n in.json a.par", 2, "",
         "paramlist: --apply took '-n' as its INPUT; write the other options first: --dry-run --apply INPUT "
         "[FILE]\n" +
             tryHelp},
        {"--apply in.json a.par b.par", 2, "", "paramlist: extra operand 'b.par'\n" + tryHelp},
        {"--edit", 2, "", "paramlist: missing operand after '--edit'\n" + tryHelp},
        {"--edit a.par b.par", 2, "", "paramlist: extra operand 'b.par'\n" + tryHelp},
        {"--ours --theirs --merge " + file + " " + file + " " + file, 2, "",
         "paramlist: choose one of --ours and --theirs\n" + tryHelp},
        {"--ours --merge --ours " + file + " " + file + " " + file, 0, "", ""},
        {"--check --diff a b", 2, "",
         "paramlist: choose one of --json, --csv, --tsv, --from-json, --diff, --check, --summary, --init-schema, "
         "--set, --apply, "
         "--edit, "
         "--entries, --get and "
         "--merge\n" +
             tryHelp},
        {"--json " + file + " " + dir.path + "/missing " + file, 1, "{\"file\":\"" + file + "\",\"bytes\":3950,",
         "paramlist: " + dir.path + "/missing: No such file or directory\n"},
        {"--json - <" + file, 0, "{\"file\":\"-\",\"bytes\":3950,\"Init\":[0,0,0,7,", ""},
        {"--json " + file + " >/dev/full", 1, "", "paramlist: write error: No space left on device\n"},
        {"--diff - " + file + " <" + file, 0, "", ""},
        // The list is what standard input holds: no operand can be standard input too.
        {"--diff --brief --files0-from=- - <" + dir.write("list", std::string("other.par\0", 10)), 2, "",
         "paramlist: '-' is standard input, which --files0-from=- reads the file names from\n" + tryHelp},
        {"--diff --files0-from=/dev/stdin /dev/fd/0 </dev/null", 2, "",
         "paramlist: '/dev/fd/0' is standard input, which --files0-from=/dev/stdin reads the file names from\n" +
             tryHelp},
        {"--diff --brief --files0-from=" + dir.path + "/list - <" + file, 2, "",
         "paramlist: other.par: No such file or directory\n"},
        {"--check " + file + " - <" + file, 1, file + ":1400: Names[0] is unterminated", ""},
        {"--from-json " + json + " -o " + copy, 0, "", "paramlist: " + copy + ": " + unterminated},
        {"--diff " + file + " " + copy, 0, "", ""},
        {"--from-json - -o - <" + json, 0, readFile(copy), "paramlist: -: " + unterminated},
        // What a refused option message names, and where it points.
        {"-h", 0, "Usage: paramlist [OPTION]... FILE...\n", ""},
        {"-V", 0, "paramlist " PARAMLIST_VERSION "\n", ""},
        // A glob that found a file named -dash.par, and ls's options given to --check.
        {"--json -dash.par " + file, 2, "", "paramlist: invalid option -- 'd' in '-dash.par'" + dashHint + tryHelp},
        {"--check -la " + file, 2, "", "paramlist: invalid option -- 'l' in '-la'" + dashHint + tryHelp},
        {"--json -- " + file, 0, "{\"file\":", ""},
        {"--c " + file, 2, "", "paramlist: option '--c' is ambiguous: --csv, --check, --create\n" + tryHelp},
        {"--from-json " + json + " --output", 2, "", "paramlist: option '--output' requires an argument\n" + tryHelp},
        {"--from-json " + json + " --out", 2, "", "paramlist: option '--output' requires an argument\n" + tryHelp},
        {"--js=1 " + file, 2, "", "paramlist: option '--json' doesn't allow an argument\n" + tryHelp},
        // --generate is read only in full as the first word: --ge is still --get.
        {"--ge Init[3] " + file, 0, "7\n", ""},
        {"--generate " + file, 2, "", "paramlist: unrecognized option '--generate'\n" + tryHelp},
        {"--generate=troff", 2, "", "paramlist: --generate='troff': give man, bash, zsh or fish\n" + tryHelp},
        {"--generate=bash", 0, "# bash completion for paramlist", ""},
        // The operands' rules come after the options', whichever is broken first.
        {"--set Init[0]=1 --json --wait=abc " + file, 2, "",
         "paramlist: --wait='abc': give the seconds to wait for a file's edit lock, as in --wait=30\n" + tryHelp},
        {"--from-json -o out.par " + json, 2, "",
         "paramlist: --from-json took '-o' as its INPUT; write --from-json INPUT -o OUTPUT\n" + tryHelp},
        {"--from-json --output=out.par " + json, 2, "",
         "paramlist: --from-json took '--output=out.par' as its INPUT; write --from-json INPUT -o OUTPUT\n" + tryHelp},
        {file + " --check", 0, "reading from file : " + file + "\n",
         "paramlist: warning: only " + file +
             " is listed; 1 more operand ignored ('--check' is taken as a file: options go before the files)\n"},
        {file + " " + file, 0, "reading from file : " + file + "\n",
         "paramlist: warning: only " + file +
             " is listed; 1 more operand ignored (the listing takes one file; see --help for the modes that take "
             "several)\n"},
        {"--check /dev/zero", 1, "/dev/zero:3950: more than 1048576 bytes past the 3950-byte image are ignored\n", ""},
        {"--check --json " + file, 1,
         "{\"file\":\"" + file +
             "\",\"offset\":1400,\"kind\":\"unterminated-name\",\"message\":\"Names[0] is unterminated: its 50 "
             "bytes hold no zero byte\"}\n{\"file\":",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome r = run(script("$P " + c.arguments));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(r.err, c.err);
    }
    const std::string lines = run(script("$P --json " + file + " - " + file + " <" + file)).out;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3);
}

// An option is a row of the table, and --help is made from the table: a row
// whose option --help does not name would also be missing from the
// completions, which follow --help.
TEST(Cli, HelpNamesEveryOptionOfTheTable)
{
    const std::string usage = usageText();
    const auto isNamePart = [](char c) { return c == '-' || std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (const std::string& word : optionWords()) {
        bool named = false;
        for (std::size_t at = usage.find(word); at != std::string::npos && !named; at = usage.find(word, at + 1)) {
            const std::size_t end = at + word.size();
            named = (at == 0 || !isNamePart(usage[at - 1])) && (end == usage.size() || !isNamePart(usage[end]));
        }
        EXPECT_TRUE(named) << word;
    }
}

TEST(Cli, NullEndsBriefPathsAndWithFilenameNamesEveryLine)
{
    expectEach(
        {
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
            {"$P --entries a.par b.par | sed -n '302p;413p'", 0, "b.par: bytes: 3950\nb.par: Operations[10]: 851.5\n",
             ""},
            {"$P --check -H a.par", 2, "", "paramlist: -H goes with --diff or --entries or --get\n" + tryHelp},
        },
        fleet);
}

TEST(Cli, AnOptionAfterTheFilesIsToldToGoBeforeThem)
{
    const std::string hint = ": No such file or directory (options go before the files; -- ends them)\n";
    expectEach(
        {
            {"$P --diff a.par b.par --brief", 2, "b.par: Operations[10]: 850 -> 851.5\n", "paramlist: --brief" + hint},
            {"$P --get 'Init[0]' a.par -H", 1, "a.par: Init[0]: 0\n", "paramlist: -H" + hint},
            {"$P --json -- a.par --csv | wc -l", 0, "1\n", "paramlist: --csv" + hint},
            {"$P --check -- -missing.par", 2, "", "paramlist: -missing.par" + hint},
            // Only a word that looks like an option is told so.
            {"$P --get 'Init[0]' missing.par", 1, "", "paramlist: missing.par: No such file or directory\n"},
        },
        fleet);
}
