// A record's JSON object read back, as --json writes it: strictly, so that
// anything --json would not write, or that does not fit the record, is a
// problem with its place, naming the entry it concerns.
#include "json_record.h"

#include "entry.h"
#include "json_text.h"
#include "terminal_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

using Json = nlohmann::json;

// Reads the character under it and records how far the parser has read, so
// that an error can name the place of the value it concerns.
struct TrackingIterator {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    const char* at;
    const char** furthest;

    reference operator*() const { return *at; }
    TrackingIterator& operator++()
    {
        ++at;
        *furthest = at;
        return *this;
    }
    TrackingIterator operator++(int)
    {
        TrackingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const TrackingIterator& other) const { return at == other.at; }
    bool operator!=(const TrackingIterator& other) const { return at != other.at; }
};

// Builds the record from the parser's events, and stops at the first thing
// that is wrong, keeping its place and a message.
class RecordReader
{
public:
    // Reads the object that starts at text[at]; with tablesOptional, tables
    // may be left out.
    RecordReader(const std::string& text, std::size_t at, bool tablesOptional)
        : text(text), begin(text.data() + at), furthest(begin), mark(begin), tablesOptional(tablesOptional)
    {
    }

    bool null() { return wrong("a null is not allowed here"); }
    bool boolean(bool value)
    {
        start();
        if (depth != 2 || table != Table::Document) {
            return unexpected("true or false");
        }
        return take([&] { return para.setDocumentParameter(index, value); });
    }
    bool number_integer(Json::number_integer_t /*value*/)
    {
        start();
        if (depth == 2 && table == Table::Init) {
            return wrong("Init entries must not be negative");
        }
        return number(false);
    }
    bool number_unsigned(Json::number_unsigned_t value)
    {
        start();
        if (depth == 2 && table == Table::Init) {
            return value > UINT32_MAX ? wrong("Init entries must not be above 4294967295")
                                      : take([&] { return para.setInitParameter(index, value); });
        }
        return number(true);
    }
    // --json writes an Init entry and "bytes" in digits alone; a number in
    // digits alone that comes here is too large for the parser's integers.
    bool number_float(Json::number_float_t value, const Json::string_t& token)
    {
        start();
        const bool digitsAlone = token.find_first_not_of("0123456789") == std::string::npos;
        if (depth == 2 && table == Table::Init) {
            return wrong(value < 0     ? "Init entries must not be negative"
                         : digitsAlone ? "Init entries must not be above 4294967295"
                                       : "Init entries must be whole numbers, written in digits alone");
        }
        if (depth == 1 && currentKey == "bytes" && !digitsAlone) {
            return wrong(value < 0 ? "\"bytes\" must not be negative"
                                   : "\"bytes\" must be a whole number, written in digits alone");
        }
        return number(value >= 0);
    }
    // The parser hands strings over as mutable references.
    // cppcheck-suppress constParameter
    bool string(Json::string_t& value)
    {
        start();
        if (depth == 1 && currentKey == "file") {
            return setFile(value);
        }
        if (depth == 3) {
            return hexName(value);
        }
        if (depth == 2 && (table == Table::TerminalCondition || table == Table::Operations)) {
            double real = 0;
            if (!parseJsonRealString(value, real)) {
                return wrong("a real must be a number, \"Infinity\", \"-Infinity\", \"NaN\" or \"0x\" and the 16 "
                             "hex digits of a NaN");
            }
            return setReal(real);
        }
        if (depth == 2 && table == Table::Names) {
            return setName(value);
        }
        return unexpected("a string");
    }
    bool binary(Json::binary_t& /*value*/) { return wrong("binary values are not allowed"); }

