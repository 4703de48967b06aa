// --entries: every entry of a file on a line of its own, "Table[i]: value"
// with the value exact, after a line "bytes: N". Every file gives the same
// 301 lines, so a text diff of two of them shows one line per changed entry.
// Of many files each line begins with the file's path, as grep's do.
#include "Parameter.h"
#include "batches.h"
#include "entry.h"
#include "json_text.h"
#include "modes.h"
#include "record_text.h"
#include "terminal_text.h"

#include <unistd.h>

int mode::entries(const Request& request)
{
    FileNames names(request.fileList, request.operands, request.count);
    const bool named = request.count > 1 || request.withFilename || names.listed();
    const bool terminal = isTerminal(STDOUT_FILENO);
    return runOverRecords(names, request,
                          [&](Batch& batch, const char* file, std::size_t length, const Parameter& para) {
                              std::string prefix;
                              if (named) {
                                  appendShown(prefix, file, terminal);
                                  prefix += ": ";
                              }
                              appendEntriesText(batch.out, prefix, length, para);
                          });
}
