// The fleet's tally: a hash table of distinct values per entry, filled file
// by file from the image's bytes, or for an entry whose values are nearly
// all distinct, its keys grouped once at the end.
#include "fleet_tally.h"

#include "Parameter.h"
#include "json_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <numeric>
#include <random>
#include <utility>

#include <sys/mman.h>

namespace {

// An entry's values are grouped rather than looked up once it has more than
// this many and more than half as many as the files.
constexpr std::size_t columnAfter = 256;
// Files tallied at once.
constexpr std::size_t pendingFiles = 128;

// Mixes the bits of x (MurmurHash3's finalizer), so that keys alike in their
// low bits, as small integers and reals are, spread over the table.
std::uint64_t mix(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    return x ^ (x >> 33);
}

double realOf(std::uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool isReal(Table table)
{
    return table == Table::TerminalCondition || table == Table::Operations;
}

std::uint64_t keyOf(Table table, const unsigned char* bytes)
{
    return table == Table::Init ? Parameter::read32le(bytes)
           : isReal(table)      ? Parameter::read64le(bytes)
                                : (*bytes != 0 ? 1 : 0);
}

} // namespace

// The seed keeps a fleet made to collide in one run's tables from colliding
// in another's: a hostile fleet cannot make every look-up a long search.
FleetTally::FleetTally(bool forPage, std::size_t expectedFiles)
    : forPage(forPage), expectedFiles(expectedFiles), seed(std::random_device()())
{
    for (EntryValues& entry : entries) {
        entry.slots.resize(std::size_t{1} << entry.bits);
    }
}

Room::~Room()
{
    for (const Mapping& mapping : mappings) {
        ::munmap(mapping.start, mapping.size);
    }
}

void* Room::take(std::size_t bytes)
{
    constexpr std::size_t hugePage = std::size_t{2} << 20;
    constexpr std::size_t align = 64;
    bytes = (bytes + align - 1) / align * align;
    if (mappings.empty() || mappings.back().size - mappings.back().used < bytes) {
        const std::size_t size = std::max(bytes, 16 * hugePage) / hugePage * hugePage + hugePage;
        void* start = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (start == MAP_FAILED) {
            throw std::bad_alloc();
        }
        // A hint: where huge pages are not to be had, the room has small ones.
        ::madvise(start, size, MADV_HUGEPAGE);
        mappings.push_back({static_cast<char*>(start), size, 0});
    }
    Mapping& mapping = mappings.back();
    void* at = mapping.start + mapping.used;
    mapping.used += bytes;
    return at;
}

std::uint64_t FleetTally::hashOf(std::size_t n, std::uint64_t key) const
{
    return mix(key ^ seed ^ n);
}

namespace {

// A step of the hash of a name: a multiplication a word of it, the seed
// going through every step, so that what collides in one run does not in
// another.
std::uint64_t hashStep(std::uint64_t hash, std::uint64_t word)
{
    hash = (hash ^ word) * 0x9e3779b97f4a7c15ULL;
    return hash ^ (hash >> 29);
}

constexpr std::uint64_t lowBytes = 0x0101010101010101ULL;
constexpr std::uint64_t highBits = 0x8080808080808080ULL;

} // namespace

std::uint64_t FleetTally::hashOfName(const char* bytes, std::size_t length) const
{
    // Copied once, zeros after it, for its words to be read whole.
    std::array<unsigned char, 56> padded{};
    std::memcpy(padded.data(), bytes, length);
    std::uint64_t hash = seed;
    for (std::size_t at = 0; at < length; at += 8) {
        hash = hashStep(hash, Parameter::read64le(&padded[at]));
    }
    return mix(hash ^ length);
}

// The same hash, of the name that a field holds, and its length, found on
// the way: a word's first zero byte is the lowest whose bit 7 the word less
// a one in each byte sets where the word does not.
std::uint64_t FleetTally::hashOfField(const unsigned char* field, std::size_t& length) const
{
    std::uint64_t hash = seed;
    for (std::size_t at = 0;; at += 8) {
        // Of the last word, two bytes are the field's.
        const std::uint64_t word =
            at + 8 > Parameter::NameBytes ? Parameter::read64le(field + at) & 0xffff : Parameter::read64le(field + at);
        const std::uint64_t zeros = (word - lowBytes) & ~word & highBits;
        if (zeros == 0) {
            hash = hashStep(hash, word);
            continue;
        }
        const auto held = static_cast<std::size_t>(__builtin_ctzll(zeros)) / 8;
        length = at + held;
        if (held > 0) {
            hash = hashStep(hash, word & (~std::uint64_t{0} >> (64 - 8 * held)));
        }
        return mix(hash ^ length);
    }
}

std::uint32_t FleetTally::newValue(std::size_t n, std::uint64_t key)
{
    EntryValues& entry = entries[n];
    entry.values.push_back({key, 0, none});
    if (forPage) {
        entry.runs.push_back({none, 0});
    }
    return static_cast<std::uint32_t>(entry.values.size() - 1);
}

std::uint32_t FleetTally::find(std::size_t n, const Probe& probe)
{
    EntryValues& entry = entries[n];
    const char* name = probe.name;
    const std::size_t length = probe.nameLength;
    const auto tag = static_cast<std::uint32_t>(probe.hash >> 32);
    const std::size_t mask = entry.slots.size() - 1;
    for (std::size_t at = tag >> (32 - entry.bits);; at = (at + 1) & mask) {
        Slot& slot = entry.slots[at];
        if (slot.value == 0) {
            std::uint64_t key = probe.key;
            if (name != nullptr && !probe.kept) {
                key = entry.names.size();
                Name& kept = entry.names.emplace_back();
                kept.length = static_cast<unsigned char>(length);
                std::memcpy(kept.bytes, name, length);
            }
            const std::uint32_t v = newValue(n, key);
            slot = {tag, v + 1};
            return v;
        }
        if (slot.tag == tag && matches(n, slot.value - 1, probe)) {
            return slot.value - 1;
        }
    }
}

bool FleetTally::matches(std::size_t n, std::uint32_t v, const Probe& probe) const
{
    const std::uint64_t key = keyAt(n, v);
    if (probe.name == nullptr) {
        return key == probe.key;
    }
    const Name& name = entries[n].names[key];
    return name.length == probe.nameLength && std::memcmp(name.bytes, probe.name, probe.nameLength) == 0;
}

std::uint64_t FleetTally::keyAt(std::size_t n, std::uint32_t v) const
{
    const EntryValues& entry = entries[n];
    if (v < entry.values.size()) {
        return entry.values[v].key;
    }
    const std::size_t k = v - entry.values.size();
    return fleetEntry(n).table == Table::Names ? entry.columnNames + k : entry.column[k];
}

std::uint32_t FleetTally::listedAt(std::size_t n, std::uint32_t v) const
{
    const EntryValues& entry = entries[n];
    return v < entry.values.size() ? entry.values[v].listed
                                   : static_cast<std::uint32_t>(entry.columnFirst + v - entry.values.size());
}

void FleetTally::grow(EntryValues& entry)
{
    ++entry.bits;
    std::vector<Slot> slots(std::size_t{1} << entry.bits);
    const std::size_t mask = slots.size() - 1;
    for (const Slot& slot : entry.slots) {
        if (slot.value == 0) {
            continue;
        }
        std::size_t at = slot.tag >> (32 - entry.bits);
        while (slots[at].value != 0) {
            at = (at + 1) & mask;
        }
        slots[at] = slot;
    }
    entry.slots = std::move(slots);
}

std::uint32_t FleetTally::directoryOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view directory = slash == std::string_view::npos ? "." : path.substr(0, slash + 1);
    // Files come directory by directory, as a glob or find lists them.
    if (lastDirectoryIndex == none || directory != lastDirectory) {
        const auto [place, added] =
            directoryIndex.emplace(std::string(directory), static_cast<std::uint32_t>(directoryNames.size()));
        if (added) {
            directoryNames.emplace_back(directory);
            filesIn.push_back(0);
        }
        lastDirectory = directory;
        lastDirectoryIndex = place->second;
    }
    ++filesIn[lastDirectoryIndex];
    return lastDirectoryIndex;
}

