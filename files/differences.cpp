// The differences between two records, written into a batch as --diff writes them.
#include "differences.h"

#include "diagnostics.h"
#include "entry.h"
#include "json_text.h"
#include "terminal_text.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

namespace {

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

// The pieces of a line are short and many: they are copied in whole blocks
// of this size, which compile to a few moves where a call of memcpy for each
// piece would cost more than the line's value. So every piece is followed by
// at least this many readable bytes, and every room written to has as many
// to spare.
constexpr std::size_t blockBytes = 16;

// Copies length bytes of source to at, and up to blockBytes - 1 bytes more,
// which what follows overwrites; returns the end of the length bytes.
char* copyPiece(char* at, const char* source, std::size_t length)
{
    for (std::size_t done = 0; done < length; done += blockBytes) {
        std::memcpy(at + done, source + done, blockBytes);
    }
    return at + length;
}

} // namespace

Comparison::Comparison(const Request& request, const Parameter& reference)
    : Comparison(reference, request.json, request.brief,
                 request.count > 2 || request.withFilename || request.fileList != nullptr,
                 request.nullEnded ? '\0' : '\n')
{
}
Comparison::Comparison(const Parameter& reference, bool json, bool brief, bool named, char pathEnd)
    : reference(reference), json(json), brief(brief), pathEnd(pathEnd), named(named),
      terminal(isTerminal(STDOUT_FILENO)), end(json ? jsonLayout.end : textLayout.end)
{
    endLength = end.size();
    end.append(blockBytes, '\0');
    // Every line of an entry begins alike up to the file's value: its
    // name and the reference's value, written once, here.
    const Layout& layout = json ? jsonLayout : textLayout;
    starts.push_back(0);
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            lineStarts += layout.beforeTable;
            lineStarts += tableName(table);
            lineStarts += layout.beforeIndex;
            appendInteger(lineStarts, i);
            lineStarts += layout.beforeA;
            appendJsonEntry(lineStarts, reference, table, i);
            lineStarts += layout.beforeB;
            starts.push_back(lineStarts.size());
        }
    }
    lineStarts.append(blockBytes, '\0');
}

// Appends what differs between the reference and the record read from
// file.
void Comparison::compare(Batch& batch, const char* file, const Parameter& record, const std::string* notes) const
{
    if (brief) {
        if (differs(record)) {
            appendShown(batch.out, file, terminal);
            batch.out += pathEnd;
            batch.status = std::max(batch.status, foundStatus);
        }
        return;
    }
    std::string prefix = json ? "{" : "";
    if (named && json) {
        prefix += "\"file\":";
        appendJsonPath(prefix, file, std::strlen(file));
        prefix += ',';
    } else if (named) {
        appendShown(prefix, file, terminal);
        prefix += ": ";
    }
    const std::size_t prefixLength = prefix.size();
    prefix.append(blockBytes, '\0');
    // Lines are written through a pointer into the batch's room: appending
    // each piece to a string costs more than formatting the values.
    std::size_t notesLength = 0;
    for (std::size_t k = 0; notes != nullptr && k + 1 < starts.size(); ++k) {
        notesLength += notes[k].size();
    }
    const std::size_t most =
        lineStarts.size() + (starts.size() - 1) * (prefixLength + jsonEntryRoom + endLength) + notesLength + blockBytes;
    char* const first = batch.reserveTail(most);
    char* at = first;
    std::size_t entry = 0;
    for (const Table table : allTables) {
        const unsigned int entries = tableEntries(table);
        for (unsigned int i = 0; i < entries; ++i, ++entry) {
            if (sameEntry(reference, record, table, i)) {
                continue;
            }
            at = copyPiece(at, prefix.data(), prefixLength);
            at = copyPiece(at, lineStarts.data() + starts[entry], starts[entry + 1] - starts[entry]);
            at = writeJsonEntry(at, record, table, i);
            if (notes != nullptr) {
                at = std::copy(notes[entry].begin(), notes[entry].end(), at);
            }
            at = copyPiece(at, end.data(), endLength);
        }
    }
    batch.commitTail(at);
    if (at != first) {
        batch.status = std::max(batch.status, foundStatus);
    }
}

bool Comparison::differs(const Parameter& record) const
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

void appendDifferences(Batch& batch, const char* file, const Parameter& a, const Parameter& b, bool json,
                       const std::string* notes)
{
    Comparison(a, json, false, true, '\n').compare(batch, file, b, notes);
}
