// What the program tells its user when something is wrong, and how it ends:
// the lines "paramlist: PATH: reason" on standard error and every exit status.
#ifndef PARAMLIST_DIAGNOSTICS_H
#define PARAMLIST_DIAGNOSTICS_H

#include <string>

// A usage error is 2 in every mode.
constexpr int usageStatus = 2;

// Statuses of --diff, --check and --merge, as diff and cmp have them.
constexpr int sameStatus = 0;
constexpr int foundStatus = 1;
constexpr int troubleStatus = 2;

// The line "paramlist: message" as reportMessage prints it. On a terminal
// every diagnostic is shown escaped (see appendVisible), so that a crafted
// path cannot drive it.
std::string diagnostic(const std::string& message);
// The same, for a run that has asked once whether standard error is a terminal.
std::string diagnostic(const std::string& message, bool onTerminal);

// The line "paramlist: PATH: reason" with the reason errno gives, as
// reportErrno prints it; for a missing PATH that looks like an option, with
// the hint that options go before the files.
std::string errnoDiagnostic(const char* path);

// Prints "paramlist: message" on standard error.
void reportMessage(const std::string& message);

// Prints "paramlist: PATH: reason" on standard error.
void reportError(const char* path, const std::string& reason);

// The same, with the reason errno gives.
void reportErrno(const char* path);

// Prints "paramlist: message" and the hint to --help on standard error;
// returns the usage status.
int usageError(const std::string& message);

#endif