std::string_view FleetTally::pathOf(std::uint32_t file) const
{
    const auto k =
        static_cast<std::size_t>(std::lower_bound(keptFiles.begin(), keptFiles.end(), file) - keptFiles.begin());
    const std::size_t end = k + 1 < keptStarts.size() ? keptStarts[k + 1] : keptBytes.size();
    return std::string_view(keptBytes).substr(keptStarts[k], end - keptStarts[k]);
}

void FleetTally::add(const char* path, const unsigned char* image)
{
    const auto number = static_cast<std::uint32_t>(fileCount++);
    if (pendingEnds.empty()) {
        pendingFirst = number;
    }
    pendingPaths += path;
    pendingEnds.push_back(pendingPaths.size());
    if (forPage) {
        fileDirectories.push_back(directoryOf(path));
        if (number <= pageFileRows) {
            rowValues.resize(rowValues.size() + fleetEntries);
        }
    }
    pendingImages.insert(pendingImages.end(), image, image + Parameter::FileBytes);
    if (pendingEnds.size() == pendingFiles) {
        flush();
    }
}

void FleetTally::flush()
{
    const std::size_t pending = pendingEnds.size();
    if (pending == 0) {
        return;
    }
    for (Half& half : halves) {
        half.listing.assign(pending, 0);
    }
    // Either policy: where no thread can be started, the half is tallied when it is waited for.
    // On this thread alone: the reading thread works beside it.
    tallyEntries(0, firstHalf, halves[0]);
    tallyEntries(firstHalf, fleetEntries, halves[1]);
    // A file's path is kept only once a value lists it, or a row shows it.
    std::size_t start = 0;
    for (std::size_t f = 0; f < pending; ++f) {
        const auto number = static_cast<std::uint32_t>(pendingFirst + f);
        if (anyColumned || (forPage && number <= pageFileRows) || halves[0].listing[f] != 0 ||
            halves[1].listing[f] != 0) {
            keptFiles.push_back(number);
            keptStarts.push_back(keptBytes.size());
            keptBytes.append(pendingPaths, start, pendingEnds[f] - start);
        }
        start = pendingEnds[f];
    }
    anyColumned = std::any_of(entries.begin(), entries.end(), [](const EntryValues& e) { return e.columned; });
    pendingImages.clear();
    pendingPaths.clear();
    pendingEnds.clear();
}

