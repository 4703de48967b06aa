// --init-schema: the entry it writes of what a fleet holds, that what it
// writes reads back as a schema whose limits are values of the fleet and that
// --check finds nothing outside of in the fleet it was made of, and the
// files it cannot take in.
#include "schema.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

const double infinity = HUGE_VAL;
const double quietNan = fromBits(0x7ff8000000000000);

// The files of a fleet, written as f0.par, f1.par, ... in dir.
std::string writeFleet(const ScratchDir& dir, const std::vector<Image>& fleet)
{
    std::string files;
    for (std::size_t k = 0; k < fleet.size(); ++k) {
        const std::string file = "f" + std::to_string(k) + ".par";
        dir.write(file, fleet[k].bytes);
        files += " " + file;
    }
    return files;
}

// Names of every kind of byte: quotes and backslashes, controls, bytes that
// are not UTF-8, and text that reads as TOML or as the comment's end.
const std::vector<Image> hostileNames = {
    Image().name(2, "say \"hi\"").name(3, "\"\n[[entry]]\nat = \"Init[0]\"\nmin = 1\n#"),
    Image().name(2, "back\\slash\nnew line").name(3, "tab\there\r\n"),
    Image().name(2, "bad \xff").name(3, "\xc3\x28 \xed\xa0\x80 \xf4\x90\x80\x80"),
    Image().name(2, "csi \xc2\x9b del \x7f esc \x1b").name(3, std::string(50, '#')),
};

} // namespace

TEST(InitSchema, EachEntryHasTheLimitsAndValuesTheFleetHolds)
{
    std::vector<Image> many;
    for (std::uint32_t i = 1; i <= 9; ++i) {
        many.push_back(Image().init(0, i));
    }
    const struct {
        std::vector<Image> fleet;
        const char* entry;
        // Its [[entry]] table, or "" for none.
        std::string written;
    } cases[] = {
        {{Image().init(3, 7), Image().init(3, 4294967295u), Image()},
         "Init[3]",
         "at = \"Init[3]\"\nname = \"init_3\"\nmin = 0\nmax = 4294967295\n# 0: 1 file, 7: 1 file, 4294967295: 1 "
         "file\n"},
        {many, "Init[0]", "at = \"Init[0]\"\nname = \"init_0\"\nmin = 1\nmax = 9\n# more than 8 values\n"},
        {{Image().terminal(7, 0.0), Image().terminal(7, 2), Image().terminal(7, -0.0)},
         "TerminalCondition[7]",
         "at = \"TerminalCondition[7]\"\nname = \"terminal_condition_7\"\nmin = -0.0\nmax = 2.0\n"
         "# -0.0: 1 file, 0: 1 file, 2: 1 file\n"},
        // Both zeros are zero, as the listing has them.
        {{Image().terminal(7, -0.0), Image()}, "TerminalCondition[7]", ""},
        {{Image().operation(10, 850), Image().operation(10, 851.5), Image().operation(10, 850)},
         "Operations[10]",
         "at = \"Operations[10]\"\nname = \"operations_10\"\nmin = 850.0\nmax = 851.5\n# 850: 2 files, 851.5: 1 "
         "file\n"},
        {{Image().operation(1, -infinity), Image().operation(1, infinity)},
         "Operations[1]",
         "at = \"Operations[1]\"\nname = \"operations_1\"\nmin = -inf\nmax = inf\n"
         "# \"-Infinity\": 1 file, \"Infinity\": 1 file\n"},
        {{Image().operation(2, fromBits(0x7ff4000000000000)), Image().operation(2, 1.5),
          Image().operation(2, quietNan)},
         "Operations[2]",
         "at = \"Operations[2]\"\nname = \"operations_2\"\n# no min or max: a file holds a NaN, which is within no "
         "limits\n# 1.5: 1 file, \"0x7ff4000000000000\": 1 file, \"NaN\": 1 file\n"},
        {{Image().operation(4, 5e-324), Image().operation(4, fromBits(0x000fffffffffffff))},
         "Operations[4]",
         "at = \"Operations[4]\"\nname = \"operations_4\"\nmin = 5e-324\nmax = 2.225073858507201e-308\n"
         "# 5e-324: 1 file, 2.225073858507201e-308: 1 file\n"},
        // A whole number past TOML's 64-bit integers, and one that needs 17 digits.
        {{Image().operation(5, 9223372036854775808.0), Image().operation(5, 0.1 + 0.2)},
         "Operations[5]",
         "at = \"Operations[5]\"\nname = \"operations_5\"\nmin = 0.30000000000000004\nmax = 9223372036854775808.0\n"
         "# 0.30000000000000004: 1 file, 9223372036854775808: 1 file\n"},
        {hostileNames, "Names[2]",
         "at = \"Names[2]\"\nname = \"names_2\"\n# \"back\\\\slash\\nnew line\": 1 file, {\"hex\":\"62616420ff\"}: 1 "
         "file, \"csi \\u009b del \\u007f esc \\u001b\": 1 file, \"say \\\"hi\\\"\": 1 file\n"},
        {{Image().document(4, 2), Image(), Image().document(4, 1)},
         "Document[4]",
         "at = \"Document[4]\"\nname = \"document_4\"\n# false: 1 file, true: 2 files\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const Outcome r = run(script("$P --init-schema" + writeFleet(dir, c.fleet)).in(dir));
        EXPECT_EQ(r.status, 0) << c.entry;
        EXPECT_EQ(r.err, "") << c.entry;
        const std::size_t at = r.out.find(std::string("at = \"") + c.entry + "\"");
        if (c.written.empty()) {
            EXPECT_EQ(at, std::string::npos) << r.out;
            continue;
        }
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(at - 11, 11), "\n[[entry]]\n") << c.entry;
        EXPECT_EQ(r.out.substr(at, r.out.find("\n\n", at) - at + 1), c.written) << c.entry;
    }
}

