// The schema's descriptions, found by entry and by name, and the findings of
// a value against its description, with the words that state them.
#include "schema.h"

#include "Parameter.h"
#include "json_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace {

// The entries of the tables before each, in file order.
constexpr std::size_t entriesBefore[] = {0, 50, 100, 200, 250};

// "Operations[10] feed_rate", or "Operations[10]" for an entry without a name.
std::string entryWords(const EntryDescription& description)
{
    std::string words;
    appendEntryName(words, description.entry);
    if (!description.name.empty()) {
        words += ' ' + description.name;
    }
    return words;
}

// "12000 mm/min", or "12000" for an entry without a unit.
std::string valueWords(const SchemaFinding& finding)
{
    const std::string& unit = finding.description->unit;
    return unit.empty() ? finding.value : finding.value + ' ' + unit;
}

// "0, 1 and 2", or "its 12 values" when they are too many to list on a line.
std::string valuesWords(const std::vector<AllowedValue>& values)
{
    constexpr std::size_t listedAtMost = 8;
    if (values.size() > listedAtMost) {
        return "its " + std::to_string(values.size()) + " values";
    }
    std::string words = values.size() == 1 ? "its value " : "one of its values ";
    for (std::size_t i = 0; i < values.size(); ++i) {
        words += (i == 0 ? "" : i + 1 == values.size() ? " and " : ", ") + values[i].text;
    }
    return words;
}

// What the finding says of the value, after the value's words: "above its
// maximum 8000" for both forms of message.
std::string limitWords(const SchemaFinding& finding)
{
    const EntryDescription& description = *finding.description;
    const Table table = description.entry.table;
    switch (finding.kind) {
    case FindingKind::BelowMinimum:
        return "below its minimum " + valueText(table, *description.min);
    case FindingKind::AboveMaximum:
        return "above its maximum " + valueText(table, *description.max);
    case FindingKind::NotAllowed:
        return finding.notANumber ? "not a number its limits allow" : "not " + valuesWords(description.values);
    case FindingKind::Required:
        break;
    }
    return "";
}

// What a required entry must be.
const char* requiredWords(Table table)
{
    return table == Table::Names ? "must be given" : table == Table::Document ? "must be set" : "must be non-zero";
}

// "  # feed_rate: Feed rate [mm/min]", of the parts that description gives.
std::string noteOf(const EntryDescription& description)
{
    std::string note = description.name;
    if (!description.label.empty()) {
        note += (note.empty() ? "" : ": ") + description.label;
    }
    if (!description.unit.empty()) {
        note += (note.empty() ? "[" : " [") + description.unit + ']';
    }
    return note.empty() ? note : "  # " + note;
}

// ,"name":"feed_rate","unit":"mm/min", of the parts that description gives.
std::string jsonNoteOf(const EntryDescription& description)
{
    std::string note;
    if (!description.name.empty()) {
        note += ",\"name\":\"" + description.name + '"';
    }
    if (!description.unit.empty()) {
        note += ",\"unit\":";
        appendJsonText(note, description.unit.data(), description.unit.size());
    }
    return note;
}

std::string whereWords(const EntryDescription& description, const Schema& schema)
{
    return " (" + schema.shownPath() + ':' + std::to_string(description.line) + ')';
}

} // namespace

std::string valueText(Table table, double value)
{
    std::string text;
    if (table == Table::Init) {
        appendInteger(text, static_cast<unsigned long>(value));
    } else {
        appendJsonReal(text, value);
    }
    return text;
}

std::size_t entryNumber(Entry entry)
{
    return entriesBefore[static_cast<std::size_t>(entry.table)] + entry.index;
}

Schema::Schema(std::string shownPath, std::vector<EntryDescription> described) : path(std::move(shownPath))
{
    auto made = std::make_shared<Index>();
    std::vector<EntryDescription>& descriptions = made->descriptions;
    descriptions = std::move(described);
    std::sort(descriptions.begin(), descriptions.end(), [](const EntryDescription& a, const EntryDescription& b) {
        return entryNumber(a.entry) < entryNumber(b.entry);
    });
    made->byEntry.fill(-1);
    made->byName.reserve(descriptions.size());
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        made->byEntry[entryNumber(descriptions[i].entry)] = static_cast<int>(i);
        if (!descriptions[i].name.empty()) {
            made->byName.emplace(descriptions[i].name, i);
        }
        made->notes[entryNumber(descriptions[i].entry)] = noteOf(descriptions[i]);
        made->jsonNotes[entryNumber(descriptions[i].entry)] = jsonNoteOf(descriptions[i]);
    }
    index = std::move(made);
}

const EntryDescription* Schema::find(Entry entry) const
{
    const int at = index->byEntry[entryNumber(entry)];
    return at < 0 ? nullptr : &index->descriptions[static_cast<std::size_t>(at)];
}

const EntryDescription* Schema::find(std::string_view name) const
{
    const auto found = index->byName.find(std::string(name));
    return found == index->byName.end() ? nullptr : &index->descriptions[found->second];
}

