// --csv and --tsv: each file as one row of 302 columns under a header row,
// values as --json writes them but for the reals, each written as a real
// (the non-finite ones bare), so that readers take every real column as
// reals, and for text that a spreadsheet would take for a formula. When the
// files share a schema, the columns of the entries it names are headed by
// their names.
#include "csv.h"

#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "json_text.h"
#include "modes.h"
#include "schema_finder.h"
#include "terminal_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

// A path's byte becomes at most 5 bytes: "\xHH" on a terminal, with its
// backslash escaped in TSV.
constexpr std::size_t pathByteRoom = 5;
// A text field's quotes in CSV, and the ' that some texts are written after.
constexpr std::size_t textFieldMarks = 3;
// A name field at its longest: 50 bytes shown as "\xHH" with the backslash
// escaped; the {"hex":"..."} form of a name, quoted, takes less.
constexpr std::size_t nameFieldRoom = pathByteRoom * Parameter::NameBytes + textFieldMarks;
constexpr std::size_t columns = 2 + Parameter::InitEntries + Parameter::TerminalConditionEntries +
                                Parameter::OperationsEntries + Parameter::NamesEntries + Parameter::DocumentEntries;
constexpr std::size_t valuesRoom = integerRoom * (1 + Parameter::InitEntries) +
                                   jsonRealRoom * (Parameter::TerminalConditionEntries + Parameter::OperationsEntries) +
                                   nameFieldRoom * Parameter::NamesEntries +
                                   (sizeof "false") * Parameter::DocumentEntries;

template <std::size_t size> char* copy(char* at, const char (&text)[size])
{
    std::memcpy(at, text, size - 1);
    return at + size - 1;
}

char separator(RowFormat format)
{
    return format == RowFormat::Csv ? ',' : '\t';
}

// Whether text can be copied as it is: printable ASCII without a byte that
// the format quotes or escapes. Most paths and names are.
bool isPlain(const char* text, std::size_t length, RowFormat format)
{
    return std::all_of(text, text + length, [format](char c) {
        return c >= 0x20 && c < 0x7f && (format == RowFormat::Csv ? c != ',' && c != '"' : c != '\\');
    });
}

bool isQuotedInCsv(char c)
{
    return c == ',' || c == '"' || c == '\r' || c == '\n';
}

// Writes text, valid UTF-8, as one field: for CSV in double quotes with
// inner ones doubled when it holds a comma, a double quote, CR or LF; for
// TSV with tab, LF, CR and backslash escaped.
char* writeField(char* at, const char* text, std::size_t length, RowFormat format)
{
    const char* const end = text + length;
    if (format == RowFormat::Csv) {
        if (std::find_if(text, end, isQuotedInCsv) == end) {
            return std::copy(text, end, at);
        }
        *at++ = '"';
        for (const char* c = text; c < end; ++c) {
            if (*c == '"') {
                *at++ = '"';
            }
            *at++ = *c;
        }
        *at++ = '"';
        return at;
    }
    for (const char* c = text; c < end; ++c) {
        const char* const escape = *c == '\t'   ? "\\t"
                                   : *c == '\n' ? "\\n"
                                   : *c == '\r' ? "\\r"
                                   : *c == '\\' ? "\\\\"
                                                : nullptr;
        if (escape != nullptr) {
            *at++ = escape[0];
            *at++ = escape[1];
        } else {
            *at++ = *c;
        }
    }
    return at;
}

// Text as a terminal may be shown it, or else as UTF-8, each byte that is
// not part of it replaced by U+FFFD as --json's "file" has it.
std::string shownText(const char* text, std::size_t length, bool forTerminal)
{
    std::string shown;
    if (forTerminal) {
        appendVisible(shown, text, length);
        return shown;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const std::size_t sequence = utf8SequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            shown += "\xef\xbf\xbd";
            ++i;
        } else {
            shown.append(text + i, sequence);
            i += sequence;
        }
    }
    return shown;
}

