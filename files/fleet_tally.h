// A fleet's entries tallied: for each entry, its distinct values, how many
// files hold each and, while few do, which; compared as --diff compares them.
// What --summary writes, as text, JSON or a page, is made from it.
#ifndef PARAMLIST_FLEET_TALLY_H
#define PARAMLIST_FLEET_TALLY_H

#include "entry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
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

// Memory taken from mappings of many megabytes, which the kernel may back
// with huge pages: a column holds a key of every file, and faulting its
// pages in 4 KiB at a time would cost more than filling them. What is taken
// is given back all at once, with the room.
class Room
{
public:
    Room() = default;
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;
    ~Room();
    // At least bytes, aligned for any type; throws std::bad_alloc when none is left.
    void* take(std::size_t bytes);

private:
    struct Mapping {
        char* start;
        std::size_t size;
        std::size_t used;
    };
    std::vector<Mapping> mappings;
};

// The allocator of a vector whose room comes from a Room, or without one
// from the heap. A vector made longer leaves its new places as they are,
// not zeroed: a column's are written at once.
template <typename T> struct InRoom {
    using value_type = T;
    using propagate_on_container_copy_assignment = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    Room* room = nullptr;
    InRoom() = default;
    explicit InRoom(Room* room) : room(room) {}
    template <typename U> explicit InRoom(const InRoom<U>& other) : room(other.room) {}
    T* allocate(std::size_t n)
    {
        return room != nullptr ? static_cast<T*>(room->take(n * sizeof(T))) : std::allocator<T>().allocate(n);
    }
    void deallocate(T* at, std::size_t n)
    {
        if (room == nullptr) {
            std::allocator<T>().deallocate(at, n);
        }
    }
    template <typename U> void construct(U* at) noexcept { ::new (static_cast<void*>(at)) U; }
    template <typename U, typename... Arguments> void construct(U* at, Arguments&&... arguments)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Arguments>(arguments)...);
    }
    bool operator==(const InRoom& other) const { return room == other.room; }
    bool operator!=(const InRoom& other) const { return room != other.room; }
};

// A value is listed with the files that hold it while they are at most this many.
constexpr std::uint32_t listedFiles = 10;

class FleetTally
{
public:
    // With forPage, the tally keeps what the page's heat map shows besides:
    // each file's values while there are at most pageFileRows files, and how
    // many files of each directory hold each value.
    static constexpr std::size_t pageFileRows = 500;
    // expectedFiles, when known, is how many files add will take in.
    FleetTally(bool forPage, std::size_t expectedFiles);

    // Takes in the file at path, whose first 3950 bytes are image. The files
    // are tallied a batch at a time, entry by entry, so that an entry's table
    // stays in the cache while a batch's values are looked up in it.
    void add(const char* path, const unsigned char* image);
    // Tallies what add has taken in; the questions below are answered after it.
    void finish();

    // How many files were taken in.
    std::size_t files() const { return fileCount; }
    // How many distinct values entry n has.
    std::size_t valueCount(std::size_t n) const { return entries[n].values.size() + entries[n].implied; }
    // How many files hold value v of entry n.
    std::uint32_t count(std::size_t n, std::uint32_t v) const
    {
        return v < entries[n].values.size() ? entries[n].values[v].count : 1;
    }
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
    // Value v of entry n, as a record holds it.
    EntryValue valueOf(std::size_t n, std::uint32_t v) const;