void FleetTally::finish()
{
    flush();
    std::future<void> second = std::async(std::launch::async | std::launch::deferred, &FleetTally::settleEntries, this,
                                          firstHalf, fleetEntries, std::ref(halves[1]));
    settleEntries(0, firstHalf, halves[0]);
    second.get();
}

void FleetTally::tallyEntries(std::size_t first, std::size_t last, Half& half)
{
    std::vector<Probe> probes(pendingEnds.size());
    std::vector<std::size_t> columned;
    for (std::size_t n = first; n < last; ++n) {
        if (entries[n].columned) {
            columned.push_back(n);
        } else {
            tallyLookedUp(n, half, probes);
        }
    }
    tallyColumned(columned);
}

void FleetTally::tallyLookedUp(std::size_t n, Half& half, std::vector<Probe>& probes)
{
    const Entry entry = fleetEntry(n);
    const Table table = entry.table;
    const std::size_t offset = entryOffset(entry);
    EntryValues& values = entries[n];
    // A file that holds the value of the file before costs no look-up.
    // Where each other file's value is looked for is a miss of the cache in
    // a table of many values: all are asked for first, so that they arrive
    // together instead of one after another.
    std::size_t fresh = 0;
    for (std::size_t f = 0; f < probes.size(); ++f) {
        const unsigned char* bytes = &pendingImages[f * Parameter::FileBytes + offset];
        Probe& probe = probes[f];
        probe = Probe();
        if (table == Table::Names) {
            probe.name = reinterpret_cast<const char*>(bytes);
            probe.nameLength = nameLength(probe.name);
            const char* before = f > 0                 ? probes[f - 1].name
                                 : values.last != none ? values.names[values.values[values.last].key].bytes
                                                       : nullptr;
            const std::size_t beforeLength = f > 0               ? probes[f - 1].nameLength
                                             : before != nullptr ? values.names[values.values[values.last].key].length
                                                                 : 0;
            probe.again = before != nullptr && beforeLength == probe.nameLength &&
                          std::memcmp(before, probe.name, probe.nameLength) == 0;
        } else {
            probe.key = keyOf(table, bytes);
            probe.again = f > 0 ? probes[f - 1].key == probe.key
                                : values.last != none && values.values[values.last].key == probe.key;
        }
        if (probe.again) {
            continue;
        }
        ++fresh;
        probe.hash = table == Table::Names ? hashOfName(probe.name, probe.nameLength) : hashOf(n, probe.key);
        __builtin_prefetch(&values.slots[static_cast<std::uint32_t>(probe.hash >> 32) >> (32 - values.bits)]);
    }
    while (2 * (values.values.size() + fresh) > values.slots.size()) {
        grow(values);
    }
    for (std::size_t f = 0; f < probes.size(); ++f) {
        if (!probes[f].again) {
            values.last = find(n, probes[f]);
        } else if (!forPage && values.values[values.last].count >= listedFiles) {
            // A value already listed in full, and no page to tell: a count more.
            ++values.values[values.last].count;
            continue;
        }
        tally(n, values.last, static_cast<std::uint32_t>(pendingFirst + f), half, &half.listing[f]);
    }
    if (values.values.size() > columnAfter && 2 * values.values.size() > fileCount) {
        startColumn(n);
    }
}

