// Changes to files given as text: read as strictly as --from-json reads a
// record, and applied as --set applies its edits, in the differing entries'
// bytes alone.
#include "changes.h"

#include "batches.h"
#include "diagnostics.h"
#include "differences.h"
#include "edit_transaction.h"
#include "input_files.h"
#include "json_record.h"
#include "schema.h"
#include "schema_finder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>

#include <sys/stat.h>

namespace {

// The problem what at offset in text.
TextProblem problemAt(const std::string& text, std::size_t offset, const std::string& what)
{
    const TextPlace place = placeIn(text, offset);
    return {place.line, place.column, what};
}

// The offset of the first character at or after at that is neither white
// space nor in a comment line, or text's size.
std::size_t skipBlanksAndComments(const std::string& text, std::size_t at)
{
    while (at < text.size()) {
        if (std::strchr(" \t\r\n", text[at]) != nullptr && text[at] != '\0') {
            ++at;
        } else if (text[at] == '#') {
            at = std::min(text.find('\n', at), text.size());
        } else {
            break;
        }
    }
    return at;
}

// Marks the entries of the tables an object gives.
void giveTables(const std::array<bool, 5>& tables, std::array<bool, 300>& given)
{
    std::size_t number = 0;
    for (const Table table : allTables) {
        const std::size_t entries = tableEntries(table);
        std::fill_n(given.begin() + static_cast<std::ptrdiff_t>(number), entries,
                    tables[static_cast<std::size_t>(table)]);
        number += entries;
    }
}

bool findJsonChanges(const std::string& text, bool oneRecord, std::vector<RecordPlace>& places,
                     std::vector<TextProblem>& problems)
{
    // Lines are counted from one object to the next: counting each from the
    // start would cost as much as reading a fleet's text once a file.
    std::size_t counted = 0;
    std::size_t line = 1;
    RecordObject object;
    for (std::size_t at = skipBlanksAndComments(text, 0); at < text.size(); at = skipBlanksAndComments(text, at)) {
        const std::size_t start = at;
        line += static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                                                    text.begin() + static_cast<std::ptrdiff_t>(start), '\n'));
        counted = start;
        if (oneRecord && !places.empty()) {
            problems.push_back(problemAt(text, start, "a second object: with a FILE, the input describes one record"));
            return false;
        }
        std::size_t wrongAt = 0;
        std::string what;
        if (!parseRecordObject(text, at, object, wrongAt, what)) {
            problems.push_back(problemAt(text, wrongAt, what));
            return false;
        }
        if (!oneRecord && !object.named) {
            problems.push_back(problemAt(text, start, "the object has no \"file\", which names the file it is for"));
            return false;
        }
        places.push_back({object.file, line, start, true});
    }
    return true;
}

// Where the value that starts at start in line ends: past a JSON string's
// closing quote, past a name's {"hex":...} object, at the note ("  # ") or
// the end of the line after a name's text, at the first blank after
// anything else. A '#' within a quoted name is the name's.
std::size_t valueEnd(Table table, const std::string& line, std::size_t start)
{
    if (start < line.size() && line[start] == '"') {
        for (std::size_t at = start + 1; at < line.size(); ++at) {
            if (line[at] == '\\') {
                ++at;
            } else if (line[at] == '"') {
                return at + 1;
            }
        }
        return line.size();
    }
    if (table != Table::Names) {
        return std::min(line.find_first_of(" \t", start), line.size());
    }
    if (start < line.size() && line[start] == '{') {
        const std::size_t brace = line.find('}', start);
        return brace == std::string::npos ? line.size() : brace + 1;
    }
    return std::min(line.find("  # ", start), line.size());
}

// Whether line is the "bytes: N" that --entries writes first. Where the
// schema names an entry bytes, a line of another value than digits is that
// entry's.
bool isLengthLine(const std::string& line, const Schema* schema)
{
    if (line.compare(0, 6, "bytes:") != 0) {
        return false;
    }
    if (schema == nullptr || schema->find("bytes") == nullptr) {
        return true;
    }
    const std::size_t end = std::min(line.find_first_not_of("0123456789", 7), line.size());
    const std::size_t after = std::min(line.find_first_not_of(" \t", end), line.size());
    return line.compare(0, 7, "bytes: ") == 0 && end > 7 &&
           (end == line.size() || line[end] == ' ' || line[end] == '\t') &&
           (after == line.size() || line[after] == '#');
}

