// A schema: what the user's words for entries are, and the limits their
// values keep. It is read from a TOML file of [[entry]] tables kept apart from
// the parameter files; an entry it does not describe is as it is without one.
#ifndef PARAMLIST_SCHEMA_H
#define PARAMLIST_SCHEMA_H

#include "entry.h"

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class Parameter;

// A value that values allows, with its meaning.
struct AllowedValue {
    double value;
    // The value as --json writes it.
    std::string text;
    std::string meaning;
};

// What the schema says of one entry; an [[entry]] for a range describes each
// of its entries apart, each named NAME_INDEX.
struct EntryDescription {
    Entry entry;
    // Empty when the schema gives none, as for label, unit and description.
    std::string name;
    std::string label;
    std::string unit;
    // May hold newlines, never another control character; the others hold none.
    std::string description;
    // Init's limits and values are whole numbers, which a double holds exactly.
    std::optional<double> min;
    std::optional<double> max;
    bool nonzero = false;
    // In increasing order; empty when the schema gives no values.
    std::vector<AllowedValue> values;
    // The line of the [[entry]] that describes it.
    unsigned line = 0;
};

// The entry's place among all 300 in file order: Init[0] is 0, Document[49] 299.
std::size_t entryNumber(Entry entry);

class Schema
{
public:
    // The schema read from the file shown as path: each description of an
    // entry that no other describes.
    Schema(std::string shownPath, std::vector<EntryDescription> described);
    // The schema of another file of the same bytes, read from the file shown
    // as path: it shares the descriptions.
    Schema(std::string shownPath, const Schema& sameBytes) : path(std::move(shownPath)), index(sameBytes.index) {}

    // Whether both were read from the same bytes, as the files of a fleet
    // that copy one schema are: the modes that need one schema for all files
    // take such schemas as one.
    bool sameAs(const Schema& other) const { return index == other.index; }

    // The schema's path, as messages show it.
    const std::string& shownPath() const { return path; }
    // The described entries, in file order.
    const std::vector<EntryDescription>& described() const { return index->descriptions; }
    // What the schema says of entry, or nullptr.
    const EntryDescription* find(Entry entry) const;
    // The entry the schema calls name, or nullptr.
    const EntryDescription* find(std::string_view name) const;
    // What a line that shows entry ends with, "  # NAME: LABEL [UNIT]" of
    // the parts the schema gives; empty for an entry it does not describe.
    const std::string& note(Entry entry) const { return index->notes[entryNumber(entry)]; }
    // Every entry's note, by entryNumber, for the writers below this layer.
    const std::string* notes() const { return index->notes.data(); }
    // What --diff --json adds to the object of each entry, by entryNumber:
    // ,"name":NAME,"unit":UNIT of the parts the schema gives, or "".
    const std::string* jsonNotes() const { return index->jsonNotes.data(); }

private:
    struct Index {
        std::vector<EntryDescription> descriptions;
        // Each entry's place in descriptions, or -1, by its place in the
        // image's order of entries (entryNumber).
        std::array<int, 300> byEntry{};
        std::unordered_map<std::string, std::size_t> byName;
        std::array<std::string, 300> notes;
        std::array<std::string, 300> jsonNotes;
    };
    std::string path;
    std::shared_ptr<const Index> index;
};

// A number of table (Init or a real table) as --json writes it: a limit,
// an allowed value, or a value found.
std::string valueText(Table table, double value);

// Whether text is of the form of a schema's names, [a-z_][a-z0-9_]*, which
// no Table[INDEX] is.
bool isEntryNameWord(std::string_view text);

// An ENTRY as the user gives it: Table[INDEX], the same entry in every file,
// or a name, which each file's schema gives an entry of its own.
struct EntryWord {
    Entry entry{};
    // Empty for Table[INDEX].
    std::string name;
    // The entry that the word means in a file that schema describes (nullptr
    // for a file without one): false when it is a name that the schema does
    // not give, with problem saying so.
    bool in(const Schema* schema, Entry& meant, std::string& problem) const;
};

// Reads text as an ENTRY: false, with problem, for a word that is neither a
// name nor Table[INDEX].
bool parseEntryWord(const std::string& text, EntryWord& word, std::string& problem);

// Reads the schema that text, read from the file shown as path, holds. On a
// problem of any kind, returns nothing and problems gets a diagnostic line
// "paramlist: PATH:LINE:COLUMN: what is wrong" for each, in file order.
// text may be any bytes; a text over schemaLimit is refused.
constexpr std::size_t schemaLimit = 1 << 20;
std::optional<Schema> parseSchema(std::string_view text, const std::string& path, std::string& problems);

// How a value breaks its description.
enum class FindingKind { BelowMinimum, AboveMaximum, NotAllowed, Required };

// The kind as --check --json names it: below-minimum, above-maximum,
// not-allowed or required.
const char* findingKindName(FindingKind kind);

struct SchemaFinding {
    FindingKind kind;
    const EntryDescription* description;
    // The value as --json writes it; for a Names or Document entry, which is
    // found only when empty or clear, "empty" or "clear".
    std::string value;
    // Whether the value is a NaN, which compares with no limit.
    bool notANumber = false;
};

// The findings of value, the value of the entry that description describes:
// one for each limit it breaks, in the order min, max, values, nonzero. A
// real is compared as a double; a NaN breaks min, max and values at once, as
// one not-allowed finding.
std::vector<SchemaFinding> checkValue(const EntryDescription& description, const EntryValue& value);

// The findings of every entry that schema describes in a file image of at
// least 3950 bytes, in file order.
std::vector<SchemaFinding> checkImage(const Schema& schema, const unsigned char* image);

// The value of entry in a file image of at least 3950 bytes, as a record
// read from it holds it.
EntryValue entryValueIn(const unsigned char* image, Entry entry);

// The value of entry in para.
EntryValue entryValueOf(const Parameter& para, Entry entry);

// The finding as --check states it: "Operations[10] feed_rate is 12000 mm/min,
// above its maximum 8000 (paramlist.toml:8)".
std::string findingMessage(const SchemaFinding& finding, const Schema& schema);

// The finding as an edit that would set the value refuses it:
// "Operations[10] feed_rate 12000 mm/min is above its maximum 8000 (paramlist.toml:8)".
std::string refusalMessage(const SchemaFinding& finding, const Schema& schema);

#endif