// Each fleet's schema reads back; every entry it leaves out is zero, clear or
// empty in each file; each limit is a value that a file holds, to the bit;
// and --check with it reports just what it reports without a schema.
TEST(InitSchema, ItReadsBackAsASchemaThatFindsNothingInItsFleet)
{
    std::vector<std::vector<Image>> fleets = {
        hostileNames,
        {Image().terminal(7, -0.0), Image().terminal(7, 0.0), Image().operation(3, quietNan).operation(4, -infinity)},
        {Image().operation(4, 5e-324).init(49, 4294967295u), Image().operation(4, -5e-324).operation(0, 1e308)},
        {sample, Image().document(9, 255).name(49, std::string(50, 'x'))},
    };
    std::mt19937_64 random(20261208);
    for (int f = 0; f < 4; ++f) {
        std::vector<Image> fleet(static_cast<std::size_t>(3 + 4 * f));
        for (Image& image : fleet) {
            for (char& byte : image.bytes) {
                byte = static_cast<char>(random());
            }
        }
        fleets.push_back(fleet);
    }
    for (std::size_t f = 0; f < fleets.size(); ++f) {
        SCOPED_TRACE("fleet " + std::to_string(f));
        const std::vector<Image>& fleet = fleets[f];
        ScratchDir dir;
        const std::string files = writeFleet(dir, fleet);
        const Outcome made = run(script("$P --init-schema" + files + " >made.toml").in(dir));
        EXPECT_EQ(made.status, 0) << made.err;
        std::string problems;
        const std::optional<Schema> schema = parseSchema(readFile(dir.path + "/made.toml"), "made.toml", problems);
        ASSERT_TRUE(schema) << problems;
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i) {
                const Entry entry{table, i};
                const EntryDescription* described = schema->find(entry);
                bool minHeld = false;
                bool maxHeld = false;
                bool zero = true;
                for (const Image& image : fleet) {
                    const EntryValue value =
                        entryValueIn(reinterpret_cast<const unsigned char*>(image.bytes.data()), entry);
                    const double number = table == Table::Init ? value.integer : value.real;
                    zero = zero && value.integer == 0 && value.real == 0 && !value.flag && value.name.empty();
                    minHeld = minHeld ||
                              (described != nullptr && described->min && realBits(*described->min) == realBits(number));
                    maxHeld = maxHeld ||
                              (described != nullptr && described->max && realBits(*described->max) == realBits(number));
                }
                EXPECT_EQ(described == nullptr, zero) << tableName(table) << i;
                if (described != nullptr) {
                    EXPECT_EQ(minHeld, described->min.has_value()) << tableName(table) << i;
                    EXPECT_EQ(maxHeld, described->max.has_value()) << tableName(table) << i;
                }
            }
        }
        const Outcome with = run(script("$P --check --schema=made.toml" + files).in(dir));
        const Outcome without = run(script("$P --check --no-schema" + files).in(dir));
        EXPECT_EQ(with.out, without.out);
        EXPECT_EQ(with.status, without.status);
        EXPECT_EQ(with.err, "");
    }
}

TEST(InitSchema, AFileItCannotTakeInIsReportedAsTheReadModesReportIt)
{
    const std::string made = "# A schema to start from, made of ";
    const struct {
        std::string script;
        int status;
        std::string err;
        // The output's first line, or "" for none.
        std::string first;
    } cases[] = {
        {"$P --init-schema f.par missing.par", 2, "paramlist: missing.par: No such file or directory\n",
         made + "1 file."},
        {"$P --init-schema cut.par f.par", 2, "paramlist: cut.par: not a parameter file (1000 bytes, not 3950)\n",
         made + "2 files."},
        {"$P --init-schema --force cut.par", 0, "", made + "1 file."},
        {"printf 'f.par\\0cut.par\\0f.par\\0' | $P --init-schema --files0-from=-", 2,
         "paramlist: cut.par: not a parameter file (1000 bytes, not 3950)\n", made + "3 files."},
        {"$P --init-schema --files0-from=none", 2, "paramlist: none: No such file or directory\n", ""},
        {"$P --init-schema", 2,
         "paramlist: missing operand after '--init-schema'\nTry 'paramlist --help' for more information.\n", ""},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("f.par", Image().init(0, 3).bytes);
        dir.write("cut.par", Image().operation(10, 850).bytes.substr(0, 1000));
        const Outcome r = run(script(c.script).in(dir));
        EXPECT_EQ(r.status, c.status) << c.script;
        EXPECT_EQ(r.err, c.err) << c.script;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first) << c.script;
    }
}
