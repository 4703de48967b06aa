// The command line: what it asks for, read through the one option table in
// command_line.cpp, which also makes the usage rules, the text of --help, the
// manual's synopsis and the shell completions.
#ifndef PARAMLIST_COMMAND_LINE_H
#define PARAMLIST_COMMAND_LINE_H

#include "option_row.h"
#include "request.h"

#include <string>
#include <vector>

// Reads the options, which come before the first operand, into request, and
// checks them and the operands. Returns -1 to go on, or the exit status when
// there is nothing more to do: after --help or --version, or a usage error.
int parseCommandLine(int argc, char** argv, Request& request);

// How the mode that request chose runs.
const ModeRun& chosenMode(const Request& request);

// The text of --help.
std::string usageText();

// Every option that --help shows, as it is written on a command line:
// "--name", and "-x" for those with a short form.
std::vector<std::string> optionWords();

#endif
