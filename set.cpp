// --set: entries changed in place.
#include "io.h"
#include "modes.h"

int setEntries(const Request& /*request*/)
{
    return usageError("--set is not built yet");
}
