// The entries of a record, named "Table[index]" by every mode: their names,
// where their bytes lie in the image, and their values read, written, stored
// and compared.
#ifndef PARAMLIST_ENTRY_H
#define PARAMLIST_ENTRY_H

#include "Parameter.h"
#include "json_text.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The record's tables, in file order, for the modes that walk every entry.
enum class Table { Init, TerminalCondition, Operations, Names, Document };
constexpr Table allTables[] = {Table::Init, Table::TerminalCondition, Table::Operations, Table::Names, Table::Document};

// The table's name as the record and the JSON form spell it.
const char* tableName(Table table);

// How many entries the table has; known where it is asked, so that a loop
// over a table's entries has a fixed count.
constexpr unsigned int tableEntries(Table table)
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

// Entry index of table.
struct Entry {
    Table table;
    unsigned int index;
};

// Appends the entry's name, "Table[index]"; the write form needs entryNameRoom.
constexpr std::size_t entryNameRoom = 40;
char* writeEntryName(char* at, Entry entry);
void appendEntryName(std::string& out, Entry entry);

// Reads an entry's name: a table's name as tableName spells it, then the
// index in decimal digits within the table, in brackets. False otherwise,
// with problem saying what is wrong.
bool parseEntryName(const std::string& text, Entry& entry, std::string& problem);

// Where the entry's bytes start in the file image, and how many it has.
std::size_t entryOffset(Entry entry);
std::size_t entrySize(Table table);

// The length of a name, up to its terminating zero or its 50th byte.
std::size_t nameLength(const char* name);

// Appends entry i of table as JSON: an integer, a real (appendJsonReal), a
// name (appendJsonName) or true/false.
constexpr std::size_t jsonEntryRoom = jsonNameRoom;
char* writeJsonEntry(char* at, const Parameter& para, Table table, unsigned int i);
void appendJsonEntry(std::string& out, const Parameter& para, Table table, unsigned int i);

// Whether entry i of table holds the same value in both records: reals by
// their bits, names up to their zero, flags as set or clear.
bool sameEntry(const Parameter& a, const Parameter& b, Table table, unsigned int i);

// The value of one entry; only the member of the entry's table is used.
struct EntryValue {
    std::uint32_t integer = 0;
    double real = 0;
    bool flag = false;
    std::string name;
};

// Reads the value of an entry of table, written as --json and --diff write
// it, so that whatever they print reads back: Init decimal digits; a real a
// JSON number or one of the strings of appendJsonReal, quoted or not;
// Document true, false, 1 or 0; a name a JSON string, {"hex":"..."}, or when
// it starts with neither '"' nor '{', the text itself. False with problem
// otherwise.
bool parseEntryValue(Table table, const std::string& text, EntryValue& value, std::string& problem);

// Writes value over the entry's bytes in a file image of at least 3950 bytes:
// little-endian numbers, a flag as 0 or 1, a name zero-padded to its field.
void storeEntryValue(unsigned char* image, Entry entry, const EntryValue& value);

// The warning for a write that leaves the name entry with 50 bytes and so
// no terminating zero, which --check reports: a program that reads the name
// as a C string runs past its field.
std::string unterminatedNameWarning(Entry entry);

#endif
