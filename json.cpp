// --json: each file as one JSON object on one line, every value exact.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <cstring>

void appendRecordJson(std::string& out, const char* file, std::size_t length, const Parameter& para)
{
    out += "{\"file\":";
    appendJsonText(out, file, std::strlen(file));
    out += ",\"bytes\":";
    appendInteger(out, length);
    for (const Table table : allTables) {
        out += ",\"";
        out += tableName(table);
        out += "\":[";
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            if (i != 0) {
                out += ',';
            }
            appendJsonEntry(out, para, table, i);
        }
        out += ']';
    }
    out += "}\n";
}

int exportJson(char* const* files, int count, std::string& out)
{
    int status = 0;
    for (int k = 0; k < count; ++k) {
        Parameter para;
        std::size_t length = 0;
        if (!readRecord(para, files[k], &length)) {
            reportErrno(files[k]);
            status = 1;
            continue;
        }
        appendRecordJson(out, files[k], length, para);
        flushWhenFull(out);
    }
    return status;
}
