// --diff: the entries whose values differ between a reference record and each
// of the files, in file order.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"
#include "terminal_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
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

// Compares records with the reference and writes what differs, as the
// request's form asks. Shared by the batches of both threads, so it only
// reads once made.
class Comparison
{
public:
    Comparison(const Request& request, const Parameter& reference)
        : Comparison(reference, request.json, request.brief,
                     request.count > 2 || request.withFilename || request.fileList != nullptr,
                     request.nullEnded ? '\0' : '\n')
    {
    }
    Comparison(const Parameter& reference, bool json, bool brief, bool named, char pathEnd)
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
    void compare(Batch& batch, const char* file, const Parameter& record) const
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
            appendJsonText(prefix, file, std::strlen(file));
            prefix += ',';
        } else if (named) {
            appendShown(prefix, file, terminal);
            prefix += ": ";
        }
        const std::size_t prefixLength = prefix.size();
        prefix.append(blockBytes, '\0');
        // Lines are written through a pointer into the batch's room: appending
        // each piece to a string costs more than formatting the values.
        const std::size_t most =
            lineStarts.size() + (starts.size() - 1) * (prefixLength + jsonEntryRoom + endLength) + blockBytes;
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
                at = copyPiece(at, end.data(), endLength);
            }
        }
        batch.commitTail(at);
        if (at != first) {
            batch.status = std::max(batch.status, foundStatus);
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

    const Parameter& reference;
    const bool json;
    const bool brief;
    const char pathEnd;
    // With more than one file, or -H, or a list of files, each line says
    // which file it is about.
    const bool named;
    const bool terminal;
    // The end of every line, endLength bytes.
    std::string end;
    std::size_t endLength;
    // Entry k's line begins with lineStarts from starts[k] to starts[k + 1].
    std::string lineStarts;
    std::vector<std::size_t> starts;
};

} // namespace

// An operand named twice, or the reference named again as a file, is read
// once: a second read of standard input or a pipe would find it empty. The
// names of a list are not all known before the last, so of them only "-" is
// read once.
int mode::diff(const Request& request)
{
    const char* referencePath = request.operands[0];
    std::vector<Operand> repeated(1);
    readOperand(repeated[0], referencePath);
    if (!repeated[0].read) {
        errno = repeated[0].reason;
        reportErrno(referencePath);
        return troubleStatus;
    }
    // The slot of repeated that holds an operand named more than once, by
    // the operand's address, which the batches are given.
    std::unordered_map<const char*, std::size_t> slots{{request.operands[0], 0}};
    const RepeatedOperands repeats(request.operands, request.count);
    for (int k = 1; k < request.count; ++k) {
        const int first = repeats.firstNaming(k);
        if (first == k) {
            continue;
        }
        const auto named = slots.emplace(request.operands[first], repeated.size());
        if (named.second) {
            repeated.emplace_back();
            readOperand(repeated.back(), request.operands[first]);
        }
        slots.emplace(request.operands[k], named.first->second);
    }
    FileNames names(request.fileList, request.operands + 1, request.count - 1);
    Operand listedStandardInput;
    std::once_flag standardInputRead;
    const auto readOnce = [&](const char* file) -> const Operand* {
        if (names.listed() && isStandardInput(file)) {
            if (isStandardInput(referencePath)) {
                return &repeated[0];
            }
            std::call_once(standardInputRead, [&] { readOperand(listedStandardInput, file); });
            return &listedStandardInput;
        }
        const auto found = slots.find(file);
        return found != slots.end() ? &repeated[found->second] : nullptr;
    };
    const Comparison comparison(request, repeated[0].record);
    return runInBatches(
        names,
        [&](Batch& batch, char* const* files, int count) {
            for (int k = 0; k < count; ++k) {
                const char* file = files[k];
                // A fresh record for each file: a short file leaves the rest as it finds it.
                Operand own;
                const Operand* once = readOnce(file);
                if (once == nullptr) {
                    readOperand(own, file);
                }
                const Operand& operand = once != nullptr ? *once : own;
                if (operand.read) {
                    comparison.compare(batch, file, operand.record);
                } else {
                    errno = operand.reason;
                    batch.diagnostics += errnoDiagnostic(file);
                    batch.status = troubleStatus;
                }
            }
        },
        troubleStatus);
}

void appendDifferences(Batch& batch, const char* file, const Parameter& a, const Parameter& b, bool json)
{
    Comparison(a, json, false, true, '\n').compare(batch, file, b);
}
