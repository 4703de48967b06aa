// --edit, run as a user runs it, with an editor that is a script: what the
// editor leaves is set, on top of what another edit changed meanwhile; what
// cannot be set writes nothing and keeps the changes alone; text that does
// not read is kept, or opened again on a terminal when the user asks; a
// signal ends the edit at any moment and leaves no entries behind; the
// editor is VISUAL, else EDITOR, and may take arguments.
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string editorScript(const ScratchDir& dir, const std::string& body)
{
    // Each run logs the private file's path and mode.
    return dir.write("editor.sh", "echo \"$1 $(stat -c %a \"$1\")\" >> " + dir.path + "/.log\n" + body + "\n");
}

} // namespace

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
        const Outcome outcome = run(command({"--edit", "--force", "f.par"})
                                        .in(dir)
                                        .env("TMPDIR", tmp)
                                        .env("EDITOR", "sh " + editorScript(dir, c.script))
                                        .env("VISUAL", ""));
        EXPECT_EQ(outcome.status, c.status) << c.script;
        EXPECT_EQ(outcome.out, c.out) << c.script;
        std::string expected = original;
        for (const auto& [offset, bytes] : c.changed) {
            expected.replace(offset, bytes.size(), bytes);
        }
        EXPECT_TRUE(holds(file, expected)) << c.script;
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
    const std::string editor =
        editorScript(dir, R"(if grep -q '^# line' "$1"; then grep '^# line' "$1" >> )" + dir.path +
                              R"(/.log; sed -i '/^Bogus/d; s/^Init.0.: .*/Init[0]: 4/' "$1"; )"
                              R"(else echo 'Bogus[0]: 1' >> "$1"; fi)");
    const Launch edit = command({"--edit", "f.par"}).in(dir).env("TMPDIR", dir.path).env("EDITOR", "sh " + editor);
    const Outcome kept = run(edit);
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
    Running onTerminal(Launch(edit).onTerminal(Terminal::Keyboard));
    onTerminal.type("y\n");
    const Outcome again = onTerminal.finish();
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
    const Launch edit = command({"--edit", "f.par"}).in(dir);
    const Outcome visual = run(Launch(edit).env("VISUAL", "sh " + set + " 3").env("EDITOR", "false"));
    EXPECT_EQ(visual.status, 0) << visual.err;
    EXPECT_EQ(readFile(dir.path + "/f.par"), Image().init(0, 3).bytes);
    const Outcome editor = run(Launch(edit).unset("VISUAL").env("EDITOR", "sh " + set + " 4"));
    EXPECT_EQ(editor.status, 0) << editor.err;
    EXPECT_EQ(readFile(dir.path + "/f.par"), Image().init(0, 4).bytes);
    const Outcome created = run(command({"--edit", "--create", "new.par"}).in(dir).env("EDITOR", "sh " + set + " 5"));
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
        const Outcome outcome = run(script("$P --edit " + r.operand).in(dir).env("EDITOR", "sh " + set + " 6"));
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
        std::vector<std::string> options;
        // What another does while the editor is open.
        std::string meanwhile;
        // The file afterwards; "" when there is none.
        std::string bytes;
        std::string reason;
        // The file once the command that the message gives has run, or ""
        // when it gives none.
        std::string applied;
    } cases[] = {
        {"f.par",
         {},
         "$P --set Init[3]=8 --set Init[1]=5 f.par",
         Image().init(3, 8).init(1, 5).bytes,
         "changed meanwhile in the same entries, so nothing is written",
         Image().init(3, 9).init(1, 5).init(4, 4).bytes},
        {"it's a.par",
         {},
         "$P --set Init[3]=8 \"it's a.par\"",
         Image().init(3, 8).bytes,
         "changed meanwhile in the same entries, so nothing is written",
         Image().init(3, 9).init(4, 4).bytes},
        // Another's lock, which the edit gave up waiting for.
        {"f.par",
         {"--wait=0.1"},
         "flock f.par sleep 1 & sleep 0.2",
         original,
         "nothing written",
         Image().init(3, 9).init(4, 4).bytes},
        // A file removed meanwhile is not made again, --create or not.
        {"f.par", {"--create"}, "rm f.par", "", "removed while the editor was open, so nothing is written", ""},
        {"f.par", {}, "mv f.par g.par", "", "removed while the editor was open, so nothing is written", ""},
    };
    for (const auto& c : cases) {
        const std::string file = dir.write(c.file, original);
        const std::string tmp = dir.path + "/tmp";
        ::mkdir(tmp.c_str(), 0700);
        std::vector<std::string> words{"--edit"};
        words.insert(words.end(), c.options.begin(), c.options.end());
        words.push_back(c.file);
        const Outcome outcome = run(command(words)
                                        .in(dir)
                                        .env("TMPDIR", tmp)
                                        .env("VISUAL", "")
                                        .env("EDITOR", "sh " + editorScript(dir, c.meanwhile + " && " + ours)));
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
            const Outcome applied = run(script("$P" + command.substr(9)).in(dir));
            EXPECT_EQ(applied.status, 0) << command << applied.err;
            EXPECT_EQ(readFile(file), c.applied) << command;
        }
        std::system(("rm -rf '" + tmp + "' '" + dir.path + "/g.par'").c_str());
        ::unlink(file.c_str());
    }
}

