// The fleet's tally: a hash table of distinct values per entry, filled file
// by file from the image's bytes.
#include "fleet_tally.h"

#include "Parameter.h"
#include "json_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
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

// The seed keeps a fleet made to collide in one run's tables from colliding
// in another's: a hostile fleet cannot make every look-up a long search.
FleetTally::FleetTally(bool forPage)
    : forPage(forPage), seed(std::random_device()()), halves{Half(std::random_device()()), Half(std::random_device()())}
{
    for (EntryValues& entry : entries) {
        entry.slots.resize(std::size_t{1} << entry.bits);
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

std::uint32_t FleetTally::find(std::size_t n, const Probe& probe)
{
    EntryValues& entry = entries[n];
    std::uint64_t key = probe.key;
    const char* name = probe.name;
    const std::size_t length = probe.nameLength;
    const std::uint64_t hash = probe.hash;
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    const std::size_t mask = entry.slots.size() - 1;
    for (std::size_t at = tag >> (32 - entry.bits);; at = (at + 1) & mask) {
        Slot& slot = entry.slots[at];
        if (slot.value == 0) {
            const auto v = static_cast<std::uint32_t>(entry.values.size());
            if (name != nullptr) {
                key = names.size();
                Name& kept = names.emplace_back();
                kept.length = static_cast<unsigned char>(length);
                std::memcpy(kept.bytes, name, length);
            }
            entry.values.push_back({key, 0, none});
            if (forPage) {
                entry.runs.push_back({none, 0});
            }
            slot = {tag, v + 1};
            return v;
        }
        if (slot.tag != tag) {
            continue;
        }
        const Value& value = entry.values[slot.value - 1];
        const bool same = name != nullptr ? names[value.key].length == length &&
                                                std::memcmp(names[value.key].bytes, name, length) == 0
                                          : value.key == key;
        if (same) {
            return slot.value - 1;
        }
    }
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
    const std::string directory = slash == std::string_view::npos ? "." : std::string(path.substr(0, slash + 1));
    const auto [place, added] = directoryIndex.emplace(directory, static_cast<std::uint32_t>(directoryNames.size()));
    if (added) {
        directoryNames.push_back(directory);
        filesIn.push_back(0);
    }
    ++filesIn[place->second];
    return place->second;
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
    const std::string_view shown(path);
    const auto number = static_cast<std::uint32_t>(fileCount++);
    Pending file{std::string(shown), forPage ? directoryOf(shown) : 0, number, none};
    if (forPage && number <= pageFileRows) {
        file.row = static_cast<std::uint32_t>(rows.size());
        rows.push_back({number, file.directory});
        rowValues.resize(rowValues.size() + fleetEntries);
    }
    pending.push_back(std::move(file));
    pendingImages.insert(pendingImages.end(), image, image + Parameter::FileBytes);
    if (pending.size() == 128) {
        finish();
    }
}

void FleetTally::finish()
{
    for (Half& half : halves) {
        half.listing.assign(pending.size(), 0);
    }
    // Either policy: where no thread can be started, the half is tallied when it is waited for.
    std::future<void> second = std::async(std::launch::async | std::launch::deferred, &FleetTally::tallyEntries, this,
                                          firstHalf, fleetEntries, std::ref(halves[1]));
    tallyEntries(0, firstHalf, halves[0]);
    second.get();
    // A file's path is kept only once a value lists it, or a row shows it.
    for (std::size_t f = 0; f < pending.size(); ++f) {
        if (pending[f].row != none || halves[0].listing[f] != 0 || halves[1].listing[f] != 0) {
            keptFiles.push_back(pending[f].number);
            keptStarts.push_back(keptBytes.size());
            keptBytes += pending[f].path;
        }
    }
    pending.clear();
    pendingImages.clear();
}

void FleetTally::tallyEntries(std::size_t first, std::size_t last, Half& half)
{
    std::vector<Probe> probes(pending.size());
    for (std::size_t n = first; n < last; ++n) {
        const Entry entry = fleetEntry(n);
        const Table table = entry.table;
        EntryValues& values = entries[n];
        while (2 * (values.values.size() + pending.size()) > values.slots.size()) {
            grow(values);
        }
        // Where each file's value is looked for is a miss of the cache in a
        // table of many values: all are asked for first, so that they arrive
        // together instead of one after another.
        const std::size_t offset = entryOffset(entry);
        for (std::size_t f = 0; f < pending.size(); ++f) {
            const unsigned char* bytes = &pendingImages[f * Parameter::FileBytes + offset];
            Probe& probe = probes[f];
            probe = Probe();
            if (table == Table::Names) {
                probe.name = reinterpret_cast<const char*>(bytes);
                probe.nameLength = nameLength(probe.name);
                probe.hash = hashOfName(probe.name, probe.nameLength);
            } else {
                probe.key = table == Table::Init ? Parameter::read32le(bytes)
                            : isReal(table)      ? Parameter::read64le(bytes)
                                                 : (*bytes != 0 ? 1 : 0);
                probe.hash = hashOf(n, probe.key);
            }
            __builtin_prefetch(&values.slots[static_cast<std::uint32_t>(probe.hash >> 32) >> (32 - values.bits)]);
        }
        for (std::size_t f = 0; f < pending.size(); ++f) {
            tally(n, find(n, probes[f]), f, half);
        }
    }
}

void FleetTally::tally(std::size_t n, std::uint32_t v, std::size_t f, Half& half)
{
    Value& value = entries[n].values[v];
    const Pending& file = pending[f];
    if (++value.count <= listedFiles) {
        half.listing[f] = 1;
        if (value.count == 2) {
            half.lists.push_back({value.listed, none});
            value.listed = static_cast<std::uint32_t>(half.lists.size() - 1);
        }
        if (value.count == 1) {
            value.listed = file.number;
        } else {
            half.lists.push_back({file.number, value.listed});
            value.listed = static_cast<std::uint32_t>(half.lists.size() - 1);
        }
    }
    if (file.row != none) {
        rowValues[file.row * fleetEntries + n] = v;
    }
    if (!forPage) {
        return;
    }
    Run& run = entries[n].runs[v];
    if (run.directory != file.directory && run.count > 0) {
        half.spilled[{static_cast<std::uint32_t>(n), run.directory, v}] += run.count;
        run.count = 0;
    }
    run.directory = file.directory;
    ++run.count;
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
    const Value& value = entries[n].values[v];
    if (value.count == 1) {
        return {pathOf(value.listed)};
    }
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
