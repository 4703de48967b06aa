// The summary's page. Every text from the files, a path or a name, is
// escaped (html_text.h), and the page allows no script and no resource from
// anywhere (its Content-Security-Policy), so what a hostile fleet holds
// shows as text and nothing more.
#include "fleet_page.h"

#include "html_text.h"
#include "json_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <numeric>

namespace {

// The classes of a value's colour: v0 the most common value (neutral in the
// map), v1 to v11 the next most common, v12 the rest; nan a NaN; out a value
// outside its schema's limits, which wins over NaN's. s1 to s5: the share of
// a directory's files that differ, by fifths.
constexpr std::size_t namedColours = 11;
constexpr char style[] =
    "body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;background:#fff}"
    "h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.6em}h3{font-size:1em;margin:.3em 0}"
    "table.map{border-collapse:collapse}"
    ".map td{width:11px;min-width:11px;height:11px;padding:0;border:1px solid #fff;background:#e8e8e8}"
    ".map th{font-weight:normal;text-align:left;padding:0 .6em 0 0;white-space:nowrap;font-size:12px}"
    ".map thead th{vertical-align:bottom;padding:0 0 .3em}"
    ".map thead th span{writing-mode:vertical-rl;transform:rotate(180deg);font-size:11px}"
    ".map tr.g th{font-weight:bold;padding-top:.5em}"
    ".key{display:inline-block;width:11px;height:11px;vertical-align:middle;margin-right:.3em}"
    ".k{white-space:nowrap;margin-right:1.2em}.k .key+.key{margin-right:1px}"
    ".bars{display:flex;flex-wrap:wrap;gap:1em 2.5em}"
    ".bars table{border-collapse:collapse;font-size:12px}"
    ".bars td{padding:0 .5em 0 0;white-space:nowrap}.bars td.n{text-align:right}"
    ".bars td.w{width:140px}.bars i{display:block;height:10px;min-width:1px}"
    ".v0{background:#8a8a8a}"
    "td.v1,i.v1,b.v1{background:#4e79a7}td.v2,i.v2,b.v2{background:#f28e2b}td.v3,i.v3,b.v3{background:#59a14f}"
    "td.v4,i.v4,b.v4{background:#b07aa1}td.v5,i.v5,b.v5{background:#edc948}td.v6,i.v6,b.v6{background:#76b7b2}"
    "td.v7,i.v7,b.v7{background:#ff9da7}td.v8,i.v8,b.v8{background:#9c755f}td.v9,i.v9,b.v9{background:#1b9e9e}"
    "td.v10,i.v10,b.v10{background:#8cd17d}td.v11,i.v11,b.v11{background:#a0cbe8}"
    "td.v12,i.v12,b.v12{background:#c7b8ad}"
    "td.nan,i.nan,b.nan{background:#111}"
    "td.out,i.out,b.out{background:repeating-linear-gradient(45deg,#e00000 0 3px,#fff 3px 5px);"
    "outline:1px solid #900}"
    "td.s1,b.s1{background:#d4e2f1}td.s2,b.s2{background:#a3c2e2}td.s3,b.s3{background:#6a9bcc}"
    "td.s4,b.s4{background:#3a70b0}td.s5,b.s5{background:#16427f}"
    "ol.findings{font-size:12px}table.kinds td{padding:0 1em 0 0}";

std::string entryLabel(std::size_t n, const FleetFacts& facts)
{
    std::string label;
    appendEntryName(label, fleetEntry(n));
    if (!facts[n].name.empty()) {
        label += ' ' + facts[n].name;
    }
    if (!facts[n].unit.empty()) {
        label += " [" + facts[n].unit + ']';
    }
    return label;
}

std::string valueText(const FleetTally& tally, std::size_t n, std::uint32_t v)
{
    std::string text;
    tally.appendValue(text, n, v);
    return text;
}

void appendCount(std::string& out, std::size_t count, const char* one, const char* many)
{
    appendInteger(out, count);
    out += count == 1 ? one : many;
}

// A varying entry: its most common values, which have colours of their
// own, and for an entry shown as a column whose values the schema limits,
// which of all its values are outside the limits.
struct Column {
    std::size_t n;
    std::vector<std::uint32_t> ranked;
    std::vector<char> outside;
};

bool isOutside(const FleetTally& tally, const FleetFacts& facts, std::size_t n, std::uint32_t v)
{
    return facts[n].outside && facts[n].outside(tally.valueOf(n, v));
}

// The colour class of value v in column: nothing for the common value.
std::string classOf(const FleetTally& tally, const Column& column, std::uint32_t v)
{
    if (!column.outside.empty() && column.outside[v] != 0) {
        return "out";
    }
    if (tally.isNan(column.n, v)) {
        return "nan";
    }
    const auto rank = std::find(column.ranked.begin(), column.ranked.end(), v) - column.ranked.begin();
    return rank == 0 ? ""
                     : "v" + std::to_string(std::min<std::size_t>(static_cast<std::size_t>(rank), namedColours + 1));
}

// The entries that vary, and of them the columns: those in which the most
// files differ from the common value, shown in file order.
struct Layout {
    std::vector<Column> varying;
    std::vector<Column> columns;
    std::vector<std::size_t> unshown;
};

Layout layOut(const FleetTally& tally, const FleetFacts& facts)
{
    Layout layout;
    for (std::size_t n = 0; n < fleetEntries; ++n) {
        if (tally.valueCount(n) > 1) {
            layout.varying.push_back({n, tally.ranked(n, std::max(namedColours + 1, pageBars)), {}});
        }
    }
    std::vector<std::pair<std::size_t, std::size_t>> differing(layout.varying.size());
    std::transform(layout.varying.begin(), layout.varying.end(), differing.begin(), [&tally](const Column& entry) {
        return std::make_pair(tally.files() - tally.count(entry.n, entry.ranked[0]), entry.n);
    });
    std::stable_sort(differing.begin(), differing.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::size_t> shown;
    for (std::size_t k = 0; k < differing.size(); ++k) {
        if (k < pageColumns) {
            shown.push_back(differing[k].second);
        } else {
            layout.unshown.push_back(differing[k].second);
        }
    }
    std::sort(shown.begin(), shown.end());
    std::sort(layout.unshown.begin(), layout.unshown.end());
    auto entry = layout.varying.begin();
    for (const std::size_t n : shown) {
        entry = std::find_if(entry, layout.varying.end(), [n](const Column& c) { return c.n == n; });
        Column column{n,
                      {entry->ranked.begin(), entry->ranked.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                          entry->ranked.size(), namedColours + 1))},
                      {}};
        if (facts[n].outside) {
            column.outside.resize(tally.valueCount(n));
            for (std::uint32_t v = 0; v < column.outside.size(); ++v) {
                column.outside[v] = isOutside(tally, facts, n, v) ? 1 : 0;
            }
        }
        layout.columns.push_back(std::move(column));
    }
    return layout;
}

