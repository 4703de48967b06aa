// --init-schema: a schema to start from, made of a fleet: an [[entry]] for
// each entry that is not zero, set or empty in some file, with a name to
// replace, min and max the smallest and largest values the fleet holds, and
// its values with their counts in a comment when they are few. It reads back
// as a schema that --check finds nothing outside of in the same fleet.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "entry.h"
#include "input_files.h"
#include "json_text.h"
#include "modes.h"
#include "schema.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A comment lists an entry's values while it has at most this many.
constexpr std::size_t listedValues = 8;

// A distinct value of an entry: the Init value, the real's bits or the flag,
// and for a name its bytes.
struct Value {
    std::uint64_t key;
    std::string name;
    std::uint32_t files;
};

// What the fleet holds of one entry.
struct Held {
    bool used = false;
    bool notANumber = false;
    // Of the values that are numbers; -0.0 counts below 0.0, so that a limit
    // keeps the sign the fleet holds.
    double min = HUGE_VAL;
    double max = -HUGE_VAL;
    // Up to listedValues + 1 of them, enough to tell that there are more.
    std::vector<Value> values;
};

bool below(double one, double other)
{
    return one < other || (one == other && std::signbit(one) && !std::signbit(other));
}

double realOf(std::uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The entries of a record.
constexpr std::size_t entryCount = Parameter::InitEntries + Parameter::TerminalConditionEntries +
                                   Parameter::OperationsEntries + Parameter::NamesEntries + Parameter::DocumentEntries;

// What a fleet holds of each entry, taken in a file at a time, and the schema
// made of it.
class FleetSchema
{
public:
    void add(const unsigned char* image)
    {
        ++files;
        std::size_t n = 0;
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i, ++n) {
                add(held[n], table, entryValueIn(image, Entry{table, i}));
            }
        }
    }

    std::string text() const
    {
        std::string out = "# A schema to start from, made of ";
        appendInteger(out, files);
        out += files == 1 ? " file.\n" : " files.\n";
        out += "# An [[entry]] for each entry that is not zero, set or empty in one of\n"
               "# them, min and max the smallest and largest values they hold. Name each\n"
               "# entry for what it means, give it a label and a unit, and save this as\n"
               "# paramlist.toml beside the files.\n";
        std::size_t n = 0;
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i, ++n) {
                if (held[n].used) {
                    appendEntry(out, Entry{table, i}, held[n]);
                }
            }
        }
        return out;
    }

private:
    void add(Held& entry, Table table, const EntryValue& value)
    {
        std::uint64_t key = 0;
        switch (table) {
        case Table::Init:
            key = value.integer;
            entry.used = entry.used || value.integer != 0;
            entry.min = std::min<double>(entry.min, value.integer);
            entry.max = std::max<double>(entry.max, value.integer);
            break;
        case Table::TerminalCondition:
        case Table::Operations:
            key = realBits(value.real);
            entry.used = entry.used || value.real != 0;
            if (std::isnan(value.real)) {
                entry.notANumber = true;
                break;
            }
            entry.min = below(value.real, entry.min) ? value.real : entry.min;
            entry.max = below(entry.max, value.real) ? value.real : entry.max;
            break;
        case Table::Names:
            entry.used = entry.used || !value.name.empty();
            break;
        case Table::Document:
            key = value.flag ? 1 : 0;
            entry.used = entry.used || value.flag;
            break;
        }
        if (entry.values.size() > listedValues) {
            return;
        }
        const auto same = std::find_if(entry.values.begin(), entry.values.end(), [&](const Value& known) {
            return known.key == key && known.name == value.name;
        });
        if (same != entry.values.end()) {
            ++same->files;
        } else {
            entry.values.push_back({key, value.name, 1});
        }
    }

    // A limit as TOML reads it back to the same double: an Init value as an
    // integer, a real as the shortest number that reads back, with a decimal
    // point or an exponent, which TOML's integers (64 bits) would not hold.
    static void appendLimit(std::string& out, Table table, double limit)
    {
        if (table == Table::Init) {
            appendInteger(out, static_cast<unsigned long>(limit));
        } else if (std::isinf(limit)) {
            out += limit > 0 ? "inf" : "-inf";
        } else {
            const std::size_t start = out.size();
            appendJsonReal(out, limit);
            if (out.find_first_of(".e", start) == std::string::npos) {
                out += ".0";
            }
        }
    }

    // The values in their order, each as --json writes it: a name is a JSON
    // string, or {"hex":"..."}, which no byte of it can end the comment in.
    static void appendValues(std::string& out, Table table, std::vector<Value> values)
    {
        std::sort(values.begin(), values.end(), [table](const Value& one, const Value& other) {
            if (table == Table::Names) {
                return one.name < other.name;
            }
            if (table != Table::TerminalCondition && table != Table::Operations) {
                return one.key < other.key;
            }
            const double a = realOf(one.key);
            const double b = realOf(other.key);
            return std::isnan(a) || std::isnan(b) ? !std::isnan(a) || (std::isnan(b) && one.key < other.key)
                                                  : below(a, b);
        });
        out += '#';
        const char* between = " ";
        for (const Value& value : values) {
            out += between;
            if (table == Table::Names) {
                appendJsonName(out, value.name.data(), value.name.size());
            } else if (table == Table::Document) {
                out += value.key != 0 ? "true" : "false";
            } else if (table == Table::Init) {
                appendInteger(out, value.key);
            } else {
                appendJsonReal(out, realOf(value.key));
            }
            out += ": ";
            appendInteger(out, value.files);
            out += value.files == 1 ? " file" : " files";
            between = ", ";
        }
        out += '\n';
    }

    static void appendEntry(std::string& out, Entry entry, const Held& held)
    {
        static const char* const prefixes[] = {"init", "terminal_condition", "operations", "names", "document"};
        out += "\n[[entry]]\nat = \"";
        appendEntryName(out, entry);
        out += "\"\nname = \"";
        out += prefixes[static_cast<std::size_t>(entry.table)];
        out += '_';
        appendInteger(out, entry.index);
        out += "\"\n";
        const bool number = entry.table != Table::Names && entry.table != Table::Document;
        if (number && held.notANumber) {
            out += "# no min or max: a file holds a NaN, which is within no limits\n";
        } else if (number) {
            out += "min = ";
            appendLimit(out, entry.table, held.min);
            out += "\nmax = ";
            appendLimit(out, entry.table, held.max);
            out += '\n';
        }
        if (held.values.size() > listedValues) {
            out += "# more than ";
            appendInteger(out, listedValues);
            out += " values\n";
        } else {
            appendValues(out, entry.table, held.values);
        }
    }

    unsigned long files = 0;
    Held held[entryCount];
};

} // namespace

// A file that is not a parameter file is taken in as it is read, zeros past
// its end, as --check judges it.
int mode::initSchema(const Request& request)
{
    FileNames names(request.fileList, request.operands, request.count);
    FleetSchema fleet;
    bool reported = false;
    const FileReads reads(request.operands, request.count, names.listed());
    const int status = runOverContents(
        names, reads,
        [&](const char* file, const FileContents& contents) {
            if (!request.force && !contents.isParameterFile()) {
                reportError(file, notParameterFile(contents));
                reported = true;
            }
            fleet.add(contents.image());
        },
        troubleStatus);
    if (!names.failure().empty()) {
        return status;
    }
    const std::string out = fleet.text();
    std::fwrite(out.data(), 1, out.size(), stdout);
    return reported ? troubleStatus : status;
}
