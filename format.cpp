#include "format.h"

#include "Parameter.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

constexpr std::uint64_t quietNaNBits = 0x7ff8000000000000;
constexpr char hexDigits[] = "0123456789abcdef";

// The two hex digits of every byte, so that a byte is written with one copy.
struct HexPairs {
    char digits[256][2];
    constexpr HexPairs() : digits()
    {
        for (int byte = 0; byte < 256; ++byte) {
            digits[byte][0] = hexDigits[byte >> 4];
            digits[byte][1] = hexDigits[byte & 0xf];
        }
    }
};
constexpr HexPairs hexPairs;

// Appends the characters from first to last. std::string's append of an
// iterator range goes through its general replace, which costs several
// times as much for the short pieces written here.
void appendRange(std::string& out, const char* first, const char* last)
{
    out.append(first, static_cast<std::size_t>(last - first));
}

char* writeHexByte(char* at, unsigned char byte)
{
    std::memcpy(at, hexPairs.digits[byte], 2);
    return at + 2;
}

// Copies text without its terminating zero to at.
template <std::size_t size> char* copy(char* at, const char (&text)[size])
{
    std::memcpy(at, text, size - 1);
    return at + size - 1;
}

bool isControl(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7f;
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
    } else if (isControl(byte)) {
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

namespace {

// Whether the length bytes at text follow JSON's grammar of a number.
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

// The string that text holds as one JSON value, which must be valid UTF-8.
bool parseJsonString(const std::string& text, std::string& value, std::string& problem)
{
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (!parsed.is_string()) {
        problem = "not a valid JSON string";
        return false;
    }
    value = parsed.get<std::string>();
    return true;
}

bool parseRealValue(const std::string& text, double& value, std::string& problem)
{
    static const char expected[] =
        "a real is a JSON number, NaN, Infinity, -Infinity or 0x and the 16 hex digits of a NaN";
    if (!text.empty() && text[0] == '"') {
        std::string inner;
        if (!parseJsonString(text, inner, problem)) {
            return false;
        }
        if (!parseJsonRealString(inner, value)) {
            problem = expected;
            return false;
        }
        return true;
    }
    if (parseJsonRealString(text, value)) {
        return true;
    }
    if (!isJsonNumber(text.data(), text.size())) {
        problem = expected;
        return false;
    }
    return parseJsonNumber(text.data(), text.size(), value, problem);
}

bool parseNameValue(const std::string& text, std::string& name, std::string& problem)
{
    if (!text.empty() && text[0] == '"') {
        return parseJsonString(text, name, problem) && fitsNameField(name, problem);
    }
    if (!text.empty() && text[0] == '{') {
        // The parser keeps the last of keys given twice, which --from-json refuses.
        int hexKeys = 0;
        const auto countHexKeys = [&hexKeys](int depth, nlohmann::json::parse_event_t event,
                                             const nlohmann::json& key) {
            hexKeys += depth == 1 && event == nlohmann::json::parse_event_t::key && key == "hex" ? 1 : 0;
            return true;
        };
        const nlohmann::json parsed = nlohmann::json::parse(text, countHexKeys, false);
        if (hexKeys > 1) {
            problem = "duplicate key \"hex\"";
            return false;
        }
        if (!parsed.is_object() || parsed.size() != 1 || !parsed.contains("hex") || !parsed["hex"].is_string()) {
            problem = "a name given as an object is {\"hex\":\"...\"}";
            return false;
        }
        return parseHexName(parsed["hex"].get<std::string>(), name, problem);
    }
    name = text;
    return fitsNameField(name, problem);
}

} // namespace

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

bool parseHexName(const std::string& hex, std::string& name, std::string& problem)
{
    if (hex.size() % 2 != 0) {
        problem = "\"hex\" must have an even number of digits";
        return false;
    }
    name.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigitValue(hex[i]);
        const int low = hexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            problem = "\"hex\" must hold only hexadecimal digits";
            return false;
        }
        name += static_cast<char>(high << 4 | low);
    }
    return fitsNameField(name, problem);
}

