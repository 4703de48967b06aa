// --check: what is unsound in each file, one finding a line in offset order,
// as PATH:OFFSET: message, or with --json as the JSON object
// {"file":PATH,"offset":OFFSET,"kind":KIND,"message":MESSAGE}. The kinds:
// short-file, long-file, unterminated-name, name-not-utf8, control-character,
// bytes-after-name, document-value, nan, infinity.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

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
    Findings(std::string& out, const char* path, bool terminal, bool json) : out(out), json(json)
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
    bool json;
    bool found = false;
};

// Most reals are finite: only one whose exponent bits are all set, in its
// two high bytes, is decoded.
void checkReals(const FileContents& contents, Findings& findings, Table table)
{
    const std::size_t first = entryOffset({table, 0});
    const unsigned int entries = tableEntries(table);
    for (unsigned int i = 0; i < entries; ++i) {
        const std::size_t at = first + Parameter::RealBytes * i;
        // A cut-through real takes its high bytes as zero.
        if (at + Parameter::RealBytes > contents.held) {
            return;
        }
        const unsigned char* const real = &contents.bytes[at];
        if ((real[7] & 0x7f) != 0x7f || (real[6] & 0xf0) != 0xf0) {
            continue;
        }
        const double value = Parameter::readDoubleLe(real);
        if (std::isinf(value)) {
            findings.add(at, "infinity", table, i, std::signbit(value) ? " is -infinity" : " is infinity");
        } else {
            findings.add(at, "nan", table, i, " is NaN");
        }
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

// Whether a whole field holds printable ASCII, then zeros alone: as most
// names do, which then need no closer look.
bool isPlainName(const unsigned char* field)
{
    const unsigned char* const end = field + Parameter::NameBytes;
    const unsigned char* at = field;
    while (at < end && *at >= 0x20 && *at < 0x7f) {
        ++at;
    }
    static constexpr unsigned char zeros[Parameter::NameBytes] = {};
    return at < end && std::memcmp(at, zeros, static_cast<std::size_t>(end - at)) == 0;
}

void checkName(const FileContents& contents, Findings& findings, unsigned int i, std::size_t field)
{
    if (field >= contents.held) {
        return;
    }
    const std::size_t held = std::min(Parameter::NameBytes, contents.held - field);
    if (held == Parameter::NameBytes && isPlainName(&contents.bytes[field])) {
        return;
    }
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

void checkContents(const FileContents& contents, Findings& findings)
{
    checkReals(contents, findings, Table::TerminalCondition);
    checkReals(contents, findings, Table::Operations);
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        checkName(contents, findings, i, Parameter::NamesOffset + Parameter::NameBytes * i);
    }
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        const std::size_t at = Parameter::DocumentOffset + i;
        if (at < contents.held && contents.bytes[at] > 1) {
            std::string& out = findings.begin(at, "document-value");
            appendEntryName(out, {Table::Document, i});
            out += " is ";
            appendInteger(out, contents.bytes[at]);
            out += ", not 0 or 1";
            findings.end();
        }
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

} // namespace

int mode::check(const Request& request)
{
    FileNames names(request.fileList, request.operands, request.count);
    const FileReads reads(request.operands, request.count, names.listed());
    const bool terminal = isTerminal(STDOUT_FILENO);
    return runOverContents(
        names, reads,
        [&](Batch& batch, const char* file, const FileContents& contents) {
            Findings findings(batch.out, file, terminal, request.json);
            checkContents(contents, findings);
            if (findings.any()) {
                batch.status = std::max(batch.status, foundStatus);
            }
        },
        troubleStatus);
}
