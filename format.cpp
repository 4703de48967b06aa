#include "format.h"

#include "Parameter.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr std::uint64_t quietNaNBits = 0x7ff8000000000000;
constexpr char hexDigits[] = "0123456789abcdef";

void appendHexByte(std::string& out, unsigned char byte)
{
    out += hexDigits[byte >> 4];
    out += hexDigits[byte & 0xf];
}

bool isControl(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7f;
}

// Appends one byte of a JSON string's contents, escaped as JSON requires; DEL
// is escaped as well, so that no name can drive a terminal that shows it.
void appendJsonByte(std::string& out, unsigned char byte)
{
    switch (byte) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        if (isControl(byte)) {
            out += "\\u00";
            appendHexByte(out, byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
}

} // namespace

void appendInteger(std::string& out, unsigned long value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, end.ptr);
}

// The sign of a NaN that arithmetic produces differs between processors, so
// the listing prints every NaN alike.
void appendRoundedReal(std::string& out, double value)
{
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    char digits[32];
    const std::to_chars_result end =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    out.append(digits, end.ptr);
}

void appendJsonReal(std::string& out, double value)
{
    if (std::isnan(value)) {
        const std::uint64_t bits = realBits(value);
        if (bits == quietNaNBits) {
            out += "\"NaN\"";
            return;
        }
        out += "\"0x";
        for (int shift = 56; shift >= 0; shift -= 8) {
            appendHexByte(out, static_cast<unsigned char>(bits >> shift));
        }
        out += '"';
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
        return;
    }
    char digits[32];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, end.ptr);
    // "-0" would read back as the integer 0 and lose its sign.
    if (value == 0 && std::signbit(value)) {
        out += ".0";
    }
}

bool parseJsonRealString(const std::string& text, double& value)
{
    std::uint64_t bits = 0;
    if (text == "Infinity" || text == "-Infinity") {
        value = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (text == "NaN") {
        bits = quietNaNBits;
    } else {
        if (text.size() != 18 || text.compare(0, 2, "0x") != 0) {
            return false;
        }
        for (std::size_t i = 2; i < text.size(); ++i) {
            const int digit = hexDigitValue(text[i]);
            if (digit < 0) {
                return false;
            }
            bits = bits << 4 | static_cast<std::uint64_t>(digit);
        }
    }
    std::memcpy(&value, &bits, sizeof value);
    return std::isnan(value);
}

int hexDigitValue(char digit)
{
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

void appendJsonName(std::string& out, const char* name, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    if (!isValidUtf8(name, length)) {
        out += "{\"hex\":\"";
        for (std::size_t i = 0; i < length; ++i) {
            appendHexByte(out, bytes[i]);
        }
        out += "\"}";
        return;
    }
    out += '"';
    for (std::size_t i = 0; i < length; ++i) {
        appendJsonByte(out, bytes[i]);
    }
    out += '"';
}

void appendJsonText(std::string& out, const char* text, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    out += '"';
    for (std::size_t i = 0; i < length;) {
        const std::size_t sequence = utf8SequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            out += "\xef\xbf\xbd";
            ++i;
        } else if (sequence == 1) {
            appendJsonByte(out, bytes[i++]);
        } else {
            out.append(text + i, sequence);
            i += sequence;
        }
    }
    out += '"';
}

// The C1 controls U+0080 to U+009F are escaped too: some terminals obey them.
void appendVisible(std::string& out, const char* text, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const std::size_t sequence = utf8SequenceLength(bytes + i, length - i);
        const bool c1 = sequence == 2 && bytes[i] == 0xc2 && bytes[i + 1] < 0xa0;
        if (sequence == 0 || c1 || (sequence == 1 && isControl(bytes[i]))) {
            const std::size_t escaped = c1 ? 2 : 1;
            for (std::size_t k = 0; k < escaped; ++k) {
                out += "\\x";
                appendHexByte(out, bytes[i + k]);
            }
            i += escaped;
        } else {
            out.append(text + i, sequence);
            i += sequence;
        }
    }
}

std::size_t utf8SequenceLength(const unsigned char* text, std::size_t available)
{
    const unsigned char lead = text[0];
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;  // no overlong forms
        high = lead == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;  // no overlong forms
        high = lead == 0xf4 ? 0x8f : 0xbf; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (available < length || text[1] < low || text[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xbf) {
            return 0;
        }
    }
    return length;
}

bool isValidUtf8(const char* text, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const std::size_t sequence = utf8SequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            return false;
        }
        i += sequence;
    }
    return true;
}

std::size_t nameLength(const char* name)
{
    return strnlen(name, Parameter::NameBytes);
}

std::uint64_t realBits(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

const char* tableName(Table table)
{
    switch (table) {
    case Table::Init:
        return "Init";
    case Table::TerminalCondition:
        return "TerminalCondition";
    case Table::Operations:
        return "Operations";
    case Table::Names:
        return "Names";
    case Table::Document:
        return "Document";
    }
    return "";
}

unsigned int tableEntries(Table table)
{
    switch (table) {
    case Table::Init:
        return Parameter::InitEntries;
    case Table::TerminalCondition:
        return Parameter::TerminalConditionEntries;
    case Table::Operations:
        return Parameter::OperationsEntries;
    case Table::Names:
        return Parameter::NamesEntries;
    case Table::Document:
        return Parameter::DocumentEntries;
    }
    return 0;
}

void appendJsonEntry(std::string& out, const Parameter& para, Table table, unsigned int i)
{
    switch (table) {
    case Table::Init:
        appendInteger(out, para.getInitParameter(i));
        return;
    case Table::TerminalCondition:
        appendJsonReal(out, para.getTerminalConditionParameter(i));
        return;
    case Table::Operations:
        appendJsonReal(out, para.getOperationsParameter(i));
        return;
    case Table::Names: {
        const char* name = para.getNamesParameter(i);
        appendJsonName(out, name, nameLength(name));
        return;
    }
    case Table::Document:
        out += para.getDocumentParameter(i) ? "true" : "false";
        return;
    }
}

bool sameEntry(const Parameter& a, const Parameter& b, Table table, unsigned int i)
{
    switch (table) {
    case Table::Init:
        return a.getInitParameter(i) == b.getInitParameter(i);
    case Table::TerminalCondition:
        return realBits(a.getTerminalConditionParameter(i)) == realBits(b.getTerminalConditionParameter(i));
    case Table::Operations:
        return realBits(a.getOperationsParameter(i)) == realBits(b.getOperationsParameter(i));
    case Table::Names: {
        const char* x = a.getNamesParameter(i);
        const char* y = b.getNamesParameter(i);
        const std::size_t length = nameLength(x);
        return length == nameLength(y) && std::memcmp(x, y, length) == 0;
    }
    case Table::Document:
        return a.getDocumentParameter(i) == b.getDocumentParameter(i);
    }
    return true;
}
