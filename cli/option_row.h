// A row of the option table in command_line.cpp, built column by column, so
// that the table reads as a list of what each option is and does. The row is
// the one place an option is written: --help, the manual's synopsis and option
// tags, and the shell completions are made from its columns.
#ifndef PARAMLIST_OPTION_ROW_H
#define PARAMLIST_OPTION_ROW_H

#include "request.h"

#include <cstddef>
#include <string>

// How a mode runs: its function, how many operands it takes (most -1: any
// number), and its status when standard output cannot be written.
struct ModeRun {
    int (*run)(const Request&);
    int fewest;
    int most;
    int writeFailedStatus;
};

constexpr unsigned modeBit(Request::Mode mode)
{
    return 1U << mode;
}

template <typename... Modes> constexpr unsigned modeBits(Modes... modes)
{
    unsigned bits = 0;
    ((bits |= modeBit(modes)), ...);
    return bits;
}

using Effect = void (*)(Request&, const char* argument);

// What a shell offers for an option's argument.
enum class Completes { Nothing, AnyFile, ParFile, JsonInput, TomlFile, EntryName, Seconds };

// A row of the option table. Its columns are set by name, so that a row reads
// as what the option is: Option("brief").does(...).goesWith(Request::Diff).
struct Option {
    const char* name;
    char letter = '\0';
    // The argument as --help names it (ENTRY=VALUE), or nullptr for none.
    const char* argument = nullptr;
    Completes completes = Completes::Nothing;
    bool repeats = false;
    Effect effect = nullptr;
    int (*answer)(const char* argument) = nullptr;
    bool hidden = false;
    Request::Mode mode = Request::Listing;
    ModeRun run{};
    const char* operands = "";
    unsigned companions = 0;
    unsigned requiredIn = 0;
    Request::Side side = Request::Neither;
    const char* rival = nullptr;
    const char* partner = nullptr;
    unsigned partnerModes = 0;
    const char* summary = nullptr;

    constexpr explicit Option(const char* longName, char shortLetter = '\0') : name(longName), letter(shortLetter) {}
    // The row with column set to value.
    template <typename Column> constexpr Option with(Column Option::*column, Column value) const
    {
        Option row = *this;
        row.*column = value;
        return row;
    }
    // What the option does to the request.
    constexpr Option does(Effect what) const { return with(&Option::effect, what); }
    // What the option does with its argument, which it requires: named so in
    // --help, and completed as kind says.
    constexpr Option takes(const char* named, Completes kind, Effect what) const
    {
        return does(what).with(&Option::argument, named).with(&Option::completes, kind);
    }
    // The same, for an option that may be given many times.
    constexpr Option takesEach(const char* named, Completes kind, Effect what) const
    {
        return takes(named, kind, what).with(&Option::repeats, true);
    }
    // An option answered at once, such as --help: the run ends with the status
    // that reply returns, whatever else the command line holds.
    constexpr Option answers(int (*reply)(const char*)) const { return with(&Option::answer, reply); }
    // An option for the build rather than the user: left out of --help, the
    // manual and the completions, and read only in full as the first word, so
    // that it takes no abbreviation away from the others.
    constexpr Option unlisted() const { return with(&Option::hidden, true); }
    // The mode the option chooses, how that mode runs, and its operands as
    // --help names them. A second option that chooses another mode is refused
    // as it is read.
    constexpr Option chooses(Request::Mode chosen, const ModeRun& how, const char* named) const
    {
        return with(&Option::mode, chosen).with(&Option::run, how).with(&Option::operands, named);
    }
    // The modes the option goes with, besides any it chooses, checked once
    // all options are read, since the mode may come after them. An option
    // that also chooses a mode, as --json does, chooses it only when no
    // other is chosen.
    template <typename... Modes> constexpr Option goesWith(Modes... modes) const
    {
        return with(&Option::companions, modeBits(modes...));
    }
    // The modes that cannot do without the option.
    template <typename... Modes> constexpr Option requiredBy(Modes... modes) const
    {
        return with(&Option::requiredIn, modeBits(modes...));
    }
    // The side of every conflict that --merge is to take; a second option
    // that picks the other side is refused as it is read.
    constexpr Option picks(Request::Side chosen) const { return with(&Option::side, chosen); }
    // An option that this one cannot be given with, by its name in the table.
    constexpr Option notWith(const char* other) const { return with(&Option::rival, other); }
    // An option without which this one means nothing: in every mode, or in
    // the modes given.
    template <typename... Modes> constexpr Option needs(const char* other, Modes... in) const
    {
        return with(&Option::partner, other).with(&Option::partnerModes, modeBits(in...));
    }
    // What the option is for, in a line of --help and in the completions.
    constexpr Option says(const char* text) const { return with(&Option::summary, text); }
};

constexpr bool same(const char* one, const char* other)
{
    for (; *one != '\0' && *one == *other; ++one, ++other) {
    }
    return *one == *other;
}

// Whether name, if any, is the name of a row of table.
template <std::size_t size> constexpr bool namesARow(const Option (&table)[size], const char* name)
{
    bool found = name == nullptr;
    for (const Option& row : table) {
        found = found || same(row.name, name);
    }
    return found;
}

// Whether every row of table holds to the rule, for the table's static_asserts:
// a mistake in the table does not build.
template <std::size_t size> constexpr bool everyRow(const Option (&table)[size], bool (*holds)(const Option&))
{
    bool all = true;
    for (const Option& row : table) {
        all = all && holds(row);
    }
    return all;
}

// The rows of the table, for the code that makes text of them.
struct Rows {
    const Option* first;
    const Option* last;
    const Option* begin() const { return first; }
    const Option* end() const { return last; }
};

inline bool choosesMode(const Option& row)
{
    return row.mode != Request::Listing;
}

// The modes the option may be given in; none for one that goes with all.
inline unsigned modesOf(const Option& row)
{
    return row.companions | (choosesMode(row) ? modeBit(row.mode) : 0);
}

// The option as messages name it: its short form if it has one.
inline std::string shown(const Option& row)
{
    return row.letter != '\0' ? std::string{'-', row.letter} : "--" + std::string(row.name);
}

#endif
