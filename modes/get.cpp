// --get: the values of the entries asked for, as --json writes them, for
// scripts; one entry of one file is its value alone, so that a shell
// variable can take it as it is. With -r a name is its text, so that a
// script needs no JSON reader for it: its bytes, or shown escaped on a
// terminal, which they could drive.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "modes.h"
#include "terminal_text.h"

#include <vector>

#include <unistd.h>

int mode::get(const Request& request)
{
    // Every ENTRY is read before any file, so that a wrong one reads none.
    std::vector<Entry> asked;
    for (const char* given : request.wanted) {
        Entry entry{};
        std::string problem;
        if (!parseEntryName(given, entry, problem)) {
            return usageError(std::string("--get '") + given + "': " + problem);
        }
        asked.push_back(entry);
    }
    FileNames names(request.fileList, request.operands, request.count);
    const bool bare = request.count == 1 && asked.size() == 1 && !request.withFilename && !names.listed();
    const bool terminal = isTerminal(STDOUT_FILENO);
    return runOverRecords(names, request, [&](Batch& batch, const char* file, std::size_t, const Parameter& para) {
        for (const Entry& entry : asked) {
            if (!bare) {
                appendShown(batch.out, file, terminal);
                batch.out += ": ";
                appendEntryName(batch.out, entry);
                batch.out += ": ";
            }
            if (request.raw && entry.table == Table::Names) {
                const char* name = para.getNamesParameter(entry.index);
                appendShown(batch.out, {name, nameLength(name)}, terminal);
            } else {
                appendJsonEntry(batch.out, para, entry.table, entry.index);
            }
            batch.out += '\n';
        }
    });
}