bool parseEntryValue(Table table, const std::string& text, EntryValue& value, std::string& problem)
{
    switch (table) {
    case Table::Init: {
        unsigned long long number = 0;
        const char* const last = text.data() + text.size();
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
            problem = "an Init entry is a whole number from 0 to 4294967295 in decimal digits";
            return false;
        }
        if (std::from_chars(text.data(), last, number).ec != std::errc() || number > UINT32_MAX) {
            problem = "an Init entry is at most 4294967295";
            return false;
        }
        value.integer = static_cast<std::uint32_t>(number);
        return true;
    }
    case Table::TerminalCondition:
    case Table::Operations:
        return parseRealValue(text, value.real, problem);
    case Table::Names:
        return parseNameValue(text, value.name, problem);
    case Table::Document:
        if (text != "true" && text != "false" && text != "1" && text != "0") {
            problem = "a Document entry is true, false, 1 or 0";
            return false;
        }
        value.flag = text == "true" || text == "1";
        return true;
    }
    return false;
}

std::string unterminatedNameWarning(Entry entry)
{
    std::string warning = "warning: ";
    appendEntryName(warning, entry);
    warning += " holds 50 bytes and so has no terminating zero (see --check)";
    return warning;
}

void readImage(const unsigned char* image, Parameter& para)
{
    const auto littleEndian = [image](Entry entry) {
        std::uint64_t bits = 0;
        const unsigned char* const at = image + entryOffset(entry);
        for (std::size_t i = entrySize(entry.table); i-- > 0;) {
            bits = bits << 8 | at[i];
        }
        return bits;
    };
    const auto real = [&](Entry entry) {
        const std::uint64_t bits = littleEndian(entry);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    };
    for (unsigned int i = 0; i < Parameter::InitEntries; ++i) {
        para.setInitParameter(i, littleEndian({Table::Init, i}));
    }
    for (unsigned int i = 0; i < Parameter::TerminalConditionEntries; ++i) {
        para.setTerminalConditionParameter(i, real({Table::TerminalCondition, i}));
    }
    for (unsigned int i = 0; i < Parameter::OperationsEntries; ++i) {
        para.setOperationsParameter(i, real({Table::Operations, i}));
    }
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        const char* field = reinterpret_cast<const char*>(image + entryOffset({Table::Names, i}));
        para.setNamesParameter(i, std::string(field, nameLength(field)).c_str());
    }
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        para.setDocumentParameter(i, image[entryOffset({Table::Document, i})] != 0);
    }
}

void storeEntryValue(unsigned char* image, Entry entry, const EntryValue& value)
{
    unsigned char* const at = image + entryOffset(entry);
    const auto storeLittleEndian = [at](std::uint64_t bits, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) {
            at[i] = static_cast<unsigned char>(bits >> (8 * i));
        }
    };
    switch (entry.table) {
    case Table::Init:
        storeLittleEndian(value.integer, 4);
        break;
    case Table::TerminalCondition:
    case Table::Operations:
        storeLittleEndian(realBits(value.real), 8);
        break;
    case Table::Names:
        std::fill(std::copy(value.name.begin(), value.name.end(), at), at + Parameter::NameBytes, 0);
        break;
    case Table::Document:
        *at = value.flag ? 1 : 0;
        break;
    }
}

