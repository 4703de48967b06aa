// The rows of --csv and --tsv: one record as one line of a table that
// spreadsheets and dataframe readers take, every real column read as numbers.
#ifndef PARAMLIST_CSV_H
#define PARAMLIST_CSV_H

#include <cstddef>
#include <string>

class Parameter;
class Schema;

// How fields are set apart: CSV quotes a field that needs it (RFC 4180), TSV
// escapes what would end one.
enum class RowFormat { Csv, Tsv };

// Appends the header row: file, bytes, then every entry in file order, by
// the name schema gives it or as Table[INDEX].
void appendHeaderRow(std::string& out, RowFormat format, const Schema* schema = nullptr);

// The most bytes writeRecordRow writes for a file whose path has pathLength bytes.
std::size_t recordRowRoom(std::size_t pathLength);

// What a row is written from: the file it came from, how many bytes of the
// image it held, its record, and whether the row is shown on a terminal, where
// the path and the names are written escaped (appendVisible) so that they
// cannot drive it.
struct RecordRow {
    const char* file;
    std::size_t length;
    const Parameter& para;
    bool forTerminal;
};

// Writes the row of a record at at, which has recordRowRoom of the path's
// length, and returns its end. A NaN with other bits than the one --json
// writes as "NaN" adds a warning to warnings, since the row drops its
// payload, and so does a path or name written after a ' that a spreadsheet
// would otherwise take for a formula.
char* writeRecordRow(char* at, RowFormat format, const RecordRow& row, std::string& warnings);
void appendRecordRow(std::string& out, RowFormat format, const RecordRow& row, std::string& warnings);

#endif