// A cell of the map: its class ("" for a neutral one) and its title's parts.
struct Cell {
    std::string colour;
    std::string where;
    std::size_t column;
    std::string what;
};

// Writes the map's cells row by row: a title's parts are cut so that all the
// titles fit pageTitleBytes, however many cells there are.
class MapWriter
{
public:
    MapWriter(std::string& out, const Layout& layout, const FleetFacts& facts) : out(out), layout(layout)
    {
        std::transform(layout.columns.begin(), layout.columns.end(), std::back_inserter(labels),
                       [&facts](const Column& column) { return entryLabel(column.n, facts); });
    }
    void add(Cell cell) { cells.push_back(std::move(cell)); }
    void row(std::string header) { rows.push_back({std::move(header), cells.size()}); }
    void group(std::string header) { groups.push_back({std::move(header), rows.size()}); }

    void write()
    {
        const std::size_t marked = static_cast<std::size_t>(
            std::count_if(cells.begin(), cells.end(), [](const Cell& cell) { return !cell.colour.empty(); }));
        const std::size_t room = std::clamp<std::size_t>(pageTitleBytes / std::max<std::size_t>(marked, 1), 48, 400);
        out += "<table class=map id=map><thead><tr><th>";
        for (std::size_t c = 0; c < layout.columns.size(); ++c) {
            out += "<th title=\"";
            appendHtmlCut(out, labels[c], 200);
            out += "\"><span>";
            appendHtmlCut(out, labels[c], 60);
            out += "</span>";
        }
        out += "</thead><tbody>\n";
        std::size_t nextGroup = 0;
        std::size_t cell = 0;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            while (nextGroup < groups.size() && groups[nextGroup].second == r) {
                out += "<tr class=g><th colspan=" + std::to_string(layout.columns.size() + 1) + ">";
                appendHtmlCut(out, groups[nextGroup++].first, 240, true);
                out += '\n';
            }
            out += "<tr><th>";
            out += rows[r].first;
            for (const std::size_t end = r + 1 < rows.size() ? rows[r + 1].second : cells.size(); cell < end; ++cell) {
                writeCell(cells[cell], room);
            }
            out += '\n';
        }
        out += "</tbody></table>\n";
    }

