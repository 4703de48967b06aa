// A row of the option table in command_line.cpp, built column by column, so
// that the table reads as a list of what each option is and does.
#ifndef PARAMLIST_OPTION_ROW_H
#define PARAMLIST_OPTION_ROW_H

#include "request.h"

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

using Effect = void (*)(Request&, const char* argument);

// A row of the option table. Its columns are set by name, so that a row reads
// as what the option is: Option("brief").does(...).goesWith(Request::Diff).
struct Option {
    const char* name;
    char letter = '\0';
    bool takesArgument = false;
    Effect effect = nullptr;
    int (*answer)() = nullptr;
    Request::Mode mode = Request::Listing;
    ModeRun run{};
    unsigned companions = 0;
    Request::Side side = Request::Neither;
    const char* rival = nullptr;
    const char* partner = nullptr;
    const char* synopsis = "";
    const char* line = "";

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
    // What the option does with its argument, which it requires.
    constexpr Option takes(Effect what) const { return does(what).with(&Option::takesArgument, true); }
    // An option answered at once, such as --help: the run ends with the status
    // that reply returns, whatever else the command line holds.
    constexpr Option answers(int (*reply)()) const { return with(&Option::answer, reply); }
    // The mode the option chooses, and how that mode runs. A second option
    // that chooses another mode is refused as it is read.
    constexpr Option chooses(Request::Mode chosen, const ModeRun& how) const
    {
        return with(&Option::mode, chosen).with(&Option::run, how);
    }
    // The modes the option goes with, besides any it chooses, checked once
    // all options are read, since the mode may come after them. An option
    // that also chooses a mode, as --json does, chooses it only when no
    // other is chosen.
    template <typename... Modes> constexpr Option goesWith(Modes... modes) const
    {
        return with(&Option::companions, (modeBit(modes) | ...));
    }
    // The side of every conflict that --merge is to take; a second option
    // that picks the other side is refused as it is read.
    constexpr Option picks(Request::Side chosen) const { return with(&Option::side, chosen); }
    // An option that this one cannot be given with.
    constexpr Option notWith(const char* other) const { return with(&Option::rival, other); }
    // An option without which this one means nothing.
    constexpr Option needs(const char* other) const { return with(&Option::partner, other); }
    // The option's lines in --help: the synopsis of the mode it chooses, in
    // the list of modes, or its own line in the list of options.
    constexpr Option inSynopsis(const char* lines) const { return with(&Option::synopsis, lines); }
    constexpr Option inOptions(const char* text) const { return with(&Option::line, text); }
};

#endif
