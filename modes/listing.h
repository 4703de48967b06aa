// The listing that `paramlist FILE` prints, which stays byte for byte what it
// has always been; tests and the fuzzer reach it here.
#ifndef PARAMLIST_LISTING_H
#define PARAMLIST_LISTING_H

#include <string>

class Parameter;

// The listing that follows the "reading from file" line: every non-zero number
// and set flag, the sum of the operations entries from index 10 on, all names.
// For a terminal, names are shown escaped so that they cannot drive it.
std::string formatListing(const Parameter& para, bool forTerminal = false);

// Appends value as printf's %g would in the C locale: 6 significant digits,
// ties to even, no trailing zeros; "inf" and "-inf" for the infinities, and
// "nan" for every NaN.
void appendRoundedReal(std::string& out, double value);

#endif
