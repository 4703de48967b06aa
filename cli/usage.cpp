// --help and the manual's synopsis, made from the option table: a mode's
// synopsis lists every option that goes with it, an option that needs another
// within the other's brackets, and options that exclude each other as
// alternatives.
#include "usage.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

const char usageStart[] = R"(Usage: paramlist [OPTION]... FILE...
Show what a parameter file (the 3950-byte image of one parameter set) holds.

)";

const char usageEnd[] = R"(
ENTRY is Table[INDEX], as in Operations[10]; VALUE is written as --json
writes it. A FILE, INPUT or F of - is standard input. Options come before the
first FILE; -- ends them. Exit status: 0 on success; 1 when a file cannot be
read or written, for --edit when it is cancelled or meets a conflict, and for
--diff, --check, --merge and --dry-run when the files differ, a finding was
printed, a conflict is left or something would change; 2 for a usage error or
a --files0-from list that cannot be opened, for input that --apply or --edit
cannot read, and for --diff, --check, --merge and --dry-run when a file cannot
be read.
See paramlist(1).
)";

const char listingSummary[] = "list the non-zero entries, set flags and names";

constexpr std::size_t width = 79;
constexpr std::size_t synopsisIndent = 12;
constexpr std::size_t summaryColumn = 31;
constexpr std::size_t optionColumn = 23;

void mark(Pieces& pieces, const char* text)
{
    pieces.push_back({Piece::Mark, text});
}

// Names are the runs of capitals, such as FILE in [FILE]...; the rest marks.
void addNamed(Pieces& pieces, const std::string& text)
{
    for (std::size_t at = 0, end; at < text.size(); at = end) {
        const bool named = std::isupper(static_cast<unsigned char>(text[at])) != 0;
        for (end = at; end < text.size() && (std::isupper(static_cast<unsigned char>(text[end])) != 0) == named;) {
            ++end;
        }
        pieces.push_back({named ? Piece::Named : Piece::Mark, text.substr(at, end - at)});
    }
}

// The option as it is typed in a synopsis: -o OUTPUT, --set ENTRY=VALUE, --wait=SECONDS.
void addForm(Pieces& pieces, const Option& row)
{
    pieces.push_back({Piece::Typed, shown(row)});
    if (row.argument != nullptr) {
        mark(pieces, row.letter != '\0' || choosesMode(row) ? " " : "=");
        addNamed(pieces, row.argument);
    }
}

const Option* rowNamed(Rows rows, const char* name)
{
    for (const Option& row : rows) {
        if (name != nullptr && std::strcmp(row.name, name) == 0) {
            return &row;
        }
    }
    return nullptr;
}

// What the synopsis of mode lists among its optional options.
struct ModeOptions {
    Rows rows;
    const Option& mode;

    bool listed(const Option& row) const
    {
        const unsigned bit = modeBit(mode.mode);
        return !row.hidden && &row != &mode && (row.companions & bit) != 0 && (row.requiredIn & bit) == 0;
    }
    // The option that row goes within, when it is listed too.
    const Option* within(const Option& row) const
    {
        const Option* partner = rowNamed(rows, row.partner);
        const bool here = row.partnerModes == 0 || (row.partnerModes & modeBit(mode.mode)) != 0;
        return partner != nullptr && here && listed(*partner) ? partner : nullptr;
    }
    static bool alternatives(const Option& one, const Option& other)
    {
        return (one.rival != nullptr && std::strcmp(one.rival, other.name) == 0) ||
               (other.rival != nullptr && std::strcmp(other.rival, one.name) == 0) ||
               (one.side != Request::Neither && other.side != Request::Neither);
    }
    void addWithin(Pieces& pieces, const Option& row) const
    {
        addForm(pieces, row);
        for (const Option& inner : rows) {
            if (listed(inner) && within(inner) == &row) {
                mark(pieces, " [");
                addWithin(pieces, inner);
                mark(pieces, "]");
            }
        }
    }
    // Each option once, in table order, with its alternatives after it.
    void add(Pieces& pieces) const
    {
        std::vector<const Option*> placed;
        const auto isPlaced = [&](const Option& row) {
            return std::find(placed.begin(), placed.end(), &row) != placed.end();
        };
        for (const Option& row : rows) {
            if (!listed(row) || within(row) != nullptr || isPlaced(row)) {
                continue;
            }
            mark(pieces, " [");
            for (const Option& other : rows) {
                if (&other == &row || (&other > &row && listed(other) && within(other) == nullptr && !isPlaced(other) &&
                                       alternatives(row, other))) {
                    if (&other != &row) {
                        mark(pieces, " | ");
                    }
                    addWithin(pieces, other);
                    placed.push_back(&other);
                }
            }
            mark(pieces, "]");
        }
    }
};

Pieces modeSynopsis(Rows rows, const Option& mode)
{
    Pieces pieces{{Piece::Typed, "paramlist"}, {Piece::Mark, " "}};
    addForm(pieces, mode);
    if (mode.repeats) {
        mark(pieces, " [");
        addForm(pieces, mode);
        mark(pieces, "]...");
    }
    for (const Option& row : rows) {
        if ((row.requiredIn & modeBit(mode.mode)) != 0) {
            mark(pieces, " ");
            addForm(pieces, row);
        }
    }
    ModeOptions{rows, mode}.add(pieces);
    if (*mode.operands != '\0') {
        mark(pieces, " ");
        addNamed(pieces, mode.operands);
    }
    return pieces;
}

