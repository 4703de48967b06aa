// The page of --summary --html: a heat map of the files against the entries
// that vary, each entry's values counted as bars, and the fleet's findings,
// as one HTML page that needs nothing from the network and no script.
#ifndef PARAMLIST_FLEET_PAGE_H
#define PARAMLIST_FLEET_PAGE_H

#include "findings.h"
#include "fleet_tally.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The bounds that keep the page small whatever the fleet: the columns of the
// heat map, its rows of directories when there are more files than
// FleetTally::pageFileRows, the bars of an entry besides the one for the
// rest, and the bytes of the map's titles, which are cut short to fit.
constexpr std::size_t pageColumns = 60;
constexpr std::size_t pageDirectoryRows = 500;
constexpr std::size_t pageBars = 10;
constexpr std::size_t pageTitleBytes = 2400000;
// The bytes of a finding's message in the list.
constexpr std::size_t pageFindingBytes = 480;

// What a schema tells of an entry, as the page shows it: its name and unit,
// empty where it gives none, and whether a value is outside its limits,
// unset for an entry it does not limit.
struct EntryFacts {
    std::string name;
    std::string unit;
    std::function<bool(const EntryValue&)> outside;
};
// The facts of every entry, fleetEntries of them; without a schema, all empty.
using FleetFacts = std::vector<EntryFacts>;

// The page for the fleet that tally holds (made with forPage), with the
// facts that a schema gives of its entries and the findings of its files.
std::string fleetPage(const FleetTally& tally, const FleetFacts& facts, const FindingDigest& findings);

#endif
