// Entries: their names, their place in the image, and their values.
#include "entry.h"

#include "Parameter.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>

namespace {

// Where each table starts in the image and the bytes of one of its entries,
// in the order of Table.
struct TableLayout {
    std::size_t offset;
    std::size_t entryBytes;
};
constexpr TableLayout tableLayouts[] = {
    {Parameter::InitOffset, Parameter::InitBytes},         {Parameter::TerminalConditionOffset, Parameter::RealBytes},
    {Parameter::OperationsOffset, Parameter::RealBytes},   {Parameter::NamesOffset, Parameter::NameBytes},
    {Parameter::DocumentOffset, Parameter::DocumentBytes},
};

const TableLayout& layoutOf(Table table)
{
    return tableLayouts[static_cast<std::size_t>(table)];
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
    out.append(text, static_cast<std::size_t>(writeEntryName(text, entry) - text));
}

bool parseEntryName(const std::string& text, Entry& entry, std::string& problem)
{
    // Without a '[', the whole text is the table's name and there is no index.
    const std::size_t open = std::min(text.find('['), text.size());
    const std::string name = text.substr(0, open);
    const Table* known =
        std::find_if(std::begin(allTables), std::end(allTables), [&](Table table) { return name == tableName(table); });
    if (known == std::end(allTables)) {
        problem = "unknown table \"" + name + "\" (Init, TerminalCondition, Operations, Names or Document)";
        return false;
    }
    // At least one character between the '[' and the ']' that ends the text.
    const bool bracketed = text.size() - open > 2 && text.back() == ']';
    const std::string digits = bracketed ? text.substr(open + 1, text.size() - open - 2) : std::string();
    const char* const last = digits.data() + digits.size();
    unsigned long index = 0;
    const std::from_chars_result read = std::from_chars(digits.data(), last, index);
    if (!bracketed || read.ptr != last || (read.ec != std::errc() && read.ec != std::errc::result_out_of_range)) {
        problem = "an entry is written " + name + "[INDEX], INDEX in decimal digits";
        return false;
    }
    if (read.ec == std::errc::result_out_of_range || index >= tableEntries(*known)) {
        problem = "index " + digits + " is past the end of " + name + ", which has " +
                  std::to_string(tableEntries(*known)) + " entries (0 to " + std::to_string(tableEntries(*known) - 1) +
                  ")";
        return false;
    }
    entry = {*known, static_cast<unsigned int>(index)};
    return true;
}

std::size_t entryOffset(Entry entry)
{
    const TableLayout& layout = layoutOf(entry.table);
    return layout.offset + layout.entryBytes * entry.index;
}

std::size_t entrySize(Table table)
{
    return layoutOf(table).entryBytes;
}

std::size_t nameLength(const char* name)
{
    return strnlen(name, Parameter::NameBytes);
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
        return writeJsonBool(at, para.getDocumentParameter(i));
    }
    return at;
}

void appendJsonEntry(std::string& out, const Parameter& para, Table table, unsigned int i)
{
    char text[jsonEntryRoom];
    out.append(text, static_cast<std::size_t>(writeJsonEntry(text, para, table, i) - text));
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

void storeEntryValue(unsigned char* image, Entry entry, const EntryValue& value)
{
    unsigned char* const at = image + entryOffset(entry);
    switch (entry.table) {
    case Table::Init:
        Parameter::write32le(at, value.integer);
        break;
    case Table::TerminalCondition:
    case Table::Operations:
        Parameter::writeDoubleLe(at, value.real);
        break;
    case Table::Names:
        std::fill(std::copy(value.name.begin(), value.name.end(), at), at + Parameter::NameBytes, 0);
        break;
    case Table::Document:
        *at = value.flag ? 1 : 0;
        break;
    }
}

std::string unterminatedNameWarning(Entry entry)
{
    std::string warning = "warning: ";
    appendEntryName(warning, entry);
    warning += " holds 50 bytes and so has no terminating zero (see --check)";
    return warning;
}