bool isEntryNameWord(std::string_view text)
{
    const auto lower = [](char c) { return (c >= 'a' && c <= 'z') || c == '_'; };
    return !text.empty() && lower(text[0]) &&
           std::all_of(text.begin(), text.end(), [&](char c) { return lower(c) || (c >= '0' && c <= '9'); });
}

bool parseEntryWord(const std::string& text, EntryWord& word, std::string& problem)
{
    if (isEntryNameWord(text)) {
        word.name = text;
        return true;
    }
    word.name.clear();
    if (parseEntryName(text, word.entry, problem)) {
        return true;
    }
    // A table's name alone keeps the word of how to name its entries.
    const bool table =
        std::any_of(std::begin(allTables), std::end(allTables), [&](Table each) { return text == tableName(each); });
    if (text.find('[') == std::string::npos && !table) {
        problem = "an entry is Table[INDEX], or a name that a schema gives, of the form [a-z_][a-z0-9_]*";
    }
    return false;
}

bool EntryWord::in(const Schema* schema, Entry& meant, std::string& problem) const
{
    if (name.empty()) {
        meant = entry;
        return true;
    }
    const EntryDescription* described = schema != nullptr ? schema->find(name) : nullptr;
    if (described == nullptr) {
        problem = schema != nullptr ? "no entry is named " + name + " in " + schema->shownPath()
                                    : "no entry is named " + name + ": the file has no schema";
        return false;
    }
    meant = described->entry;
    return true;
}

const char* findingKindName(FindingKind kind)
{
    switch (kind) {
    case FindingKind::BelowMinimum:
        return "below-minimum";
    case FindingKind::AboveMaximum:
        return "above-maximum";
    case FindingKind::NotAllowed:
        return "not-allowed";
    case FindingKind::Required:
        return "required";
    }
    return "";
}

std::vector<SchemaFinding> checkValue(const EntryDescription& description, const EntryValue& value)
{
    std::vector<SchemaFinding> findings;
    const Table table = description.entry.table;
    const auto found = [&](FindingKind kind, std::string text) {
        findings.push_back({kind, &description, std::move(text)});
    };
    if (table == Table::Names || table == Table::Document) {
        const bool empty = table == Table::Names ? value.name.empty() : !value.flag;
        if (description.nonzero && empty) {
            found(FindingKind::Required, table == Table::Names ? "empty" : "clear");
        }
        return findings;
    }
    const double number = table == Table::Init ? value.integer : value.real;
    const std::string text = valueText(table, number);
    if (std::isnan(number)) {
        if (description.min || description.max || !description.values.empty()) {
            found(FindingKind::NotAllowed, text);
            findings.back().notANumber = true;
        }
        return findings;
    }
    if (description.min && number < *description.min) {
        found(FindingKind::BelowMinimum, text);
    }
    if (description.max && number > *description.max) {
        found(FindingKind::AboveMaximum, text);
    }
    if (!description.values.empty() &&
        std::none_of(description.values.begin(), description.values.end(),
                     [number](const AllowedValue& allowed) { return allowed.value == number; })) {
        found(FindingKind::NotAllowed, text);
    }
    if (description.nonzero && number == 0) {
        found(FindingKind::Required, text);
    }
    return findings;
}

std::vector<SchemaFinding> checkImage(const Schema& schema, const unsigned char* image)
{
    std::vector<SchemaFinding> findings;
    for (const EntryDescription& description : schema.described()) {
        std::vector<SchemaFinding> found = checkValue(description, entryValueIn(image, description.entry));
        findings.insert(findings.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    return findings;
}

EntryValue entryValueIn(const unsigned char* image, Entry entry)
{
    EntryValue value;
    const unsigned char* const at = image + entryOffset(entry);
    switch (entry.table) {
    case Table::Init:
        value.integer = Parameter::read32le(at);
        break;
    case Table::TerminalCondition:
    case Table::Operations:
        value.real = Parameter::readDoubleLe(at);
        break;
    case Table::Names: {
        const char* name = reinterpret_cast<const char*>(at);
        value.name.assign(name, nameLength(name));
        break;
    }
    case Table::Document:
        value.flag = *at != 0;
        break;
    }
    return value;
}

EntryValue entryValueOf(const Parameter& para, Entry entry)
{
    const Parameter::Image image = para.toImage();
    return entryValueIn(image.data(), entry);
}

std::string findingMessage(const SchemaFinding& finding, const Schema& schema)
{
    const EntryDescription& description = *finding.description;
    const Table table = description.entry.table;
    if (finding.kind != FindingKind::Required) {
        return entryWords(description) + " is " + valueWords(finding) + ", " + limitWords(finding) +
               whereWords(description, schema);
    }
    const bool number = table != Table::Names && table != Table::Document;
    return entryWords(description) + " is " + (number ? valueWords(finding) : finding.value) + ", but " +
           requiredWords(table) + whereWords(description, schema);
}

std::string refusalMessage(const SchemaFinding& finding, const Schema& schema)
{
    const EntryDescription& description = *finding.description;
    const std::string words = finding.kind == FindingKind::Required
                                  ? std::string(" ") + requiredWords(description.entry.table)
                                  : ' ' + valueWords(finding) + " is " + limitWords(finding);
    return entryWords(description) + words + whereWords(description, schema);
}
