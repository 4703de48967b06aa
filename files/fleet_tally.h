// A fleet's entries tallied: for each entry, its distinct values, how many
// files hold each and, while few do, which; compared as --diff compares them.
// What --summary writes, as text, JSON or a page, is made from it.
#ifndef PARAMLIST_FLEET_TALLY_H
#define PARAMLIST_FLEET_TALLY_H

#include "entry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The entries of a record, in file order, Init[0] first.
constexpr std::size_t fleetEntries = 300;

// The entry at place n of the fleetEntries.
Entry fleetEntry(std::size_t n);

// What a schema tells of an entry, as the summary shows it: its name and
// unit where the schema gives them, and the limits a value must keep. Without
// a schema every member is empty.
struct EntryFacts {
    std::string name;
    std::string unit;
    std::optional<double> min;
    std::optional<double> max;
    // The only values allowed, when there are any.
    std::vector<double> values;
    // Whether zero, a clear flag or an empty name breaks it.
    bool nonzero = false;
};
// The facts of every entry, fleetEntries of them.
using FleetFacts = std::vector<EntryFacts>;

// A value is listed with the files that hold it while they are at most this many.
constexpr std::uint32_t listedFiles = 10;

class FleetTally
{
public:
    // With forPage, the tally keeps what the page's heat map shows besides:
    // each file's values while there are at most pageFileRows files, and how
    // many files of each directory hold each value.
    static constexpr std::size_t pageFileRows = 500;
    explicit FleetTally(bool forPage);

    // Takes in the file at path, whose first 3950 bytes are image.
    void add(const char* path, const unsigned char* image);

    // How many files were taken in.
    std::size_t files() const { return fileCount; }
    // How many distinct values entry n has.
    std::size_t valueCount(std::size_t n) const { return entries[n].values.size(); }
    // How many files hold value v of entry n.
    std::uint32_t count(std::size_t n, std::uint32_t v) const { return entries[n].values[v].count; }
    // The values of entry n, the most common first, ties in value order:
    // numbers ascending, -0.0 just before 0.0, NaNs last by their bits, names
    // by their bytes, a clear flag before a set one. At most most of them.
    std::vector<std::uint32_t> ranked(std::size_t n, std::size_t most) const;
    // The paths of the files that hold value v, in the order they were read,
    // for a value held by at most listedFiles files.
    std::vector<std::string_view> holders(std::size_t n, std::uint32_t v) const;
    // Appends value v as --json writes it; the write form needs jsonEntryRoom.
    char* writeValue(char* at, std::size_t n, std::uint32_t v) const;
    void appendValue(std::string& out, std::size_t n, std::uint32_t v) const;
    bool isNan(std::size_t n, std::uint32_t v) const;
    // Whether value v of entry n breaks the limits facts gives.
    bool breaks(const EntryFacts& facts, std::size_t n, std::uint32_t v) const;

    // For the page. The directories, each a path's part before its last '/'
    // ("." for none), in the order their first files were read.
    const std::vector<std::string>& directories() const { return directoryNames; }
    std::uint32_t directoryFiles(std::uint32_t d) const { return filesIn[d]; }
    // Whether every file's values were kept: at most pageFileRows files.
    bool keptRows() const { return forPage && fileCount <= pageFileRows; }
    // File k's path, directory and the value it holds of entry n.
    std::string_view rowPath(std::size_t k) const { return pathOf(rows[k].path); }
    std::uint32_t rowDirectory(std::size_t k) const { return rows[k].directory; }
    std::uint32_t rowValue(std::size_t k, std::size_t n) const { return rowValues[k * fleetEntries + n]; }
    // Calls each(n, d, v, files) for every entry n, directory d and value v
    // that files files of d hold, once for each such three.
    template <typename Each> void forEachInDirectory(Each each) const
    {
        for (std::size_t n = 0; n < fleetEntries; ++n) {
            for (std::uint32_t v = 0; v < entries[n].values.size(); ++v) {
                const Value& value = entries[n].values[v];
                each(n, value.runDirectory, v, value.runCount);
            }
        }
        for (const auto& [key, files] : spilled) {
            each(key.entry, key.directory, key.value, files);
        }
    }

private:
    static constexpr std::uint32_t none = UINT32_MAX;

    // A distinct value of an entry. The files that hold it are counted by
    // directory for the page: runCount files of runDirectory lately, the
    // others in spilled, so that files read directory by directory, as a
    // glob or find lists them, cost no look-up.
    struct Value {
        // The Init value, the real's bits or the flag; for a name, its place in names.
        std::uint64_t key;
        std::uint32_t count;
        // The last node of the value's list of files, while it has one.
        std::uint32_t listed;
        std::uint32_t runDirectory;
        std::uint32_t runCount;
    };
    // A place of an entry's hash table: the value's index plus one (0:
    // empty), and bits of its hash that tell most others apart at once.
    struct Slot {
        std::uint32_t tag;
        std::uint32_t value;
    };
    struct EntryValues {
        std::vector<Value> values;
        std::vector<Slot> slots;
    };
    struct Name {
        unsigned char length;
        char bytes[50];
    };
    struct Listed {
        std::uint32_t path;
        std::uint32_t before;
    };
    struct Row {
        std::uint32_t path;
        std::uint32_t directory;
    };
    struct SpillKey {
        std::uint32_t entry;
        std::uint32_t directory;
        std::uint32_t value;
        bool operator==(const SpillKey& other) const
        {
            return entry == other.entry && directory == other.directory && value == other.value;
        }
    };
    struct SpillHash {
        std::uint64_t seed;
        std::size_t operator()(const SpillKey& key) const;
    };

    std::uint64_t hashOf(std::size_t n, std::uint64_t key) const;
    std::uint64_t hashOfName(const char* bytes, std::size_t length) const;
    // The index of the value of entry n with key, or of a new one; a name's
    // key is its bytes, which a new value stores.
    std::uint32_t find(std::size_t n, std::uint64_t key, const char* name, std::size_t nameLength);
    void grow(EntryValues& entry, std::size_t n);
    // Counts a file of directory as holding value v of entry n.
    void countIn(std::uint32_t directory, std::size_t n, std::uint32_t v);
    std::uint32_t directoryOf(std::string_view path);
    std::string_view pathOf(std::uint32_t k) const;
    std::uint32_t keepPath(std::string_view path);
    bool before(std::size_t n, std::uint32_t a, std::uint32_t b) const;

    bool forPage;
    std::uint64_t seed;
    std::size_t fileCount = 0;
    std::array<EntryValues, fleetEntries> entries;
    std::vector<Name> names;
    // The paths of the files that some value lists, or that a row shows.
    std::string pathBytes;
    std::vector<std::size_t> pathStarts;
    std::vector<Listed> lists;
    std::vector<Row> rows;
    std::vector<std::uint32_t> rowValues;
    std::vector<std::string> directoryNames;
    std::vector<std::uint32_t> filesIn;
    std::unordered_map<std::string, std::uint32_t> directoryIndex;
    std::unordered_map<SpillKey, std::uint32_t, SpillHash> spilled;
};

#endif