// The value of entry in para, as --set takes it to store.
EntryValue entryValue(const Parameter& para, Entry entry)
{
    EntryValue value;
    switch (entry.table) {
    case Table::Init:
        value.integer = static_cast<std::uint32_t>(para.getInitParameter(entry.index));
        break;
    case Table::TerminalCondition:
        value.real = para.getTerminalConditionParameter(entry.index);
        break;
    case Table::Operations:
        value.real = para.getOperationsParameter(entry.index);
        break;
    case Table::Names:
        value.name = para.getNamesParameter(entry.index);
        break;
    case Table::Document:
        value.flag = para.getDocumentParameter(entry.index);
        break;
    }
    return value;
}

} // namespace

void reportTextProblem(const char* path, const TextProblem& problem)
{
    reportMessage(std::string(path) + ":" + std::to_string(problem.line) + ":" + std::to_string(problem.column) + ": " +
                  problem.what);
}

std::vector<Entry> RecordChange::entries() const
{
    std::vector<Entry> listed;
    std::size_t number = 0;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i, ++number) {
            if (given[number]) {
                listed.push_back({table, i});
            }
        }
    }
    return listed;
}

bool isJsonText(const std::string& text)
{
    const std::size_t first = skipBlanksAndComments(text, 0);
    return first < text.size() && text[first] == '{';
}

void readEntriesText(const std::string& text, RecordChange& change, std::vector<TextProblem>& problems,
                     const Schema* schema, const Parameter* checkedFrom)
{
    // Values are stored as --set stores them, then read back as a file's
    // bytes are: a name without its zero reads as a file's would.
    std::vector<unsigned char> image(Parameter::FileBytes, 0);
    std::vector<std::size_t> givenOnLine(change.given.size(), 0);
    std::vector<std::size_t> valueColumn(change.given.size(), 0);
    const std::size_t problemsBefore = problems.size();
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t lineNumber = number + 1;
        // Written by an editor that ends lines with CR LF.
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#' || isLengthLine(line, schema)) {
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.compare(colon, 2, ": ") != 0) {
            problems.push_back({lineNumber, 1, "an entry is written as --entries writes it: Table[INDEX]: VALUE"});
            continue;
        }
        const std::string word = line.substr(0, colon);
        Entry entry{};
        EntryWord entryWord;
        std::string why;
        // A table without its index is told how to write one.
        const bool tableAlone = std::any_of(std::begin(allTables), std::end(allTables),
                                            [&](Table table) { return word == tableName(table); });
        if (tableAlone ? !parseEntryName(word, entry, why)
                       : !parseEntryWord(word, entryWord, why) || !entryWord.in(schema, entry, why)) {
            problems.push_back({lineNumber, 1, why});
            continue;
        }
        std::string named;
        appendEntryName(named, entry);
        named += ": ";
        std::size_t& givenOn = givenOnLine[entryNumber(entry)];
        if (givenOn != 0) {
            problems.push_back({lineNumber, 1, named + "given twice (first on line " + std::to_string(givenOn) + ")"});
            continue;
        }
        givenOn = lineNumber;
        const std::size_t valueStart = colon + 2;
        const std::size_t valueStop = valueEnd(entry.table, line, valueStart);
        const std::size_t after = line.find_first_not_of(" \t", valueStop);
        if (after != std::string::npos && line[after] != '#') {
            problems.push_back({lineNumber, after + 1,
                                named + "after the value, only a comment (# and what follows) "
                                        "may end the line"});
            continue;
        }
        EntryValue value;
        if (!parseEntryValue(entry.table, line.substr(valueStart, valueStop - valueStart), value, why)) {
            problems.push_back({lineNumber, valueStart + 1, named + why});
            continue;
        }
        storeEntryValue(image.data(), entry, value);
        change.given[entryNumber(entry)] = true;
        valueColumn[entryNumber(entry)] = valueStart + 1;
    }
    change.values.fromImage(image.data());
    if (schema == nullptr || checkedFrom == nullptr) {
        return;
    }
    for (const Entry entry : change.entries()) {
        const EntryDescription* description = schema->find(entry);
        if (description == nullptr || sameEntry(*checkedFrom, change.values, entry.table, entry.index)) {
            continue;
        }
        const std::vector<SchemaFinding> findings = checkValue(*description, entryValueIn(image.data(), entry));
        std::transform(findings.begin(), findings.end(), std::back_inserter(problems), [&](const SchemaFinding& found) {
            return TextProblem{givenOnLine[entryNumber(entry)], valueColumn[entryNumber(entry)],
                               refusalMessage(found, *schema) + "; --force sets it anyway"};
        });
    }
    std::stable_sort(problems.begin() + static_cast<std::ptrdiff_t>(problemsBefore), problems.end(),
                     [](const TextProblem& a, const TextProblem& b) { return a.line < b.line; });
}

