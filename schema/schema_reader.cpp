// Reading a schema: TOML parsed by toml++, then every [[entry]] judged
// strictly, each problem at its line and column, so that a schema is used
// only as its author meant it.
#include "schema.h"

#include "diagnostics.h"
#include "terminal_text.h"

// A schema nests values two deep (values = { ... }); the parser recurses
// for each level, so a low bound keeps even a small thread's stack safe.
#define TOML_MAX_NESTED_VALUES 32
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
// toml++ asserts of the text what its own checks then report, as of a header
// "[=]": its asserts abort a debug build, and a release build's assumptions
// of them are undefined, so both are left out.
#pragma push_macro("NDEBUG")
#undef NDEBUG
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>
#pragma pop_macro("NDEBUG")

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <unordered_map>

namespace {

struct Position {
    unsigned line;
    unsigned column;
};

// The line and column of the byte at offset, columns counted in characters
// as toml++ counts them, which is after a byte order mark.
Position positionOf(std::string_view text, std::size_t offset)
{
    Position position{1, 1};
    for (std::size_t i = text.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0; i < offset; ++i) {
        if (text[i] == '\n') {
            position = {position.line + 1, 1};
        } else if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) {
            ++position.column;
        }
    }
    return position;
}

// toml++ builds a table for each part of a dotted key and frees them by
// recursion, so a key of a few hundred thousand parts, which fits in 1 MiB,
// overflows the stack. A schema needs no deep keys; this finds the dot past
// the allowed number on the path to any key: its table's header's dots and
// those of the keys of the inline tables it lies in, not its siblings', read
// where TOML reads a key, past strings and comments, so that a dot of a
// value (1.5) is not counted and the shallow keys of a long schema are not
// summed.
constexpr std::size_t keyDotsAllowed = 256;
std::size_t tooManyKeyDots(std::string_view text)
{
    std::size_t counted = 0;
    // The dots of the last table header, on the path to each key below it.
    std::size_t header = 0;
    bool inHeader = false;
    bool lineStart = true;
    bool inKey = true;
    // The dots counted where each inline table or array still open began.
    struct Open {
        std::size_t counted;
        bool table;
    };
    std::vector<Open> opened;
    std::size_t i = text.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    const auto skipString = [&](char quote) {
        const bool multiline = text.compare(i, 3, std::string(3, quote)) == 0;
        i += multiline ? 3 : 1;
        while (i < text.size()) {
            if (quote == '"' && text[i] == '\\') {
                i += 2;
            } else if (multiline && text.compare(i, 3, std::string(3, quote)) == 0) {
                // A closing delimiter may follow one or two quotes of the string's own.
                i += 3;
                for (int extra = 0; extra < 2 && i < text.size() && text[i] == quote; ++extra) {
                    ++i;
                }
                return;
            } else if (!multiline && (text[i] == quote || text[i] == '\n')) {
                ++i;
                return;
            } else {
                ++i;
            }
        }
    };
    while (i < text.size()) {
        const char c = text[i];
        const bool wasLineStart = lineStart;
        lineStart = c == ' ' || c == '\t' || c == '\r' ? wasLineStart : c == '\n';
        if (c == '"' || c == '\'') {
            skipString(c);
            continue;
        }
        if (c == '#') {
            i = std::min(text.find('\n', i), text.size());
            continue;
        }
        if (c == '\n' && opened.empty()) {
            counted = header;
            inKey = true;
        } else if (c == '[' && opened.empty() && (wasLineStart || inHeader)) {
            counted = inHeader ? counted : 0;
            inHeader = true;
        } else if (c == ']' && inHeader) {
            header = counted;
            inHeader = false;
        } else if (c == '=') {
            inKey = false;
        } else if (c == '[' || c == '{') {
            opened.push_back({counted, c == '{'});
            inKey = c == '{';
        } else if ((c == ']' || c == '}' || c == ',') && !opened.empty()) {
            // A value's keys are below its key, not below its siblings'.
            counted = opened.back().counted;
            inKey = c == ',' && opened.back().table;
            if (c != ',') {
                opened.pop_back();
            }
        } else if (c == '.' && inKey && ++counted > keyDotsAllowed) {
            return i;
        }
        ++i;
    }
    return std::string_view::npos;
}

struct Problem {
    Position at;
    std::string message;
};

const char* const entryKeys = "at, name, label, unit, description, min, max, nonzero or values";

class Reader
{
public:
    explicit Reader(const std::string& path) : path(path) {}

    void problem(Position at, std::string message) { problems.push_back({at, std::move(message)}); }
    void problem(const toml::source_region& where, std::string message)
    {
        problem(Position{where.begin.line, where.begin.column}, std::move(message));
    }

    void readRoot(const toml::table& root)
    {
        for (const auto& [key, node] : root) {
            if (key.str() != "entry") {
                problem(key.source(),
                        "unknown key \"" + std::string(key.str()) + "\": a schema holds [[entry]] tables");
            } else if (!node.is_array_of_tables()) {
                problem(node.source(), "entry is written [[entry]], a table for each entry described");
            } else {
                for (const toml::node& entry : *node.as_array()) {
                    readEntry(*entry.as_table());
                }
            }
        }
    }

