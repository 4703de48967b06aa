// Which schema describes each file of a run: the one --schema names, none
// with --no-schema, otherwise the nearest paramlist.toml in the file's
// directory or above it that the user wrote.
#ifndef PARAMLIST_SCHEMA_FINDER_H
#define PARAMLIST_SCHEMA_FINDER_H

#include "request.h"
#include "schema.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// The file a search looks for in each directory.
constexpr char schemaFileName[] = "paramlist.toml";

class SchemaFinder
{
public:
    explicit SchemaFinder(const Request& request);
    SchemaFinder(const SchemaFinder&) = delete;
    SchemaFinder& operator=(const SchemaFinder&) = delete;

    // Reads the schema --schema names, reporting its problems on standard
    // error: false when it cannot be used, or when it is standard input
    // and so is a FILE, whose status is then 2.
    bool start();

    // The schema of file: none (nullptr) when no schema applies or the one
    // found cannot be used, which failed then tells. The first file of a
    // schema that cannot be used, or of one found that the user did not
    // write, has the diagnostic lines appended to diagnostics; the files
    // after it, none. Each directory is searched once a run; two threads may
    // ask at once.
    struct Found {
        const Schema* schema = nullptr;
        bool failed = false;
    };
    Found of(const char* file, std::string& diagnostics);

    // Finds the schema of each of count files at once, as a mode that reads
    // no file before every schema is known to be sound does: false after
    // reporting on standard error, and the diagnostics of every file found
    // reported.
    bool findAll(char* const* files, int count);

private:
    struct Answer {
        const Schema* schema = nullptr;
        bool failed = false;
        // Reported with the first file the answer is given for.
        std::string diagnostics;
    };

    Answer& answerFor(const std::string& directory);
    Answer& search(const std::string& canonical);
    // What the directory's paramlist.toml says: nullptr when it has none.
    Answer* lookIn(const std::string& directory);
    // The path of file as a message shows it: from the current directory
    // when it lies below it, otherwise in full.
    std::string shown(const std::string& file) const;
    Answer& keep(Answer answer);

    const Request& request;
    std::string workingDirectory;
    std::vector<std::unique_ptr<Schema>> schemas;
    std::vector<std::unique_ptr<Answer>> answers;
    // The schema --schema names, once read.
    const Schema* named = nullptr;
    Answer none;
    // The answers by directory as a path spells it, and as its real path.
    std::unordered_map<std::string, Answer*> bySpelling;
    std::unordered_map<std::string, Answer*> byDirectory;
    // The schemas found by their bytes, so that a fleet whose folders hold
    // copies of one schema reads it once.
    std::unordered_map<std::string, const Schema*> byBytes;
    std::mutex lookups;
};

#endif
