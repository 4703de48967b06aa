// The reader of one record's JSON object, as --from-json reads it, for the
// readers of many records: tables may be left out, and the object's "file"
// is kept.
#ifndef PARAMLIST_RECORD_OBJECT_H
#define PARAMLIST_RECORD_OBJECT_H

#include "Parameter.h"

#include <array>
#include <cstddef>
#include <string>

struct RecordObject {
    Parameter record;
    // Which tables the object gives, in file order.
    std::array<bool, 5> tables{};
    bool named = false;
    std::string file;
};

// Reads the object that starts at text[at] into object and moves at past its
// closing brace. False otherwise, with problemAt the offset in text of what is
// wrong and problem saying what, naming the entry as --from-json does.
bool parseRecordObject(const std::string& text, std::size_t& at, RecordObject& object, std::size_t& problemAt,
                       std::string& problem);

#endif