    // For the page. The directories, each a path's part before its last '/'
    // ("." for none), in the order their first files were read.
    const std::vector<std::string>& directories() const { return directoryNames; }
    std::uint32_t directoryFiles(std::uint32_t d) const { return filesIn[d]; }
    // Whether every file's values were kept: at most pageFileRows files.
    bool keptRows() const { return forPage && fileCount <= pageFileRows; }
    // File k's path, directory and the value it holds of entry n.
    std::string_view rowPath(std::size_t k) const { return pathOf(static_cast<std::uint32_t>(k)); }
    std::uint32_t rowDirectory(std::size_t k) const { return fileDirectories[k]; }
    std::uint32_t rowValue(std::size_t k, std::size_t n) const { return rowValues[k * fleetEntries + n]; }
    // Calls each(n, d, v, files) for every entry n, directory d and value v
    // that files files of d hold; the same three may come more than once, for
    // files apart.
    template <typename Each> void forEachInDirectory(Each each) const
    {
        for (std::size_t n = 0; n < fleetEntries; ++n) {
            const EntryValues& entry = entries[n];
            for (std::uint32_t v = 0; v < entry.runs.size(); ++v) {
                each(n, entry.runs[v].directory, v, entry.runs[v].count);
            }
            for (std::uint32_t i = 0; i < entry.implied; ++i) {
                each(n, fileDirectories[entry.columnFirst + i], static_cast<std::uint32_t>(entry.values.size() + i), 1);
            }
        }
        for (const Half& half : halves) {
            for (const Spilled& spilled : half.spilled) {
                each(spilled.entry, spilled.directory, spilled.value, spilled.count);
            }
        }
    }

private:
    static constexpr std::uint32_t none = UINT32_MAX;

    // A distinct value of an entry.
    struct Value {
        // The Init value, the real's bits or the flag; for a name, its place
        // in the entry's names.
        std::uint64_t key;
        std::uint32_t count;
        // The file that holds a value held by one; for more, the last node of
        // its list of files, while it has one.
        std::uint32_t listed;
    };
    // The files that hold a value, counted by directory for the page: count
    // files of directory lately, the others spilled, so that files read
    // directory by directory, as a glob or find lists them, cost nothing
    // more than a count.
    struct Run {
        std::uint32_t directory;
        std::uint32_t count;
    };
    struct Spilled {
        std::uint32_t entry;
        std::uint32_t directory;
        std::uint32_t value;
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
    // An entry's values are looked up in its hash table while they are few
    // next to the files. Once nearly every file holds a value of its own,
    // each file's key is only kept, one after another in column, and the
    // keys looked up once all are in (settle): a table of as many values as
    // files, among the tables of all entries, would miss the cache at every
    // look-up, and grow again and again.
    struct Name {
        unsigned char length;
        char bytes[50];
    };
    struct EntryValues {
        std::vector<Value> values;
        // A Names entry's names: of its values, and of the files of its column.
        std::vector<Name, InRoom<Name>> names;
        std::vector<Slot> slots;
        int bits = 4;
        // The value of the file tallied last, which the next file often holds.
        std::uint32_t last = none;
        bool columned = false;
        // The first file whose key column holds, and the keys; for a name,
        // its hash, the name itself in names from columnNames on.
        std::uint32_t columnFirst = 0;
        std::vector<std::uint64_t, InRoom<std::uint64_t>> column;
        std::size_t columnNames = 0;
        // When the column's keys are all distinct and none is among values,
        // how many there are: the values past those of values, each the key
        // of one file, which holds it alone.
        std::size_t implied = 0;
        // The values ranked, the first keptRanks of them.
        std::vector<std::uint32_t> top;
        // Beside values, for the page.
        std::vector<Run> runs;
    };
    struct Listed {
        std::uint32_t file;
        std::uint32_t before;
    };
    // The entries are tallied in two halves, each on a thread of its own,
    // so each half has its own lists and spilled counts.
    static constexpr std::size_t firstHalf = 150;
    struct Half {
        std::vector<Listed> lists;
        std::vector<Spilled> spilled;
        // For each pending file, whether a value of the half lists it.
        std::vector<char> listing;
        // The room of the table of the entry settled last.
        std::vector<Slot> slots;
    };
    static std::size_t halfOf(std::size_t n) { return n < firstHalf ? 0 : 1; }

