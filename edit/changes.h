// Changes to files: given as text, which --apply and --edit read and apply
// (records as --json writes them, or entries as --entries writes them, each
// applied to a file's bytes in the entries whose values differ), and shown
// without being made, for --dry-run.
#ifndef PARAMLIST_CHANGES_H
#define PARAMLIST_CHANGES_H

#include "Parameter.h"
#include "entry.h"

class FileNames;

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The entries one record of the text gives, with their values.
struct RecordChange {
    // The values, of which only those of the entries given count.
    Parameter values;
    // Which entries are given, by their place in file order.
    std::array<bool, 300> given{};
    // The entries given, in file order.
    std::vector<Entry> entries() const;
};

// A record of the text, and where it is.
struct RecordPlace {
    // The "file" of a JSON object, which names the file the record is for.
    std::string file;
    // Where the record starts, for what is said about it.
    std::size_t line = 1;
    std::size_t offset = 0;
    // Whether the record is a JSON object, or the whole text is entries.
    bool json = false;
};

// What is wrong in the text, and where: line and column count from 1.
struct TextProblem {
    std::size_t line;
    std::size_t column;
    std::string what;
};

// Prints "paramlist: PATH:LINE:COLUMN: what", the form editors jump to.
void reportTextProblem(const char* path, const TextProblem& problem);

// Whether text holds JSON: its first character that is neither white space
// nor in a comment line (one that starts with '#') is '{'.
bool isJsonText(const std::string& text);

// Reads lines as --entries writes them, "Table[i]: value", each entry at most
// once; a "bytes:" line, blank lines and comment lines are skipped. A value
// ends at a JSON string's closing quote, a {"hex":...} object's brace, the
// first blank after a number or a flag, and the note "  # " after a name's
// text; after it, only blanks and a comment ('#' on) may follow. An entry
// may be called by a name that schema (the file's, or null) gives. With
// checkedFrom, each entry whose value differs from checkedFrom's is a
// problem where schema does not allow the value. Every problem is added to
// problems, in line order, so that a user who edits the text sees them all
// at once.
class Schema;
void readEntriesText(const std::string& text, RecordChange& change, std::vector<TextProblem>& problems,
                     const Schema* schema = nullptr, const Parameter* checkedFrom = nullptr);

// Finds and checks every record of the text: with oneRecord, one record (a
// JSON object, whose "file" is not needed, or entries text); otherwise JSON
// objects, each naming its file. False when problems says what is wrong.
// Only where each record is is kept: a fleet's records are many, and each is
// read again when its file is edited, by changeAt. Entries text is read with
// the names that schema, the one file's, gives.
bool findChanges(const std::string& text, bool oneRecord, std::vector<RecordPlace>& places,
                 std::vector<TextProblem>& problems, const Schema* schema = nullptr);

// The change that the record at place gives, which findChanges found in text
// with schema.
RecordChange changeAt(const std::string& text, const RecordPlace& place, const Schema* schema = nullptr);

// What applying a change found: the entries it stored, or the conflicts for
// which it stored none.
struct Application {
    std::vector<Entry> stored;
    std::vector<Entry> conflicts;
};

// Applies change to bytes, a file image of at least 3950 bytes: each entry it
// gives whose value differs from the file's (compared as --diff compares) is
// stored as --set stores it, and no other byte changes. With base, the record
// the change was made from, only the entries whose value differs from base's
// are applied, and an entry that the file changed too since base, to another
// value, is a conflict; with a conflict nothing is stored.
Application applyChange(unsigned char* bytes, const RecordChange& change, const Parameter* base = nullptr);

// --dry-run: what change would make of each file of names, shown as --diff
// shows it, each line naming its file, and nothing written. change(file,
// image, schema, diagnostics) changes the 3950-byte image of file, whose
// schema is schema (nullptr: none); false, with diagnostics saying why, for
// a file it cannot change. What the edit of settings would refuse is refused
// as it would be, an entry set outside the file's schema too; with its
// create, a missing file counts as the start image. With schemas, each file
// has the schema they find for it, and a file whose schema cannot be used is
// refused; each file's lines carry its schema's notes as --diff's do.
// Returns 0 when nothing would change, 1 when something would, 2
// when a file could not be read or would be refused.
struct EditSettings;
class Schema;
class SchemaFinder;
using ImageChange =
    std::function<bool(const char* file, unsigned char* image, const Schema* schema, std::string& diagnostics)>;
int showChanges(FileNames& names, bool json, const EditSettings& settings, const ImageChange& change,
                SchemaFinder* schemas = nullptr);

#endif
