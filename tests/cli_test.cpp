// Runs the built program as a user would. PARAMLIST_COMMAND, when set, replaces
// the program's path, so the same checks can run it under an emulator.
#include "command_line.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cctype>

#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// The command that runs the program.
static std::string program()
{
    const char* command = std::getenv("PARAMLIST_COMMAND");
    return command != nullptr ? command : PARAMLIST_BINARY;
}

static Outcome run(const ScratchDir& dir, const std::string& arguments)
{
    const std::string shell = program() + " >" + dir.path + "/stdout 2>" + dir.path + "/stderr " + arguments;
    const int status = std::system(shell.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.path + "/stdout"),
            readFile(dir.path + "/stderr")};
}

// The names line when only names 0 and 1 are set.
static std::string names(const std::string& first, const std::string& second)
{
    std::string line = "(0:" + first + ") (1:" + second + ") ";
    for (int i = 2; i < 50; ++i) {
        line += "(" + std::to_string(i) + ":) ";
    }
    return line;
}

static const Image sample = Image()
                                .init(3, 7)
                                .init(49, 4000000000u)
                                .operation(9, 1.5)
                                .operation(10, 2)
                                .operation(60, 0.1)
                                .operation(99, -0.0)
                                .terminal(0, 1e-5)
                                .terminal(1, 3.14159265)
                                .document(5, 2)
                                .document(6, 255)
                                .name(0, std::string(50, 'N') + "next field");

TEST(Cli, ListsFilesPipesAndEndlessFilesByteForByte)
{
    ScratchDir dir;
    const std::string file = dir.write("sample.par", sample.bytes);
    const std::string listed = "init parameters : (3:7) (49:4000000000) \n\n"
                               "operations parameters : (9:1.5) (10:2) (60:0.1) \n"
                               "sum operations parameters > 10 : 2.1\n\n"
                               "terminal condition parameters : (0:1e-05) (1:3.14159) \n\n"
                               "document parameters : (5:1) (6:1) \n\n"
                               "names parameters : \n" +
                               names(std::string(50, 'N'), "next field") + "\n\n";
    const std::string empty = "init parameters : \n\noperations parameters : \n"
                              "sum operations parameters > 10 : 0\n\nterminal condition parameters : \n\n"
                              "document parameters : \n\nnames parameters : \n" +
                              names("", "") + "\n\n";
    const struct {
        std::string arguments;
        std::string path;
        std::string listing;
        std::string err;
    } cases[] = {
        {file + " ignored --json", file, listed,
         "paramlist: warning: only " + file +
             " is listed; 2 more operands ignored ('--json' is taken as a file: options go before the files)\n"},
        {"/dev/stdin <" + file, "/dev/stdin", listed, ""},
        {"- <" + file, "-", listed, ""},
        {"-- " + file, file, listed, ""},
        {"/dev/zero", "/dev/zero", empty, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome r = run(dir, c.arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "reading from file : " + c.path + "\n\nparameters not shown are 0 \n\n" + c.listing);
    }
}

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
        const Outcome r = run(dir, c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(Cli, ShortFileIsListedWithAWarning)
{
    ScratchDir dir;
    const std::string file = dir.write("short.par", sample.bytes.substr(0, 200));
    const Outcome r = run(dir, file);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("init parameters : (3:7) (49:4000000000) \n\noperations parameters : \n"), std::string::npos);
    EXPECT_EQ(r.err, "paramlist: " + file +
                         ": warning: the file holds 200 of 3950 bytes; entries past its end are listed at their "
                         "start values\n");
}

TEST(Cli, OptionRules)
{
    ScratchDir dir;
    const std::string file = dir.write("sample.par", sample.bytes);
    const std::string json = dir.write("sample.json", run(dir, "--json " + file).out);
    const std::string copy = dir.path + "/copy.par";
    const std::string tryHelp = "Try 'paramlist --help' for more information.\n";
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
         "paramlist: --json goes with --diff or --check or --set or --apply\n" + tryHelp},
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
         "paramlist: choose one of --json, --csv, --tsv, --from-json, --diff, --check, --set, --apply, --edit, "
         "--entries, --get and "
         "--merge\n" +
             tryHelp},
        {"--json " + file + " " + dir.path + "/missing " + file, 1, "{\"file\":\"" + file + "\",\"bytes\":3950,",
         "paramlist: " + dir.path + "/missing: No such file or directory\n"},
        {"--json - <" + file, 0, "{\"file\":\"-\",\"bytes\":3950,\"Init\":[0,0,0,7,", ""},
        {"--json " + file + " >/dev/full", 1, "", "paramlist: write error: No space left on device\n"},
        {"--diff - " + file + " <" + file, 0, "", ""},
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
        const Outcome r = run(dir, c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(r.err, c.err);
    }
    const std::string lines = run(dir, "--json " + file + " - " + file + " <" + file).out;
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