char* writeJsonName(char* at, const char* name, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    if (!isValidUtf8(name, length)) {
        at = copy(at, "{\"hex\":\"");
        for (std::size_t i = 0; i < length; ++i) {
            at = writeHexByte(at, bytes[i]);
        }
        return copy(at, "\"}");
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

void appendVisible(std::string& out, const char* text, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const std::size_t sequence = utf8SequenceLength(bytes + i, length - i);
        const std::size_t control = controlLength(bytes + i, length - i);
        if (sequence == 0 || control != 0) {
            const std::size_t escaped = std::max<std::size_t>(control, 1);
            for (std::size_t k = 0; k < escaped; ++k) {
                char hex[4] = {'\\', 'x'};
                appendRange(out, hex, writeHexByte(hex + 2, bytes[i + k]));
            }
            i += escaped;
        } else {
            out.append(text + i, sequence);
            i += sequence;
        }
    }
}

std::size_t controlLength(const unsigned char* text, std::size_t available)
{
    if (isControl(text[0])) {
        return 1;
    }
    return available >= 2 && text[0] == 0xc2 && text[1] >= 0x80 && text[1] < 0xa0 ? 2 : 0;
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

char* writeEntryName(char* at, Entry entry)
{
    const char* name = tableName(entry.table);
    at = std::copy(name, name + std::strlen(name), at);
    *at++ = '[';
    at = writeInteger(at, entry.index);
    *at++ = ']';
    return at;
}

void appendEntryName(std::string& out, Entry entry)
{
    char text[entryNameRoom];
    appendRange(out, text, writeEntryName(text, entry));
}

bool parseEntryName(const std::string& text, Entry& entry, std::string& problem)
{
    const std::size_t open = text.find('[');
    const std::string name = text.substr(0, open);
    const Table* known =
        std::find_if(std::begin(allTables), std::end(allTables), [&](Table table) { return name == tableName(table); });
    if (known == std::end(allTables)) {
        problem = "unknown table \"" + name + "\" (Init, TerminalCondition, Operations, Names or Document)";
        return false;
    }
    const std::size_t close = text.size() - 1;
    const bool bracketed = open != std::string::npos && close > open + 1 && text[close] == ']';
    const char* first = text.data() + open + 1;
    const char* last = text.data() + close;
    unsigned long index = 0;
    const std::from_chars_result read = bracketed ? std::from_chars(first, last, index) : std::from_chars_result{};
    if (!bracketed || read.ptr != last || (read.ec != std::errc() && read.ec != std::errc::result_out_of_range)) {
        problem = "an entry is written " + name + "[INDEX], INDEX in decimal digits";
        return false;
    }
    if (read.ec == std::errc::result_out_of_range || index >= tableEntries(*known)) {
        problem = "index " + text.substr(open + 1, close - open - 1) + " is past the end of " + name + ", which has " +
                  std::to_string(tableEntries(*known)) + " entries (0 to " + std::to_string(tableEntries(*known) - 1) +
                  ")";
        return false;
    }
    entry = {*known, static_cast<unsigned int>(index)};
    return true;
}

std::size_t entryOffset(Entry entry)
{
    static constexpr std::size_t starts[] = {Parameter::InitOffset, Parameter::TerminalConditionOffset,
                                             Parameter::OperationsOffset, Parameter::NamesOffset,
                                             Parameter::DocumentOffset};
    return starts[static_cast<std::size_t>(entry.table)] + entrySize(entry.table) * entry.index;
}

std::size_t entrySize(Table table)
{
    static constexpr std::size_t sizes[] = {4, 8, 8, Parameter::NameBytes, 1};
    return sizes[static_cast<std::size_t>(table)];
}

char* writeJsonEntry(char* at, const Parameter& para, Table table, unsigned int i)
{
    switch (table) {
    case Table::Init:
        return writeInteger(at, para.getInitParameter(i));
    case Table::TerminalCondition:
        return writeJsonReal(at, para.getTerminalConditionParameter(i));
    case Table::Operations:
        return writeJsonReal(at, para.getOperationsParameter(i));
    case Table::Names: {
        const char* name = para.getNamesParameter(i);
        return writeJsonName(at, name, nameLength(name));
    }
    case Table::Document:
        return para.getDocumentParameter(i) ? copy(at, "true") : copy(at, "false");
    }
    return at;
}

void appendJsonEntry(std::string& out, const Parameter& para, Table table, unsigned int i)
{
    char text[jsonEntryRoom];
    appendRange(out, text, writeJsonEntry(text, para, table, i));
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