private:
    void writeCell(const Cell& cell, std::size_t room)
    {
        if (cell.colour.empty()) {
            out += "<td>";
            return;
        }
        out += "<td class=" + cell.colour + " title=\"";
        const std::string& label = labels[cell.column];
        const std::size_t labelRoom = std::min(htmlLength(label), room / 3);
        const std::size_t rest = room - labelRoom;
        const std::size_t whatRoom = std::min(htmlLength(cell.what), rest / 2);
        appendHtmlCut(out, cell.where, std::max<std::size_t>(rest - whatRoom, 3), true);
        out += '\n';
        appendHtmlCut(out, label, labelRoom);
        appendHtmlCut(out, cell.what, whatRoom);
        out += "\">";
    }

    std::string& out;
    const Layout& layout;
    std::vector<std::string> labels;
    std::vector<Cell> cells;
    std::vector<std::pair<std::string, std::size_t>> rows;
    std::vector<std::pair<std::string, std::size_t>> groups;
};

// Rows of files, grouped by directory in the order the directories came.
void mapFiles(MapWriter& map, const FleetTally& tally, const Layout& layout)
{
    std::vector<std::size_t> order(tally.files());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return tally.rowDirectory(a) < tally.rowDirectory(b); });
    for (std::size_t at = 0; at < order.size(); ++at) {
        const std::size_t k = order[at];
        if (at == 0 || tally.rowDirectory(order[at - 1]) != tally.rowDirectory(k)) {
            map.group(visibleText(tally.directories()[tally.rowDirectory(k)]));
        }
        const std::string path = visibleText(tally.rowPath(k));
        const std::size_t slash = path.rfind('/');
        std::string header = "<span title=\"";
        appendHtmlCut(header, path, 240, true);
        header += "\">";
        appendHtmlCut(header, slash == std::string::npos ? path : path.substr(slash + 1), 48, true);
        header += "</span>";
        map.row(std::move(header));
        for (std::size_t c = 0; c < layout.columns.size(); ++c) {
            const Column& column = layout.columns[c];
            const std::uint32_t v = tally.rowValue(k, column.n);
            std::string colour = classOf(tally, column, v);
            map.add({colour, path, c, colour.empty() ? "" : " = " + valueText(tally, column.n, v)});
        }
    }
}

