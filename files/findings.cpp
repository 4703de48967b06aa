// The findings of --check: a short or long file, names that are unterminated,
// not UTF-8, hold control characters or bytes after their zero, a document
// byte other than 0 and 1, NaN and infinite reals.
#include "findings.h"

#include "input_files.h"
#include "json_text.h"
#include "terminal_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace {

// Appends "N bytes", or "1 byte".
void appendByteCount(std::string& out, std::size_t count)
{
    appendInteger(out, count);
    out += count == 1 ? " byte" : " bytes";
}

// Most reals are finite: only one whose exponent bits are all set, in its
// two high bytes, is decoded.
void checkReals(const FileContents& contents, FindingSink& sink, Table table)
{
    const std::size_t first = entryOffset({table, 0});
    for (unsigned int i = 0; i < tableEntries(table); ++i) {
        const std::size_t at = first + Parameter::RealBytes * i;
        // A cut-through real takes its high bytes as zero.
        if (at + Parameter::RealBytes > contents.held) {
            return;
        }
        const unsigned char* const real = &contents.bytes[at];
        if ((real[7] & 0x7f) != 0x7f || (real[6] & 0xf0) != 0xf0) {
            continue;
        }
        const Entry entry{table, i};
        const double value = Parameter::readDoubleLe(real);
        if (std::isinf(value)) {
            sink.found(at, "infinity", &entry, std::signbit(value) ? " is -infinity" : " is infinity");
        } else {
            sink.found(at, "nan", &entry, " is NaN");
        }
    }
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

void checkName(const FileContents& contents, FindingSink& sink, unsigned int i)
{
    const Entry entry{Table::Names, i};
    const std::size_t field = Parameter::NamesOffset + Parameter::NameBytes * i;
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

void checkContents(const FileContents& contents, FindingSink& sink)
{
    checkReals(contents, sink, Table::TerminalCondition);
    checkReals(contents, sink, Table::Operations);
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        checkName(contents, sink, i);
    }
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        const std::size_t at = Parameter::DocumentOffset + i;
        if (at < contents.held && contents.bytes[at] > 1) {
            const Entry entry{Table::Document, i};
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
