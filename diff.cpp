// --diff: the entries whose values differ between two records, in file order.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <cstdio>

int diffFiles(const Request& request)
{
    const char* a = request.operands[0];
    const char* b = request.operands[1];
    const bool json = request.json;
    std::string out;
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
    // The pieces around the table, the index and the two values of a line.
    struct Layout {
        const char* start;
        const char* beforeIndex;
        const char* beforeA;
        const char* beforeB;
        const char* end;
    };
    static constexpr Layout text = {"", "[", "]: ", " -> ", "\n"};
    static constexpr Layout jsonLines = {"{\"table\":\"", "\",\"index\":", ",\"a\":", ",\"b\":", "}\n"};
    const Layout& layout = json ? jsonLines : text;
    int status = sameStatus;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            if (sameEntry(first, second, table, i)) {
                continue;
            }
            status = foundStatus;
            out += layout.start;
            out += tableName(table);
            out += layout.beforeIndex;
            appendInteger(out, i);
            out += layout.beforeA;
            appendJsonEntry(out, first, table, i);
            out += layout.beforeB;
            appendJsonEntry(out, second, table, i);
            out += layout.end;
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return status;
}
