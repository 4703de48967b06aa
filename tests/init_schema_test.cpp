// --init-schema: the entry it writes of what a fleet holds; that it reads
// back as a schema whose limits are values of the fleet, to the bit, and in
// which --check finds nothing of the fleet; and the files it cannot take in.
#include "schema.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

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

// Nine files: a value of every kind in the first two, and in each its own Init[0].
std::vector<Image> crafted()
{
    std::vector<Image> fleet(9);
    fleet[0].init(3, 7).terminal(7, -0.0).operation(1, -HUGE_VAL).operation(2, fromBits(0x7ff4000000000000));
    fleet[0].operation(4, 5e-324).operation(5, 0.1 + 0.2).document(4, 2).name(2, "say \"hi\"\n[[entry]]");
    fleet[1].init(3, 4294967295u).terminal(7, 2).operation(1, HUGE_VAL).operation(2, 1.5);
    fleet[1].operation(4, fromBits(0x000fffffffffffff)).operation(5, 9223372036854775808.0);
    fleet[1].name(2, "back\\slash \xff").name(3, "csi \xc2\x9b del \x7f").name(4, "\xed\xa0\x80");
    for (std::uint32_t k = 0; k < fleet.size(); ++k) {
        fleet[k].init(0, k + 1);
    }
    return fleet;
}

} // namespace

TEST(InitSchema, EachEntryHasTheLimitsAndValuesTheFleetHolds)
{
    ScratchDir dir;
    const Outcome r = run(script("$P --init-schema" + writeFleet(dir, crafted())).in(dir));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const struct {
        const char* entry;
        // Its [[entry]] table after its name, or "" for none.
        std::string written;
    } cases[] = {
        {"Init[0]", "min = 1\nmax = 9\n# more than 8 values\n"},
        {"Init[3]", "min = 0\nmax = 4294967295\n# 0: 7 files, 7: 1 file, 4294967295: 1 file\n"},
        {"TerminalCondition[7]", "min = -0.0\nmax = 2.0\n# -0.0: 1 file, 0: 7 files, 2: 1 file\n"},
        {"Operations[1]", "min = -inf\nmax = inf\n# \"-Infinity\": 1 file, 0: 7 files, \"Infinity\": 1 file\n"},
        {"Operations[2]", "# no min or max: a file holds a NaN, which is within no limits\n"
                          "# 0: 7 files, 1.5: 1 file, \"0x7ff4000000000000\": 1 file\n"},
        {"Operations[4]", "min = 0.0\nmax = 2.225073858507201e-308\n"
                          "# 0: 7 files, 5e-324: 1 file, 2.225073858507201e-308: 1 file\n"},
        // A whole number past TOML's 64-bit integers, and one of 17 digits.
        {"Operations[5]", "min = 0.0\nmax = 9223372036854775808.0\n"
                          "# 0: 7 files, 0.30000000000000004: 1 file, 9223372036854775808: 1 file\n"},
        {"Names[2]", "# \"\": 7 files, {\"hex\":\"6261636b5c736c61736820ff\"}: 1 file, "
                     "\"say \\\"hi\\\"\\n[[entry]]\": 1 file\n"},
        {"Names[3]", "# \"\": 8 files, \"csi \\u009b del \\u007f\": 1 file\n"},
        {"Document[4]", "# false: 8 files, true: 1 file\n"},
        // Both zeros are zero, as the listing has them.
        {"TerminalCondition[8]", ""},
    };
    for (const auto& c : cases) {
        const std::string head = std::string("\n[[entry]]\nat = \"") + c.entry + "\"\nname = \"";
        const std::size_t at = r.out.find(head);
        if (c.written.empty()) {
            EXPECT_EQ(at, std::string::npos) << c.entry;
            continue;
        }
        ASSERT_NE(at, std::string::npos) << c.entry;
        const std::size_t start = r.out.find('\n', at + head.size()) + 1;
        EXPECT_EQ(r.out.substr(start, r.out.find("\n\n", start) + 1 - start), c.written) << c.entry;
    }
    EXPECT_NE(r.out.find("name = \"terminal_condition_7\"\n"), std::string::npos);
}

