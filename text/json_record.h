// A record's JSON object, as --json writes it, read back: one object alone
// (--from-json), or one of many that may leave tables out (--apply).
#ifndef PARAMLIST_JSON_RECORD_H
#define PARAMLIST_JSON_RECORD_H

#include "Parameter.h"

#include <array>
#include <cstddef>
#include <string>

// What an object gives: the record, which tables it gives, in file order, and
// its "file", when named.
struct RecordObject {
    Parameter record;
    std::array<bool, 5> tables{};
    bool named = false;
    std::string file;
};

// Fills para from text, one JSON object as --json writes it with every table
// and nothing after it but white space; otherwise false, and problem says
// "LINE:COLUMN: what".
bool parseRecord(const std::string& text, Parameter& para, std::string& problem);

// Reads the object that starts at text[at], whose tables may be left out
// (those given are given whole), and moves at past its closing brace.
// Otherwise false, with problemAt the offset in text of what is wrong and
// problem saying what.
bool parseRecordObject(const std::string& text, std::size_t& at, RecordObject& object, std::size_t& problemAt,
                       std::string& problem);

// The line and column, each counted from 1, of offset in text.
struct TextPlace {
    std::size_t line;
    std::size_t column;
};
TextPlace placeIn(const std::string& text, std::size_t offset);

#endif