// Rows of directories, the first pageDirectoryRows of them, then one for the
// rest; each cell the share of the files that differ from the common value.
void mapDirectories(MapWriter& map, const FleetTally& tally, const Layout& layout)
{
    const std::size_t directories = tally.directories().size();
    const std::size_t shownRows = std::min(directories, pageDirectoryRows + 1);
    const auto rowOf = [](std::uint32_t d) { return std::min<std::size_t>(d, pageDirectoryRows); };
    std::vector<int> columnOf(fleetEntries, -1);
    for (std::size_t c = 0; c < layout.columns.size(); ++c) {
        columnOf[layout.columns[c].n] = static_cast<int>(c);
    }
    const std::size_t width = layout.columns.size();
    std::vector<std::uint32_t> rowFiles(shownRows, 0);
    std::vector<std::uint32_t> same(shownRows * width, 0);
    std::vector<std::uint32_t> outside(shownRows * width, 0);
    std::vector<std::uint32_t> nans(shownRows * width, 0);
    for (std::uint32_t d = 0; d < directories; ++d) {
        rowFiles[rowOf(d)] += tally.directoryFiles(d);
    }
    tally.forEachInDirectory([&](std::size_t n, std::uint32_t d, std::uint32_t v, std::uint32_t files) {
        if (columnOf[n] < 0) {
            return;
        }
        const Column& column = layout.columns[static_cast<std::size_t>(columnOf[n])];
        const std::size_t at = rowOf(d) * width + static_cast<std::size_t>(columnOf[n]);
        same[at] += v == column.ranked[0] ? files : 0;
        outside[at] += !column.outside.empty() && column.outside[v] != 0 ? files : 0;
        nans[at] += tally.isNan(n, v) ? files : 0;
    });
    for (std::size_t r = 0; r < shownRows; ++r) {
        std::string where = r < pageDirectoryRows
                                ? visibleText(tally.directories()[r])
                                : std::to_string(directories - pageDirectoryRows) + " more directories";
        std::string header;
        appendHtmlCut(header, where, 64, true);
        header += " (";
        appendCount(header, rowFiles[r], " file)", " files)");
        map.row(std::move(header));
        for (std::size_t c = 0; c < width; ++c) {
            const std::size_t at = r * width + c;
            const std::uint32_t differ = rowFiles[r] - same[at];
            std::string what = std::to_string(differ) + " of " + std::to_string(rowFiles[r]) + " differ";
            what += outside[at] > 0 ? ", " + std::to_string(outside[at]) + " outside the limits" : "";
            what += nans[at] > 0 ? ", " + std::to_string(nans[at]) + " NaN" : "";
            const std::size_t fifth = (5 * static_cast<std::size_t>(differ) + rowFiles[r] - 1) / rowFiles[r];
            std::string colour = differ == 0 ? "" : outside[at] > 0 ? "out" : "s" + std::to_string(fifth);
            map.add({std::move(colour), where, c, differ == 0 ? "" : ": " + what});
        }
    }
}

void writeKey(std::string& out, const char* colour, const char* meaning)
{
    out += std::string("<span class=k><b class=\"key ") + colour + "\"></b>" + meaning + "</span>";
}

void writeMap(std::string& out, const FleetTally& tally, const FleetFacts& facts, const Layout& layout)
{
    out += "<h2>Heat map</h2>\n";
    if (layout.columns.empty()) {
        out += "<p>No entry varies.</p>\n";
        return;
    }
    const bool byFile = tally.keptRows();
    out += byFile ? "<p>A row for each file, by directory; a column for each entry that varies"
                  : "<p>A row for each directory; a column for each entry that varies";
    out += layout.unshown.empty() ? "" : " (the 60 in which the most files differ from the most common value)";
    out += byFile ? ". A grey cell holds the entry's most common value.</p>\n<p>"
                  : ". A grey cell: every file holds the entry's most common value; the blues, the share of the "
                    "files that do not.</p>\n<p>";
    if (byFile) {
        out += "<span class=k>";
        for (const char* colour : {"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9", "v10", "v11"}) {
            out += std::string("<b class=\"key ") + colour + "\"></b>";
        }
        out += "the next most common values, in order</span>";
        writeKey(out, "v12", "the other values");
        writeKey(out, "nan", "NaN");
    } else {
        out += "<span class=k>";
        for (const char* colour : {"s1", "s2", "s3", "s4", "s5"}) {
            out += std::string("<b class=\"key ") + colour + "\"></b>";
        }
        out += "up to a fifth, two fifths, ... all of the files differ</span>";
    }
    writeKey(out, "out", "outside its schema's limits");
    out += "</p>\n";
    MapWriter map(out, layout, facts);
    (byFile ? mapFiles : mapDirectories)(map, tally, layout);
    map.write();
    if (!layout.unshown.empty()) {
        out += "<p>Also varying, not in the map: ";
        for (const std::size_t n : layout.unshown) {
            appendHtmlCut(out, entryLabel(n, facts), 80);
            out += n == layout.unshown.back() ? ".</p>\n" : ", ";
        }
    }
}

