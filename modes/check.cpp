// --check: what is unsound in each file, one finding a line in offset order,
// as PATH:OFFSET: message, or with --json as the JSON object
// {"file":PATH,"offset":OFFSET,"kind":KIND,"message":MESSAGE}. The kinds:
// short-file, long-file, unterminated-name, name-not-utf8, control-character,
// bytes-after-name, document-value, nan, infinity; and for an entry outside
// the file's schema below-minimum, above-maximum, not-allowed and required,
// whose JSON objects name the "entry" and, when it has one, its "name".
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "findings.h"
#include "input_files.h"
#include "json_text.h"
#include "modes.h"
#include "schema_finder.h"
#include "terminal_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

// Copies text to at and returns the end of the copy.
char* put(char* at, std::string_view text)
{
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// Writes the findings of one file as lines of standard output: as text, or
// as JSON objects, whose kind a program can act on and whose strings no
// path can break. A file of random bytes has a hundred findings, so each is
// written through a pointer into room made first, not appended piece by
// piece. The findings of the file's schema, given first, are written among
// the others in offset order, each after those of the bytes of its entry.
class FindingLines : public FindingSink
{
public:
    // The path is written once, as every finding begins with it.
    FindingLines(std::string& out, const char* path, bool terminal, bool json, const Schema* schema,
                 std::vector<SchemaFinding> described)
        : out(out), terminal(terminal), json(json), schema(schema), described(std::move(described))
    {
        if (json) {
            shownPath = "{\"file\":";
            appendJsonPath(shownPath, path, std::strlen(path));
            shownPath += ",\"offset\":";
        } else {
            appendShown(shownPath, path, terminal);
            shownPath += ':';
        }
    }

    void found(std::size_t offset, std::string_view kind, const Entry* entry, std::string_view text) override
    {
        writeDescribed(offset);
        // With the end of the line, what surrounds the path, the offset, the
        // kind, the entry and the text is at most 32 bytes.
        const std::size_t used = out.size();
        out.resize(used + shownPath.size() + integerRoom + kind.size() + entryNameRoom + text.size() + 32);
        char* at = put(&out[used], shownPath);
        at = writeInteger(at, offset);
        if (json) {
            at = put(at, ",\"kind\":\"");
            at = put(at, kind);
            at = put(at, "\",\"message\":\"");
        } else {
            at = put(at, ": ");
        }
        if (entry != nullptr) {
            at = writeEntryName(at, *entry);
        }
        at = put(at, text);
        at = put(at, json ? std::string_view("\"}\n") : std::string_view("\n"));
        out.resize(static_cast<std::size_t>(at - out.data()));
        any = true;
    }

    // Writes the schema's findings of the entries before offset, or of all
    // that are left.
    void writeDescribed(std::size_t offset = SIZE_MAX)
    {
        for (; next < described.size() && entryOffset(described[next].description->entry) < offset; ++next) {
            writeDescribed(described[next]);
        }
    }

    bool any = false;

private:
    // A finding of an entry outside its schema, whose message holds the
    // schema's words and path, which the output escapes as it does a file's
    // path.
    void writeDescribed(const SchemaFinding& finding)
    {
        const Entry entry = finding.description->entry;
        const std::string message = findingMessage(finding, *schema);
        any = true;
        out += shownPath;
        appendInteger(out, entryOffset(entry));
        if (!json) {
            out += ": ";
            appendShown(out, message, terminal);
            out += '\n';
            return;
        }
        out += ",\"kind\":\"";
        out += findingKindName(finding.kind);
        out += "\",\"entry\":\"";
        appendEntryName(out, entry);
        out += '"';
        if (!finding.description->name.empty()) {
            out += ",\"name\":\"" + finding.description->name + '"';
        }
        out += ",\"message\":";
        appendJsonText(out, message.data(), message.size());
        out += "}\n";
    }

    std::string& out;
    std::string shownPath;
    bool terminal;
    bool json;
    const Schema* schema;
    std::vector<SchemaFinding> described;
    std::size_t next = 0;
};

template <bool json>
void checkBatch(Batch& batch, char* const* files, int count, SchemaFinder& schemas, const FileReads& reads)
{
    const bool terminal = isTerminal(STDOUT_FILENO);
    FileContents contents;
    for (int k = 0; k < count; ++k) {
        const SchemaFinder::Found schema = schemas.of(files[k], batch.diagnostics);
        if (schema.failed) {
            batch.status = troubleStatus;
            continue;
        }
        if (!reads.read(files[k], contents)) {
            batch.diagnostics += errnoDiagnostic(files[k]);
            batch.status = troubleStatus;
            continue;
        }
        // An entry past the end of a short file is judged by the start
        // value it is read as, which the image holds there.
        FindingLines findings(batch.out, files[k], terminal, json, schema.schema,
                              schema.schema != nullptr ? checkImage(*schema.schema, contents.bytes.data())
                                                       : std::vector<SchemaFinding>());
        checkContents(contents, findings);
        findings.writeDescribed();
        if (findings.any) {
            batch.status = std::max(batch.status, foundStatus);
        }
    }
}

} // namespace

// A schema that cannot be used stops the run before any file is read; the
// files of a list, which is read as the run goes, stop where they meet it.
int mode::check(const Request& request)
{
    SchemaFinder schemas(request);
    FileNames names(request.fileList, request.operands, request.count);
    if (!schemas.start() || (!names.listed() && !schemas.findAll(request.operands, request.count))) {
        return troubleStatus;
    }
    const FileReads reads(request.operands, request.count, names.listed());
    const auto check = request.json ? checkBatch<true> : checkBatch<false>;
    return runInBatches(
        names, [&](Batch& batch, char* const* files, int count) { check(batch, files, count, schemas, reads); },
        troubleStatus);
}
