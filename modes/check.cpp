// --check: what is unsound in each file, one finding a line in offset order,
// as PATH:OFFSET: message, or with --json as the JSON object
// {"file":PATH,"offset":OFFSET,"kind":KIND,"message":MESSAGE}. The kinds:
// short-file, long-file, unterminated-name, name-not-utf8, control-character,
// bytes-after-name, document-value, nan, infinity.
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "findings.h"
#include "json_text.h"
#include "modes.h"
#include "terminal_text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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
// piece.
class FindingLines : public FindingSink
{
public:
    // The path is written once, as every finding begins with it.
    FindingLines(std::string& out, const char* path, bool terminal, bool json) : out(out), json(json)
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

    bool any = false;

private:
    std::string& out;
    std::string shownPath;
    bool json;
};

template <bool json> void checkBatch(Batch& batch, char* const* files, int count)
{
    const bool terminal = isTerminal(STDOUT_FILENO);
    Contents contents;
    for (int k = 0; k < count; ++k) {
        contents = Contents();
        if (!readContents(files[k], contents)) {
            batch.diagnostics += errnoDiagnostic(files[k]);
            batch.status = troubleStatus;
            continue;
        }
        FindingLines findings(batch.out, files[k], terminal, json);
        checkContents(contents, findings);
        if (findings.any) {
            batch.status = std::max(batch.status, foundStatus);
        }
    }
}

} // namespace

// The batch runner takes a plain function, so each form has its own.
int mode::check(const Request& request)
{
    FileNames names(request.fileList, request.operands, request.count);
    return runInBatches(names, request.json ? checkBatch<true> : checkBatch<false>, troubleStatus);
}