    bool start_object(std::size_t /*elements*/)
    {
        start();
        if (depth == 0) {
            depth = 1;
            return true;
        }
        // A path that is not UTF-8 is written as a name is, in hex.
        if ((depth == 2 && table == Table::Names) || (depth == 1 && currentKey == "file")) {
            depth = 3;
            hexSeen = false;
            return true;
        }
        return unexpected("an object");
    }
    bool key(Json::string_t& name)
    {
        start();
        if (depth == 3) {
            if (name != "hex" || hexSeen) {
                return wrong(name == "hex" ? "duplicate key \"hex\""
                                           : std::string(inFile() ? "a \"file\"" : "a name") +
                                                 " object has only the key \"hex\"");
            }
            hexSeen = true;
            return true;
        }
        currentKey = name;
        if (currentKey == "file" || currentKey == "bytes") {
            return claim(currentKey == "file" ? fileSeen : bytesSeen);
        }
        const Table* known = std::find_if(std::begin(allTables), std::end(allTables),
                                          [&](Table candidate) { return currentKey == tableName(candidate); });
        if (known == std::end(allTables)) {
            return wrong("unknown key \"" + visibleKey() + "\"");
        }
        table = *known;
        return claim(tableSeen[static_cast<std::size_t>(table)]);
    }
    bool end_object()
    {
        close();
        if (depth == 3 && inFile()) {
            depth = 1;
            return hexSeen ? setFile(pendingName) : wrong("a \"file\" object needs the key \"hex\"");
        }
        if (depth == 3) {
            depth = 2;
            return hexSeen ? take([&] { return para.setNamesParameter(index, pendingName.c_str()); })
                           : wrong("a name object needs the key \"hex\"");
        }
        const Table* missing = std::find_if(std::begin(allTables), std::end(allTables), [&](Table candidate) {
            return !tableSeen[static_cast<std::size_t>(candidate)];
        });
        if (!tablesOptional && missing != std::end(allTables)) {
            return wrong(std::string("the table \"") + tableName(*missing) + "\" is missing");
        }
        depth = 0;
        return true;
    }
    bool start_array(std::size_t /*elements*/)
    {
        start();
        if (depth != 1 || currentKey == "file" || currentKey == "bytes") {
            return unexpected("an array");
        }
        depth = 2;
        index = 0;
        return true;
    }
    bool end_array()
    {
        close();
        if (index != tableEntries(table)) {
            // The problem is the table's, not that of an entry in it.
            depth = 1;
            return wrong(std::string("\"") + tableName(table) + "\" has " + std::to_string(index) +
                         (index == 1 ? " entry, not " : " entries, not ") + std::to_string(tableEntries(table)));
        }
        depth = 1;
        return true;
    }
    bool parse_error(std::size_t position, const std::string& /*token*/, const nlohmann::detail::exception& error)
    {
        // The offending token starts where the previous event left off, and
        // has been read up to position at the most.
        start();
        place = std::min(place, begin + (position > 0 ? position - 1 : 0));
        // The library's message starts with its own id and place, and ends
        // with up to a kilobyte of what it last read; ours has the place in
        // front and the text at the place is the user's own.
        std::string what = error.what();
        what.erase(0, what.find("] ") + 2);
        const std::size_t column = what.find(", column ");
        if (what.compare(0, 9, "parse error") == 0 || column != std::string::npos) {
            what.erase(0, what.find(": ", column) + 2);
        }
        what.erase(std::min(what.find("; last read"), what.size()));
        if (what.compare(0, 15, "number overflow") == 0) {
            what = "the number is too large for a real";
        }
        return wrong(what);
    }

    // The object read: its record, the tables it gives and its "file".
    void read(RecordObject& object) const
    {
        object.record = para;
        object.tables = tableSeen;
        object.named = fileSeen;
        object.file = fileName;
    }
    const std::string& problem() const { return message; }
    // Where the problem is, or once the object is read, where it ends.
    std::size_t offset() const { return static_cast<std::size_t>(place - text.data()); }
    std::size_t end() const { return static_cast<std::size_t>(furthest - text.data()); }

    const char** tracker() { return &furthest; }

private:
    // Where the value of the current event starts: past the blanks and
    // punctuation that follow the previous event.
    void start()
    {
        place = mark;
        while (place < furthest && std::strchr(" \t\r\n,:", *place) != nullptr && *place != '\0') {
            ++place;
        }
        mark = furthest;
    }
    // A closing bracket is the last character read.
    void close()
    {
        place = furthest > begin ? furthest - 1 : furthest;
        mark = furthest;
    }

