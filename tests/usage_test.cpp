// What --help, the manual and the completions make of an option table: small
// tables of their own, so that each case shows one rule of the layout.
#include "generate.h"
#include "usage.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr ModeRun runs{nullptr, 1, -1, 1};

const Option mode = Option("m").chooses(Request::Set, runs, "FILE...").says("the mode");

Rows rowsOf(const std::vector<Option>& table)
{
    return {table.data(), table.data() + table.size()};
}

// The synopsis of the table's first row, a mode.
std::string synopsisOf(const std::vector<Option>& table)
{
    for (const Synopsis& line : synopses(rowsOf(table))) {
        if (line.summary == table.front().summary) {
            return plainText(line.pieces);
        }
    }
    return "no synopsis";
}

} // namespace

TEST(Usage, ModeSynopsisListsEveryOptionThatGoesWithIt)
{
    const Option withMode = Option("a").goesWith(Request::Set).says("a");
    const struct {
        const char* rule;
        std::vector<Option> table;
        std::string synopsis;
    } cases[] = {
        {"the mode and its operands", {mode}, "paramlist --m FILE..."},
        {"an option of the mode", {mode, withMode}, "paramlist --m [--a] FILE..."},
        {"an option of another mode is left out",
         {mode, withMode, Option("x").goesWith(Request::Diff).says("x")},
         "paramlist --m [--a] FILE..."},
        {"an unlisted option is left out",
         {mode, withMode, Option("x").goesWith(Request::Set).unlisted().says("x")},
         "paramlist --m [--a] FILE..."},
        {"arguments: a short form takes a blank, a long one =",
         {mode, Option("out", 'o').takes("OUT", Completes::ParFile, nullptr).goesWith(Request::Set).says("o"),
          Option("wait").takes("SECONDS", Completes::Seconds, nullptr).goesWith(Request::Set).says("w")},
         "paramlist --m [-o OUT] [--wait=SECONDS] FILE..."},
        {"an option that needs another sits within its brackets",
         {mode, withMode, Option("b").goesWith(Request::Set).needs("a").says("b")},
         "paramlist --m [--a [--b]] FILE..."},
        {"a need in other modes only does not nest",
         {mode, withMode, Option("b").goesWith(Request::Set).needs("a", Request::Diff).says("b")},
         "paramlist --m [--a] [--b] FILE..."},
        {"options that exclude each other are alternatives",
         {mode, withMode, Option("b").goesWith(Request::Set).notWith("a").says("b")},
         "paramlist --m [--a | --b] FILE..."},
        {"the options that pick a side are alternatives",
         {mode, Option("ours").picks(Request::Ours).goesWith(Request::Set).says("o"),
          Option("theirs").picks(Request::Theirs).goesWith(Request::Set).says("t")},
         "paramlist --m [--ours | --theirs] FILE..."},
        {"an option the mode cannot do without is not optional",
         {Option("m").takes("IN", Completes::JsonInput, nullptr).chooses(Request::FromJson, runs, "").says("m"),
          Option("out", 'o')
              .takes("OUT", Completes::ParFile, nullptr)
              .goesWith(Request::FromJson)
              .requiredBy(Request::FromJson)
              .says("o"),
          Option("f").goesWith(Request::FromJson).says("f")},
         "paramlist --m IN -o OUT [--f]"},
        {"a mode given many times shows it",
         {Option("s").takesEach("E=V", Completes::EntryName, nullptr).chooses(Request::Set, runs, "FILE...").says("s")},
         "paramlist --s E=V [--s E=V]... FILE..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        EXPECT_EQ(synopsisOf(c.table), c.synopsis);
    }
}

TEST(Usage, HelpLinesFitEightyColumns)
{
    static const std::string many(60, 'w');
    static const std::string longName = "a" + many;
    std::string words;
    for (int i = 0; i < 20; ++i) {
        words += i == 0 ? "word" : " word";
    }
    const struct {
        const char* rule;
        std::vector<Option> table;
        std::string lines; // consecutive lines of --help
    } cases[] = {
        {"a short synopsis has its summary beside it", {mode}, "  paramlist --m FILE...        the mode\n"},
        {"a long one has it on the next line",
         {Option("mode-with-a-long-name").chooses(Request::Set, runs, "FILE...").says("the mode")},
         "  paramlist --mode-with-a-long-name FILE...\n                               the mode\n"},
        {"a synopsis too wide for one line goes on, indented, between brackets",
         {mode, Option(longName.c_str()).goesWith(Request::Set).says("a")},
         "  paramlist --m\n            [--a" + many +
             "]\n            FILE...\n                               the mode\n"},
        {"an option's line, short form first, summary at a column of its own",
         {mode, Option("out", 'o').takes("OUT", Completes::ParFile, nullptr).goesWith(Request::Set).says("o")},
         "  -o, --out=OUT        o\n"},
        {"a summary too long for one line goes on at its column",
         {mode, Option("a").goesWith(Request::Set).says(words.c_str())},
         "      --a              " + words.substr(0, 54) + "\n" + std::string(23, ' ') + "word"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const std::string text = usageText(rowsOf(c.table));
        EXPECT_NE(text.find(c.lines), std::string::npos) << text;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), 79U) << line;
        }
    }
}

TEST(Usage, ManualSetsTypedWordsBoldAndNamesItalic)
{
    const struct {
        Pieces pieces;
        std::string roff;
    } cases[] = {
        {{{Piece::Typed, "--dry-run"}}, "\\fB\\-\\-dry\\-run\\fR"},
        {{{Piece::Named, "FILE"}, {Piece::Mark, "..."}}, "\\fIFILE\\fR..."},
        {{{Piece::Mark, " [-"}, {Piece::Mark, "\\]"}}, " [\\-\\e]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(roffText(c.pieces), c.roff);
    }
}

// Each shell offers an option while it goes with every option given: what the
// generated text says of the rows of a small table.
TEST(Usage, CompletionsCarryEachOptionsModes)
{
    const std::vector<Option> table = {
        mode,
        Option("a", 'a').takes("F", Completes::AnyFile, nullptr).goesWith(Request::Set).says("a: file"),
        Option("d").chooses(Request::Diff, runs, "FILE...").says("diff"),
        Option("h").answers(nullptr).says("help"),
        Option("secret").unlisted().says("secret"),
    };
    const std::string set = std::to_string(modeBit(Request::Set));
    const std::string diff = std::to_string(modeBit(Request::Diff));
    const struct {
        const char* format;
        std::string line;
    } cases[] = {
        {"bash", "    -a | --a) modes=" + set + " long=--a again=no argument=file ;;\n"},
        {"bash", "for word in --m -a --a --d --h; do"},
        {"zsh", "  '(-a --a --d --h)'{-a+,--a=}'[a\\: file]:F:_files' \\\n"},
        {"zsh", "  '(- *)--h[help]' \\\n"},
        {"fish", "complete -c paramlist -l d -n '__paramlist_offers " + diff + " --d' -d 'diff'\n"},
        {"fish", "complete -c paramlist -s a -l a -n '__paramlist_offers " + set + " --a' -r -F -d 'a: file'\n"},
        {"man", ".TP\n\\fB\\-a\\fR, \\fB\\-\\-a\\fR=\\fIF\\fR\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string text = generatedText(rowsOf(table), c.format);
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        EXPECT_EQ(text.find("secret"), std::string::npos);
    }
    EXPECT_EQ(generatedText(rowsOf(table), "troff"), "");
}
