// --summary: for each entry whose value is not the same in every file, in
// file order, how many files hold each of its values, the most common first;
// with --json one object an entry, with --html a page of it all. A file that
// is not a parameter file is left out, unless --force.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "findings.h"
#include "fleet_page.h"
#include "fleet_tally.h"
#include "input_files.h"
#include "json_text.h"
#include "modes.h"
#include "terminal_text.h"

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

// The values shown of an entry, and the files listed of a value, in the text.
constexpr std::size_t shownValues = 5;
constexpr std::uint32_t namedFiles = 3;

void appendCount(std::string& out, std::size_t count, const char* one, const char* many)
{
    appendInteger(out, count);
    out += count == 1 ? one : many;
}

// Ends an entry's heading with what the schema calls it, as the modes that
// write an entry a line end it: "  # NAME [UNIT]".
void appendFacts(std::string& out, const EntryFacts& facts)
{
    if (facts.name.empty() && facts.unit.empty()) {
        return;
    }
    out += "  #";
    out += facts.name.empty() ? "" : " " + facts.name;
    out += facts.unit.empty() ? "" : " [" + facts.unit + "]";
}

std::string summaryText(const FleetTally& tally, const FleetFacts& facts)
{
    const bool terminal = isTerminal(STDOUT_FILENO);
    std::string out;
    std::size_t varying = 0;
    for (std::size_t n = 0; n < fleetEntries; ++n) {
        const std::size_t values = tally.valueCount(n);
        if (values < 2) {
            continue;
        }
        ++varying;
        appendEntryName(out, fleetEntry(n));
        out += ": ";
        appendCount(out, values, " value", " values");
        appendFacts(out, facts[n]);
        out += '\n';
        for (const std::uint32_t v : tally.ranked(n, shownValues)) {
            out += "  ";
            tally.appendValue(out, n, v);
            out += ": ";
            const std::uint32_t files = tally.count(n, v);
            appendCount(out, files, " file", " files");
            if (files <= namedFiles) {
                const char* between = ": ";
                for (const std::string_view path : tally.holders(n, v)) {
                    out += between;
                    appendShown(out, path, terminal);
                    between = ", ";
                }
            }
            out += '\n';
        }
        if (values > shownValues) {
            out += "  and ";
            appendCount(out, values - shownValues, " more value\n", " more values\n");
        }
    }
    appendInteger(out, varying);
    out += " of 300 entries vary across ";
    appendCount(out, tally.files(), " file\n", " files\n");
    return out;
}

std::string summaryJson(const FleetTally& tally, const FleetFacts& facts)
{
    std::string out;
    for (std::size_t n = 0; n < fleetEntries; ++n) {
        if (tally.valueCount(n) < 2) {
            continue;
        }
        out += "{\"entry\":\"";
        appendEntryName(out, fleetEntry(n));
        out += '"';
        if (!facts[n].name.empty()) {
            out += ",\"name\":";
            appendJsonText(out, facts[n].name.data(), facts[n].name.size());
        }
        if (!facts[n].unit.empty()) {
            out += ",\"unit\":";
            appendJsonText(out, facts[n].unit.data(), facts[n].unit.size());
        }
        out += ",\"total\":";
        appendInteger(out, tally.files());
        out += ",\"values\":[";
        const char* between = "";
        for (const std::uint32_t v : tally.ranked(n, tally.valueCount(n))) {
            out += between;
            out += "{\"value\":";
            tally.appendValue(out, n, v);
            out += ",\"count\":";
            appendInteger(out, tally.count(n, v));
            if (tally.count(n, v) <= listedFiles) {
                out += ",\"files\":[";
                const char* comma = "";
                for (const std::string_view path : tally.holders(n, v)) {
                    out += comma;
                    appendJsonPath(out, path.data(), path.size());
                    comma = ",";
                }
                out += ']';
            }
            out += '}';
            between = ",";
        }
        out += "]}\n";
    }
    return out;
}

} // namespace

int mode::summary(const Request& request)
{
    FileNames names(request.fileList, request.operands, request.count);
    FleetTally tally(request.html);
    FindingDigest findings;
    // What the schema tells of each entry; without one, nothing.
    const FleetFacts facts(fleetEntries);
    bool leftOut = false;
    const int status = runOverContents(
        names,
        [&](const char* file, const FileContents& contents) {
            if (!request.force && !contents.isParameterFile()) {
                reportError(file, notParameterFile(contents));
                leftOut = true;
                return;
            }
            tally.add(file, contents.bytes.data());
            if (request.html) {
                findings.about(file);
                checkContents(contents, findings);
            }
        },
        troubleStatus);
    tally.finish();
    const std::string out = request.html   ? fleetPage(tally, facts, findings)
                            : request.json ? summaryJson(tally, facts)
                                           : summaryText(tally, facts);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return leftOut ? troubleStatus : status;
}
