// The usage error of an option that getopt_long refused.
#ifndef PARAMLIST_REFUSED_OPTION_H
#define PARAMLIST_REFUSED_OPTION_H

#include "option_row.h"

struct option;

// The usage error for the option getopt_long has just refused in word, the
// command-line word it was reading: optopt is getopt's code of the refused
// option, known its row when it has one, options getopt's table.
int refusedOption(const char* word, const option* options, int optopt, const Option* known);

#endif
