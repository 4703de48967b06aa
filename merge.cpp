// --merge: a three-way merge entry by entry.
#include "io.h"
#include "modes.h"

int mergeFiles(const Request& /*request*/)
{
    return usageError("--merge is not built yet");
}
