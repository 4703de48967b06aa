// --apply, --edit and --dry-run, run as a user runs them: a fleet's text
// written back changes no byte that the text does not change, input that
// does not read touches no file, and an edit in an editor (a script here)
// sets what the user changed, on top of what another edit changed meanwhile.
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string program()
{
    const char* command = std::getenv("PARAMLIST_COMMAND");
    return command != nullptr ? command : PARAMLIST_BINARY;
}

// Runs command through the shell in dir, with $P the program, standard input
// from /dev/null unless the command says otherwise.
Outcome run(const ScratchDir& dir, const std::string& command)
{
    const std::string shell = "cd " + dir.path + " && export P='" + program() + "' && { " + command + "; } >" +
                              dir.path + "/.out 2>" + dir.path + "/.err </dev/null";
    const int status = std::system(shell.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.path + "/.out"), readFile(dir.path + "/.err")};
}

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

// Where two files' bytes first differ, or "same", as a failure shows it.
std::string difference(const std::string& a, const std::string& b)
{
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return at.first == a.end() && at.second == b.end() ? "same"
                                                       : "differ from byte " + std::to_string(at.first - a.begin());
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

std::string realBytes(double value)
{
    Image image;
    image.f64(0, value);
    return image.bytes.substr(0, 8);
}

std::string editorScript(const ScratchDir& dir, const std::string& body)
{
    // Each run logs the private file's path and mode.
    return dir.write("editor.sh", "echo \"$1 $(stat -c %a \"$1\")\" >> " + dir.path + "/.log\n" + body + "\n");
}

} // namespace

TEST(Apply, TheFleetsTextWrittenBackChangesNoFile)
{
    const ScratchDir dir;
    std::vector<Look> before;
    before.reserve(crafted.size());
    for (const auto& [name, bytes] : crafted) {
        before.push_back(lookAt(dir.write(name, bytes)));
    }
    // --force: past.par is longer than an image, which an edit refuses without it.
    const char* commands[] = {
        "$P --json *.par | $P --apply - --force",
        "$P --json *.par >fleet.jsonl && $P --apply fleet.jsonl --force",
        "for f in *.par; do $P --entries $f | $P --apply - --force $f || exit; done",
        "for f in *.par; do $P --json $f | $P --apply - --force $f || exit; done",
    };
    for (const char* command : commands) {
        const Outcome outcome = run(dir, command);
        EXPECT_EQ(outcome.status, 0) << command;
        EXPECT_EQ(outcome.err, "") << command;
        for (std::size_t k = 0; k < crafted.size(); ++k) {
            EXPECT_TRUE(untouched(before[k], dir.path + "/" + crafted[k].first)) << command << ": " << crafted[k].first;
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
        {"$P --json *.par | jq -c '.Operations[10] = 850' | $P --apply - --force", 680, realBytes(850)},
        // The objects of jq without -c span lines, and may leave tables out.
        {"$P --json *.par | jq '{file, TerminalCondition: (.TerminalCondition | .[5] = 2.5)}' | $P --apply - --force",
         240, realBytes(2.5)},
        {"for f in *.par; do $P --entries $f | sed 's/^Init.7.: .*/Init[7]: 9/' | $P --apply - --force $f || exit; "
         "done",
         28, std::string("\x09\0\0\0", 4)},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run(dir, c.command);
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
            EXPECT_EQ(difference(readFile(file), expected), "same") << c.command << ": " << crafted[k].first;
            before[k] = lookAt(file);
        }
    }
}

TEST(Apply, InputThatDoesNotReadTouchesNoFile)
{
    const ScratchDir dir;
    const std::string a = dir.write("a.par", Image().operation(10, 850).bytes);
    dir.write("b.par", Image().bytes);
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
         "paramlist: in:2:1: a second object for ./a.par (the first is on line 1)\n"},
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
        const Outcome outcome = run(dir, "$P --apply in" + c.operands);
        EXPECT_EQ(outcome.status, 2) << c.input;
        EXPECT_EQ(outcome.err, c.err) << c.input;
        EXPECT_TRUE(untouched(before, a)) << c.input;
    }
}

