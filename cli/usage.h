// The synopses and option lines that the option table makes, as --help
// prints them and as the manual sets them.
#ifndef PARAMLIST_USAGE_H
#define PARAMLIST_USAGE_H

#include "option_row.h"

#include <string>
#include <vector>

// A word of a synopsis: an option as it is typed (bold in the manual), a name
// that stands for what the user gives (italic), or punctuation.
struct Piece {
    enum Kind { Typed, Named, Mark } kind;
    std::string text;
};
using Pieces = std::vector<Piece>;

// A line of the synopsis, and what it is for.
struct Synopsis {
    Pieces pieces;
    const char* summary;
};

// The listing's synopsis, then each mode's, with every option that goes with
// it, in table order.
std::vector<Synopsis> synopses(Rows rows);

// The options answered at once, as [-h | --help | -V | --version].
Pieces answersSynopsis(Rows rows);

// The option as the manual's OPTIONS entry for it starts: its names, its
// argument, and for a mode what else it cannot do without.
Pieces tagOf(Rows rows, const Option& row);

// The pieces as text, and as roff in the manual's fonts.
std::string plainText(const Pieces& pieces);
std::string roffText(const Pieces& pieces);

// The text of --help.
std::string usageText(Rows rows);

#endif