// Runs the program with standard output and standard error on a pseudo-terminal
// and returns what the terminal was sent.
static std::string runOnTerminal(const std::string& arguments)
{
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        return "openpty failed";
    }
    termios mode{};
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    const pid_t child = fork();
    if (child == 0) {
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        close(master);
        close(slave);
        execl("/bin/sh", "sh", "-c", (program() + " " + arguments).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(slave);
    std::string shown;
    char block[4096];
    for (ssize_t count; (count = read(master, block, sizeof block)) > 0;) {
        shown.append(block, static_cast<std::size_t>(count));
    }
    close(master);
    waitpid(child, nullptr, 0);
    return shown;
}

TEST(Cli, NamesAndPathsCannotDriveATerminal)
{
    ScratchDir dir;
    // An OSC 52 clipboard write, a carriage return, bytes that are not UTF-8,
    // a UTF-8 name, and the C1 control CSI.
    const std::string names[] = {"\x1b]52;c;aGk=\x07", "over\rwrite", "\xff\xfe", "caf\xc3\xa9",
                                 std::string("\xc2\x9b") + "2J"};
    Image image;
    for (std::size_t i = 0; i < 5; ++i) {
        image.name(i, names[i]);
    }
    const std::string file = dir.write("title\x1b]0;x\x07.par", image.bytes);
    const std::string shell = "'" + file + "'";

    const std::string escaped =
        "(0:\\x1b]52;c;aGk=\\x07) (1:over\\x0dwrite) (2:\\xff\\xfe) (3:caf\xc3\xa9) (4:\\xc2\\x9b2J) ";
    const std::string shownPath = dir.path + "/title\\x1b]0;x\\x07.par";
    const std::string onTerminal = runOnTerminal(shell);
    EXPECT_NE(onTerminal.find("reading from file : " + shownPath + "\n"), std::string::npos) << onTerminal;
    EXPECT_NE(onTerminal.find(escaped), std::string::npos) << onTerminal;
    EXPECT_EQ(onTerminal.find('\x1b'), std::string::npos);
    const std::string missing = runOnTerminal("'" + dir.path + "/gone\x1b[2J'");
    EXPECT_NE(missing.find("paramlist: " + dir.path + "/gone\\x1b[2J: No such file or directory"), std::string::npos)
        << missing;

    std::string raw;
    for (std::size_t i = 0; i < 5; ++i) {
        raw += "(" + std::to_string(i) + ":" + names[i] + ") ";
    }
    const Outcome piped = run(dir, shell);
    EXPECT_NE(piped.out.find("reading from file : " + file + "\n"), std::string::npos);
    EXPECT_NE(piped.out.find(raw), std::string::npos);
}

TEST(Cli, JsonOverManyFilesKeepsTheirOrder)
{
    ScratchDir dir;
    std::string arguments = "--json";
    for (int i = 0; i < 300; ++i) {
        const std::string name = std::to_string(i) + ".par";
        arguments += " " + (i == 150 ? dir.path + "/missing.par" : dir.write(name, Image().init(0, i).bytes));
    }
    const Outcome r = run(dir, arguments);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "paramlist: " + dir.path + "/missing.par: No such file or directory\n");
    std::size_t at = 0;
    for (int i = 0; i < 300; ++i) {
        if (i == 150) {
            continue;
        }
        at = r.out.find("\"Init\":[" + std::to_string(i) + ",", at);
        ASSERT_NE(at, std::string::npos) << "file " << i << " is missing or out of order";
    }
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 299);
}

