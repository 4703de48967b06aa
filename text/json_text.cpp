// Writing and reading the exact text of values.
#include "json_text.h"

#include "Parameter.h"
#include "terminal_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint64_t quietNaNBits = 0x7ff8000000000000;

// Appends the characters from first to last. std::string's append of an
// iterator range goes through its general replace, which costs several
// times as much for the short pieces written here.
void appendRange(std::string& out, const char* first, const char* last)
{
    out.append(first, static_cast<std::size_t>(last - first));
}

// Copies text without its terminating zero to at.
template <std::size_t size> char* copy(char* at, const char (&text)[size])
{
    std::memcpy(at, text, size - 1);
    return at + size - 1;
}

// Writes the C1 control whose UTF-8 form ends in last as a JSON escape:
// U+0080 to U+009F are the code points 0x80 to 0x9f.
char* writeJsonC1(char* at, unsigned char last)
{
    at = copy(at, "\\u00");
    return writeHexByte(at, last);
}

// Writes one byte of a JSON string's contents at at, escaped as JSON requires,
// and returns the end; DEL is escaped as well, so that no name can drive a
// terminal that shows it. Writes at most 6 bytes.
char* writeJsonByte(char* at, unsigned char byte)
{
    static constexpr char shortEscapes[] = "btn\0fr";
    if (byte == '"' || byte == '\\') {
        *at++ = '\\';
        *at++ = static_cast<char>(byte);
    } else if (byte >= '\b' && byte <= '\r' && byte != '\v') {
        *at++ = '\\';
        *at++ = shortEscapes[byte - '\b'];
    } else if (isControlByte(byte)) {
        *at++ = '\\';
        *at++ = 'u';
        *at++ = '0';
        *at++ = '0';
        at = writeHexByte(at, byte);
    } else {
        *at++ = static_cast<char>(byte);
    }
    return at;
}

} // namespace

char* writeInteger(char* at, unsigned long value)
{
    if (value == 0) {
        *at++ = '0';
        return at;
    }
    return std::to_chars(at, at + integerRoom, value).ptr;
}

void appendInteger(std::string& out, unsigned long value)
{
    char digits[integerRoom];
    appendRange(out, digits, writeInteger(digits, value));
}

char* writeJsonReal(char* at, double value)
{
    const std::uint64_t bits = realBits(value);
    // Most entries of a real file are +0.0.
    if (bits == 0) {
        *at++ = '0';
        return at;
    }
    if (std::isnan(value)) {
        if (bits == quietNaNBits) {
            return copy(at, "\"NaN\"");
        }
        at = copy(at, "\"0x");
        for (int shift = 56; shift >= 0; shift -= 8) {
            at = writeHexByte(at, static_cast<unsigned char>(bits >> shift));
        }
        *at++ = '"';
        return at;
    }
    if (std::isinf(value)) {
        return value > 0 ? copy(at, "\"Infinity\"") : copy(at, "\"-Infinity\"");
    }
    at = std::to_chars(at, at + jsonRealRoom, value).ptr;
    // "-0" would read back as the integer 0 and lose its sign.
    return value == 0 ? copy(at, ".0") : at;
}

void appendJsonReal(std::string& out, double value)
{
    char text[jsonRealRoom];
    appendRange(out, text, writeJsonReal(text, value));
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

char* writeJsonBool(char* at, bool value)
{
    return value ? copy(at, "true") : copy(at, "false");
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

bool isJsonNumber(const char* text, std::size_t length)
{
    const char* at = text;
    const char* const end = text + length;
    const auto digits = [&] {
        const char* const first = at;
        while (at < end && *at >= '0' && *at <= '9') {
            ++at;
        }
        return at > first;
    };
    if (at < end && *at == '-') {
        ++at;
    }
    if (at < end && *at == '0') {
        ++at;
    } else if (!digits()) {
        return false;
    }
    if (at < end && *at == '.') {
        ++at;
        if (!digits()) {
            return false;
        }
    }
    if (at < end && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at < end && (*at == '+' || *at == '-')) {
            ++at;
        }
        if (!digits()) {
            return false;
        }
    }
    return at == end;
}

bool parseJsonNumber(const char* text, std::size_t length, double& value, std::string& problem)
{
    if (!isJsonNumber(text, length)) {
        problem = "not a JSON number";
        return false;
    }
    // strtod rounds to nearest and keeps the sign of an underflow; the
    // program never sets a locale, so the decimal point is '.'.
    const std::string terminated(text, length);
    const double read = std::strtod(terminated.c_str(), nullptr);
    if (std::isinf(read)) {
        problem = "the number is too large for a real";
        return false;
    }
    value = read;
    return true;
}

bool fitsNameField(const std::string& name, std::string& problem)
{
    if (name.size() > Parameter::NameBytes) {
        problem = "a name holds at most 50 bytes, not " + std::to_string(name.size());
        return false;
    }
    if (name.find('\0') != std::string::npos) {
        problem = "a name must not hold a zero byte";
        return false;
    }
    return true;
}

bool parseHexBytes(const std::string& hex, std::string& bytes, std::string& problem)
{
    if (hex.size() % 2 != 0) {
        problem = "\"hex\" must have an even number of digits";
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigitValue(hex[i]);
        const int low = hexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            problem = "\"hex\" must hold only hexadecimal digits";
            return false;
        }
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

bool parseHexName(const std::string& hex, std::string& name, std::string& problem)
{
    return parseHexBytes(hex, name, problem) && fitsNameField(name, problem);
}

char* writeHexName(char* at, const char* name, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    at = copy(at, "{\"hex\":\"");
    for (std::size_t i = 0; i < length; ++i) {
        at = writeHexByte(at, bytes[i]);
    }
    return copy(at, "\"}");
}

char* writeJsonName(char* at, const char* name, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    // Most names are printable ASCII that needs no escape, copied whole.
    if (std::all_of(bytes, bytes + length,
                    [](unsigned char c) { return c >= 0x20 && c < 0x7f && c != '"' && c != '\\'; })) {
        *at++ = '"';
        at = std::copy(name, name + length, at);
        *at++ = '"';
        return at;
    }
    if (!isValidUtf8(name, length)) {
        return writeHexName(at, name, length);
    }
    *at++ = '"';
    for (std::size_t i = 0; i < length; ++i) {
        if (controlLength(bytes + i, length - i) == 2) {
            at = writeJsonC1(at, bytes[++i]);
        } else {
            at = writeJsonByte(at, bytes[i]);
        }
    }
    *at++ = '"';
    return at;
}

void appendJsonName(std::string& out, const char* name, std::size_t length)
{
    char text[jsonNameRoom];
    appendRange(out, text, writeJsonName(text, name, length));
}

void appendJsonPath(std::string& out, const char* path, std::size_t length)
{
    if (isValidUtf8(path, length)) {
        appendJsonText(out, path, length);
        return;
    }
    out += "{\"hex\":\"";
    for (std::size_t i = 0; i < length; ++i) {
        char digits[2];
        appendRange(out, digits, writeHexByte(digits, static_cast<unsigned char>(path[i])));
    }
    out += "\"}";
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
        } else if (sequence == 1 || controlLength(bytes + i, sequence) == 2) {
            char escaped[6];
            appendRange(out, escaped,
                        sequence == 1 ? writeJsonByte(escaped, bytes[i]) : writeJsonC1(escaped, bytes[i + 1]));
            i += sequence;
        } else {
            out.append(text + i, sequence);
            i += sequence;
        }
    }
    out += '"';
}

std::uint64_t realBits(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