// The words of text that a line may break between: those outside brackets.
std::vector<std::string> units(const std::string& text)
{
    std::vector<std::string> found(1);
    int depth = 0;
    for (const char c : text) {
        depth += c == '[' ? 1 : c == ']' ? -1 : 0;
        if (c == ' ' && depth == 0) {
            found.emplace_back();
        } else {
            found.back() += c;
        }
    }
    return found;
}

std::vector<std::string> words(const char* text)
{
    std::vector<std::string> found(1);
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == ' ') {
            found.emplace_back();
        } else {
            found.back() += *c;
        }
    }
    return found;
}

std::size_t column(const std::string& text)
{
    const std::size_t newline = text.rfind('\n');
    return newline == std::string::npos ? text.size() : text.size() - newline - 1;
}

// Appends the words to text, a blank before each, breaking a line that
// would pass the width and starting the next at indent; then a newline.
void fill(std::string& text, const std::vector<std::string>& all, std::size_t indent)
{
    bool first = true;
    for (const std::string& word : all) {
        if (!first && column(text) + 1 + word.size() > width) {
            text += '\n' + std::string(indent, ' ');
        } else if (!first) {
            text += ' ';
        }
        text += word;
        first = false;
    }
    text += '\n';
}

// Moves text on to column at, onto a new line if it is already past it.
void moveTo(std::string& text, std::size_t at)
{
    if (column(text) + 2 > at && column(text) > 0) {
        text += '\n';
    }
    text += std::string(at - column(text), ' ');
}

} // namespace

std::vector<Synopsis> synopses(Rows rows)
{
    std::vector<Synopsis> all{
        {{{Piece::Typed, "paramlist"}, {Piece::Mark, " "}, {Piece::Named, "FILE"}}, listingSummary}};
    for (const Option& row : rows) {
        if (choosesMode(row) && !row.hidden) {
            all.push_back({modeSynopsis(rows, row), row.summary});
        }
    }
    return all;
}

Pieces answersSynopsis(Rows rows)
{
    Pieces pieces{{Piece::Typed, "paramlist"}, {Piece::Mark, " ["}};
    for (const Option& row : rows) {
        if (row.answer != nullptr && !row.hidden) {
            if (pieces.size() > 2) {
                mark(pieces, " | ");
            }
            if (row.letter != '\0') {
                pieces.push_back({Piece::Typed, shown(row)});
                mark(pieces, " | ");
            }
            pieces.push_back({Piece::Typed, "--" + std::string(row.name)});
        }
    }
    mark(pieces, "]");
    return pieces;
}

Pieces tagOf(Rows rows, const Option& row)
{
    Pieces pieces;
    if (choosesMode(row)) {
        addForm(pieces, row);
        for (const Option& needed : rows) {
            if ((needed.requiredIn & modeBit(row.mode)) != 0) {
                mark(pieces, " ");
                addForm(pieces, needed);
            }
        }
        if (*row.operands != '\0') {
            mark(pieces, " ");
            addNamed(pieces, row.operands);
        }
        return pieces;
    }
    if (row.letter != '\0') {
        pieces.push_back({Piece::Typed, shown(row)});
        mark(pieces, ", ");
    }
    pieces.push_back({Piece::Typed, "--" + std::string(row.name)});
    if (row.argument != nullptr) {
        mark(pieces, "=");
        addNamed(pieces, row.argument);
    }
    return pieces;
}

std::string plainText(const Pieces& pieces)
{
    std::string text;
    for (const Piece& piece : pieces) {
        text += piece.text;
    }
    return text;
}

std::string roffText(const Pieces& pieces)
{
    std::string text;
    for (const Piece& piece : pieces) {
        text += piece.kind == Piece::Typed ? "\\fB" : piece.kind == Piece::Named ? "\\fI" : "";
        for (const char c : piece.text) {
            text += c == '-' ? "\\-" : c == '\\' ? "\\e" : std::string(1, c);
        }
        text += piece.kind == Piece::Mark ? "" : "\\fR";
    }
    return text;
}

std::string usageText(Rows rows)
{
    std::string text = usageStart;
    for (const Synopsis& line : synopses(rows)) {
        const std::size_t start = text.size();
        text += "  ";
        fill(text, units(plainText(line.pieces)), synopsisIndent);
        // A synopsis of several lines has its summary on a line of its own.
        if (text.find('\n', start) + 1 == text.size()) {
            text.pop_back();
        }
        moveTo(text, summaryColumn);
        fill(text, words(line.summary), summaryColumn);
    }
    text += '\n';
    for (const Option& row : rows) {
        if (!choosesMode(row) && !row.hidden) {
            text += row.letter != '\0' ? "  " + shown(row) + ", " : std::string(6, ' ');
            text += "--" + std::string(row.name) + (row.argument != nullptr ? "=" + std::string(row.argument) : "");
            moveTo(text, optionColumn);
            fill(text, words(row.summary), optionColumn);
        }
    }
    return text + usageEnd;
}