// How a text cell begins that a spreadsheet takes for a formula (CWE-1236),
// as the warning says it, or nullptr. TSV escapes tab and CR, so that there
// they begin none.
const char* formulaStart(std::string_view text, RowFormat format)
{
    switch (text.empty() ? '\0' : text[0]) {
    case '=':
        return "'='";
    case '+':
        return "'+'";
    case '-':
        return "'-'";
    case '@':
        return "'@'";
    case '\t':
        return format == RowFormat::Csv ? "a tab" : nullptr;
    case '\r':
        return format == RowFormat::Csv ? "a carriage return" : nullptr;
    default:
        return nullptr;
    }
}

// Whether text is written after a ': when it starts as a formula does, or
// with a ' of its own, so that every cell that begins with ' reads back as
// the text after it.
bool writtenAfterQuote(std::string_view text, RowFormat format)
{
    return formulaStart(text, format) != nullptr || (!text.empty() && text[0] == '\'');
}

// Writes text as one field, after a ' when a spreadsheet would take it for a
// formula, as OWASP advises, with a warning that names the file and the
// entry (none: the path).
char* writeTextField(char* at, std::string_view text, RowFormat format, const char* file, const Entry* entry,
                     std::string& warnings)
{
    if (!writtenAfterQuote(text, format)) {
        return writeField(at, text.data(), text.size(), format);
    }
    const char* const start = formulaStart(text, format);
    if (start != nullptr) {
        std::string warning = std::string(file) + ": warning: ";
        if (entry != nullptr) {
            appendEntryName(warning, *entry);
        } else {
            warning += "the path";
        }
        warning += std::string(" begins with ") + start +
                   ", written after a ' so that a spreadsheet takes it as text (--json keeps it exact)";
        warnings += diagnostic(warning);
    }
    const std::string quoted = "'" + std::string(text);
    return writeField(at, quoted.data(), quoted.size(), format);
}

// The path as UTF-8, or shown escaped on a terminal. A dash alone is
// standard input, which no spreadsheet takes for a formula.
char* writePathField(char* at, const RecordRow& row, RowFormat format, std::string& warnings)
{
    const char* const path = row.file;
    const std::size_t length = std::strlen(path);
    if (std::strcmp(path, "-") == 0 || (isPlain(path, length, format) && !writtenAfterQuote({path, length}, format))) {
        return std::copy(path, path + length, at);
    }
    const std::string shown = shownText(path, length, row.forTerminal);
    return writeTextField(at, shown, format, path, nullptr, warnings);
}

// Whether a name's text starts as the {"hex":"..."} form does, which it would
// be taken for.
bool startsAsHexForm(std::string_view name)
{
    return name.compare(0, 7, "{\"hex\":") == 0;
}

// A name as text; one that is not UTF-8, or whose text starts as the hex
// form does, as --json writes a name that is not UTF-8, {"hex":"..."}: no
// other name gives that cell, so that each cell reads back one way.
char* writeNameField(char* at, const RecordRow& row, unsigned int i, RowFormat format, std::string& warnings)
{
    const char* const name = row.para.getNamesParameter(i);
    const std::string_view text(name, nameLength(name));
    const bool hexForm = startsAsHexForm(text);
    if (isPlain(name, text.size(), format) && !hexForm && !writtenAfterQuote(text, format)) {
        return std::copy(text.begin(), text.end(), at);
    }
    if (hexForm || !isValidUtf8(name, text.size())) {
        char hex[jsonNameRoom];
        return writeField(at, hex, static_cast<std::size_t>(writeHexName(hex, name, text.size()) - hex), format);
    }
    const Entry entry{Table::Names, i};
    if (row.forTerminal) {
        return writeTextField(at, shownText(name, text.size(), true), format, row.file, &entry, warnings);
    }
    return writeTextField(at, text, format, row.file, &entry, warnings);
}

// A finite real as --json writes it, but with a decimal point or an
// exponent: a column of whole numbers alone would be read as integers
// (pandas' int64, DuckDB's BIGINT), and as reals in the next fleet. A whole
// number of more digits than the 17 that tell reals apart is written with an
// exponent: pandas reads no number as such whose integer part needs more
// than 64 bits.
char* writeWholeAsReal(char* at, double value)
{
    char* const end = writeJsonReal(at, value);
    if (std::any_of(at, end, [](char c) { return c == '.' || c == 'e'; })) {
        return end;
    }
    if (end - at - (*at == '-' ? 1 : 0) <= 17) {
        return copy(end, ".0");
    }
    return std::to_chars(at, at + jsonRealRoom, value, std::chars_format::scientific).ptr;
}

