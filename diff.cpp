// --diff: the entries whose values differ between a reference record and each
// of the files, in file order.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <unistd.h>

namespace {

// A record read from an operand, or the errno of the read that failed.
struct Operand {
    Parameter record;
    bool read = false;
    int reason = 0;
};

void readOperand(Operand& operand, const char* path)
{
    operand.read = readRecord(operand.record, path);
    operand.reason = operand.read ? 0 : errno;
}

// The pieces around the table, the index and the two values of a line.
struct Layout {
    const char* beforeTable;
    const char* beforeIndex;
    const char* beforeA;
    const char* beforeB;
    const char* end;
};
constexpr Layout textLayout = {"", "[", "]: ", " -> ", "\n"};
constexpr Layout jsonLayout = {"\"table\":\"", "\",\"index\":", ",\"a\":", ",\"b\":", "}\n"};

// Compares records with the reference and writes what differs, as the
// request's form asks. Shared by the batches of both threads, so it only
// reads once made.
class Comparison
{
public:
    Comparison(const Request& request, const Parameter& reference)
        : reference(reference), json(request.json), brief(request.brief), named(request.count > 2),
          terminal(isTerminal(STDOUT_FILENO)), layout(request.json ? jsonLayout : textLayout)
    {
        // Each entry of the reference appears on every line that names it,
        // so its value is written once, here.
        referenceStarts.push_back(0);
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i) {
                appendJsonEntry(referenceValues, reference, table, i);
                referenceStarts.push_back(referenceValues.size());
            }
        }
    }

    // Appends what differs between the reference and the record read from file.
    void compare(Batch& batch, const char* file, const Parameter& record) const
    {
        std::string& out = batch.out;
        if (brief) {
            if (differs(record)) {
                appendPath(out, file);
                out += '\n';
                batch.status = std::max(batch.status, foundStatus);
            }
            return;
        }
        std::string start = json ? "{" : "";
        if (named && json) {
            start += "\"file\":";
            appendJsonText(start, file, std::strlen(file));
            start += ',';
        } else if (named) {
            appendPath(start, file);
            start += ": ";
        }
        start += layout.beforeTable;
        std::size_t entry = 0;
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i, ++entry) {
                if (sameEntry(reference, record, table, i)) {
                    continue;
                }
                batch.status = std::max(batch.status, foundStatus);
                out += start;
                out += tableName(table);
                out += layout.beforeIndex;
                appendInteger(out, i);
                out += layout.beforeA;
                out.append(referenceValues, referenceStarts[entry],
                           referenceStarts[entry + 1] - referenceStarts[entry]);
                out += layout.beforeB;
                appendJsonEntry(out, record, table, i);
                out += layout.end;
            }
        }
    }

private:
    bool differs(const Parameter& record) const
    {
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i) {
                if (!sameEntry(reference, record, table, i)) {
                    return true;
                }
            }
        }
        return false;
    }

    // A path as the text forms show it: escaped on a terminal, as every mode does.
    void appendPath(std::string& out, const char* file) const
    {
        if (terminal) {
            appendVisible(out, file, std::strlen(file));
        } else {
            out += file;
        }
    }

    const Parameter& reference;
    const bool json;
    const bool brief;
    // With more than one file each line says which file it is about.
    const bool named;
    const bool terminal;
    const Layout& layout;
    std::string referenceValues;
    std::vector<std::size_t> referenceStarts;
};

} // namespace

// An operand named twice, or the reference named again as a file, is read
// once: a second read of standard input or a pipe would find it empty.
int diffFiles(const Request& request)
{
    const char* referencePath = request.operands[0];
    char* const* files = request.operands + 1;
    const int count = request.count - 1;
    std::vector<Operand> repeated(1);
    readOperand(repeated[0], referencePath);
    if (!repeated[0].read) {
        errno = repeated[0].reason;
        reportErrno(referencePath);
        return troubleStatus;
    }
    // For each file, the slot of repeated that holds it, or -1 when it is named once.
    std::vector<int> slots(static_cast<std::size_t>(count), -1);
    std::unordered_map<std::string_view, int> firstNamed{{referencePath, -1}};
    for (int k = 0; k < count; ++k) {
        const auto named = firstNamed.emplace(files[k], k);
        if (named.second) {
            continue;
        }
        const int first = named.first->second;
        if (first < 0) {
            slots[static_cast<std::size_t>(k)] = 0;
            continue;
        }
        int& slot = slots[static_cast<std::size_t>(first)];
        if (slot < 0) {
            slot = static_cast<int>(repeated.size());
            repeated.emplace_back();
            readOperand(repeated.back(), files[first]);
        }
        slots[static_cast<std::size_t>(k)] = slot;
    }
    const Comparison comparison(request, repeated[0].record);
    return runInBatches(files, count, [&](Batch& batch, char* const* first, int batchFiles) {
        for (int k = 0; k < batchFiles; ++k) {
            const char* file = first[k];
            const int slot = slots[static_cast<std::size_t>(first - files + k)];
            // A fresh record for each file: a short file leaves the rest as it finds it.
            Operand own;
            if (slot < 0) {
                readOperand(own, file);
            }
            const Operand& operand = slot < 0 ? own : repeated[static_cast<std::size_t>(slot)];
            if (operand.read) {
                comparison.compare(batch, file, operand.record);
            } else {
                errno = operand.reason;
                batch.diagnostics += errnoDiagnostic(file);
                batch.status = troubleStatus;
            }
        }
    });
}
