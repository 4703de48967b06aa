// --check: what is unsound in each file, one finding a line as
// PATH:OFFSET: message, in offset order.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::array<unsigned char, Parameter::FileBytes>;

// Past the image a pipe or device is read only this far, so that an endless
// one such as /dev/zero cannot hang the check.
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
    struct stat status {
    };
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        const auto size = static_cast<std::size_t>(status.st_size);
        contents.excess = size > contents.held ? size - contents.held : 0;
        return true;
    }
    std::array<unsigned char, 1 << 14> scratch;
    while (contents.excess < excessReadLimit) {
        std::size_t got = 0;
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

// Writes the findings of one file as lines of standard output.
class Findings
{
public:
    // The path is written once, as every finding begins with it.
    Findings(std::string& out, const char* path, bool terminal) : out(out)
    {
        if (terminal) {
            appendVisible(shownPath, path, std::strlen(path));
        } else {
            shownPath = path;
        }
        shownPath += ':';
    }

    // A finding about the file at offset: message.
    void add(std::size_t offset, const char* message) { start(offset) += message; }
    // A finding about entry i of table at offset: the entry's name, then message.
    void add(std::size_t offset, const char* table, std::size_t i, const char* message)
    {
        start(offset) += table;
        out += '[';
        appendInteger(out, i);
        out += ']';
        out += message;
    }
    // Ends the finding that add began: every finding is one line.
    void end() { out += '\n'; }
    std::string& text() { return out; }
    bool any() const { return found; }

private:
    std::string& start(std::size_t offset)
    {
        out += shownPath;
        appendInteger(out, offset);
        out += ": ";
        found = true;
        return out;
    }

    std::string& out;
    std::string shownPath;
    bool found = false;
};

void checkReals(const Contents& contents, Findings& findings, const char* table, std::size_t offset,
                std::size_t entries)
{
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t at = offset + 8 * i;
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
        findings.add(at, table, i, fractionZero ? (negative ? " is -infinity" : " is infinity") : " is NaN");
        findings.end();
    }
}

void checkName(const Contents& contents, Findings& findings, std::size_t i)
{
    const std::size_t field = Parameter::NamesOffset + Parameter::NameBytes * i;
    if (field >= contents.held) {
        return;
    }
    const std::size_t held = std::min(Parameter::NameBytes, contents.held - field);
    const char* bytes = reinterpret_cast<const char*>(&contents.bytes[field]);
    const std::size_t length = strnlen(bytes, held);
    if (length == Parameter::NameBytes) {
        findings.add(field, "Names", i, " is unterminated: its 50 bytes hold no zero byte");
        findings.end();
    }
    if (!isValidUtf8(bytes, length)) {
        findings.add(field, "Names", i, " is not valid UTF-8");
        findings.end();
    } else if (std::any_of(bytes, bytes + length,
                           [](char byte) { return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f; })) {
        findings.add(field, "Names", i, " holds a control character");
        findings.end();
    }
    const char* junk = std::find_if(bytes + length, bytes + held, [](char byte) { return byte != 0; });
    if (junk != bytes + held) {
        findings.add(field + static_cast<std::size_t>(junk - bytes), "Names", i,
                     " has non-zero bytes after its terminating zero");
        findings.end();
    }
}

void checkContents(const Contents& contents, Findings& findings)
{
    checkReals(contents, findings, "TerminalCondition", Parameter::TerminalConditionOffset,
               Parameter::TerminalConditionEntries);
    checkReals(contents, findings, "Operations", Parameter::OperationsOffset, Parameter::OperationsEntries);
    for (std::size_t i = 0; i < Parameter::NamesEntries; ++i) {
        checkName(contents, findings, i);
    }
    for (std::size_t i = 0; i < Parameter::DocumentEntries; ++i) {
        const std::size_t at = Parameter::DocumentOffset + i;
        if (at < contents.held && contents.bytes[at] > 1) {
            findings.add(at, "Document", i, " is ");
            appendInteger(findings.text(), contents.bytes[at]);
            findings.text() += ", not 0 or 1";
            findings.end();
        }
    }
    if (contents.held < Parameter::FileBytes) {
        findings.add(contents.held, "the file ends ");
        appendInteger(findings.text(), Parameter::FileBytes - contents.held);
        findings.text() += " bytes short of the 3950-byte image; the entries from here on are read as their start "
                           "values";
        findings.end();
    }
    if (contents.excess > 0) {
        findings.add(Parameter::FileBytes, contents.excessCapped ? "more than " : "");
        appendInteger(findings.text(), contents.excess);
        findings.text() += " bytes past the 3950-byte image are ignored";
        findings.end();
    }
}

} // namespace

namespace {

void checkBatch(Batch& batch, char* const* files, int count)
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
        Findings findings(batch.out, files[k], terminal);
        checkContents(contents, findings);
        if (findings.any()) {
            batch.status = std::max(batch.status, foundStatus);
        }
    }
}

} // namespace

int checkFiles(const Request& request)
{
    return runInBatches(request.operands, request.count, checkBatch);
}
