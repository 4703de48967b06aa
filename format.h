// How values are written, for every mode: the exact JSON form of reals and
// names that --json, --diff and --from-json share, and the escaped form of
// text shown on a terminal.
#ifndef PARAMLIST_FORMAT_H
#define PARAMLIST_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

class Parameter;

// The record's tables, in file order, for the modes that walk every entry.
enum class Table { Init, TerminalCondition, Operations, Names, Document };
constexpr Table allTables[] = {Table::Init, Table::TerminalCondition, Table::Operations, Table::Names, Table::Document};

// The table's name as the record and the JSON form spell it.
const char* tableName(Table table);

// How many entries the table has.
unsigned int tableEntries(Table table);

// Entry index of table, which every mode names as "Table[index]".
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

// Where the entry's bytes start in the file image, and how many it has: 4, 8,
// a 50-byte name field or one document byte.
std::size_t entryOffset(Entry entry);
std::size_t entrySize(Table table);

// Appends entry i of table as JSON: an integer, a real (appendJsonReal), a
// name (appendJsonName) or true/false.
char* writeJsonEntry(char* at, const Parameter& para, Table table, unsigned int i);
void appendJsonEntry(std::string& out, const Parameter& para, Table table, unsigned int i);

// Whether entry i of table holds the same value in both records: reals by
// their bits, names up to their zero, flags as set or clear.
bool sameEntry(const Parameter& a, const Parameter& b, Table table, unsigned int i);

// The writers below write at at, which must have the room given, and return
// the end of what they wrote; each has an append form too. They serve the
// loops that write many values, where appending to a string one piece at a
// time would cost more than the formatting.
constexpr std::size_t integerRoom = 20;
constexpr std::size_t jsonRealRoom = 32;
constexpr std::size_t jsonNameRoom = 6 * 50 + 2;
constexpr std::size_t jsonEntryRoom = jsonNameRoom;

// Appends value in plain decimal.
char* writeInteger(char* at, unsigned long value);
void appendInteger(std::string& out, unsigned long value);

// Appends value as JSON that reads back to the same 64 bits: the shortest
// round-trip number ("-0.0" for negative zero), or one of the strings
// "Infinity", "-Infinity", "NaN" (the bits 0x7ff8000000000000) and "0x" with
// 16 hex digits for any other NaN.
char* writeJsonReal(char* at, double value);
void appendJsonReal(std::string& out, double value);

// The real that a string written by appendJsonReal stands for; false for any
// other string.
bool parseJsonRealString(const std::string& text, double& value);

// The value of a hexadecimal digit of either case, or -1.
int hexDigitValue(char digit);

// Reads the length bytes at text, a JSON number, to the nearest double, as
// --from-json and --set both read a real. A zero, and a number too small for
// the smallest denormal, keep their sign ("-0" and "-1e-400" are -0.0). False,
// with problem saying why, for text that is not a JSON number or a number too
// large for a real.
bool parseJsonNumber(const char* text, std::size_t length, double& value, std::string& problem);

// Whether name fits a name field: at most 50 bytes and no zero byte; problem
// says why not.
bool fitsNameField(const std::string& name, std::string& problem);

// Decodes the "hex" of a name written as {"hex":"..."} into name, which must
// fit a name field; false with problem otherwise.
bool parseHexName(const std::string& hex, std::string& name, std::string& problem);

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

// The warning for a write that leaves the name entry with 50 bytes and so
// no terminating zero, which --check reports: a program that reads the name
// as a C string runs past its field.
std::string unterminatedNameWarning(Entry entry);

// The record that a file image of at least 3950 bytes holds, as
// Parameter::readFrom would read it from a file of those bytes, for bytes
// already read from a file that cannot be read again, such as a pipe.
void readImage(const unsigned char* image, Parameter& para);

// Writes value over the entry's bytes in a file image of at least 3950 bytes:
// little-endian numbers, a flag as 0 or 1, a name zero-padded to its field.
void storeEntryValue(unsigned char* image, Entry entry, const EntryValue& value);

// Appends a name of length bytes, at most 50: a JSON string when it is valid
// UTF-8, every control character (controlLength) escaped, otherwise
// {"hex":"..."} with its bytes.
char* writeJsonName(char* at, const char* name, std::size_t length);
void appendJsonName(std::string& out, const char* name, std::size_t length);

// Appends text as a JSON string, every control character (controlLength)
// escaped, and each byte that is not part of valid UTF-8 replaced by U+FFFD.
void appendJsonText(std::string& out, const char* text, std::size_t length);

// Appends text with the bytes of every control character (controlLength) and
// every byte that is not part of valid UTF-8 written as \xHH, so that it
// cannot drive a terminal.
void appendVisible(std::string& out, const char* text, std::size_t length);

// The length of the control character at text[0], of the available bytes:
// 1 for a byte below 0x20 and DEL, 2 for the UTF-8 form of a C1 control
// (U+0080 to U+009F, such as the one-character CSI U+009B, which some
// terminals obey), 0 for anything else.
std::size_t controlLength(const unsigned char* text, std::size_t available);

// The length of the valid UTF-8 sequence at text[0], or 0 when it is not one.
std::size_t utf8SequenceLength(const unsigned char* text, std::size_t available);

// Whether length bytes of text are valid UTF-8.
bool isValidUtf8(const char* text, std::size_t length);

// The length of a name, up to its terminating zero or its 50th byte.
std::size_t nameLength(const char* name);

// The bit pattern of a real, which is what tells reals apart exactly.
std::uint64_t realBits(double value);

#endif