TEST(Apply, AFileThatCannotBeEditedLeavesTheOthersEdited)
{
    const ScratchDir dir;
    dir.write("a.par", Image().bytes);
    dir.write("c.par", Image().bytes);
    ::mkdir((dir.path + "/dir.par").c_str(), 0700);
    const Outcome outcome = run(dir, "printf 'Init[0]: 7\\n' >in && $P --apply in a.par && $P --json a.par | "
                                     "sed 's/\"a.par\"/\"missing.par\"/p; s/\"missing.par\"/\"dir.par\"/p; "
                                     "s/\"dir.par\"/\"c.par\"/' | $P --apply -");
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
        const Outcome outcome = run(dir, c.command);
        EXPECT_EQ(outcome.status, c.status) << c.command;
        EXPECT_EQ(outcome.out, c.out) << c.command;
        EXPECT_EQ(outcome.err, c.err) << c.command;
        EXPECT_TRUE(untouched(a, dir.path + "/a.par")) << c.command;
        EXPECT_TRUE(untouched(b, dir.path + "/b.par")) << c.command;
        EXPECT_NE(::access((dir.path + "/missing.par").c_str(), F_OK), 0) << c.command;
    }
}

TEST(Edit, WhatTheEditorLeavesIsWhatIsSet)
{
    const ScratchDir dir;
    // Bytes past the image, which an edit keeps with --force.
    const std::string original = Image().operation(10, 850).document(3, 2).bytes + "past";
    const std::string set = "$P --set Operations[10]=852 --force f.par";
    const struct {
        std::string script;
        int status;
        std::string err;
        std::string out;
        // The file afterwards, from the original, where it changed.
        std::vector<std::pair<std::size_t, std::string>> changed;
        bool kept;
    } cases[] = {
        {R"(sed -i 's/^Operations.10.: .*/Operations[10]: 851/' "$1")", 0, "", "", {{680, realBytes(851)}}, false},
        {"true", 0, "paramlist: f.par: unchanged\n", "", {}, false},
        {R"(sed -i '/^[A-Z]/d' "$1")",
         1,
         "paramlist: f.par: the text holds no entry, which cancels the edit; nothing "
         "written\n",
         "",
         {},
         false},
        {R"(sed -i 's/850/851/' "$1"; exit 1)",
         1,
         "paramlist: f.par: the editor exited with status 1; nothing written\n",
         "",
         {},
         false},
        {R"(echo 'Bogus[0]: 1' >> "$1")", 2, "", "", {}, true},
        // Another edit meanwhile, of another entry: both hold.
        {"$P --set Init[1]=5 --force f.par && sed -i 's/^Operations.10.: .*/Operations[10]: 851/' \"$1\"",
         0,
         "",
         "",
         {{4, std::string("\x05\0\0\0", 4)}, {680, realBytes(851)}},
         false},
        // Of the same entry, to the same value: nothing to do.
        {"$P --set Operations[10]=851 --force f.par && sed -i 's/^Operations.10.: .*/Operations[10]: 851/' \"$1\"",
         0,
         "",
         "",
         {{680, realBytes(851)}},
         false},
        // To another value: a conflict, and the other edit's value stays.
        {set + " && sed -i 's/^Operations.10.: .*/Operations[10]: 851/; s/^Init.2.: .*/Init[2]: 9/' \"$1\"",
         1,
         "",
         "f.par: Operations[10]: base 850, ours 851, theirs 852\n",
         {{680, realBytes(852)}},
         true},
    };
    for (const auto& c : cases) {
        const std::string file = dir.write("f.par", original);
        ::unlink((dir.path + "/.log").c_str());
        const std::string tmp = dir.path + "/tmp";
        std::system(("rm -rf '" + tmp + "'").c_str());
        ::mkdir(tmp.c_str(), 0700);
        const Outcome outcome = run(dir, "TMPDIR=" + tmp + " EDITOR='sh " + editorScript(dir, c.script) +
                                             "' VISUAL= $P --edit --force f.par");
        EXPECT_EQ(outcome.status, c.status) << c.script;
        EXPECT_EQ(outcome.out, c.out) << c.script;
        std::string expected = original;
        for (const auto& [offset, bytes] : c.changed) {
            expected.replace(offset, bytes.size(), bytes);
        }
        EXPECT_EQ(difference(readFile(file), expected), "same") << c.script;
        // The private file was 0600 and is gone; a text that was not set is kept.
        const std::string log = readFile(dir.path + "/.log");
        EXPECT_EQ(log.substr(0, tmp.size() + 16), tmp + "/paramlist-edit-") << c.script;
        EXPECT_EQ(log.substr(log.size() - 5), " 600\n") << c.script;
        EXPECT_NE(::access(log.substr(0, log.find(' ')).c_str(), F_OK), 0) << c.script;
        const std::size_t keptAt = outcome.err.find(tmp + "/paramlist-kept-");
        EXPECT_EQ(keptAt != std::string::npos, c.kept) << c.script << outcome.err;
        if (!c.kept) {
            EXPECT_EQ(outcome.err, c.err) << c.script;
        } else {
            const std::string kept = outcome.err.substr(keptAt, tmp.size() + 22);
            EXPECT_NE(readFile(kept).find("Operations[10]: "), std::string::npos) << c.script;
        }
    }
}

