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

EntriesText::EntriesText() : labels(300 * labelRoom, '\0')
{
    std::size_t number = 0;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i, ++number) {
            char* const label = &labels[number * labelRoom];
            char* at = writeEntryName(label, {table, i});
            *at++ = ':';
            *at++ = ' ';
            labelLengths.push_back(static_cast<unsigned char>(at - label));
        }
    }
}

std::size_t EntriesText::room(std::size_t prefixLength, const std::string* notes, const std::string* linesBefore) const
{
    // The bytes line, then each entry's line at its longest, its label
    // copied whole.
    std::size_t room = prefixLength + integerRoom + sizeof "bytes: \n";
    for (const Table table : allTables) {
        const std::size_t value = table == Table::Init       ? integerRoom
                                  : table == Table::Names    ? jsonNameRoom
                                  : table == Table::Document ? sizeof "false"
                                                             : jsonRealRoom;
        room += tableEntries(table) * (prefixLength + labelRoom + value + 1);
    }
    for (std::size_t k = 0; k < 300 && (notes != nullptr || linesBefore != nullptr); ++k) {
        room += (notes != nullptr ? notes[k].size() : 0) + (linesBefore != nullptr ? linesBefore[k].size() : 0);
    }
    return room;
}

// Appending 1500 pieces a file to a string, or a call of memcpy for each,
// would cost more than formatting the values; most notes are empty.
char* EntriesText::write(char* at, const std::string& prefix, std::size_t length, const Parameter& para,
                         const std::string* notes, const std::string* linesBefore) const
{
    const auto put = [&at](const std::string& piece) {
        if (!piece.empty()) {
            at = std::copy(piece.begin(), piece.end(), at);
        }
    };
    put(prefix);
    at = std::copy_n("bytes: ", 7, at);
    at = writeInteger(at, length);
    *at++ = '\n';
    std::size_t number = 0;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i, ++number) {
            if (linesBefore != nullptr) {
                put(linesBefore[number]);
            }
            put(prefix);
            std::memcpy(at, &labels[number * labelRoom], labelRoom);
            at += labelLengths[number];
            at = writeJsonEntry(at, para, table, i);
            if (notes != nullptr) {
                put(notes[number]);
            }
            *at++ = '\n';
        }
    }
    return at;
}

void appendEntriesText(std::string& out, const std::string& prefix, std::size_t length, const Parameter& para,
                       const std::string* notes, const std::string* linesBefore)
{
    const EntriesText text;
    const std::size_t used = out.size();
    out.resize(used + text.room(prefix.size(), notes, linesBefore));
    char* const end = text.write(&out[used], prefix, length, para, notes, linesBefore);
    out.resize(static_cast<std::size_t>(end - out.data()));
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