    // The problems, or none, as diagnostic lines in file order.
    std::string lines() const
    {
        std::vector<Problem> sorted = problems;
        std::stable_sort(sorted.begin(), sorted.end(), [](const Problem& a, const Problem& b) {
            return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
        });
        std::string out;
        for (const Problem& p : sorted) {
            // A message quotes the schema's text, which may hold a newline that would break its line.
            std::string message;
            appendVisible(message, p.message.data(), p.message.size());
            out +=
                diagnostic(path + ':' + std::to_string(p.at.line) + ':' + std::to_string(p.at.column) + ": " + message);
        }
        return out;
    }
    bool failed() const { return !problems.empty(); }
    Schema result() { return Schema(path, std::move(descriptions)); }

private:
    // The first and last entry of at's text, "Table[INDEX]" or "Table[FIRST..LAST]".
    bool readAt(const toml::node& node, Entry& first, Entry& last, bool& isRange)
    {
        const auto* text = node.as_string();
        if (text == nullptr) {
            problem(node.source(), "at is a string, \"Table[INDEX]\" or \"Table[FIRST..LAST]\"");
            return false;
        }
        const std::string& at = text->get();
        const std::size_t open = at.find('[');
        const std::size_t range = at.find("..");
        std::string why;
        isRange = open != std::string::npos && range != std::string::npos && range > open;
        const std::string firstText = isRange ? at.substr(0, range) + ']' : at;
        const std::string lastText = isRange ? at.substr(0, open + 1) + at.substr(range + 2) : at;
        if (!parseEntryName(firstText, first, why) || !parseEntryName(lastText, last, why)) {
            problem(node.source(), "at = \"" + at + "\": " + why);
            return false;
        }
        if (last.index < first.index) {
            problem(node.source(), "at = \"" + at + "\": the range runs backwards; write FIRST..LAST, FIRST <= LAST");
            return false;
        }
        return true;
    }

    // A string of key; newlines are allowed in description alone.
    bool readText(const toml::key& key, const toml::node& node, std::string& text)
    {
        const auto* value = node.as_string();
        if (value == nullptr) {
            problem(node.source(), std::string(key.str()) + " is a string");
            return false;
        }
        text = value->get();
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (controlLength(bytes + i, text.size() - i) != 0 && !(key.str() == "description" && text[i] == '\n')) {
                problem(node.source(), std::string(key.str()) + " holds a control character");
                return false;
            }
        }
        return true;
    }

    // A limit or a value of the entry's table, from TOML's integer or float.
    bool readNumber(const toml::node& node, Table table, const std::string& what, double& number)
    {
        if (table == Table::Init) {
            const auto* integer = node.as_integer();
            if (integer == nullptr || integer->get() < 0 || integer->get() > INT64_C(4294967295)) {
                problem(node.source(), what + " of an Init entry is a whole number from 0 to 4294967295");
                return false;
            }
            number = static_cast<double>(integer->get());
            return true;
        }
        if (const auto* integer = node.as_integer()) {
            number = static_cast<double>(integer->get());
            return true;
        }
        const auto* real = node.as_floating_point();
        if (real == nullptr || std::isnan(real->get())) {
            problem(node.source(), what + " of a real is a number (inf and -inf too), not " +
                                       (real == nullptr ? "a " + std::string(typeName(node)) : "nan"));
            return false;
        }
        number = real->get();
        return true;
    }

    static const char* typeName(const toml::node& node)
    {
        switch (node.type()) {
        case toml::node_type::string:
            return "string";
        case toml::node_type::boolean:
            return "boolean";
        case toml::node_type::table:
            return "table";
        case toml::node_type::array:
            return "array";
        default:
            return "date or time";
        }
    }

    void readValues(const toml::node& node, EntryDescription& description)
    {
        const auto* table = node.as_table();
        if (table == nullptr || table->empty()) {
            problem(node.source(), "values is a table of the values allowed and their meanings, as { 0 = \"off\" }");
            return;
        }
        std::vector<std::pair<AllowedValue, Position>> values;
        for (const auto& [key, meaning] : *table) {
            EntryValue value;
            std::string why;
            const Position at{key.source().begin.line, key.source().begin.column};
            if (!parseEntryValue(description.entry.table, std::string(key.str()), value, why)) {
                problem(at, "the key \"" + std::string(key.str()) + "\" of values is not a value of " +
                                tableName(description.entry.table) + ": " + why);
                continue;
            }
            const bool integer = description.entry.table == Table::Init;
            const double number = integer ? value.integer : value.real;
            if (std::isnan(number)) {
                problem(at, "values cannot allow NaN, which equals no value");
                continue;
            }
            if (meaning.is_table()) {
                problem(meaning.source(), "the key of a real's value is quoted, as in \"0.5\" = \"half\"");
                continue;
            }
            AllowedValue allowed{number, "", ""};
            if (!readText(key, meaning, allowed.meaning)) {
                continue;
            }
            allowed.text = valueText(description.entry.table, number);
            values.push_back({std::move(allowed), at});
        }
        std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
            return a.first.value < b.first.value ||
                   (a.first.value == b.first.value &&
                    std::make_pair(a.second.line, a.second.column) < std::make_pair(b.second.line, b.second.column));
        });
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0 && values[i].first.value == values[i - 1].first.value) {
                problem(values[i].second, "values gives " + values[i - 1].first.text + " twice");
            } else {
                description.values.push_back(values[i].first);
            }
        }
    }

    void readEntry(const toml::table& table);

    const std::string& path;
    std::vector<EntryDescription> descriptions;
    std::vector<Problem> problems;
    // The line of the [[entry]] that describes each entry, and of each name.
    std::map<std::size_t, unsigned> describedAt;
    std::unordered_map<std::string, unsigned> namedAt;
};

