// paramlist's entry: the command line read, the mode it chose run, and
// standard output closed, whose failure decides the status last.
#include "command_line.h"
#include "standard_output.h"

#include <cstdio>
#include <new>

int main(int argc, char** argv)
{
    openStandardDescriptors();
    ignoreFileSizeSignal();
    Request request;
    const int parsed = parseCommandLine(argc, argv, request);
    if (parsed >= 0) {
        return parsed;
    }
    const ModeRun& mode = chosenMode(request);
    int status = 0;
    // The modes say which file or input memory could not hold; what they do
    // not name, such as their own tables, ends the run here, not in abort.
    try {
        status = mode.run(request);
    } catch (const std::bad_alloc&) {
        std::fputs("paramlist: memory exhausted\n", stderr);
        return mode.writeFailedStatus;
    }
    return finishStandardOutput("") ? status : mode.writeFailedStatus;
}
