// The fleet's tally: a hash table of distinct values per entry, filled file
// by file from the image's bytes.
#include "fleet_tally.h"

#include "Parameter.h"
#include "json_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

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

// A real's place in value order: non-NaN reals in increasing order, -0.0
// just before 0.0, then the NaNs by their bits.
bool realBefore(std::uint64_t a, std::uint64_t b)
{
    const bool nanA = std::isnan(realOf(a));
    const bool nanB = std::isnan(realOf(b));
    if (nanA || nanB) {
        return nanA != nanB ? nanB : a < b;
    }
    // Flipping the sign bit of a positive real, and every bit of a negative
    // one, orders the patterns as the numbers.
    const auto order = [](std::uint64_t bits) { return bits >> 63 != 0 ? ~bits : bits | (std::uint64_t{1} << 63); };
    return order(a) < order(b);
}

} // namespace

Entry fleetEntry(std::size_t n)
{
    for (const Table table : allTables) {
        if (n < tableEntries(table)) {
            return {table, static_cast<unsigned int>(n)};
        }
        n -= tableEntries(table);
    }
    return {Table::Document, Parameter::DocumentEntries - 1};
}

// The seed keeps a fleet made to collide in one run's tables from colliding
// in another's: a hostile fleet cannot make every look-up a long search.
FleetTally::FleetTally(bool forPage)
    : forPage(forPage), seed(std::random_device()()), spilled(0, SpillHash{std::random_device()()})
{
    for (EntryValues& entry : entries) {
        entry.slots.resize(16);
    }
}

std::size_t FleetTally::SpillHash::operator()(const SpillKey& key) const
{
    return mix(mix(seed ^ key.entry ^ (std::uint64_t{key.directory} << 32)) ^ key.value);
}

std::uint64_t FleetTally::hashOf(std::size_t n, std::uint64_t key) const
{
    return mix(key ^ seed ^ n);
}

std::uint64_t FleetTally::hashOfName(const char* bytes, std::size_t length) const
{
    std::uint64_t hash = mix(seed ^ length);
    for (std::size_t at = 0; at < length; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + at, std::min<std::size_t>(8, length - at));
        hash = mix(hash ^ word);
    }
    return hash;
}

std::uint32_t FleetTally::find(std::size_t n, std::uint64_t key, const char* name, std::size_t nameLength)
{
    EntryValues& entry = entries[n];
    if (2 * (entry.values.size() + 1) > entry.slots.size()) {
        grow(entry, n);
    }
    const std::uint64_t hash = name != nullptr ? hashOfName(name, nameLength) : hashOf(n, key);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    const std::size_t mask = entry.slots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        Slot& slot = entry.slots[at];
        if (slot.value == 0) {
            const auto v = static_cast<std::uint32_t>(entry.values.size());
            if (name != nullptr) {
                key = names.size();
                Name& kept = names.emplace_back();
                kept.length = static_cast<unsigned char>(nameLength);
                std::memcpy(kept.bytes, name, nameLength);
            }
            entry.values.push_back({key, 0, none, none, 0});
            slot = {tag, v + 1};
            return v;
        }
        if (slot.tag != tag) {
            continue;
        }
        const Value& value = entry.values[slot.value - 1];
        const bool same = name != nullptr ? names[value.key].length == nameLength &&
                                                std::memcmp(names[value.key].bytes, name, nameLength) == 0
                                          : value.key == key;
        if (same) {
            return slot.value - 1;
        }
    }
}

void FleetTally::grow(EntryValues& entry, std::size_t n)
{
    std::vector<Slot> slots(2 * entry.slots.size());
    const std::size_t mask = slots.size() - 1;
    const bool named = fleetEntry(n).table == Table::Names;
    for (std::uint32_t v = 0; v < entry.values.size(); ++v) {
        const std::uint64_t key = entry.values[v].key;
        const std::uint64_t hash = named ? hashOfName(names[key].bytes, names[key].length) : hashOf(n, key);
        std::size_t at = hash & mask;
        while (slots[at].value != 0) {
            at = (at + 1) & mask;
        }
        slots[at] = {static_cast<std::uint32_t>(hash >> 32), v + 1};
    }
    entry.slots = std::move(slots);
}

std::uint32_t FleetTally::directoryOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string_view::npos ? "." : std::string(path.substr(0, slash + 1));
    const auto [place, added] = directoryIndex.emplace(directory, static_cast<std::uint32_t>(directoryNames.size()));
    if (added) {
        directoryNames.push_back(directory);
        filesIn.push_back(0);
    }
    ++filesIn[place->second];
    return place->second;
}

std::uint32_t FleetTally::keepPath(std::string_view path)
{
    pathStarts.push_back(pathBytes.size());
    pathBytes += path;
    return static_cast<std::uint32_t>(pathStarts.size() - 1);
}

std::string_view FleetTally::pathOf(std::uint32_t k) const
{
    const std::size_t end = k + 1 < pathStarts.size() ? pathStarts[k + 1] : pathBytes.size();
    return std::string_view(pathBytes).substr(pathStarts[k], end - pathStarts[k]);
}

