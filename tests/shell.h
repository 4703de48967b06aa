// Shell scripts run against the built program in a scratch directory, for the
// tests of saving and of the edit lock that need strace, another process or
// a file system's features, and skip where these are missing.
#ifndef PARAMLIST_TESTS_SHELL_H
#define PARAMLIST_TESTS_SHELL_H

#include "support.h"

#include <cstdlib>
#include <string>

#include <sys/wait.h>

// Runs script with sh in dir, the program as $P; standard output and error
// go to files unless the script redirects them.
// Leak checking is off for the scripts: LeakSanitizer gives up, with a message
// and a failed status, under strace and where /proc is missing.
inline Outcome shell(const ScratchDir& dir, const std::string& script)
{
    const std::string file = dir.write(".script", script);
    const std::string command =
        "cd '" + dir.path + "' && ASAN_OPTIONS=detect_leaks=0 P='" PARAMLIST_BINARY "' sh .script >.out 2>.err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.path + "/.out"), readFile(dir.path + "/.err")};
}

inline bool available(const char* command)
{
    return std::system(command) == 0;
}

inline bool canTrace()
{
    return available("strace -o /dev/null true 2>/dev/null");
}

#endif
