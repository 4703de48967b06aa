// The editor of --edit: which editor and directory are used, the private file
// made and removed, the editor run through the shell, the text opened again
// with its problems, and signals that wait for the clean-up.
#include "editor.h"
#include "support.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Editor, TheUsersEditorIsVisualThenEditorThenVi)
{
    const struct {
        const char* visual;
        const char* editor;
        const char* command;
    } cases[] = {
        {"code --wait", "nano", "code --wait"},
        {nullptr, "nano", "nano"},
        {"", "nano", "nano"},
        {nullptr, nullptr, "vi"},
        {"", "", "vi"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(editorCommand(c.visual, c.editor), c.command);
    }
    EXPECT_STREQ(temporaryDirectory("/var/tmp"), "/var/tmp");
    EXPECT_STREQ(temporaryDirectory(""), "/tmp");
    EXPECT_STREQ(temporaryDirectory(nullptr), "/tmp");
}

TEST(Editor, APrivateFileIsNewOnlyTheUsersAndGoneAfterwardsUnlessKept)
{
    const ScratchDir dir;
    const mode_t mask = ::umask(0);
    std::string removed;
    std::string kept;
    {
        const PrivateFile first(dir.path.c_str(), "paramlist-edit");
        PrivateFile second(dir.path.c_str(), "paramlist-edit");
        ASSERT_TRUE(first.ok());
        ASSERT_TRUE(second.ok());
        EXPECT_NE(first.path(), second.path());
        struct stat status {
        };
        ASSERT_EQ(::stat(first.path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
        ASSERT_TRUE(first.write("Init[0]: 1\n"));
        std::string text;
        ASSERT_TRUE(first.read(text));
        EXPECT_EQ(text, "Init[0]: 1\n");
        removed = first.path();
        second.keep();
        kept = second.path();
    }
    ::umask(mask);
    EXPECT_NE(::access(removed.c_str(), F_OK), 0);
    EXPECT_EQ(::access(kept.c_str(), F_OK), 0);
    EXPECT_FALSE(PrivateFile((dir.path + "/missing").c_str(), "p").ok());
}

TEST(Editor, TheEditorRunsThroughTheShellOnThePathAsOneWord)
{
    const ScratchDir dir;
    const std::string file = dir.write("it's a \"file\" $HOME", "old\n");
    const struct {
        std::string command;
        const char* status;
        const char* text;
    } cases[] = {
        {"true", "", "old\n"},
        {"printf 'new\\n' >", "", "new\n"},
        // An editor with arguments, as "code --wait" is.
        {"sed -i s/old/new/", "", "new\n"},
        {"LC_ALL=C sed -i s/old/new/", "", "new\n"},
        {"exec sed -i s/old/new/", "", "new\n"},
        {"false", "the editor exited with status 1", "old\n"},
        {"no-such-editor-here 2>/dev/null", "the editor exited with status 127", "old\n"},
        {"kill -TERM $$; true", "the editor was ended by signal 15 (Terminated)", "old\n"},
    };
    for (const auto& c : cases) {
        dir.write("it's a \"file\" $HOME", "old\n");
        const WatchedSignals signals;
        const EditorRun run = runEditor(c.command, file, signals);
        EXPECT_EQ(run.signal, 0) << c.command;
        EXPECT_EQ(editorFailure(run.status), c.status) << c.command;
        EXPECT_EQ(readFile(file), c.text) << c.command;
    }
}

TEST(Editor, TextOpenedAgainNamesItsProblemsByTheirNewLines)
{
    const std::string header = "# one\n# two\n";
    const struct {
        std::string text;
        std::vector<TextProblem> problems;
        std::string reopened;
    } cases[] = {
        {"# one\n# two\nInit[0]: x\n", {{3, 10, "bad"}}, "# one\n# two\n# line 4, column 10: bad\nInit[0]: x\n"},
        // Earlier problem lines are replaced, and the user's text is kept.
        {"# one\n# two\n# line 9, column 1: old\n\nInit[0]: x\nInit[1]: y\n",
         {{5, 10, "bad x"}, {6, 10, "bad\ny"}},
         "# one\n# two\n# line 6, column 10: bad x\n# line 7, column 10: bad y\n\nInit[0]: x\nInit[1]: y\n"},
        {"Init[0]: x", {{1, 10, "bad"}}, "# one\n# two\n# line 4, column 10: bad\nInit[0]: x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reopenedText(header, c.text, c.problems), c.reopened);
    }
}

TEST(Editor, AHangupOrTerminationWaitsForTheCleanUp)
{
    const ScratchDir dir;
    for (const int signal : {SIGHUP, SIGTERM}) {
        const std::string marker = dir.path + "/cleaned";
        ::unlink(marker.c_str());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            {
                const WatchedSignals held;
                ::kill(::getpid(), signal);
                const PrivateFile cleanedUp(dir.path.c_str(), "cleaned");
                ::rename(cleanedUp.path().c_str(), marker.c_str());
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(::access(marker.c_str(), F_OK), 0);
    }
}

TEST(Editor, AnEditReadsWhatTheEditorLeftOrSaysWhyNot)
{
    const ScratchDir dir;
    const std::string log = dir.path + "/log";
    const std::string header = "# one\n# two\n# three\n";
    const struct {
        std::string script;
        bool terminal;
        EditedText::Outcome outcome;
        const char* entries;
        const char* said;
        int openings;
    } cases[] = {
        {R"(sed -i 's/^Init\[0\]: 1/Init[0]: 5/' "$1")", false, EditedText::Read, "Init[0]=5 Init[1]=2", "", 1},
        {"true", false, EditedText::Read, "Init[0]=1 Init[1]=2", "", 1},
        {R"(: > "$1")", false, EditedText::Read, "", "", 1},
        {"exit 1", true, EditedText::Cancelled, "", "the editor exited with status 1", 1},
        {R"(echo 'Bogus[0]: 1' >> "$1")", false, EditedText::Unreadable, "",
         "6:1: unknown table \"Bogus\" (Init, TerminalCondition, Operations, Names or Document)", 1},
        // On a terminal the editor opens again, the problem named at the top.
        {R"(if grep '^# line' "$1" >> ")" + log +
             R"("; then sed -i '/^Bogus/d' "$1"; else echo 'Bogus[0]: 1' >> "$1"; fi)",
         true, EditedText::Read, "Init[0]=1 Init[1]=2",
         "# line 7, column 1: unknown table \"Bogus\" (Init, TerminalCondition, Operations, Names or Document)\n", 2},
    };
    for (const auto& c : cases) {
        ::unlink(log.c_str());
        const std::string editor = dir.write("editor", "echo \"$1 $(stat -c %a \"$1\")\" >> " + log + "\n" + c.script);
        // The user's answer, on a terminal, to whether to open the text again.
        std::array<int, 2> answers{-1, -1};
        ASSERT_EQ(::pipe(answers.data()), 0);
        ASSERT_EQ(::write(answers[1], "y\n", 2), 2);
        EditSession session;
        session.file = "f.par";
        session.header = header;
        session.command = "sh " + editor;
        session.directory = dir.path.c_str();
        session.terminal = c.terminal ? answers[0] : -1;
        const EditedText edited = editText(session, "Init[0]: 1\nInit[1]: 2\n");
        ::close(answers[0]);
        ::close(answers[1]);
        EXPECT_EQ(edited.outcome, c.outcome) << c.script;
        std::string entries;
        for (const Entry entry : edited.outcome == EditedText::Read ? edited.change.entries() : std::vector<Entry>()) {
            entries += entries.empty() ? "" : " ";
            appendEntryName(entries, entry);
            entries += "=" + std::to_string(edited.change.values.getInitParameter(entry.index));
        }
        EXPECT_EQ(entries, c.entries) << c.script;
        std::string said = edited.reason;
        for (const TextProblem& problem : edited.problems) {
            said += std::to_string(problem.line) + ":" + std::to_string(problem.column) + ": " + problem.what;
        }
        // What the editor was shown when it opened again.
        const std::string logged = readFile(log);
        said += logged.substr(std::min(logged.find('#'), logged.size()));
        EXPECT_EQ(said, c.said) << c.script;
        // The private file: mode 0600 each time the editor opened it, gone now.
        int openings = 0;
        for (std::size_t at = logged.find(dir.path + "/paramlist-edit-"); at != std::string::npos;
             at = logged.find(dir.path + "/paramlist-edit-", at + 1)) {
            ++openings;
            const std::size_t space = logged.find(' ', at);
            EXPECT_EQ(logged.substr(space + 1, 4), "600\n");
            EXPECT_NE(::access(logged.substr(at, space - at).c_str(), F_OK), 0);
        }
        EXPECT_EQ(openings, c.openings) << c.script;
    }
}

TEST(Editor, KeptTextIsAPrivateFileThatStays)
{
    const ScratchDir dir;
    const std::string kept = keepText(dir.path.c_str(), "Init[0]: 5\n");
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(readFile(kept), "Init[0]: 5\n");
    struct stat status {
    };
    ASSERT_EQ(::stat(kept.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(keepText((dir.path + "/missing").c_str(), "x"), "");
}
