// --diff: the entries whose values differ between two records, in file order.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

int diffFiles(const char* a, const char* b, bool json, std::string& out)
{
    Parameter first;
    Parameter second;
    if (!readRecord(first, a, nullptr)) {
        reportErrno(a);
        return troubleStatus;
    }
    if (!readRecord(second, b, nullptr)) {
        reportErrno(b);
        return troubleStatus;
    }
    int status = sameStatus;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            if (sameEntry(first, second, table, i)) {
                continue;
            }
            status = foundStatus;
            if (json) {
                out += "{\"table\":\"";
                out += tableName(table);
                out += "\",\"index\":";
                appendInteger(out, i);
                out += ",\"a\":";
                appendJsonEntry(out, first, table, i);
                out += ",\"b\":";
                appendJsonEntry(out, second, table, i);
                out += "}\n";
            } else {
                out += tableName(table);
                out += '[';
                appendInteger(out, i);
                out += "]: ";
                appendJsonEntry(out, first, table, i);
                out += " -> ";
                appendJsonEntry(out, second, table, i);
                out += '\n';
            }
        }
    }
    return status;
}
