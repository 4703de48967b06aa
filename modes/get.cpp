// --get: the values of the entries asked for, as --json writes them, for
// scripts; one entry of one file is its value alone, so that a shell
// variable can take it as it is. With -r a name is its text, so that a
// script needs no JSON reader for it: its bytes, or shown escaped on a
// terminal, which they could drive. An ENTRY may be a name, which each
// file's schema gives an entry of its own; a line that names its file ends
// with what the schema calls the entry.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "modes.h"
#include "schema_finder.h"
#include "terminal_text.h"

#include <algorithm>
#include <vector>

#include <unistd.h>

int mode::get(const Request& request)
{
    // Every ENTRY is read before any file, so that a wrong one reads none.
    std::vector<EntryWord> asked;
    for (const char* given : request.wanted) {
        EntryWord word;
        std::string problem;
        if (!parseEntryWord(given, word, problem)) {
            return usageError(std::string("--get '") + given + "': " + problem);
        }
        asked.push_back(word);
    }
    FileNames names(request.fileList, request.operands, request.count);
    SchemaFinder schemas(request);
    if (!schemas.start() || (!names.listed() && !schemas.findAll(request.operands, request.count))) {
        return troubleStatus;
    }
    const bool bare = request.count == 1 && asked.size() == 1 && !request.withFilename && !names.listed();
    const bool terminal = isTerminal(STDOUT_FILENO);
    // Without a name, every file has the same entries.
    std::vector<Entry> fixed(asked.size());
    std::transform(asked.begin(), asked.end(), fixed.begin(), [](const EntryWord& word) { return word.entry; });
    const bool named =
        std::any_of(asked.begin(), asked.end(), [](const EntryWord& word) { return !word.name.empty(); });
    return runOverRecords(names, request, [&](Batch& batch, const char* file, std::size_t, const Parameter& para) {
        const SchemaFinder::Found found = schemas.of(file, batch.diagnostics);
        std::vector<Entry> meant(named ? asked.size() : 0);
        std::string problem;
        bool known = !found.failed;
        for (std::size_t k = 0; known && k < meant.size(); ++k) {
            known = asked[k].in(found.schema, meant[k], problem);
        }
        // A file is answered whole or not at all, as a script would have it.
        if (!known) {
            batch.diagnostics += problem.empty() ? "" : diagnostic(std::string(file) + ": " + problem);
            batch.status = std::max(batch.status, found.failed ? troubleStatus : 1);
            return;
        }
        for (const Entry& entry : named ? meant : fixed) {
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
            if (!bare && found.schema != nullptr) {
                batch.out += found.schema->note(entry);
            }
            batch.out += '\n';
        }
    });
}