// pandas, R and DuckDB read NaN, Infinity and -Infinity bare as numbers, and
// a quoted string as text, which would make the whole column text.
char* writeRealField(char* at, double value, const RecordRow& row, Entry entry, std::string& warnings)
{
    if (std::isinf(value)) {
        return value > 0 ? copy(at, "Infinity") : copy(at, "-Infinity");
    }
    if (!std::isnan(value)) {
        return writeWholeAsReal(at, value);
    }
    std::string exact;
    appendJsonReal(exact, value);
    if (exact != "\"NaN\"") {
        std::string warning = std::string(row.file) + ": warning: ";
        appendEntryName(warning, entry);
        warning += " is the NaN " + exact.substr(1, exact.size() - 2) + ", written as NaN (--json keeps its bits)";
        warnings += diagnostic(warning);
    }
    return copy(at, "NaN");
}

// Writes each entry of the table through write, every one after a separator.
template <typename Write> char* writeTable(char* at, Table table, char between, Write write)
{
    for (unsigned int i = 0; i < tableEntries(table); ++i) {
        *at++ = between;
        at = write(at, i);
    }
    return at;
}

// Whether both files are described alike: by no schema, or by schemas of
// the same bytes.
bool sameSchema(const Schema* one, const Schema* other)
{
    return one == nullptr ? other == nullptr : other != nullptr && one->sameAs(*other);
}

std::string schemaWords(const Schema* schema)
{
    return schema != nullptr ? "the schema " + schema->shownPath() : std::string("no schema");
}

// The warning of a file whose schema is not that of the file that decides
// the header, the first of a list or the first operand.
std::string otherSchemaWarning(const char* first, const Schema* heading, const char* file, const Schema* schema,
                               bool listed)
{
    return diagnostic(
        "warning: " + std::string(file) + " has " + schemaWords(schema) + " and " +
        (listed ? "the first file, " + std::string(first) + ", " : first + std::string(" ")) + schemaWords(heading) +
        (heading != nullptr && listed ? ", whose names head the columns" : ", so the columns are headed Table[INDEX]"));
}

// The schema whose names head the columns of a list's files, taken from its
// first file, and a warning of each other schema a later file has, once for
// each, since a fleet of a million files may have as many.
class ListHeading
{
public:
    ListHeading(SchemaFinder& schemas, const char* first, const Schema* heading)
        : schemas(schemas), first(first), heading(heading)
    {
    }

    // Whether the file's row can be written: false when its schema cannot be
    // used, which the diagnostics then say.
    bool admit(const char* file, std::string& diagnostics)
    {
        const SchemaFinder::Found found = schemas.of(file, diagnostics);
        if (found.failed) {
            return false;
        }
        if (sameSchema(found.schema, heading)) {
            return true;
        }
        const std::lock_guard<std::mutex> held(lock);
        if (std::none_of(warned.begin(), warned.end(),
                         [&](const Schema* other) { return sameSchema(found.schema, other); })) {
            warned.push_back(found.schema);
            diagnostics += otherSchemaWarning(first.c_str(), heading, file, found.schema, true);
        }
        return true;
    }

private:
    SchemaFinder& schemas;
    std::string first;
    const Schema* heading;
    std::mutex lock;
    std::vector<const Schema*> warned;
};

} // namespace

void appendHeaderRow(std::string& out, RowFormat format, const Schema* schema)
{
    out += "file";
    out += separator(format);
    out += "bytes";
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            out += separator(format);
            const EntryDescription* described = schema != nullptr ? schema->find(Entry{table, i}) : nullptr;
            // A name that heads the file's or the length's column too is not
            // taken, so that every column has a head of its own.
            if (described != nullptr && !described->name.empty() && described->name != "file" &&
                described->name != "bytes") {
                out += described->name;
            } else {
                appendEntryName(out, {table, i});
            }
        }
    }
    out += '\n';
}

std::size_t recordRowRoom(std::size_t pathLength)
{
    return pathByteRoom * pathLength + textFieldMarks + columns + valuesRoom;
}

