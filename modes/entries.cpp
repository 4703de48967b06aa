// --entries: every entry of a file on a line of its own, "Table[i]: value"
// with the value exact, after a line "bytes: N". Every file gives the same
// 301 lines, so a text diff of two of them shows one line per changed entry.
// Of many files each line begins with the file's path, as grep's do. An
// entry that the file's schema describes ends its line with the schema's
// words, "  # NAME: LABEL [UNIT]", which --apply reads past.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "json_text.h"
#include "modes.h"
#include "record_text.h"
#include "schema_finder.h"
#include "terminal_text.h"

#include <unistd.h>

int mode::entries(const Request& request)
{
    SchemaFinder schemas(request);
    FileNames names(request.fileList, request.operands, request.count);
    if (!schemas.start() || (!names.listed() && !schemas.findAll(request.operands, request.count))) {
        return troubleStatus;
    }
    const bool named = request.count > 1 || request.withFilename || names.listed();
    const bool terminal = isTerminal(STDOUT_FILENO);
    const EntriesText text;
    return runOverRecords(names, request,
                          [&](Batch& batch, const char* file, std::size_t length, const Parameter& para) {
                              const SchemaFinder::Found schema = schemas.of(file, batch.diagnostics);
                              if (schema.failed) {
                                  batch.status = troubleStatus;
                                  return;
                              }
                              std::string prefix;
                              if (named) {
                                  appendShown(prefix, file, terminal);
                                  prefix += ": ";
                              }
                              const std::string* notes = schema.schema != nullptr ? schema.schema->notes() : nullptr;
                              char* const at = batch.reserveTail(text.room(prefix.size(), notes, nullptr));
                              batch.commitTail(text.write(at, prefix, length, para, notes, nullptr));
                          });
}
