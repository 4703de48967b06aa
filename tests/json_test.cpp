// --json: any file, of any length, read back to its canonical image; and
// the lines of many files in their order.
#include "Parameter.h"
#include "json_record.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

// A JSON line without its "file" and "bytes", which say where it came from.
static std::string tablesOf(const std::string& json)
{
    return json.substr(json.find(",\"Init\""));
}

TEST(Json, AnyFileRoundTripsToItsCanonicalImage)
{
    std::mt19937_64 random(20261208);
    ScratchDir dir;
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 4200, '\0');
        for (char& byte : bytes) {
            // Mostly bytes that make names, flags and special reals likely.
            const unsigned pick = random() % 8;
            byte = static_cast<char>(pick < 3 ? 0 : pick < 5 ? 0xff : pick < 6 ? 'a' : random());
        }
        SCOPED_TRACE(round);
        const std::string json = jsonOf(bytes);
        Parameter para;
        std::string problem;
        ASSERT_TRUE(parseRecord(json, para, problem)) << problem;
        const std::string copy = dir.path + "/copy.par";
        ASSERT_TRUE(para.write(copy.c_str()));
        const std::string canonical = readFile(copy);
        ASSERT_EQ(canonical.size(), 3950u);
        EXPECT_EQ(tablesOf(jsonOf(canonical)), tablesOf(json));
        for (std::size_t k = 0; k < 50; ++k) {
            EXPECT_LE(static_cast<unsigned char>(canonical[3900 + k]), 1);
        }
    }
}

TEST(Json, JsonOverManyFilesKeepsTheirOrder)
{
    ScratchDir dir;
    std::vector<std::string> arguments{"--json"};
    for (int i = 0; i < 300; ++i) {
        const std::string name = std::to_string(i) + ".par";
        arguments.push_back(i == 150 ? dir.path + "/missing.par" : dir.write(name, Image().init(0, i).bytes));
    }
    const Outcome r = run(command(arguments));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "paramlist: " + dir.path + "/missing.par: No such file or directory\n");
    std::size_t at = 0;
    for (int i = 0; i < 300; ++i) {
        if (i == 150) {
            continue;
        }
        at = r.out.find("\"Init\":[" + std::to_string(i) + ",", at);
        ASSERT_NE(at, std::string::npos) << "file " << i << " is missing or out of order";
    }
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 299);
}

TEST(Json, EveryJsonReportNamesAPathThatIsNotUtf8ByItsBytes)
{
    const ScratchDir dir;
    dir.write("caf\xe9.par", Image().init(0, 5).document(0, 2).bytes);
    dir.write("ref.par", Image().bytes);
    // Its U+FFFD spelling would name another file, so each report spells it
    // as --json does.
    const std::string path = "{\"hex\":\"636166e92e706172\"}";
    const struct {
        std::vector<std::string> words;
        std::string prefix;
    } cases[] = {
        {{"--diff", "--json", "ref.par", "caf\xe9.par", "ref.par"}, "{\"file\":" + path + ","},
        {{"--check", "--json", "caf\xe9.par"}, "{\"file\":" + path + ","},
        {{"--summary", "--json", "ref.par", "caf\xe9.par"},
         "{\"entry\":\"Init[0]\",\"total\":2,\"values\":[{\"value\":0,\"count\":1,\"files\":[\"ref.par\"]},"
         "{\"value\":5,\"count\":1,\"files\":[" +
             path + "]}]}"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(command(c.words).in(dir.path));
        EXPECT_EQ(r.out.substr(0, c.prefix.size()), c.prefix) << c.words[0] << " " << c.words[1];
        EXPECT_EQ(r.out.find("\xef\xbf\xbd"), std::string::npos) << c.words[0] << " " << c.words[1];
    }
}