bool findChanges(const std::string& text, bool oneRecord, std::vector<RecordPlace>& places,
                 std::vector<TextProblem>& problems, const Schema* schema)
{
    if (isJsonText(text)) {
        return findJsonChanges(text, oneRecord, places, problems);
    }
    const std::size_t first = skipBlanksAndComments(text, 0);
    if (first == text.size()) {
        return true;
    }
    if (!oneRecord) {
        problems.push_back(problemAt(text, first, "entries text names no file: give the FILE it is for"));
        return false;
    }
    RecordChange change;
    readEntriesText(text, change, problems, schema);
    places.push_back({});
    return problems.empty();
}

RecordChange changeAt(const std::string& text, const RecordPlace& place, const Schema* schema)
{
    RecordChange change;
    // Telling the form again from the text would read all that comes before
    // the first record once a record: a fleet's text with much before it
    // would take time in proportion to its records times that.
    if (place.json) {
        std::size_t at = place.offset;
        RecordObject object;
        std::size_t problemAt = 0;
        std::string problem;
        parseRecordObject(text, at, object, problemAt, problem);
        change.values = object.record;
        giveTables(object.tables, change.given);
    } else {
        std::vector<TextProblem> problems;
        readEntriesText(text, change, problems, schema);
    }
    return change;
}

Application applyChange(unsigned char* bytes, const RecordChange& change, const Parameter* base)
{
    Parameter file;
    file.fromImage(bytes);
    Application application;
    std::vector<Entry> differing;
    for (const Entry entry : change.entries()) {
        const auto same = [&](const Parameter& a, const Parameter& b) {
            return sameEntry(a, b, entry.table, entry.index);
        };
        if ((base != nullptr && same(*base, change.values)) || same(file, change.values)) {
            continue;
        }
        if (base != nullptr && !same(*base, file)) {
            application.conflicts.push_back(entry);
        } else {
            differing.push_back(entry);
        }
    }
    if (application.conflicts.empty()) {
        for (const Entry entry : differing) {
            storeEntryValue(bytes, entry, entryValue(change.values, entry));
        }
        application.stored = std::move(differing);
    }
    return application;
}

int showChanges(FileNames& names, bool json, const EditSettings& settings, const ImageChange& change,
                SchemaFinder* schemas)
{
    return runInBatches(
        names,
        [&](Batch& batch, char* const* files, int count) {
            for (int i = 0; i < count; ++i) {
                const char* file = files[i];
                const SchemaFinder::Found schema =
                    schemas != nullptr ? schemas->of(file, batch.diagnostics) : SchemaFinder::Found();
                if (schema.failed) {
                    batch.status = troubleStatus;
                    continue;
                }
                const Schema* found = schema.schema;
                EditSettings edit = settings;
                edit.schema = found;
                Parameter before;
                std::string misfit;
                const std::string refusal =
                    readForEdit(file, settings, before, nullptr, settings.leaveAlike ? &misfit : nullptr);
                Parameter::Image image = before.toImage();
                if (!refusal.empty() || !change(file, image.data(), edit.schema, batch.diagnostics)) {
                    batch.diagnostics += refusal;
                    batch.status = troubleStatus;
                    continue;
                }
                // Refused as the edit would refuse it: a misfit only where it would change.
                const std::string refused = misfit.empty() || image == before.toImage()
                                                ? schemaRefusal(file, edit, before.toImage().data(), image.data())
                                                : misfit;
                if (!refused.empty()) {
                    batch.diagnostics += refused;
                    batch.status = troubleStatus;
                    continue;
                }
                Parameter after;
                after.fromImage(image.data());
                appendDifferences(batch, file, before, after, json,
                                  found == nullptr ? nullptr
                                  : json           ? found->jsonNotes()
                                                   : found->notes());
            }
        },
        troubleStatus);
}