TEST(Edit, TextThatDoesNotReadIsKeptOrOpenedAgainOnATerminal)
{
    const ScratchDir dir;
    const std::string file = dir.write("f.par", Image().bytes);
    const std::string script =
        editorScript(dir, R"(if grep -q '^# line' "$1"; then grep '^# line' "$1" >> )" + dir.path +
                              R"(/.log; sed -i '/^Bogus/d; s/^Init.0.: .*/Init[0]: 4/' "$1"; )"
                              R"(else echo 'Bogus[0]: 1' >> "$1"; fi)");
    const std::string command = "TMPDIR=" + dir.path + " EDITOR='sh " + script + "' $P --edit f.par";
    const Outcome kept = run(dir, command);
    EXPECT_EQ(kept.status, 2);
    const std::size_t at = kept.err.find(dir.path + "/paramlist-kept-");
    ASSERT_NE(at, std::string::npos) << kept.err;
    const std::string keptFile = kept.err.substr(at, dir.path.size() + 22);
    EXPECT_EQ(kept.err, "paramlist: " + keptFile +
                            ":305:1: unknown table \"Bogus\" (Init, TerminalCondition, Operations, Names or "
                            "Document)\nparamlist: f.par: the text does not read, so nothing is written; your text "
                            "is kept in " +
                            keptFile + "\n");
    EXPECT_EQ(readFile(file), Image().bytes);
    ::unlink((dir.path + "/.log").c_str());
    OnTerminal onTerminal(dir, {"--edit", "f.par"}, {"TMPDIR=" + dir.path, "EDITOR=sh " + script, "VISUAL="});
    onTerminal.type("y\n");
    const Outcome again = onTerminal.wait();
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readFile(file), Image().init(0, 4).bytes);
    const std::string log = readFile(dir.path + "/.log");
    EXPECT_NE(log.find("\n# line 306, column 1: unknown table \"Bogus\""), std::string::npos) << log;
}

TEST(Edit, TheEditorIsVisualElseEditorAndMayTakeArguments)
{
    const ScratchDir dir;
    dir.write("f.par", Image().bytes);
    const std::string set = editorScript(dir, R"(sed -i "s/^Init.0.: .*/Init[0]: $1/" "$2")");
    const Outcome visual = run(dir, "VISUAL='sh " + set + " 3' EDITOR=false $P --edit f.par");
    EXPECT_EQ(visual.status, 0) << visual.err;
    EXPECT_EQ(readFile(dir.path + "/f.par"), Image().init(0, 3).bytes);
    const Outcome editor = run(dir, "unset VISUAL; EDITOR='sh " + set + " 4' $P --edit f.par");
    EXPECT_EQ(editor.status, 0) << editor.err;
    EXPECT_EQ(readFile(dir.path + "/f.par"), Image().init(0, 4).bytes);
    const Outcome created = run(dir, "EDITOR='sh " + set + " 5' $P --edit --create new.par");
    EXPECT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(readFile(dir.path + "/new.par"), Image().init(0, 5).bytes);
    const struct {
        std::string operand;
        std::string err;
    } refused[] = {
        {"missing.par", "paramlist: missing.par: No such file or directory\n"},
        {".", "paramlist: .: Is a directory\n"},
        {"- <f.par", "paramlist: -: standard input cannot be edited in place\n"},
        // Refused before the editor opens, not once its text is written.
        {"short.par", "paramlist: short.par: not a parameter file (5 bytes, not 3950); --force edits it anyway\n"},
        {"/dev/stdin <f.par",
         "paramlist: /dev/stdin: names an open descriptor, which cannot be edited in place; name the file\n"},
        {"/proc/self/fd/5 5<f.par",
         "paramlist: /proc/self/fd/5: names an open descriptor, which cannot be edited in place; name the file\n"},
    };
    dir.write("short.par", "short");
    for (const auto& r : refused) {
        const Outcome outcome = run(dir, "EDITOR='sh " + set + " 6' $P --edit " + r.operand);
        EXPECT_EQ(outcome.status, 1) << r.operand;
        EXPECT_EQ(outcome.err, r.err) << r.operand;
    }
}