namespace {

// A file for --edit on a terminal, the editor a script run with $n the number
// of its opening, and a private directory whose files the test can see.
struct TerminalEdit {
    ScratchDir dir;
    std::string file = dir.write("f.par", Image().init(3, 7).bytes);
    std::string tmp = dir.path + "/tmp";
    // The editor of the report, which writes what does not read each time.
    std::string bad = R"(sed -i 's/^Init.3.:.*/Init[3]:-1/' "$1")";

    Launch edit(const std::string& body) const
    {
        ::mkdir(tmp.c_str(), 0700);
        const std::string editor =
            dir.write("editor.sh", "n=$(($(cat " + dir.path + "/openings 2>/dev/null || echo 0) + 1)); echo $n > " +
                                       dir.path + "/openings\n" + (body == "BAD" ? bad : body) + "\n");
        return command({"--edit", "f.par"})
            .in(dir)
            .onTerminal(Terminal::Keyboard)
            .env("TMPDIR", tmp)
            .env("VISUAL", "sh " + editor);
    }
    int openings() const { return std::atoi(readFile(dir.path + "/openings").c_str()); }
    // Whether anything but kept text is left in the directory: the private
    // file, or what the editor keeps beside it, which hold the entries.
    bool entriesLeft() const { return std::system(("ls -A " + tmp + " | grep -qv '^paramlist-kept-'").c_str()) == 0; }
    std::string keptText(const std::string& err) const
    {
        const std::size_t at = err.find(tmp + "/paramlist-kept-");
        return at == std::string::npos ? "" : readFile(err.substr(at, tmp.size() + 22));
    }
};

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

bool stillRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0 && readFile("/proc/" + std::to_string(pid) + "/stat").find(") Z ") == std::string::npos;
}

} // namespace

TEST(Edit, TheTextIsOpenedAgainOnlyWhenTheUserAsks)
{
    const std::string prompt = "Do you want to retry the same edit? (y/n) ";
    const std::string fixed = R"(sed -i '/^Bogus/d; s/^Init.3.: .*/Init[3]: 9/' "$1")";
    const std::string broken = R"(echo 'Bogus[0]: 1' >> "$1")";
    const std::string brokenThenFixed = "if [ $n = 1 ]; then " + broken + "; else " + fixed + "; fi";
    const struct {
        std::string script;
        std::string keys;
        int status;
        unsigned int value;
        int openings;
        std::size_t prompts;
        bool kept;
    } cases[] = {
        {"BAD", "n\n", 2, 7, 1, 1, true},
        {"BAD", "\x04", 2, 7, 1, 1, true},
        // Opened again, and left as it was: a cancel.
        {"BAD", "y\n", 1, 7, 2, 1, true},
        {brokenThenFixed, "y\n", 0, 9, 2, 1, false},
        {brokenThenFixed, "maybe\nY\n", 0, 9, 2, 2, false},
        {broken, "yes\nn\n", 2, 7, 2, 2, true},
    };
    for (const auto& c : cases) {
        TerminalEdit edit;
        const std::string what = c.script + " " + c.keys;
        Running running(edit.edit(c.script));
        running.type(c.keys);
        const Outcome outcome = running.finish();
        EXPECT_EQ(outcome.status, c.status) << what << outcome.err;
        EXPECT_EQ(readFile(edit.file), Image().init(3, c.value).bytes) << what;
        EXPECT_EQ(edit.openings(), c.openings) << what;
        EXPECT_EQ(occurrences(outcome.err, prompt), c.prompts) << what << outcome.err;
        EXPECT_EQ(edit.keptText(outcome.err).empty(), !c.kept) << what << outcome.err;
        EXPECT_FALSE(edit.entriesLeft()) << what;
    }
}

