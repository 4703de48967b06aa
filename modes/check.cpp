// --check: what is unsound in each file, one finding a line in offset order,
// as PATH:OFFSET: message, or with --json as the JSON object
// {"file":PATH,"offset":OFFSET,"kind":KIND,"message":MESSAGE}. The kinds:
// short-file, long-file, unterminated-name, name-not-utf8, control-character,
// bytes-after-name, document-value, nan, infinity; and for an entry outside
// the file's schema below-minimum, above-maximum, not-allowed and required,
// whose JSON objects name the "entry" and, when it has one, its "name".
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"
#include "schema_finder.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Past the image a file whose size cannot be trusted is read only this far,
// so that an endless one such as /dev/zero cannot hang the check.
constexpr std::size_t excessReadLimit = 1 << 20;

// What a file holds: the bytes of the image it reaches, and how many follow.
struct Contents {
    Parameter::Image bytes{};
    std::size_t held = 0;
    std::size_t excess = 0;
    bool excessCapped = false;
};

bool readContents(int fd, Contents& contents)
{
    if (!Parameter::readFully(fd, contents.bytes.data(), contents.bytes.size(), contents.held)) {
        return false;
    }
    if (contents.held < contents.bytes.size()) {
        return true;
    }
    // Reading on tells where a file ends, whatever its size says: a file of
    // /proc or /sys has a size of 0 or 4096 whatever it holds. For a sound
    // file this costs one read that finds the end, as cat makes too.
    std::array<unsigned char, 1 << 14> scratch;
    std::size_t got = 0;
    if (!Parameter::readFully(fd, scratch.data(), scratch.size(), got)) {
        return false;
    }
    contents.excess = got;
    if (got < scratch.size()) {
        return true;
    }
    // A long file whose data the file system keeps, and whose size covers
    // what was read, is not read to its end.
    struct stat status {
    };
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_blocks > 0 &&
        static_cast<std::size_t>(status.st_size) >= contents.held + got) {
        contents.excess = static_cast<std::size_t>(status.st_size) - contents.held;
        return true;
    }
    while (contents.excess < excessReadLimit) {
        if (!Parameter::readFully(fd, scratch.data(), scratch.size(), got)) {
            return false;
        }
        contents.excess += got;
        if (got < scratch.size()) {
            return true;
        }
    }
    contents.excessCapped = true;
    return true;
}

bool readPath(const char* path, Contents& contents)
{
    const InputFile input(path);
    return input.fd() >= 0 && readContents(input.fd(), contents);
}

// Appends "N bytes", or "1 byte".
void appendByteCount(std::string& out, std::size_t count)
{
    appendInteger(out, count);
    out += count == 1 ? " byte" : " bytes";
}

