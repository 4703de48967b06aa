// --entries: every entry of a file on a line of its own, "Table[i]: value"
// with the value exact, after a line "bytes: N". Every file gives the same
// 301 lines, so a text diff of two of them shows one line per changed entry.
#include "Parameter.h"
#include "diagnostics.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"

#include <cstdio>

void appendEntriesText(std::string& out, std::size_t length, const Parameter& para)
{
    out += "bytes: ";
    appendInteger(out, length);
    out += '\n';
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            appendEntryName(out, {table, i});
            out += ": ";
            appendJsonEntry(out, para, table, i);
            out += '\n';
        }
    }
}

int mode::entries(const Request& request)
{
    const char* file = request.operands[0];
    Parameter para;
    std::size_t length = 0;
    if (!readRecord(para, file, &length)) {
        reportErrno(file);
        return 1;
    }
    std::string out;
    appendEntriesText(out, length, para);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
