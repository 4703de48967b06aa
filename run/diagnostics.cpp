// Diagnostics on standard error, escaped where standard error is a terminal.
#include "diagnostics.h"

#include "request.h"
#include "terminal_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

std::string diagnostic(const std::string& message)
{
    return diagnostic(message, isTerminal(STDERR_FILENO));
}

std::string diagnostic(const std::string& message, bool onTerminal)
{
    std::string line = "paramlist: ";
    appendShown(line, message, onTerminal);
    line += '\n';
    return line;
}

// An option written after the files, as in --diff a.par b.par --brief, is
// taken as a file, which is then missing.
std::string errnoDiagnostic(const char* path)
{
    const bool misplacedOption = errno == ENOENT && looksLikeOption(path);
    return diagnostic(std::string(path) + ": " + std::strerror(errno) +
                      (misplacedOption ? std::string(" (") + optionsGoFirst + "; -- ends them)" : ""));
}

void reportMessage(const std::string& message)
{
    const std::string line = diagnostic(message);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void reportError(const char* path, const std::string& reason)
{
    reportMessage(std::string(path) + ": " + reason);
}

void reportErrno(const char* path)
{
    const std::string line = errnoDiagnostic(path);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

int usageError(const std::string& message)
{
    reportMessage(message);
    std::fputs("Try 'paramlist --help' for more information.\n", stderr);
    return usageStatus;
}