void Reader::readEntry(const toml::table& table)
{
    const unsigned line = table.source().begin.line;
    const toml::node* atNode = table.get("at");
    Entry first{};
    Entry last{};
    bool range = false;
    const bool located = atNode != nullptr && readAt(*atNode, first, last, range);
    bool usable = located;
    if (atNode == nullptr) {
        problem(table.source(), "this entry has no at = \"Table[INDEX]\"");
    }
    EntryDescription description{first, "", "", "", "", {}, {}, false, {}, line};
    const bool limited = first.table != Table::Names && first.table != Table::Document;
    const toml::node* nameNode = nullptr;
    const toml::node* maxNode = nullptr;
    for (const auto& [key, node] : table) {
        const std::string_view word = key.str();
        if (word == "at") {
            continue;
        }
        if (word == "name" || word == "label" || word == "unit" || word == "description") {
            std::string& text = word == "name"    ? description.name
                                : word == "label" ? description.label
                                : word == "unit"  ? description.unit
                                                  : description.description;
            const bool read = readText(key, node, text);
            usable = read && usable;
            if (word == "name" && read && !isEntryNameWord(text)) {
                problem(node.source(), "name \"" + text + "\" is not of the form [a-z_][a-z0-9_]*");
                usable = false;
            }
            nameNode = word == "name" ? &node : nameNode;
        } else if (word == "nonzero") {
            const auto* flag = node.as_boolean();
            if (flag == nullptr) {
                problem(node.source(), "nonzero is true or false");
            }
            description.nonzero = flag != nullptr && flag->get();
            usable = flag != nullptr && usable;
        } else if (word == "min" || word == "max" || word == "values") {
            if (!located) {
                continue;
            }
            if (!limited) {
                problem(key.source(), std::string(tableName(first.table)) + " entries take no " + std::string(word));
                usable = false;
            } else if (word == "values") {
                readValues(node, description);
            } else {
                double limit = 0;
                usable = readNumber(node, first.table, std::string(word), limit) && usable;
                (word == "min" ? description.min : description.max) = limit;
                maxNode = word == "max" ? &node : maxNode;
            }
        } else {
            problem(key.source(), "unknown key \"" + std::string(word) + "\" (an entry takes " + entryKeys + ")");
        }
    }
    if (usable && description.min && description.max && *description.min > *description.max) {
        problem(maxNode->source(), "max " + valueText(first.table, *description.max) + " is below min " +
                                       valueText(first.table, *description.min));
        usable = false;
    }
    if (!usable) {
        return;
    }
    const std::string name = description.name;
    for (unsigned index = first.index; index <= last.index; ++index) {
        description.entry = {first.table, index};
        const auto described = describedAt.emplace(entryNumber(description.entry), line);
        if (!described.second) {
            std::string entryName;
            appendEntryName(entryName, description.entry);
            problem(atNode->source(),
                    entryName + " is described twice (first at line " + std::to_string(described.first->second) + ")");
            return;
        }
        if (!name.empty()) {
            description.name = !range ? name : name + '_' + std::to_string(index);
            const auto named = namedAt.emplace(description.name, line);
            if (!named.second) {
                problem(nameNode->source(), "the name " + description.name + " is given twice (first at line " +
                                                std::to_string(named.first->second) + ")");
                return;
            }
        }
        descriptions.push_back(description);
    }
}

} // namespace

std::optional<Schema> parseSchema(std::string_view text, const std::string& path, std::string& problems)
{
    Reader reader(path);
    const std::size_t dot = text.size() > schemaLimit ? std::string_view::npos : tooManyKeyDots(text);
    if (text.size() > schemaLimit) {
        reader.problem(positionOf(text, schemaLimit),
                       "the schema goes on past 1 MiB here, more than a schema may hold");
    } else if (dot != std::string_view::npos) {
        reader.problem(positionOf(text, dot), "keys with more than " + std::to_string(keyDotsAllowed) +
                                                  " dots: a schema's keys are not nested this deep");
    } else {
        const toml::parse_result parsed = toml::parse(text, path);
        if (!parsed) {
            reader.problem(parsed.error().source(), std::string(parsed.error().description()));
        } else {
            reader.readRoot(parsed.table());
        }
    }
    problems = reader.lines();
    if (reader.failed()) {
        return std::nullopt;
    }
    return reader.result();
}