void writeBars(std::string& out, const FleetTally& tally, const FleetFacts& facts, const Layout& layout)
{
    out += "<h2>Values</h2>\n<p>For each entry that varies, how many files hold each of its values, the most common "
           "first.</p>\n<div class=bars>\n";
    for (const Column& entry : layout.varying) {
        const std::size_t n = entry.n;
        const std::vector<std::uint32_t> ranked(
            entry.ranked.begin(),
            entry.ranked.begin() + static_cast<std::ptrdiff_t>(std::min(entry.ranked.size(), pageBars)));
        out += "<div><h3>";
        appendHtmlCut(out, entryLabel(n, facts), 120);
        out += "</h3><table>";
        const std::size_t rest =
            std::accumulate(ranked.begin(), ranked.end(), tally.files(),
                            [&tally, n](std::size_t left, std::uint32_t v) { return left - tally.count(n, v); });
        // The bar of the rest may be the longest.
        const auto most = static_cast<double>(std::max<std::size_t>(tally.count(n, ranked[0]), rest));
        const auto bar = [&out, most](const std::string& colour, std::uint32_t files) {
            char width[32];
            std::snprintf(width, sizeof width, "%.1f", 100 * files / most);
            out += "<td class=n>" + std::to_string(files) + "<td class=w><i class=" + colour +
                   " style=\"width:" + width + "%\"></i>\n";
        };
        for (std::size_t rank = 0; rank < ranked.size(); ++rank) {
            const std::uint32_t v = ranked[rank];
            const std::string value = valueText(tally, n, v);
            out += "<tr><td title=\"";
            appendHtmlCut(out, value, 400);
            out += "\">";
            appendHtmlCut(out, value, 64);
            const std::string colour = isOutside(tally, facts, n, v) ? "out"
                                       : tally.isNan(n, v)           ? "nan"
                                                                     : "v" + std::to_string(rank);
            bar(colour, tally.count(n, v));
        }
        if (tally.valueCount(n) > ranked.size()) {
            out += "<tr><td>";
            appendCount(out, tally.valueCount(n) - ranked.size(), " other value", " other values");
            bar("v12", static_cast<std::uint32_t>(rest));
        }
        out += "</table></div>\n";
    }
    out += "</div>\n";
}

void writeFindings(std::string& out, const FindingDigest& findings)
{
    out += "<h2>Findings</h2>\n<p>";
    appendCount(out, findings.total(), " finding", " findings");
    out += " in the files, as <code>paramlist --check</code> finds them.</p>\n";
    if (findings.total() == 0) {
        return;
    }
    out += "<table class=kinds id=kinds>";
    for (const auto& [kind, count] : findings.kinds()) {
        out += "<tr><td>";
        appendHtml(out, kind);
        out += "<td>" + std::to_string(count);
    }
    out += "</table>\n<ol class=findings id=findings>\n";
    for (const FindingDigest::Finding& finding : findings.first()) {
        out += "<li>";
        appendHtmlCut(out, visibleText(finding.path), 240, true);
        out += ':' + std::to_string(finding.offset) + ": ";
        // A schema's finding holds its unit and its path, as long and as odd as they come.
        appendHtmlCut(out, visibleText(finding.message), pageFindingBytes);
        out += '\n';
    }
    out += "</ol>\n";
    if (findings.total() > findings.first().size()) {
        out += "<p>and " + std::to_string(findings.total() - findings.first().size()) +
               " more findings, counted by kind above.</p>\n";
    }
}

} // namespace

std::string fleetPage(const FleetTally& tally, const FleetFacts& facts, const FindingDigest& findings)
{
    const Layout layout = layOut(tally, facts);
    std::string heading = std::to_string(layout.varying.size()) + " of 300 entries vary across ";
    appendCount(heading, tally.files(), " file", " files");
    std::string out = "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>\n"
                      "<meta http-equiv=Content-Security-Policy content=\"default-src 'none'; "
                      "style-src 'unsafe-inline'\">\n<title>paramlist --summary: " +
                      heading + "</title>\n<style>" + style + "</style></head><body>\n<h1>" + heading + "</h1>\n";
    writeMap(out, tally, facts, layout);
    writeBars(out, tally, facts, layout);
    writeFindings(out, findings);
    out += "</body></html>\n";
    return out;
}
