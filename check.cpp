// --check: what is unsound in each file, one finding a line as
// PATH:OFFSET: message, in offset order.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <array>
#include <cerrno>
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

bool readAll(int fd, unsigned char* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t count = ::read(fd, buffer + got, size - got);
        if (count == 0) {
            return true;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        got += static_cast<std::size_t>(count);
    }
    return true;
}

bool readContents(int fd, Contents& contents)
{
    if (!readAll(fd, contents.bytes.data(), contents.bytes.size(), contents.held)) {
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
        if (!readAll(fd, scratch.data(), scratch.size(), got)) {
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
    if (isStandardInput(path)) {
        return readContents(STDIN_FILENO, contents);
    }
    const int fd = Parameter::openForReading(path);
    if (fd < 0) {
        return false;
    }
    const bool read = readContents(fd, contents);
    const int reason = errno;
    ::close(fd);
    errno = reason;
    return read;
}

// Collects the findings of one file as lines of standard output.
class Findings
{
public:
    Findings(std::string& out, const char* path, bool terminal) : out(out), path(path), terminal(terminal) {}

    void add(std::size_t offset, const std::string& message)
    {
        if (terminal) {
            appendVisible(out, path, std::strlen(path));
        } else {
            out += path;
        }
        out += ':';
        appendInteger(out, offset);
        out += ": ";
        out += message;
        out += '\n';
        found = true;
    }
    bool any() const { return found; }

private:
    std::string& out;
    const char* path;
    bool terminal;
    bool found = false;
};

std::string entry(const char* table, std::size_t i)
{
    return std::string(table) + "[" + std::to_string(i) + "]";
}

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
        const bool exponentAllOnes = (contents.bytes[at + 7] & 0x7f) == 0x7f && (contents.bytes[at + 6] & 0xf0) == 0xf0;
        if (!exponentAllOnes) {
            continue;
        }
        bool fractionZero = (contents.bytes[at + 6] & 0x0f) == 0;
        for (std::size_t k = 0; k < 6; ++k) {
            fractionZero = fractionZero && contents.bytes[at + k] == 0;
        }
        const bool negative = (contents.bytes[at + 7] & 0x80) != 0;
        findings.add(at, entry(table, i) + (fractionZero ? (negative ? " is -infinity" : " is infinity") : " is NaN"));
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
        findings.add(field, entry("Names", i) + " is unterminated: its 50 bytes hold no zero byte");
    }
    if (!isValidUtf8(bytes, length)) {
        findings.add(field, entry("Names", i) + " is not valid UTF-8");
    } else {
        for (std::size_t k = 0; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(bytes[k]);
            if (byte < 0x20 || byte == 0x7f) {
                findings.add(field, entry("Names", i) + " holds a control character");
                break;
            }
        }
    }
    for (std::size_t k = length; k < held; ++k) {
        if (bytes[k] != 0) {
            findings.add(field + k, entry("Names", i) + " has non-zero bytes after its terminating zero");
            break;
        }
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
            findings.add(at, entry("Document", i) + " is " + std::to_string(contents.bytes[at]) + ", not 0 or 1");
        }
    }
    if (contents.held < Parameter::FileBytes) {
        findings.add(contents.held, "the file ends " + std::to_string(Parameter::FileBytes - contents.held) +
                                        " bytes short of the 3950-byte image; the entries from here on are read "
                                        "as their start values");
    }
    if (contents.excess > 0) {
        findings.add(Parameter::FileBytes, std::string(contents.excessCapped ? "more than " : "") +
                                               std::to_string(contents.excess) +
                                               " bytes past the 3950-byte image are ignored");
    }
}

} // namespace

int checkFiles(char* const* files, int count, std::string& out)
{
    const bool terminal = isTerminal(STDOUT_FILENO);
    bool unreadable = false;
    bool found = false;
    Contents contents;
    for (int k = 0; k < count; ++k) {
        contents = Contents();
        if (!readPath(files[k], contents)) {
            reportErrno(files[k]);
            unreadable = true;
            continue;
        }
        Findings findings(out, files[k], terminal);
        checkContents(contents, findings);
        found = found || findings.any();
        flushWhenFull(out);
    }
    return unreadable ? troubleStatus : found ? foundStatus : sameStatus;
}