// File by file, so that each image is read in its order, once, each table's
// entries together.
void FleetTally::tallyColumned(const std::vector<std::size_t>& columned)
{
    const std::size_t pending = pendingEnds.size();
    struct Place {
        const unsigned char* bytes;
        std::uint64_t* keys;
        Name* names;
    };
    std::array<std::vector<Place>, 3> places;
    for (const std::size_t n : columned) {
        EntryValues& entry = entries[n];
        const Entry e = fleetEntry(n);
        const std::size_t had = entry.column.size();
        entry.column.resize(had + pending);
        Place place{&pendingImages[entryOffset(e)], &entry.column[had], nullptr};
        if (e.table == Table::Names) {
            entry.names.resize(entry.names.size() + pending);
            place.names = &entry.names[entry.names.size() - pending];
        }
        // A flag, of two values at most, is never columned.
        places[e.table == Table::Init ? 0 : e.table == Table::Names ? 2 : 1].push_back(place);
    }
    for (std::size_t f = 0; f < pending; ++f) {
        const std::size_t at = f * Parameter::FileBytes;
        for (const Place& place : places[0]) {
            place.keys[f] = Parameter::read32le(place.bytes + at);
        }
        for (const Place& place : places[1]) {
            place.keys[f] = Parameter::read64le(place.bytes + at);
        }
        for (const Place& place : places[2]) {
            Name& kept = place.names[f];
            std::memcpy(kept.bytes, place.bytes + at, Parameter::NameBytes);
            std::size_t length = 0;
            place.keys[f] = hashOfField(place.bytes + at, length);
            kept.length = static_cast<unsigned char>(length);
        }
    }
}

void FleetTally::startColumn(std::size_t n)
{
    EntryValues& entry = entries[n];
    entry.columned = true;
    entry.columnFirst = static_cast<std::uint32_t>(fileCount);
    entry.columnNames = entry.names.size();
    entry.slots = std::vector<Slot>();
    // Room for the files to come at once: a column that doubled would copy its keys again and again.
    const std::size_t coming = expectedFiles > fileCount ? expectedFiles - fileCount : 0;
    entry.column = std::vector<std::uint64_t, InRoom<std::uint64_t>>(InRoom<std::uint64_t>(&room));
    entry.column.reserve(coming);
    if (fleetEntry(n).table == Table::Names) {
        std::vector<Name, InRoom<Name>> names{InRoom<Name>(&room)};
        names.reserve(entry.names.size() + coming);
        names.insert(names.end(), entry.names.begin(), entry.names.end());
        entry.names = std::move(names);
    }
}