    std::uint64_t hashOf(std::size_t n, std::uint64_t key) const;
    std::uint64_t hashOfName(const char* bytes, std::size_t length) const;
    // Of a name field of an image, which has 6 bytes more after it.
    std::uint64_t hashOfField(const unsigned char* field, std::size_t& length) const;
    // A value looked for: its key, or for a name its bytes, and its hash;
    // or the same value as the file before. A name already kept in the
    // entry's names has its place there as its key.
    struct Probe {
        std::uint64_t key = 0;
        const char* name = nullptr;
        std::size_t nameLength = 0;
        std::uint64_t hash = 0;
        bool again = false;
        bool kept = false;
    };
    // The index of the value of entry n that probe is for, or of a new one,
    // which keeps a name's bytes. The table must have room for it.
    std::uint32_t find(std::size_t n, const Probe& probe);
    std::uint32_t newValue(std::size_t n, std::uint64_t key);
    static void grow(EntryValues& entry);
    // Tallies the pending files' values of the entries from first to last.
    void tallyEntries(std::size_t first, std::size_t last, Half& half);
    void tallyLookedUp(std::size_t n, Half& half, std::vector<Probe>& probes);
    // Keeps the keys of the columned entries, file by file.
    void tallyColumned(const std::vector<std::size_t>& columned);
    void startColumn(std::size_t n);
    // Tallies value v of entry n for file number file; listing, when given,
    // is told that a value lists it.
    void tally(std::size_t n, std::uint32_t v, std::uint32_t file, Half& half, char* listing);
    // Tallies the keys of the columned entries from first to last.
    void settleEntries(std::size_t first, std::size_t last, Half& half);
    void settle(std::size_t n, Half& half);
    // Tallies the files taken in and not yet tallied.
    void flush();
    std::uint32_t directoryOf(std::string_view path);
    std::string_view pathOf(std::uint32_t file) const;
    bool nameBefore(std::size_t n, std::uint64_t a, std::uint64_t b) const;
    // Value v's key, and its file or the last node of its list, as Value
    // has them; a value implied by a column has them there.
    std::uint64_t keyAt(std::size_t n, std::uint32_t v) const;
    std::uint32_t listedAt(std::size_t n, std::uint32_t v) const;
    // Whether value v of entry n is the one probe is for.
    bool matches(std::size_t n, std::uint32_t v, const Probe& probe) const;
    // Makes the table of entry n, in the room of half's, for its values and
    // as many more as its column holds.
    void makeTable(std::size_t n, Half& half);
    // The values ranked are kept, as many as the page colours, once tallied
    // on the two threads, for the text and the page ask for each entry's.
    static constexpr std::size_t keptRanks = 12;
    std::vector<std::uint32_t> rank(std::size_t n, std::size_t most) const;

    bool forPage;
    std::size_t expectedFiles;
    std::uint64_t seed;
    std::size_t fileCount = 0;
    // The files taken in and not yet tallied: their images one after
    // another, their paths, and where each path ends. Files are known by
    // their number, in the order they were read.
    std::vector<unsigned char> pendingImages;
    std::string pendingPaths;
    std::vector<std::size_t> pendingEnds;
    std::uint32_t pendingFirst = 0;
    // Declared before the entries, whose columns it holds.
    Room room;
    std::array<EntryValues, fleetEntries> entries;
    std::array<Half, 2> halves;
    // Whether an entry is columned, whose values may list any file.
    bool anyColumned = false;
    // The paths of the files that some value lists, or that a row shows, by
    // number, in increasing order.
    std::vector<std::uint32_t> keptFiles;
    std::vector<std::size_t> keptStarts;
    std::string keptBytes;
    // For the page: each file's directory, and each row's values.
    std::vector<std::uint32_t> fileDirectories;
    std::vector<std::uint32_t> rowValues;
    std::vector<std::string> directoryNames;
    std::vector<std::uint32_t> filesIn;
    std::unordered_map<std::string, std::uint32_t> directoryIndex;
    std::string lastDirectory;
    std::uint32_t lastDirectoryIndex = none;
};

#endif