// Every entry it leaves out is zero, clear or empty in each file, each limit
// is a value a file holds, and --check with it reports what it reports
// without a schema.
TEST(InitSchema, ItReadsBackAsASchemaThatFindsNothingInItsFleet)
{
    std::vector<std::vector<Image>> fleets = {crafted(), {sample, Image().operation(3, -5e-324).init(49, 1)}};
    std::mt19937_64 random(20261208);
    for (std::size_t size : {3, 12}) {
        fleets.emplace_back(size);
        for (Image& image : fleets.back()) {
            std::generate(image.bytes.begin(), image.bytes.end(), [&] { return static_cast<char>(random()); });
        }
    }
    for (const std::vector<Image>& fleet : fleets) {
        ScratchDir dir;
        const std::string files = writeFleet(dir, fleet);
        EXPECT_EQ(run(script("$P --init-schema" + files + " >made.toml").in(dir)).status, 0);
        std::string problems;
        const std::optional<Schema> schema = parseSchema(readFile(dir.path + "/made.toml"), "made.toml", problems);
        ASSERT_TRUE(schema) << problems;
        for (const Table table : allTables) {
            for (unsigned int i = 0; i < tableEntries(table); ++i) {
                const Entry entry{table, i};
                const EntryDescription* described = schema->find(entry);
                bool zero = true;
                std::vector<std::uint64_t> held;
                for (const Image& image : fleet) {
                    const auto* bytes = reinterpret_cast<const unsigned char*>(image.bytes.data());
                    const EntryValue v = entryValueIn(bytes, entry);
                    zero = zero && v.integer == 0 && v.real == 0 && !v.flag && v.name.empty();
                    held.push_back(realBits(table == Table::Init ? v.integer : v.real));
                }
                EXPECT_EQ(described == nullptr, zero) << tableName(table) << i;
                for (const std::optional<double>& limit :
                     {described ? described->min : std::nullopt, described ? described->max : std::nullopt}) {
                    EXPECT_TRUE(!limit || std::count(held.begin(), held.end(), realBits(*limit)) > 0)
                        << tableName(table) << i;
                }
            }
        }
        const Outcome with = run(script("$P --check --schema=made.toml" + files).in(dir));
        const Outcome without = run(script("$P --check --no-schema" + files).in(dir));
        EXPECT_EQ(with.out, without.out);
        EXPECT_EQ(with.status, without.status);
    }
}

TEST(InitSchema, AFileItCannotTakeInIsReportedAsTheReadModesReportIt)
{
    const std::string made = "# A schema to start from, made of ";
    const std::string cut = "paramlist: cut.par: not a parameter file (1000 bytes, not 3950)\n";
    const struct {
        std::string script;
        int status;
        std::string err;
        // The output's first line.
        std::string first;
    } cases[] = {
        {"$P --init-schema f.par missing.par cut.par", 2, "paramlist: missing.par: No such file or directory\n" + cut,
         made + "2 files."},
        {"$P --init-schema --force cut.par", 0, "", made + "1 file."},
        {"printf 'f.par\\0cut.par\\0f.par\\0' | $P --init-schema --files0-from=-", 2, cut, made + "3 files."},
        {"$P --init-schema --files0-from=none", 2, "paramlist: none: No such file or directory\n", ""},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("f.par", Image().init(0, 3).bytes);
        dir.write("cut.par", Image().bytes.substr(0, 1000));
        const Outcome r = run(script(c.script).in(dir));
        EXPECT_EQ(r.status, c.status) << c.script;
        EXPECT_EQ(r.err, c.err) << c.script;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first) << c.script;
    }
}