void FleetTally::tally(std::size_t n, std::uint32_t v, std::uint32_t file, Half& half, char* listing)
{
    Value& value = entries[n].values[v];
    if (++value.count <= listedFiles) {
        if (listing != nullptr) {
            *listing = 1;
        }
        if (value.count == 2) {
            half.lists.push_back({value.listed, none});
            value.listed = static_cast<std::uint32_t>(half.lists.size() - 1);
        }
        if (value.count == 1) {
            value.listed = file;
        } else {
            half.lists.push_back({file, value.listed});
            value.listed = static_cast<std::uint32_t>(half.lists.size() - 1);
        }
    }
    if (!forPage) {
        return;
    }
    if (file <= pageFileRows) {
        rowValues[file * fleetEntries + n] = v;
    }
    Run& run = entries[n].runs[v];
    const std::uint32_t directory = fileDirectories[file];
    if (run.directory != directory && run.count > 0) {
        half.spilled.push_back({static_cast<std::uint32_t>(n), run.directory, v, run.count});
        run.count = 0;
    }
    run.directory = directory;
    ++run.count;
}

void FleetTally::settleEntries(std::size_t first, std::size_t last, Half& half)
{
    for (std::size_t n = first; n < last; ++n) {
        if (!entries[n].column.empty()) {
            settle(n, half);
        }
        entries[n].top = rank(n, keptRanks);
    }
    half.slots = std::vector<Slot>();
}

void FleetTally::makeTable(std::size_t n, Half& half)
{
    EntryValues& entry = entries[n];
    const bool named = fleetEntry(n).table == Table::Names;
    // At most three quarters full.
    entry.bits = 4;
    while (3 * (std::size_t{1} << entry.bits) < 4 * (entry.values.size() + entry.column.size())) {
        ++entry.bits;
    }
    // The table of the entry settled before is reused: new room would cost a page fault a page.
    if (entry.slots.capacity() < half.slots.capacity()) {
        entry.slots.swap(half.slots);
    }
    entry.slots.assign(std::size_t{1} << entry.bits, Slot{});
    const std::size_t mask = entry.slots.size() - 1;
    for (std::uint32_t v = 0; v < entry.values.size(); ++v) {
        const std::uint64_t key = entry.values[v].key;
        const std::uint64_t hash = named ? hashOfName(entry.names[key].bytes, entry.names[key].length) : hashOf(n, key);
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        std::size_t at = tag >> (32 - entry.bits);
        while (entry.slots[at].value != 0) {
            at = (at + 1) & mask;
        }
        entry.slots[at] = {tag, v + 1};
    }
}

// The column's keys are looked up at last, file by file, in a table made
// for all of them: it fits the cache as the one entry worked on, where the
// tables of all entries at once would not, and it never grows. While the
// keys are distinct, as those of random bytes are, each is left in the
// column as a value it implies; at the first that is not, those before it
// become values of their own, each at the index it was implied at, and
// the rest are tallied as they come.
void FleetTally::settle(std::size_t n, Half& half)
{
    EntryValues& entry = entries[n];
    makeTable(n, half);
    const std::size_t first = entry.values.size();
    const std::size_t kept = entry.column.size();
    const std::size_t mask = entry.slots.size() - 1;
    bool implying = true;
    const auto becomeValues = [&](std::size_t end) {
        entry.values.reserve(first + kept);
        if (forPage) {
            entry.runs.reserve(first + kept);
        }
        for (std::size_t k = 0; k < end; ++k) {
            const std::uint64_t key = fleetEntry(n).table == Table::Names ? entry.columnNames + k : entry.column[k];
            tally(n, newValue(n, key), static_cast<std::uint32_t>(entry.columnFirst + k), half, nullptr);
        }
        implying = false;
    };
    const bool named = fleetEntry(n).table == Table::Names;
    const std::uint64_t* keys = entry.column.data();
    // Whether value v is the key of the column's k-th file.
    const auto sameKey = [&](std::uint32_t v, std::size_t k) {
        if (!named) {
            return (v < first ? entry.values[v].key : keys[v - first]) == keys[k];
        }
        const Name& one = entry.names[v < first ? entry.values[v].key : entry.columnNames + v - first];
        const Name& other = entry.names[entry.columnNames + k];
        return one.length == other.length && std::memcmp(one.bytes, other.bytes, one.length) == 0;
    };
    // A few keys ahead are asked for, so that their places arrive together.
    constexpr std::size_t ahead = 16;
    std::array<std::uint64_t, ahead> hashes;
    for (std::size_t start = 0; start < kept; start += ahead) {
        const std::size_t end = std::min(start + ahead, kept);
        for (std::size_t k = start; k < end; ++k) {
            // A name's key in the column is its hash.
            hashes[k - start] = named ? keys[k] : hashOf(n, keys[k]);
            __builtin_prefetch(&entry.slots[static_cast<std::uint32_t>(hashes[k - start] >> 32) >> (32 - entry.bits)]);
        }
        for (std::size_t k = start; k < end; ++k) {
            const auto file = static_cast<std::uint32_t>(entry.columnFirst + k);
            if (!implying) {
                Probe probe{keys[k], nullptr, 0, hashes[k - start], false, false};
                if (named) {
                    const Name& name = entry.names[entry.columnNames + k];
                    probe = {entry.columnNames + k, name.bytes, name.length, hashes[k - start], false, true};
                }
                tally(n, find(n, probe), file, half, nullptr);
                continue;
            }
            const auto tag = static_cast<std::uint32_t>(hashes[k - start] >> 32);
            for (std::size_t at = tag >> (32 - entry.bits);; at = (at + 1) & mask) {
                const Slot slot = entry.slots[at];
                if (slot.value == 0) {
                    entry.slots[at] = {tag, static_cast<std::uint32_t>(first + k + 1)};
                    break;
                }
                if (slot.tag == tag && sameKey(slot.value - 1, k)) {
                    becomeValues(k);
                    tally(n, slot.value - 1, file, half, nullptr);
                    break;
                }
            }
        }
    }
    entry.slots.swap(half.slots);
    if (implying) {
        entry.implied = kept;
        for (std::size_t k = 0; forPage && entry.columnFirst + k <= pageFileRows && k < kept; ++k) {
            rowValues[(entry.columnFirst + k) * fleetEntries + n] = static_cast<std::uint32_t>(first + k);
        }
        return;
    }
    entry.column = std::vector<std::uint64_t, InRoom<std::uint64_t>>();
    entry.columnFirst = static_cast<std::uint32_t>(fileCount);
    entry.columnNames = entry.names.size();
}

