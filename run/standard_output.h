// The process at the start of a run (its standard descriptors, the file size
// signal) and standard output at its end, where a failed write shows up.
#ifndef PARAMLIST_STANDARD_OUTPUT_H
#define PARAMLIST_STANDARD_OUTPUT_H

#include <string>

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, for
// writing on 0 and for reading on 1 and 2: reading "-" or writing standard
// output then fails with EBADF as it would on the closed descriptor, and no
// file the program opens lands on them. Exits with status 2 when it cannot.
void openStandardDescriptors();

// Ignores SIGXFSZ, so that a write past the file size limit (ulimit -f) fails
// with EFBIG for that one file, which is reported, instead of ending the run.
void ignoreFileSizeSignal();

// Writes out to standard output, then flushes and closes standard output:
// a full disk or a closed descriptor shows up only then. Returns false after
// reporting a write error: output that could not be written, never a closed
// standard output that nothing was written to.
bool finishStandardOutput(const std::string& out);

#endif
