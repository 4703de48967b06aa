// --edit, run as a user runs it, with an editor that is a script: what the
// editor leaves is set, on top of what another edit changed meanwhile; text
// that does not read is kept, or opened again on a terminal; the editor is
// VISUAL, else EDITOR, and may take arguments.
#include "support.h"

#include <gtest/gtest.h>

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
    const Outcome again = run(Launch(edit).onTerminal(Terminal::Input));
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
    };
    dir.write("short.par", "short");
    for (const auto& r : refused) {
        const Outcome outcome = run(script("$P --edit " + r.operand).in(dir).env("EDITOR", "sh " + set + " 6"));
        EXPECT_EQ(outcome.status, 1) << r.operand;
        EXPECT_EQ(outcome.err, r.err) << r.operand;
    }
}
