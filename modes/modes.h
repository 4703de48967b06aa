// The modes, one file each, named for the option that chooses them. Each
// returns the exit status of its run; standard output is flushed and closed
// by the caller.
#ifndef PARAMLIST_MODES_H
#define PARAMLIST_MODES_H

#include "request.h"

namespace mode {

// paramlist FILE: the listing, with the failure lines when the file cannot be
// read (listing.cpp).
int listing(const Request& request);

// --json FILE...: one JSON object a file, one a line, written to standard
// output as it goes (json.cpp).
int json(const Request& request);

// --from-json INPUT -o OUTPUT: the image a JSON object describes (from_json.cpp).
int fromJson(const Request& request);

// --diff [--json | --brief] REFERENCE FILE...: the entries whose values
// differ (diff.cpp).
int diff(const Request& request);

// --check FILE...: what is unsound in each file, written to standard output as
// it goes (check.cpp).
int check(const Request& request);

// --set ENTRY=VALUE... FILE...: each file changed in the named entries'
// bytes alone, under a lock, and replaced atomically (set.cpp).
int set(const Request& request);

// --entries FILE...: every entry on a line of its own, for text diffs (entries.cpp).
int entries(const Request& request);

// --get ENTRY... FILE...: the value of each entry asked for (get.cpp).
int get(const Request& request);

// --csv FILE... and --tsv FILE...: a header row, then a row a file (csv.cpp).
int csv(const Request& request);

// --merge BASE OURS THEIRS: a three-way merge entry by entry into OURS (merge.cpp).
int merge(const Request& request);

// --apply INPUT [FILE]: the entries whose values the text of INPUT changes,
// set in each file it names, or in FILE (apply.cpp).
int apply(const Request& request);

// --edit FILE: the file's entries changed in the user's editor (edit.cpp).
int edit(const Request& request);

// --summary FILE...: the entries that vary across the files, and how; with
// --html as a page (summary.cpp).
int summary(const Request& request);

// --init-schema FILE...: a schema to start from, made of what the files hold
// (init_schema.cpp).
int initSchema(const Request& request);

} // namespace mode

#endif