    // Keeps the first problem, naming the entry it concerns where there is one.
    bool wrong(const std::string& what)
    {
        if (message.empty()) {
            if (depth >= 2 && !inFile() && index < tableEntries(table)) {
                appendEntryName(message, {table, index});
                message += ": ";
            }
            message += what;
        }
        return false;
    }
    bool unexpected(const char* found)
    {
        if (depth == 0) {
            return wrong(std::string("expected an object, found ") + found);
        }
        if (depth == 1) {
            if (currentKey == "file") {
                return wrong(std::string("\"file\" must be a string or {\"hex\":\"...\"}, not ") + found);
            }
            if (currentKey == "bytes") {
                return wrong(std::string("\"bytes\" must be a number, not ") + found);
            }
            return wrong(std::string("\"") + tableName(table) + "\" must be an array, not " + found);
        }
        if (depth == 3) {
            return wrong(std::string("\"hex\" must be a string, not ") + found);
        }
        static const char* const expected[] = {"a whole number", "a real", "a real", "a name", "true or false"};
        return wrong(std::string(tableName(table)) + " entries must be " + expected[static_cast<int>(table)] +
                     ", not " + found);
    }
    bool claim(bool& seen)
    {
        if (seen) {
            return wrong("duplicate key \"" + visibleKey() + "\"");
        }
        seen = true;
        return true;
    }
    std::string visibleKey() const
    {
        std::string shown;
        appendVisible(shown, currentKey.data(), currentKey.size());
        return shown;
    }
    // Stores the entry at index through set, then moves to the next.
    template <typename Set> bool take(Set set)
    {
        if (index >= tableEntries(table)) {
            return wrong(std::string("\"") + tableName(table) + "\" has more than " +
                         std::to_string(tableEntries(table)) + " entries");
        }
        set();
        ++index;
        return true;
    }
    bool number(bool nonNegative)
    {
        if (depth == 1 && currentKey == "bytes") {
            return nonNegative ? true : wrong("\"bytes\" must not be negative");
        }
        if (depth != 2 || (table != Table::TerminalCondition && table != Table::Operations)) {
            return unexpected("a number");
        }
        // Read from the number's text, as --set reads its values, so that
        // "-0" (which some tools write for negative zero) keeps its sign too.
        const std::size_t length = std::strspn(place, "+-.0123456789eE");
        double value = 0;
        std::string why;
        return parseJsonNumber(place, length, value, why) ? setReal(value) : wrong(why);
    }
    bool setReal(double value)
    {
        return take([&] {
            return table == Table::Operations ? para.setOperationsParameter(index, value)
                                              : para.setTerminalConditionParameter(index, value);
        });
    }
    bool setName(const std::string& name)
    {
        std::string why;
        return fitsNameField(name, why) ? take([&] { return para.setNamesParameter(index, name.c_str()); })
                                        : wrong(why);
    }
    // Whether the value being read is the "file"'s, which a name object may
    // spell as well.
    bool inFile() const { return currentKey == "file"; }
    // A zero byte would end the path where the file is opened, so that
    // another file than the one the text names would be edited.
    bool setFile(const std::string& path)
    {
        if (path.empty() || path.find('\0') != std::string::npos) {
            return wrong(path.empty() ? "\"file\" must not be empty" : "\"file\" must not hold a zero byte");
        }
        fileName = path;
        return true;
    }
    // Keeps the name or path for the object's closing brace, which stores it.
    bool hexName(const std::string& hex)
    {
        std::string why;
        return (inFile() ? parseHexBytes(hex, pendingName, why) : parseHexName(hex, pendingName, why)) || wrong(why);
    }

    const std::string& text;
    const char* begin;
    const char* furthest;
    const char* mark;
    const char* place = nullptr;
    std::string message;
    Parameter para;
    int depth = 0;
    std::string currentKey;
    Table table = Table::Init;
    unsigned int index = 0;
    std::array<bool, 5> tableSeen{};
    bool fileSeen = false;
    bool bytesSeen = false;
    bool hexSeen = false;
    std::string pendingName;
    std::string fileName;
    bool tablesOptional;
};

// Reads the object at text[at] as the reader says, and moves at past it.
bool parseObject(const std::string& text, std::size_t& at, RecordObject& object, bool whole, std::size_t& problemAt,
                 std::string& problem)
{
    RecordReader reader(text, at, !whole);
    const TrackingIterator first{text.data() + at, reader.tracker()};
    const TrackingIterator last{text.data() + text.size(), reader.tracker()};
    // Whole, nothing but white space may follow the object.
    const bool parsed = Json::sax_parse(first, last, &reader, nlohmann::detail::input_format_t::json, whole);
    // The parser takes a zero byte for the end of its input, so one that
    // follows a complete object would pass unseen. An object among others
    // ends where the parser stopped, and what follows is the next one's.
    const std::size_t zero = parsed && whole ? text.find('\0', at) : std::string::npos;
    if (parsed && zero == std::string::npos) {
        reader.read(object);
        at = reader.end();
        return true;
    }
    problemAt = parsed ? zero : reader.offset();
    const bool atZero = problemAt < text.size() && text[problemAt] == '\0';
    problem = atZero ? std::string("a zero byte is not allowed in JSON") : reader.problem();
    return false;
}

} // namespace

TextPlace placeIn(const std::string& text, std::size_t offset)
{
    const auto before = text.begin() + static_cast<std::ptrdiff_t>(std::min(offset, text.size()));
    const auto lineStart = std::find(std::make_reverse_iterator(before), text.rend(), '\n').base();
    return {1 + static_cast<std::size_t>(std::count(text.begin(), before, '\n')),
            1 + static_cast<std::size_t>(before - lineStart)};
}

bool parseRecord(const std::string& text, Parameter& para, std::string& problem)
{
    std::size_t at = 0;
    RecordObject object;
    std::size_t problemAt = 0;
    if (parseObject(text, at, object, true, problemAt, problem)) {
        para = object.record;
        return true;
    }
    const TextPlace place = placeIn(text, problemAt);
    problem = std::to_string(place.line) + ":" + std::to_string(place.column) + ": " + problem;
    return false;
}

bool parseRecordObject(const std::string& text, std::size_t& at, RecordObject& object, std::size_t& problemAt,
                       std::string& problem)
{
    return parseObject(text, at, object, false, problemAt, problem);
}
