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
constexpr Entry fleetEntry(std::size_t n)
{
    const auto at = static_cast<unsigned int>(n);
    return at < 50    ? Entry{Table::Init, at}
           : at < 100 ? Entry{Table::TerminalCondition, at - 50}
           : at < 200 ? Entry{Table::Operations, at - 100}
           : at < 250 ? Entry{Table::Names, at - 200}
                      : Entry{Table::Document, at - 250};
}

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

    // Takes in the file at path, whose first 3950 bytes are image. The files
    // are tallied a batch at a time, entry by entry, so that an entry's table
    // stays in the cache while a batch's values are looked up in it.
    void add(const char* path, const unsigned char* image);
    // Tallies what add has taken in; the questions below are answered after it.
    void finish();

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
    std::string_view rowPath(std::size_t k) const { return pathOf(rows[k].file); }
    std::uint32_t rowDirectory(std::size_t k) const { return rows[k].directory; }
    std::uint32_t rowValue(std::size_t k, std::size_t n) const { return rowValues[k * fleetEntries + n]; }
    // Calls each(n, d, v, files) for every entry n, directory d and value v
    // that files files of d hold, once for each such three.
    template <typename Each> void forEachInDirectory(Each each) const
    {
        for (std::size_t n = 0; n < fleetEntries; ++n) {
            for (std::uint32_t v = 0; v < entries[n].runs.size(); ++v) {
                each(n, entries[n].runs[v].directory, v, entries[n].runs[v].count);
            }
        }
        for (const Half& half : halves) {
            for (const auto& [key, held] : half.spilled) {
                each(key.entry, key.directory, key.value, held);
            }
        }
    }

private:
    static constexpr std::uint32_t none = UINT32_MAX;

    // A distinct value of an entry.
    struct Value {
        // The Init value, the real's bits or the flag; for a name, its place in names.
        std::uint64_t key;
        std::uint32_t count;
        // The file that holds a value held by one; for more, the last node of
        // its list of files, while it has one.
        std::uint32_t listed;
    };
    // The files that hold a value, counted by directory for the page: count
    // files of directory lately, the others in spilled, so that files read
    // directory by directory, as a glob or find lists them, cost no look-up.
    struct Run {
        std::uint32_t directory;
        std::uint32_t count;
    };
    // A place of an entry's hash table: the high half of the value's hash,
    // whose top bits are the place it is looked for first, and the value's
    // index plus one (0: empty). A table that grows places its values by
    // their tags alone, hashing none again.
    struct Slot {
        std::uint32_t tag;
        std::uint32_t value;
    };
    struct EntryValues {
        std::vector<Value> values;
        std::vector<Slot> slots;
        int bits = 4;
        // Beside values, for the page.
        std::vector<Run> runs;
    };
    // A file taken in and not yet tallied. Files are known by their number,
    // in the order they were read.
    struct Pending {
        std::string path;
        std::uint32_t directory;
        std::uint32_t number;
        // Its row, or none.
        std::uint32_t row;
    };
    struct Name {
        unsigned char length;
        char bytes[50];
    };
    struct Listed {
        std::uint32_t file;
        std::uint32_t before;
    };
    struct Row {
        std::uint32_t file;
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

    // The entries are tallied in two halves, each on a thread of its own,
    // so each half has its own lists and spilled counts. The names are all
    // in the second half, which alone adds to names.
    static constexpr std::size_t firstHalf = 150;
    struct Half {
        std::vector<Listed> lists;
        std::unordered_map<SpillKey, std::uint32_t, SpillHash> spilled;
        // For each pending file, whether a value of the half lists it.
        std::vector<char> listing;
        explicit Half(std::uint64_t seed) : spilled(0, SpillHash{seed}) {}
    };
    static std::size_t halfOf(std::size_t n) { return n < firstHalf ? 0 : 1; }

    std::uint64_t hashOf(std::size_t n, std::uint64_t key) const;
    std::uint64_t hashOfName(const char* bytes, std::size_t length) const;
    // A value looked for: its key, or for a name its bytes, and its hash.
    struct Probe {
        std::uint64_t key = 0;
        const char* name = nullptr;
        std::size_t nameLength = 0;
        std::uint64_t hash = 0;
    };
    // The index of the value of entry n that probe is for, or of a new one,
    // which stores a name's bytes. The table must have room for it.
    std::uint32_t find(std::size_t n, const Probe& probe);
    static void grow(EntryValues& entry);
    // Tallies the pending files' values of the entries from first to last.
    void tallyEntries(std::size_t first, std::size_t last, Half& half);
    // Tallies value v of entry n for pending file f.
    void tally(std::size_t n, std::uint32_t v, std::size_t f, Half& half);
    std::uint32_t directoryOf(std::string_view path);
    std::string_view pathOf(std::uint32_t file) const;
    bool before(std::size_t n, std::uint32_t a, std::uint32_t b) const;

    bool forPage;
    std::uint64_t seed;
    std::size_t fileCount = 0;
    std::vector<Pending> pending;
    std::vector<unsigned char> pendingImages;
    std::array<EntryValues, fleetEntries> entries;
    std::vector<Name> names;
    std::array<Half, 2> halves;
    // The paths of the files that some value lists, or that a row shows, by
    // number, in increasing order.
    std::vector<std::uint32_t> keptFiles;
    std::vector<std::size_t> keptStarts;
    std::string keptBytes;
    std::vector<Row> rows;
    std::vector<std::uint32_t> rowValues;
    std::vector<std::string> directoryNames;
    std::vector<std::uint32_t> filesIn;
    std::unordered_map<std::string, std::uint32_t> directoryIndex;
};

#endif