// Each table is walked with its own writer, as --json does, so that the loop
// over 300 entries does not decide on each entry what kind of value it is.
char* writeRecordRow(char* at, RowFormat format, const RecordRow& row, std::string& warnings)
{
    const char between = separator(format);
    const Parameter& para = row.para;
    at = writePathField(at, row, format, warnings);
    *at++ = between;
    at = writeInteger(at, row.length);
    at = writeTable(at, Table::Init, between,
                    [&](char* to, unsigned int i) { return writeInteger(to, para.getInitParameter(i)); });
    at = writeTable(at, Table::TerminalCondition, between, [&](char* to, unsigned int i) {
        return writeRealField(to, para.getTerminalConditionParameter(i), row, {Table::TerminalCondition, i}, warnings);
    });
    at = writeTable(at, Table::Operations, between, [&](char* to, unsigned int i) {
        return writeRealField(to, para.getOperationsParameter(i), row, {Table::Operations, i}, warnings);
    });
    at = writeTable(at, Table::Names, between,
                    [&](char* to, unsigned int i) { return writeNameField(to, row, i, format, warnings); });
    at = writeTable(at, Table::Document, between,
                    [&](char* to, unsigned int i) { return writeJsonEntry(to, para, Table::Document, i); });
    *at++ = '\n';
    return at;
}

void appendRecordRow(std::string& out, RowFormat format, const RecordRow& row, std::string& warnings)
{
    std::string text(recordRowRoom(std::strlen(row.file)), '\0');
    text.resize(static_cast<std::size_t>(writeRecordRow(&text[0], format, row, warnings) - text.data()));
    out += text;
}

// Formatting the reals takes most of the time, as for --json, so the files
// go in batches shared between two threads; each row is written straight
// into its batch's tail. Every operand's schema is found before the header
// is written; a list's names are not known before they are read, so its
// first file, taken alone, decides the header.
int mode::csv(const Request& request)
{
    const RowFormat format = request.mode == Request::Tsv ? RowFormat::Tsv : RowFormat::Csv;
    SchemaFinder schemas(request);
    FileNames names(request.fileList, request.operands, request.count);
    if (!schemas.start() || (!names.listed() && !schemas.findAll(request.operands, request.count))) {
        return troubleStatus;
    }
    const FileReads reads(request.operands, request.count, names.listed());
    const bool forTerminal = isTerminal(STDOUT_FILENO);
    const Schema* heading = nullptr;
    std::string diagnostics;
    NameBatch first;
    int status = 0;
    if (!names.listed()) {
        heading = schemas.of(request.operands[0], diagnostics).schema;
        for (int k = 1; k < request.count; ++k) {
            const Schema* schema = schemas.of(request.operands[k], diagnostics).schema;
            if (!sameSchema(schema, heading)) {
                diagnostics = otherSchemaWarning(request.operands[0], heading, request.operands[k], schema, false);
                heading = nullptr;
                break;
            }
        }
    } else if (names.failure().empty()) {
        // A refused name, and a file whose schema cannot be used, get no row.
        while (names.next(1, first)) {
            if (first.names[0] == nullptr) {
                diagnostics += first.refusals[0];
                status = std::max(status, 1);
                continue;
            }
            const SchemaFinder::Found found = schemas.of(first.names[0], diagnostics);
            if (!found.failed) {
                heading = found.schema;
                break;
            }
            status = troubleStatus;
        }
    }
    std::fputs(diagnostics.c_str(), stderr);
    if (names.failure().empty()) {
        std::string header;
        appendHeaderRow(header, format, heading);
        std::fwrite(header.data(), 1, header.size(), stdout);
    }
    ListHeading listHeading(schemas, first.names.empty() ? "" : first.names[0], heading);
    const RecordWork writeRow = [&](Batch& batch, const char* file, std::size_t length, const Parameter& para) {
        if (names.listed() && !listHeading.admit(file, batch.diagnostics)) {
            batch.status = troubleStatus;
            return;
        }
        char* const at = batch.reserveTail(recordRowRoom(std::strlen(file)));
        batch.commitTail(writeRecordRow(at, format, {file, length, para, forTerminal}, batch.diagnostics));
    };
    if (!first.names.empty()) {
        FileNames firstName(nullptr, first.names.data(), 1);
        status = std::max(status, runOverRecords(firstName, reads, request.force, writeRow, 1));
    }
    return std::max(status, runOverRecords(names, reads, request.force, writeRow, 1));
}
