// The findings of --check: a short or long file, names that are unterminated,
// not UTF-8, hold control characters or bytes after their zero, a document
// byte other than 0 and 1, NaN and infinite reals.
#include "findings.h"

#include "input_files.h"
#include "json_text.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

// Past the image a file whose size cannot be trusted is read only this far,
// so that an endless one such as /dev/zero cannot hang the check.
constexpr std::size_t excessReadLimit = 1 << 20;

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

// Appends "N bytes", or "1 byte".
void appendByteCount(std::string& out, std::size_t count)
{
    appendInteger(out, count);
    out += count == 1 ? " byte" : " bytes";
}

void checkReals(const Contents& contents, FindingSink& sink, Table table)
{
    for (unsigned int i = 0; i < tableEntries(table); ++i) {
        const Entry entry{table, i};
        const std::size_t at = entryOffset(entry);
        // The exponent lives in the two high bytes, which a cut-through real
        // takes as zero.
        if (at + Parameter::RealBytes > contents.held) {
            return;
        }
        const double value = Parameter::readDoubleLe(&contents.bytes[at]);
        if (std::isinf(value)) {
            sink.found(at, "infinity", &entry, std::signbit(value) ? " is -infinity" : " is infinity");
        } else if (std::isnan(value)) {
            sink.found(at, "nan", &entry, " is NaN");
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

void checkName(const Contents& contents, FindingSink& sink, unsigned int i)
{
    const Entry entry{Table::Names, i};
    const std::size_t field = entryOffset(entry);
    if (field >= contents.held) {
        return;
    }
    const std::size_t held = std::min(Parameter::NameBytes, contents.held - field);
    const char* bytes = reinterpret_cast<const char*>(&contents.bytes[field]);
    const std::size_t length = strnlen(bytes, held);
    if (length == Parameter::NameBytes) {
        sink.found(field, "unterminated-name", &entry, " is unterminated: its 50 bytes hold no zero byte");
    }
    if (!isValidUtf8(bytes, length)) {
        sink.found(field, "name-not-utf8", &entry, " is not valid UTF-8");
    } else if (holdsControl(bytes, length)) {
        sink.found(field, "control-character", &entry, " holds a control character");
    }
    const char* junk = std::find_if(bytes + length, bytes + held, [](char byte) { return byte != 0; });
    if (junk != bytes + held) {
        sink.found(field + static_cast<std::size_t>(junk - bytes), "bytes-after-name", &entry,
                   " has non-zero bytes after its terminating zero");
    }
}

} // namespace

bool readContents(const char* path, Contents& contents)
{
    const InputFile input(path);
    return input.fd() >= 0 && readContents(input.fd(), contents);
}

void checkContents(const Contents& contents, FindingSink& sink)
{
    checkReals(contents, sink, Table::TerminalCondition);
    checkReals(contents, sink, Table::Operations);
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        checkName(contents, sink, i);
    }
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        const Entry entry{Table::Document, i};
        const std::size_t at = entryOffset(entry);
        if (at < contents.held && contents.bytes[at] > 1) {
            char text[sizeof " is 255, not 0 or 1"] = " is ";
            char* end = writeInteger(text + 4, contents.bytes[at]);
            std::memcpy(end, ", not 0 or 1", sizeof ", not 0 or 1" - 1);
            end += sizeof ", not 0 or 1" - 1;
            sink.found(at, "document-value", &entry, std::string_view(text, static_cast<std::size_t>(end - text)));
        }
    }
    if (contents.held < Parameter::FileBytes) {
        std::string text = "the file ends ";
        appendByteCount(text, Parameter::FileBytes - contents.held);
        text += " short of the 3950-byte image; the entries from here on are read as their start values";
        sink.found(contents.held, "short-file", nullptr, text);
    }
    if (contents.excess > 0) {
        std::string text = contents.excessCapped ? "more than " : "";
        appendByteCount(text, contents.excess);
        const bool one = contents.excess == 1 && !contents.excessCapped;
        text += one ? " past the 3950-byte image is ignored" : " past the 3950-byte image are ignored";
        sink.found(Parameter::FileBytes, "long-file", nullptr, text);
    }
}

void FindingDigest::found(std::size_t offset, std::string_view kind, const Entry* entry, std::string_view text)
{
    ++all;
    auto counted = std::find_if(counts.begin(), counts.end(), [kind](const auto& c) { return c.first == kind; });
    if (counted == counts.end()) {
        counted = counts.insert(counts.end(), {std::string(kind), 0});
    }
    ++counted->second;
    if (listed.size() < firstFindings) {
        std::string message;
        if (entry != nullptr) {
            appendEntryName(message, *entry);
        }
        message += text;
        listed.push_back({current, offset, std::string(kind), std::move(message)});
    }
}