TEST(Edit, AnEditThatCannotBeSetWritesNothingAndKeepsOnlyTheChanges)
{
    const ScratchDir dir;
    const std::string original = Image().init(3, 7).bytes;
    const std::string ours = R"(sed -i 's/^Init.3.: .*/Init[3]: 9/; s/^Init.4.: .*/Init[4]: 4/' "$1")";
    const std::string changes = "# Init[3]: 7\nInit[3]: 9\n# Init[4]: 0\nInit[4]: 4\n";
    const struct {
        std::string file;
        std::string options;
        // What another does while the editor is open.
        std::string meanwhile;
        // The file afterwards; "" when there is none.
        std::string bytes;
        std::string reason;
        // The file once the command that the message gives has run, or ""
        // when it gives none.
        std::string applied;
    } cases[] = {
        {"f.par", "", "$P --set Init[3]=8 --set Init[1]=5 f.par", Image().init(3, 8).init(1, 5).bytes,
         "changed meanwhile in the same entries, so nothing is written",
         Image().init(3, 9).init(1, 5).init(4, 4).bytes},
        {"it's a.par", "", "$P --set Init[3]=8 \"it's a.par\"", Image().init(3, 8).bytes,
         "changed meanwhile in the same entries, so nothing is written", Image().init(3, 9).init(4, 4).bytes},
        // Another's lock, which the edit gave up waiting for.
        {"f.par", " --wait=0.1", "flock f.par sleep 1 & sleep 0.2", original, "nothing written",
         Image().init(3, 9).init(4, 4).bytes},
        // A file removed meanwhile is not made again, --create or not.
        {"f.par", " --create", "rm f.par", "", "removed while the editor was open, so nothing is written", ""},
        {"f.par", "", "mv f.par g.par", "", "removed while the editor was open, so nothing is written", ""},
    };
    for (const auto& c : cases) {
        const std::string file = dir.write(c.file, original);
        const std::string tmp = dir.path + "/tmp";
        ::mkdir(tmp.c_str(), 0700);
        const std::string editor = editorScript(dir, c.meanwhile + " && " + ours);
        const Outcome outcome = run(dir, "TMPDIR=" + tmp + " EDITOR='sh " + editor + "' VISUAL= $P --edit" + c.options +
                                             " \"" + c.file + "\"");
        EXPECT_EQ(outcome.status, 1) << c.meanwhile;
        EXPECT_EQ(::access(file.c_str(), F_OK) == 0 ? readFile(file) : "", c.bytes) << c.meanwhile;
        const std::size_t at = outcome.err.find(tmp + "/paramlist-kept-");
        ASSERT_NE(at, std::string::npos) << c.meanwhile << outcome.err;
        const std::string kept = outcome.err.substr(at, tmp.size() + 22);
        EXPECT_EQ(readFile(kept), "# The entries you changed in " + c.file +
                                      ", which are not set, each after the value it held when the editor opened.\n" +
                                      changes)
            << c.meanwhile;
        const std::string command =
            "paramlist --apply " + kept + " " + (c.file == "f.par" ? c.file : "'it'\\''s a.par'");
        const std::string last = "paramlist: " + c.file + ": " + c.reason + "; your changes are kept in " + kept +
                                 (c.applied.empty() ? "" : "; to set them on the file as it is now: " + command) + "\n";
        EXPECT_EQ(outcome.err.substr(outcome.err.size() - std::min(last.size(), outcome.err.size())), last)
            << outcome.err;
        if (!c.applied.empty()) {
            const Outcome applied = run(dir, "$P" + command.substr(9));
            EXPECT_EQ(applied.status, 0) << command << applied.err;
            EXPECT_EQ(readFile(file), c.applied) << command;
        }
        std::system(("rm -rf '" + tmp + "' '" + dir.path + "/g.par'").c_str());
        ::unlink(file.c_str());
    }
}