void FleetTally::add(const char* path, const unsigned char* image)
{
    const std::string_view shown(path);
    const std::uint32_t directory = forPage ? directoryOf(shown) : 0;
    const bool row = forPage && fileCount < pageFileRows + 1;
    // A file's path is kept only once a value lists it, or a row shows it.
    std::uint32_t kept = row ? keepPath(shown) : none;
    if (row) {
        rows.push_back({kept, directory});
        rowValues.resize(rowValues.size() + fleetEntries);
    }
    ++fileCount;
    std::size_t n = 0;
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i, ++n) {
            const unsigned char* bytes = image + entryOffset({table, i});
            std::uint32_t v = 0;
            if (table == Table::Init) {
                v = find(n, Parameter::read32le(bytes), nullptr, 0);
            } else if (isReal(table)) {
                v = find(n, Parameter::read64le(bytes), nullptr, 0);
            } else if (table == Table::Names) {
                const char* name = reinterpret_cast<const char*>(bytes);
                v = find(n, 0, name, nameLength(name));
            } else {
                v = find(n, *bytes != 0 ? 1 : 0, nullptr, 0);
            }
            Value& value = entries[n].values[v];
            if (++value.count <= listedFiles) {
                if (kept == none) {
                    kept = keepPath(shown);
                }
                lists.push_back({kept, value.listed});
                value.listed = static_cast<std::uint32_t>(lists.size() - 1);
            }
            if (row) {
                rowValues[(fileCount - 1) * fleetEntries + n] = v;
            }
            if (forPage) {
                countIn(directory, n, v);
            }
        }
    }
}

void FleetTally::countIn(std::uint32_t directory, std::size_t n, std::uint32_t v)
{
    Value& value = entries[n].values[v];
    if (value.runDirectory != directory && value.runCount > 0) {
        spilled[{static_cast<std::uint32_t>(n), value.runDirectory, v}] += value.runCount;
        value.runCount = 0;
    }
    value.runDirectory = directory;
    ++value.runCount;
}

bool FleetTally::before(std::size_t n, std::uint32_t a, std::uint32_t b) const
{
    const Value& x = entries[n].values[a];
    const Value& y = entries[n].values[b];
    if (x.count != y.count) {
        return x.count > y.count;
    }
    const Table table = fleetEntry(n).table;
    if (isReal(table)) {
        return realBefore(x.key, y.key);
    }
    if (table != Table::Names) {
        return x.key < y.key;
    }
    const Name& one = names[x.key];
    const Name& other = names[y.key];
    const int order = std::memcmp(one.bytes, other.bytes, std::min(one.length, other.length));
    return order != 0 ? order < 0 : one.length < other.length;
}

std::vector<std::uint32_t> FleetTally::ranked(std::size_t n, std::size_t most) const
{
    std::vector<std::uint32_t> order(entries[n].values.size());
    for (std::uint32_t v = 0; v < order.size(); ++v) {
        order[v] = v;
    }
    const auto less = [this, n](std::uint32_t a, std::uint32_t b) { return before(n, a, b); };
    if (most < order.size()) {
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(most), order.end(), less);
        order.resize(most);
    } else {
        std::sort(order.begin(), order.end(), less);
    }
    return order;
}

std::vector<std::string_view> FleetTally::holders(std::size_t n, std::uint32_t v) const
{
    std::vector<std::string_view> paths;
    for (std::uint32_t at = entries[n].values[v].listed; at != none; at = lists[at].before) {
        paths.push_back(pathOf(lists[at].path));
    }
    std::reverse(paths.begin(), paths.end());
    return paths;
}

char* FleetTally::writeValue(char* at, std::size_t n, std::uint32_t v) const
{
    const std::uint64_t key = entries[n].values[v].key;
    switch (fleetEntry(n).table) {
    case Table::Init:
        return writeInteger(at, key);
    case Table::TerminalCondition:
    case Table::Operations:
        return writeJsonReal(at, realOf(key));
    case Table::Names:
        return writeJsonName(at, names[key].bytes, names[key].length);
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
    return isReal(fleetEntry(n).table) && std::isnan(realOf(entries[n].values[v].key));
}

bool FleetTally::breaks(const EntryFacts& facts, std::size_t n, std::uint32_t v) const
{
    const std::uint64_t key = entries[n].values[v].key;
    const Table table = fleetEntry(n).table;
    if (table == Table::Names || table == Table::Document) {
        return facts.nonzero && (table == Table::Names ? names[key].length == 0 : key == 0);
    }
    const double value = table == Table::Init ? static_cast<double>(key) : realOf(key);
    const bool limited = facts.min || facts.max || !facts.values.empty();
    if (std::isnan(value)) {
        return limited;
    }
    const bool allowed =
        facts.values.empty() || std::find(facts.values.begin(), facts.values.end(), value) != facts.values.end();
    return !allowed || (facts.min && value < *facts.min) || (facts.max && value > *facts.max) ||
           (facts.nonzero && value == 0);
}