bool FleetTally::nameBefore(std::size_t n, std::uint64_t a, std::uint64_t b) const
{
    const Name& one = entries[n].names[a];
    const Name& other = entries[n].names[b];
    const int order = std::memcmp(one.bytes, other.bytes, std::min(one.length, other.length));
    return order != 0 ? order < 0 : one.length < other.length;
}

std::vector<std::uint32_t> FleetTally::ranked(std::size_t n, std::size_t most) const
{
    const std::vector<std::uint32_t>& top = entries[n].top;
    if (most <= top.size() || top.size() == valueCount(n)) {
        return {top.begin(), top.begin() + static_cast<std::ptrdiff_t>(std::min(most, top.size()))};
    }
    return rank(n, most);
}

// The few values wanted are picked in one pass, each value compared with
// the last of those kept so far; many are sorted.
std::vector<std::uint32_t> FleetTally::rank(std::size_t n, std::size_t most) const
{
    const EntryValues& entry = entries[n];
    const Table table = fleetEntry(n).table;
    const bool real = isReal(table);
    // A value as it is ranked: for a number its place in value order, a
    // number too. Flipping the sign bit of a positive real, and every bit of
    // a negative one, orders the patterns as the numbers, -0.0 just before
    // 0.0; the NaNs come last, by their bits. A name is ranked by its bytes.
    struct Candidate {
        std::uint32_t count;
        std::uint32_t value;
        std::uint64_t order;
        bool nan;
    };
    const auto candidate = [real](std::uint32_t count, std::uint32_t value, std::uint64_t key) {
        const bool nan = real && (key & ~(std::uint64_t{1} << 63)) > 0x7ff0000000000000ULL;
        const std::uint64_t order = !real || nan ? key : key >> 63 != 0 ? ~key : key | (std::uint64_t{1} << 63);
        return Candidate{count, value, order, nan};
    };
    const auto better = [this, n, table](const Candidate& a, const Candidate& b) {
        if (a.count != b.count) {
            return a.count > b.count;
        }
        if (a.nan != b.nan) {
            return b.nan;
        }
        return table == Table::Names ? nameBefore(n, a.order, b.order) : a.order < b.order;
    };
    const std::size_t total = valueCount(n);
    const bool few = most < 64 && most < total;
    std::vector<Candidate> kept;
    kept.reserve(few ? most + 1 : total);
    const auto consider = [&](const Candidate& c) {
        if (!few) {
            kept.push_back(c);
            return;
        }
        if (kept.size() == most) {
            const Candidate& last = kept.back();
            if (c.count < last.count ||
                (c.count == last.count &&
                 (c.nan > last.nan || (c.nan == last.nan && table != Table::Names && c.order >= last.order)))) {
                return;
            }
            if (!better(c, last)) {
                return;
            }
        }
        kept.insert(std::upper_bound(kept.begin(), kept.end(), c, better), c);
        if (kept.size() > most) {
            kept.pop_back();
        }
    };
    for (std::size_t v = 0; v < entry.values.size(); ++v) {
        consider(candidate(entry.values[v].count, static_cast<std::uint32_t>(v), entry.values[v].key));
    }
    // A value a column implies, held by one file, comes after those held by
    // more; of those of numbers, most are turned away by a look at the order
    // of the last kept alone.
    const bool named = table == Table::Names;
    const auto first = static_cast<std::uint32_t>(entry.values.size());
    for (std::size_t k = 0; k < entry.implied; ++k) {
        if (few && kept.size() == most && kept.back().count > 1) {
            break;
        }
        if (named || !few || kept.size() < most || kept.back().nan) {
            consider(
                candidate(1, first + static_cast<std::uint32_t>(k), named ? entry.columnNames + k : entry.column[k]));
            continue;
        }
        const std::uint64_t last = kept.back().order;
        for (; k < entry.implied; ++k) {
            const Candidate c = candidate(1, first + static_cast<std::uint32_t>(k), entry.column[k]);
            if (!c.nan && c.order < last) {
                consider(c);
                break;
            }
        }
    }
    if (!few) {
        std::sort(kept.begin(), kept.end(), better);
        kept.resize(std::min(most, total));
    }
    std::vector<std::uint32_t> order(kept.size());
    std::transform(kept.begin(), kept.end(), order.begin(), [](const Candidate& c) { return c.value; });
    return order;
}

