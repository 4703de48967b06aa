// A record as more than one mode writes it.
#include "record_text.h"

#include "Parameter.h"
#include "entry.h"
#include "json_text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The most that the tables of one record take as JSON: every entry at its
// longest, with its comma, and the keys.
constexpr std::size_t tablesRoom =
    Parameter::InitEntries * (integerRoom + 1) +
    (Parameter::TerminalConditionEntries + Parameter::OperationsEntries) * (jsonRealRoom + 1) +
    Parameter::NamesEntries * (jsonNameRoom + 1) + Parameter::DocumentEntries * (sizeof "false") + 128;

// Writes ,"KEY":[ then each entry of the table through write, comma-separated, then ].
template <typename Write> char* writeTable(char* at, Table table, Write write)
{
    *at++ = ',';
    *at++ = '"';
    const char* name = tableName(table);
    at = std::copy(name, name + std::strlen(name), at);
    *at++ = '"';
    *at++ = ':';
    *at++ = '[';
    for (unsigned int i = 0; i < tableEntries(table); ++i) {
        at = write(at, i);
        *at++ = ',';
    }
    at[-1] = ']';
    return at;
}

} // namespace

// Each table is walked with its own writer, so that the loop over 300 entries
// does not decide on each entry what kind of value it is.
void appendRecordJson(std::string& out, const char* file, std::size_t length, const Parameter& para)
{
    out += "{\"file\":";
    appendJsonPath(out, file, std::strlen(file));
    out += ",\"bytes\":";
    appendInteger(out, length);

    std::array<char, tablesRoom> tables;
    char* at = tables.data();
    at = writeTable(at, Table::Init,
                    [&](char* to, unsigned int i) { return writeInteger(to, para.getInitParameter(i)); });
    at = writeTable(at, Table::TerminalCondition,
                    [&](char* to, unsigned int i) { return writeJsonReal(to, para.getTerminalConditionParameter(i)); });
    at = writeTable(at, Table::Operations,
                    [&](char* to, unsigned int i) { return writeJsonReal(to, para.getOperationsParameter(i)); });
    at = writeTable(at, Table::Names, [&](char* to, unsigned int i) {
        const char* name = para.getNamesParameter(i);
        return writeJsonName(to, name, nameLength(name));
    });
    at = writeTable(at, Table::Document,
                    [&](char* to, unsigned int i) { return writeJsonEntry(to, para, Table::Document, i); });
    *at++ = '}';
    *at++ = '\n';
    out.append(tables.data(), at);
}

void appendEntriesText(std::string& out, const std::string& prefix, std::size_t length, const Parameter& para,
                       const std::string* notes, const std::string* linesBefore)
{
    out += prefix;
    out += "bytes: ";
    appendInteger(out, length);
    out += '\n';
    std::size_t number = 0;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i, ++number) {
            if (linesBefore != nullptr) {
                out += linesBefore[number];
            }
            out += prefix;
            appendEntryName(out, {table, i});
            out += ": ";
            appendJsonEntry(out, para, table, i);
            if (notes != nullptr) {
                out += notes[number];
            }
            out += '\n';
        }
    }
}

void appendConflict(std::string& out, const std::string& path, const Parameter& base, const Parameter& ours,
                    const Parameter& theirs, Entry entry)
{
    out += path;
    out += ": ";
    appendEntryName(out, entry);
    out += ": base ";
    appendJsonEntry(out, base, entry.table, entry.index);
    out += ", ours ";
    appendJsonEntry(out, ours, entry.table, entry.index);
    out += ", theirs ";
    appendJsonEntry(out, theirs, entry.table, entry.index);
    out += '\n';
}
