// The differences between a reference record and others, written into a
// batch as --diff writes them; --dry-run shows what an edit would change the
// same way.
#ifndef PARAMLIST_DIFFERENCES_H
#define PARAMLIST_DIFFERENCES_H

#include "Parameter.h"
#include "batches.h"
#include "request.h"

#include <string>
#include <vector>

// Compares records with the reference and writes what differs, as the
// request's form asks. Shared by the batches of both threads, so it only
// reads once made.
class Comparison
{
public:
    Comparison(const Request& request, const Parameter& reference);
    Comparison(const Parameter& reference, bool json, bool brief, bool named, char pathEnd);

    // Appends what differs between the reference and the record read from
    // file. notes, when the file has a schema, end the entries' lines, each
    // by the entry's place in file order: the schema's words, or with json
    // the members they add to the object.
    void compare(Batch& batch, const char* file, const Parameter& record, const std::string* notes = nullptr) const;

private:
    bool differs(const Parameter& record) const;

    const Parameter& reference;
    const bool json;
    const bool brief;
    const char pathEnd;
    // With more than one file, or -H, or a list of files, each line says
    // which file it is about.
    const bool named;
    const bool terminal;
    // The end of every line, endLength bytes.
    std::string end;
    std::size_t endLength;
    // Entry k's line begins with lineStarts from starts[k] to starts[k + 1].
    std::string lineStarts;
    std::vector<std::size_t> starts;
};

// Appends the --diff lines of the entries whose values differ between a and
// b, each naming file as --diff names each FILE when it has more than one,
// and ended by notes as compare ends them.
void appendDifferences(Batch& batch, const char* file, const Parameter& a, const Parameter& b, bool json,
                       const std::string* notes = nullptr);

#endif
