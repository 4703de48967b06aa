// What paramlist --generate=FORMAT prints, made from the option table: the
// manual's synopsis and option tags, and the bash, zsh and fish completions,
// which are kept in the source tree as made so that no build needs to run
// the program.
#ifndef PARAMLIST_GENERATE_H
#define PARAMLIST_GENERATE_H

#include "option_row.h"

#include <string>

// The text of format (man, bash, zsh or fish), or "" for another.
std::string generatedText(Rows rows, const std::string& format);

// Prints the text of format; returns the exit status.
int generated(Rows rows, const char* format);

#endif