TEST(Edit, ASignalEndsTheEditAtAnyMomentAndLeavesNoEntries)
{
    // The editor waits, as a person does, and keeps a file beside the text,
    // as vi keeps its swap file.
    const std::string waits = R"(echo x > "${1%/*}/.swp"; echo $$ > editor.pid; exec sleep 30)";
    const std::string trapsInterrupts = "trap '' INT; echo $$ > editor.pid; while [ ! -e go ]; do sleep 0.02; done; "
                                        R"(sed -i 's/^Init.3.: .*/Init[3]: 9/' "$1")";
    const struct {
        std::string script;
        // Sent once the editor runs, or once the question is asked.
        bool inPrompt;
        int signal;
        // Typed instead of a signal sent.
        std::string keys;
        int status;
        unsigned int value;
        std::string err;
    } cases[] = {
        {waits, false, SIGTERM, "", 128 + SIGTERM, 7, "stopped by signal 15 (Terminated); nothing written"},
        {waits, false, SIGHUP, "", 128 + SIGHUP, 7, "stopped by signal 1 (Hangup); nothing written"},
        {waits, false, SIGINT, "", 128 + SIGINT, 7, "stopped by signal 2 (Interrupt); nothing written"},
        {"BAD", true, SIGTERM, "", 128 + SIGTERM, 7, "stopped by signal 15 (Terminated); nothing written"},
        {"BAD", true, SIGHUP, "", 128 + SIGHUP, 7, "stopped by signal 1 (Hangup); nothing written"},
        {"BAD", true, 0, "\x03", 128 + SIGINT, 7, "stopped by signal 2 (Interrupt); nothing written"},
        // Nothing can catch it; at the question the entries are nowhere on disk already.
        {"BAD", true, SIGKILL, "", 128 + SIGKILL, 7, ""},
        // The interrupt key while the editor runs is the editor's, as in git.
        {waits, false, 0, "\x03", 1, 7, "the editor was ended by signal 2 (Interrupt); nothing written"},
        {trapsInterrupts, false, 0, "\x03", 0, 9, ""},
    };
    for (const auto& c : cases) {
        TerminalEdit edit;
        const std::string what = c.script + " " + std::to_string(c.signal) + c.keys;
        Running running(edit.edit(c.script));
        const std::string editorPid = edit.dir.path + "/editor.pid";
        ASSERT_TRUE(eventually([&] {
            return c.inPrompt ? running.errors().find("retry") != std::string::npos : !readFile(editorPid).empty();
        })) << what;
        if (c.inPrompt) {
            EXPECT_FALSE(edit.entriesLeft()) << what;
        }
        if (c.signal != 0) {
            ::kill(running.process(), c.signal);
        } else {
            running.type(c.keys);
        }
        if (c.script == trapsInterrupts) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            edit.dir.write("go", "");
        }
        const Outcome outcome = running.finish();
        EXPECT_EQ(outcome.status, c.status) << what << outcome.err;
        EXPECT_EQ(readFile(edit.file), Image().init(3, c.value).bytes) << what;
        EXPECT_FALSE(edit.entriesLeft()) << what;
        EXPECT_NE(outcome.err.find(c.err), std::string::npos) << what << outcome.err;
        if (!c.inPrompt) {
            const pid_t editor = std::atoi(readFile(editorPid).c_str());
            EXPECT_TRUE(eventually([&] { return !stillRunning(editor); })) << what;
        }
    }
}

TEST(Edit, ADescribedEntryIsShownWithItsSchemaAndAValueOutsideItDoesNotRead)
{
    const ScratchDir dir;
    dir.write("paramlist.toml", "[[entry]]\nat = \"Init[3]\"\nname = \"mode\"\nvalues = { 0 = \"off\", 1 = \"auto\" }\n"
                                "nonzero = true\n[[entry]]\nat = \"Operations[10]\"\nunit = \"mm/min\"\nmin = 0\n"
                                "max = 8000\ndescription = \"\"\"\nFeed of the main axis\n\nwhile cutting.\"\"\"\n");
    // Init[3] is outside its values already, which an edit of another entry leaves.
    const std::string described = "# mode\n# limits: nonzero\n# values: 0 = off, 1 = auto\nInit[3]: 5\n";
    const std::string editor =
        editorScript(dir, "cp \"$1\" shown; sed -i 's/^Operations.10.: .*/Operations[10]: 9000/' \"$1\"");
    const struct {
        const char* options;
        // What the editor is shown in part, what is said, and the feed afterwards.
        std::string shown;
        std::string said;
        double feed;
    } cases[] = {
        {"",
         "# [mm/min]\n# limits: min 0, max 8000\n# Feed of the main axis\n#\n# while cutting.\nOperations[10]: 850\n",
         ":123:17: Operations[10] 9000 mm/min is above its maximum 8000 (paramlist.toml:6); --force sets it anyway\n",
         850},
        {"--force ", described, "", 9000},
    };
    for (const auto& c : cases) {
        dir.write("f.par", Image().init(3, 5).operation(10, 850).bytes);
        const Outcome outcome = run(script(std::string("$P --edit ") + c.options + "f.par")
                                        .in(dir)
                                        .env("TMPDIR", dir.path)
                                        .unset("VISUAL")
                                        .env("EDITOR", "sh " + editor));
        EXPECT_EQ(outcome.status, c.said.empty() ? 0 : 2) << c.options;
        EXPECT_NE(readFile(dir.path + "/shown").find(c.shown), std::string::npos) << c.options;
        EXPECT_EQ(c.said.empty() ? outcome.err : outcome.err.substr(outcome.err.find(':', 12), c.said.size()), c.said);
        EXPECT_TRUE(holds(dir.path + "/f.par", Image().init(3, 5).operation(10, c.feed).bytes)) << c.options;
    }
}