TEST(Cli, TheImageGoesToATerminalOnlyWhenForced)
{
    ScratchDir dir;
    const std::string json = dir.write("sample.json", run(dir, "--json " + dir.write("s.par", sample.bytes)).out);
    const std::string refused = runOnTerminal("--from-json " + json + " -o -");
    EXPECT_EQ(refused, "paramlist: refusing to write the binary image to a terminal; redirect standard output, or give "
                       "--force\n");
    const std::string forced = runOnTerminal("--from-json " + json + " -o - --force 2>/dev/null");
    EXPECT_EQ(forced.size(), 3950U);
    EXPECT_EQ(run(dir, "--force --json " + json).err,
              "paramlist: --force goes with --from-json or --set or --apply or --edit or --merge\nTry 'paramlist "
              "--help' for more information.\n");
}

TEST(Cli, JsonAndDiffCannotDriveATerminal)
{
    ScratchDir dir;
    // The C1 controls CSI and OSC, in a name and in a path.
    const std::string file = dir.write("osc\xc2\x9d.par", Image()
                                                              .name(4, "\xc2\x9b"
                                                                       "2J")
                                                              .bytes);
    const std::string other = dir.write("other.par", Image().bytes);
    const std::string ours = dir.write("ours.par", Image().name(4, "x").bytes);
    const std::string csi = "\"\\u009b2J\"";
    const struct {
        std::string arguments;
        std::string shown;
    } cases[] = {
        {"--json '" + file + "'", csi},
        {"--diff " + other + " '" + file + "'", "Names[4]: \"\" -> " + csi},
        {"--diff --json " + other + " '" + file + "'", ",\"b\":" + csi},
        {"--check --json '" + file + "'",
         dir.path + "/osc\\u009d.par\",\"offset\":1600,\"kind\":\"control-character\""},
        {"--check '" + file + "'", dir.path + "/osc\\xc2\\x9d.par:1600: Names[4] holds a control character"},
        // The conflict lines of git's merge driver, which names the file with --path.
        {"--merge --path='" + file + "' " + other + " " + ours + " '" + file + "'",
         dir.path + "/osc\\xc2\\x9d.par: Names[4]: base \"\", ours \"x\", theirs " + csi},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string onTerminal = runOnTerminal(c.arguments);
        EXPECT_EQ(onTerminal.find("\xc2\x9b"), std::string::npos) << onTerminal;
        EXPECT_EQ(onTerminal.find("\xc2\x9d"), std::string::npos) << onTerminal;
        EXPECT_NE(onTerminal.find(c.shown), std::string::npos) << onTerminal;
        // JSON is the same value on a terminal or not.
        if (c.arguments.find("--json") != std::string::npos) {
            EXPECT_EQ(run(dir, c.arguments).out, onTerminal);
        }
    }
}

// A pipe on standard input cannot be read again from its start, nor twice:
// a second read would find nothing, all entries zero.
TEST(Cli, StandardInputOnAPipeIsReadOnce)
{
    ScratchDir dir;
    const std::string golden = dir.write("golden.par", sample.bytes);
    const std::string drifted = dir.write("drifted.par", Image(sample).init(4, 9).bytes);
    const std::string ours = dir.path + "/ours.par";
    const Image oursImage = Image(sample).init(3, 8);
    const struct {
        std::string input;
        std::string arguments;
        int status;
        std::string out;
        std::string oursAfter;
    } cases[] = {
        {drifted, "--merge " + golden + " " + ours + " -", 0, "", Image(oursImage).init(4, 9).bytes},
        {drifted, "--merge - " + ours + " -", 0, "", oursImage.bytes},
        {golden, "--diff --brief " + golden + " - /dev/stdin /dev/fd/0", 0, "", oursImage.bytes},
        {drifted, "--diff --brief " + golden + " - /dev/stdin", 1, "-\n/dev/stdin\n", oursImage.bytes},
        {drifted, "--diff --brief /dev/stdin " + golden + " -", 1, golden + "\n", oursImage.bytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        std::ofstream(ours, std::ios::binary) << oursImage.bytes;
        const int status = std::system(("cat " + c.input + " | " + program() + " " + c.arguments + " >" + dir.path +
                                        "/stdout 2>" + dir.path + "/stderr")
                                           .c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
        EXPECT_EQ(readFile(dir.path + "/stdout"), c.out);
        EXPECT_EQ(readFile(dir.path + "/stderr"), "");
        EXPECT_EQ(readFile(ours), c.oursAfter);
    }
}
