// --check: what is unsound in each file, one finding a line in offset order,
// as PATH:OFFSET: message, or with --json as the JSON object
// {"file":PATH,"offset":OFFSET,"kind":KIND,"message":MESSAGE}. The kinds:
// short-file, long-file, unterminated-name, name-not-utf8, control-character,
// bytes-after-name, document-value, nan, infinity.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::array<unsigned char, Parameter::FileBytes>;

// Past the image a file whose size cannot be trusted is read only this far,
// so that an endless one such as /dev/zero cannot hang the check.
constexpr std::size_t excessReadLimit = 1 << 20;

// What a file holds: the bytes of the image it reaches, and how many follow.
struct Contents {
    Bytes bytes{};
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

// "N bytes", or "1 byte".
std::string byteCount(std::size_t count)
{
    std::string text;
    appendInteger(text, count);
    text += count == 1 ? " byte" : " bytes";
    return text;
}

// The message of a finding about an entry: its name, then what is wrong.
std::string aboutEntry(Table table, std::size_t i, const char* problem)
{
    std::string message;
    appendEntryName(message, {table, static_cast<unsigned int>(i)});
    message += problem;
    return message;
}

// Writes the findings of one file as lines of standard output: as text, or
// as JSON objects, whose kind a program can act on and whose strings no
// path can break.
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
            if (terminal) {
                appendVisible(shownPath, path, std::strlen(path));
            } else {
                shownPath = path;
            }
            shownPath += ':';
        }
    }

    // A finding at offset, of kind (a name in the list of the manual): message.
    void add(std::size_t offset, const char* kind, const std::string& message)
    {
        found = true;
        out += shownPath;
        appendInteger(out, offset);
        if (json) {
            out += ",\"kind\":\"";
            out += kind;
            out += "\",\"message\":";
            appendJsonText(out, message.data(), message.size());
            out += "}\n";
        } else {
            out += ": ";
            out += message;
            out += '\n';
        }
    }
    bool any() const { return found; }

private:
    std::string& out;
    std::string shownPath;
    bool json;
    bool found = false;
};

void checkReals(const Contents& contents, Findings& findings, Table table)
{
    for (unsigned int i = 0; i < tableEntries(table); ++i) {
        const std::size_t at = entryOffset({table, i});
        // The exponent lives in the two high bytes, which a cut-through real
        // takes as zero.
        if (at + 8 > contents.held) {
            return;
        }
        const unsigned char* bytes = &contents.bytes[at];
        if ((bytes[7] & 0x7f) != 0x7f || (bytes[6] & 0xf0) != 0xf0) {
            continue;
        }
        bool fractionZero = (bytes[6] & 0x0f) == 0;
        for (std::size_t k = 0; k < 6; ++k) {
            fractionZero = fractionZero && bytes[k] == 0;
        }
        const bool negative = (bytes[7] & 0x80) != 0;
        if (fractionZero) {
            findings.add(at, "infinity", aboutEntry(table, i, negative ? " is -infinity" : " is infinity"));
        } else {
            findings.add(at, "nan", aboutEntry(table, i, " is NaN"));
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
        findings.add(field, "unterminated-name",
                     aboutEntry(Table::Names, i, " is unterminated: its 50 bytes hold no zero byte"));
    }
    if (!isValidUtf8(bytes, length)) {
        findings.add(field, "name-not-utf8", aboutEntry(Table::Names, i, " is not valid UTF-8"));
    } else if (holdsControl(bytes, length)) {
        findings.add(field, "control-character", aboutEntry(Table::Names, i, " holds a control character"));
    }
    const char* junk = std::find_if(bytes + length, bytes + held, [](char byte) { return byte != 0; });
    if (junk != bytes + held) {
        findings.add(field + static_cast<std::size_t>(junk - bytes), "bytes-after-name",
                     aboutEntry(Table::Names, i, " has non-zero bytes after its terminating zero"));
    }
}

void checkContents(const Contents& contents, Findings& findings)
{
    checkReals(contents, findings, Table::TerminalCondition);
    checkReals(contents, findings, Table::Operations);
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        checkName(contents, findings, i);
    }
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        const std::size_t at = entryOffset({Table::Document, i});
        if (at < contents.held && contents.bytes[at] > 1) {
            std::string message = aboutEntry(Table::Document, i, " is ");
            appendInteger(message, contents.bytes[at]);
            message += ", not 0 or 1";
            findings.add(at, "document-value", message);
        }
    }
    if (contents.held < Parameter::FileBytes) {
        findings.add(contents.held, "short-file",
                     "the file ends " + byteCount(Parameter::FileBytes - contents.held) +
                         " short of the 3950-byte image; the entries from here on are read as their start values");
    }
    if (contents.excess > 0) {
        const bool one = contents.excess == 1 && !contents.excessCapped;
        findings.add(Parameter::FileBytes, "long-file",
                     (contents.excessCapped ? "more than " : "") + byteCount(contents.excess) +
                         (one ? " past the 3950-byte image is ignored" : " past the 3950-byte image are ignored"));
    }
}

template <bool json> void checkBatch(Batch& batch, char* const* files, int count)
{
    const bool terminal = isTerminal(STDOUT_FILENO);
    Contents contents;
    for (int k = 0; k < count; ++k) {
        contents = Contents();
        if (!readPath(files[k], contents)) {
            batch.diagnostics += errnoDiagnostic(files[k]);
            batch.status = troubleStatus;
            continue;
        }
        Findings findings(batch.out, files[k], terminal, json);
        checkContents(contents, findings);
        if (findings.any()) {
            batch.status = std::max(batch.status, foundStatus);
        }
    }
}

} // namespace

// The batch runner takes a plain function, so each form has its own.
int checkFiles(const Request& request)
{
    return runInBatches(request.operands, request.count, request.json ? checkBatch<true> : checkBatch<false>);
}