// Copies text to at and returns the end of the copy.
char* put(char* at, std::string_view text)
{
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// Writes the findings of one file as lines of standard output: as text, or
// as JSON objects, whose kind a program can act on and whose strings no
// path can break. A message is the program's own text and entry names,
// which need no JSON escape. A file of random bytes has a hundred findings,
// so each is written through a pointer into room made first, not appended
// piece by piece.
class Findings
{
public:
    // The path is written once, as every finding begins with it.
    Findings(std::string& out, const char* path, bool terminal, bool json) : out(out), terminal(terminal), json(json)
    {
        if (json) {
            shownPath = "{\"file\":";
            appendJsonText(shownPath, path, std::strlen(path));
            shownPath += ",\"offset\":";
        } else {
            appendShown(shownPath, path, terminal);
            shownPath += ':';
        }
    }

    // Begins a finding at offset, of kind (a name in the list of the
    // manual); the caller appends its message to what this returns, then
    // calls end.
    std::string& begin(std::size_t offset, std::string_view kind)
    {
        char* at = room(kind.size());
        at = writeStart(at, offset, kind);
        out.resize(static_cast<std::size_t>(at - out.data()));
        return out;
    }
    void end() { out += json ? "\"}\n" : "\n"; }

    // A finding about entry i of table at offset: the entry's name, then problem.
    void add(std::size_t offset, std::string_view kind, Table table, unsigned int i, std::string_view problem)
    {
        char* at = room(kind.size() + entryNameRoom + problem.size());
        at = writeStart(at, offset, kind);
        at = writeEntryName(at, {table, i});
        at = put(at, problem);
        at = put(at, json ? std::string_view("\"}\n") : std::string_view("\n"));
        out.resize(static_cast<std::size_t>(at - out.data()));
    }
    // A finding of an entry outside its schema, whose message holds the
    // schema's words and path, which the output must escape as it does a
    // file's path.
    void addDescribed(const SchemaFinding& finding, const Schema& schema)
    {
        const Entry entry = finding.description->entry;
        const std::string message = findingMessage(finding, schema);
        found = true;
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
    bool any() const { return found; }

private:
    // Makes room at the end of out for a finding's start and more bytes.
    char* room(std::size_t more)
    {
        const std::size_t used = out.size();
        out.resize(used + shownPath.size() + integerRoom + 32 + more);
        return &out[used];
    }

    // Writes the path, the offset and, with --json, the kind. With the end
    // of the line this is at most 32 bytes besides the path, the offset and
    // the kind, the room that room makes.
    char* writeStart(char* at, std::size_t offset, std::string_view kind)
    {
        found = true;
        at = put(at, shownPath);
        at = writeInteger(at, offset);
        if (!json) {
            return put(at, ": ");
        }
        at = put(at, ",\"kind\":\"");
        at = put(at, kind);
        return put(at, "\",\"message\":\"");
    }

    std::string& out;
    std::string shownPath;
    bool terminal;
    bool json;
    bool found = false;
};

// The findings of entry against what schema says of it, if anything. An
// entry past the end of a short file is judged by the start value it is
// read as, which the image holds there.
void checkDescribed(const Contents& contents, Findings& findings, const Schema* schema, Entry entry)
{
    const EntryDescription* description = schema != nullptr ? schema->find(entry) : nullptr;
    if (description == nullptr) {
        return;
    }
    for (const SchemaFinding& finding : checkValue(*description, entryValueIn(contents.bytes.data(), entry))) {
        findings.addDescribed(finding, *schema);
    }
}

void checkReals(const Contents& contents, Findings& findings, Table table, const Schema* schema)
{
    for (unsigned int i = 0; i < tableEntries(table); ++i) {
        const std::size_t at = entryOffset({table, i});
        // The exponent lives in the two high bytes, which a cut-through real
        // takes as zero.
        const double value =
            at + Parameter::RealBytes > contents.held ? 0 : Parameter::readDoubleLe(&contents.bytes[at]);
        if (std::isinf(value)) {
            findings.add(at, "infinity", table, i, std::signbit(value) ? " is -infinity" : " is infinity");
        } else if (std::isnan(value)) {
            findings.add(at, "nan", table, i, " is NaN");
        }
        checkDescribed(contents, findings, schema, {table, i});
    }
}

bool holdsControl(const char* text, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length; ++i) {
        if (controlLength(bytes + i, length - i) != 0) {
            return true;
        }
    }
    return false;
}

void checkName(const Contents& contents, Findings& findings, unsigned int i)
{
    const std::size_t field = entryOffset({Table::Names, i});
    if (field >= contents.held) {
        return;
    }
    const std::size_t held = std::min(Parameter::NameBytes, contents.held - field);
    const char* bytes = reinterpret_cast<const char*>(&contents.bytes[field]);
    const std::size_t length = strnlen(bytes, held);
    if (length == Parameter::NameBytes) {
        findings.add(field, "unterminated-name", Table::Names, i, " is unterminated: its 50 bytes hold no zero byte");
    }
    if (!isValidUtf8(bytes, length)) {
        findings.add(field, "name-not-utf8", Table::Names, i, " is not valid UTF-8");
    } else if (holdsControl(bytes, length)) {
        findings.add(field, "control-character", Table::Names, i, " holds a control character");
    }
    const char* junk = std::find_if(bytes + length, bytes + held, [](char byte) { return byte != 0; });
    if (junk != bytes + held) {
        findings.add(field + static_cast<std::size_t>(junk - bytes), "bytes-after-name", Table::Names, i,
                     " has non-zero bytes after its terminating zero");
    }
}

void checkContents(const Contents& contents, Findings& findings, const Schema* schema)
{
    for (unsigned int i = 0; i < Parameter::InitEntries; ++i) {
        checkDescribed(contents, findings, schema, {Table::Init, i});
    }
    checkReals(contents, findings, Table::TerminalCondition, schema);
    checkReals(contents, findings, Table::Operations, schema);
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        checkName(contents, findings, i);
        checkDescribed(contents, findings, schema, {Table::Names, i});
    }
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        const std::size_t at = entryOffset({Table::Document, i});
        if (at < contents.held && contents.bytes[at] > 1) {
            std::string& out = findings.begin(at, "document-value");
            appendEntryName(out, {Table::Document, i});
            out += " is ";
            appendInteger(out, contents.bytes[at]);
            out += ", not 0 or 1";
            findings.end();
        }
        checkDescribed(contents, findings, schema, {Table::Document, i});
    }
    if (contents.held < Parameter::FileBytes) {
        std::string& out = findings.begin(contents.held, "short-file");
        out += "the file ends ";
        appendByteCount(out, Parameter::FileBytes - contents.held);
        out += " short of the 3950-byte image; the entries from here on are read as their start values";
        findings.end();
    }
    if (contents.excess > 0) {
        std::string& out = findings.begin(Parameter::FileBytes, "long-file");
        out += contents.excessCapped ? "more than " : "";
        appendByteCount(out, contents.excess);
        const bool one = contents.excess == 1 && !contents.excessCapped;
        out += one ? " past the 3950-byte image is ignored" : " past the 3950-byte image are ignored";
        findings.end();
    }
}

template <bool json> void checkBatch(Batch& batch, char* const* files, int count, SchemaFinder& schemas)
{
    const bool terminal = isTerminal(STDOUT_FILENO);
    Contents contents;
    for (int k = 0; k < count; ++k) {
        contents = Contents();
        const SchemaFinder::Found schema = schemas.of(files[k], batch.diagnostics);
        if (schema.failed) {
            batch.status = troubleStatus;
            continue;
        }
        if (!readPath(files[k], contents)) {
            batch.diagnostics += errnoDiagnostic(files[k]);
            batch.status = troubleStatus;
            continue;
        }
        Findings findings(batch.out, files[k], terminal, json);
        checkContents(contents, findings, schema.schema);
        if (findings.any()) {
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
    const auto check = request.json ? checkBatch<true> : checkBatch<false>;
    return runInBatches(
        names, [&](Batch& batch, char* const* files, int count) { check(batch, files, count, schemas); },
        troubleStatus);
}