std::vector<std::string_view> FleetTally::holders(std::size_t n, std::uint32_t v) const
{
    if (count(n, v) == 1) {
        return {pathOf(listedAt(n, v))};
    }
    const Value& value = entries[n].values[v];
    const std::vector<Listed>& lists = halves[halfOf(n)].lists;
    std::vector<std::string_view> paths;
    for (std::uint32_t at = value.count <= listedFiles ? value.listed : none; at != none; at = lists[at].before) {
        paths.push_back(pathOf(lists[at].file));
    }
    std::reverse(paths.begin(), paths.end());
    return paths;
}

char* FleetTally::writeValue(char* at, std::size_t n, std::uint32_t v) const
{
    const std::uint64_t key = keyAt(n, v);
    switch (fleetEntry(n).table) {
    case Table::Init:
        return writeInteger(at, key);
    case Table::TerminalCondition:
    case Table::Operations:
        return writeJsonReal(at, realOf(key));
    case Table::Names:
        return writeJsonName(at, entries[n].names[key].bytes, entries[n].names[key].length);
    case Table::Document:
        return writeJsonBool(at, key != 0);
    }
    return at;
}

void FleetTally::appendValue(std::string& out, std::size_t n, std::uint32_t v) const
{
    char text[jsonEntryRoom];
    out.append(text, writeValue(text, n, v));
}

bool FleetTally::isNan(std::size_t n, std::uint32_t v) const
{
    return isReal(fleetEntry(n).table) && std::isnan(realOf(keyAt(n, v)));
}

EntryValue FleetTally::valueOf(std::size_t n, std::uint32_t v) const
{
    const std::uint64_t key = keyAt(n, v);
    EntryValue value;
    switch (fleetEntry(n).table) {
    case Table::Init:
        value.integer = static_cast<std::uint32_t>(key);
        break;
    case Table::TerminalCondition:
    case Table::Operations:
        value.real = realOf(key);
        break;
    case Table::Names:
        value.name.assign(entries[n].names[key].bytes, entries[n].names[key].length);
        break;
    case Table::Document:
        value.flag = key != 0;
        break;
    }
    return value;
}
