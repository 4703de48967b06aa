// paramlist's entry: the command line read, the mode it chose run, and
// standard output closed, whose failure decides the status last.
#include "command_line.h"
#include "standard_output.h"

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
    const int status = mode.run(request);
    return finishStandardOutput("") ? status : mode.writeFailedStatus;
}
