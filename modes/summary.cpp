// --summary: for each entry whose value is not the same in every file, in
// file order, how many files hold each of its values, the most common first;
// with --json one object an entry, with --html a page of it all. A file that
// is not a parameter file is left out, unless --force. When every file has
// the same schema, the entries carry its names and units, and the page marks
// the values outside its limits.
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
#include "schema_finder.h"
#include "terminal_text.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

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

std::string summaryText(const FleetTally& tally, const Schema* schema)
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
        out += schema != nullptr ? schema->note(fleetEntry(n)) : std::string();
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

// Each entry's line is written once made: a line names the file of every
// value that few files hold, and all the lines may be more than memory holds.
void writeSummaryJson(const FleetTally& tally, const Schema* schema)
{
    std::string out;
    for (std::size_t n = 0; n < fleetEntries; ++n) {
        if (tally.valueCount(n) < 2) {
            continue;
        }
        out = "{\"entry\":\"";
        appendEntryName(out, fleetEntry(n));
        out += '"';
        const EntryDescription* description = schema != nullptr ? schema->find(fleetEntry(n)) : nullptr;
        if (description != nullptr && !description->name.empty()) {
            out += ",\"name\":";
            appendJsonText(out, description->name.data(), description->name.size());
        }
        if (description != nullptr && !description->unit.empty()) {
            out += ",\"unit\":";
            appendJsonText(out, description->unit.data(), description->unit.size());
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
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
}

// What the page shows of the schema that every file has: each entry's name,
// unit and limits.
FleetFacts factsOf(const Schema* schema)
{
    FleetFacts facts(fleetEntries);
    for (std::size_t n = 0; schema != nullptr && n < fleetEntries; ++n) {
        const EntryDescription* description = schema->find(fleetEntry(n));
        if (description == nullptr) {
            continue;
        }
        facts[n].name = description->name;
        facts[n].unit = description->unit;
        if (description->min || description->max || description->nonzero || !description->values.empty()) {
            facts[n].outside = [description](const EntryValue& value) {
                return !checkValue(*description, value).empty();
            };
        }
    }
    return facts;
}

// Tells the digest a file's findings as --check writes them: those of its
// schema among those of its bytes, in offset order.
class FileFindings : public FindingSink
{
public:
    FileFindings(FindingDigest& digest, const Schema& schema, std::vector<SchemaFinding> described)
        : digest(digest), schema(schema), described(std::move(described))
    {
    }

    void found(std::size_t offset, std::string_view kind, const Entry* entry, std::string_view text) override
    {
        tellDescribed(offset);
        digest.found(offset, kind, entry, text);
    }

    // Tells the schema's findings of the entries before offset, or all that are left.
    void tellDescribed(std::size_t offset = SIZE_MAX)
    {
        for (; next < described.size() && entryOffset(described[next].description->entry) < offset; ++next) {
            const SchemaFinding& finding = described[next];
            digest.found(entryOffset(finding.description->entry), findingKindName(finding.kind), nullptr,
                         findingMessage(finding, schema));
        }
    }

private:
    FindingDigest& digest;
    const Schema& schema;
    std::vector<SchemaFinding> described;
    std::size_t next = 0;
};

} // namespace

// A schema that cannot be used stops the run before any file is read, as
// for --check; a file of a list whose schema cannot be used is left out.
int mode::summary(const Request& request)
{
    SchemaFinder schemas(request);
    FileNames names(request.fileList, request.operands, request.count);
    if (!schemas.start() || (!names.listed() && !schemas.findAll(request.operands, request.count))) {
        return troubleStatus;
    }
    const FileReads reads(request.operands, request.count, names.listed());
    FleetTally tally(request.html, names.listed() ? 0 : static_cast<std::size_t>(request.count));
    FindingDigest findings;
    // The schema that every file taken in has; none once two differ.
    const Schema* shared = nullptr;
    bool oneSchema = true;
    bool leftOut = false;
    std::string diagnostics;
    const int status = runOverContents(
        names, reads,
        [&](const char* file, const FileContents& contents) {
            const SchemaFinder::Found found = schemas.of(file, diagnostics);
            std::fputs(diagnostics.c_str(), stderr);
            diagnostics.clear();
            if (found.failed) {
                leftOut = true;
                return;
            }
            if (!request.force && !contents.isParameterFile()) {
                reportError(file, notParameterFile(contents));
                leftOut = true;
                return;
            }
            const Schema* schema = found.schema;
            if (tally.files() == 0) {
                shared = schema;
            } else if (schema != shared && (schema == nullptr || shared == nullptr || !schema->sameAs(*shared))) {
                oneSchema = false;
            }
            tally.add(file, contents.bytes.data());
            if (!request.html) {
                return;
            }
            findings.about(file);
            if (schema == nullptr) {
                checkContents(contents, findings);
                return;
            }
            FileFindings sink(findings, *schema, checkImage(*schema, contents.bytes.data()));
            checkContents(contents, sink);
            sink.tellDescribed();
        },
        troubleStatus);
    tally.finish();
    const Schema* schema = oneSchema ? shared : nullptr;
    if (request.json && !request.html) {
        writeSummaryJson(tally, schema);
    } else {
        const std::string out = request.html ? fleetPage(tally, factsOf(schema), findings) : summaryText(tally, schema);
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    return leftOut ? troubleStatus : status;
}
