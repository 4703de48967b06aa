// The listing of a file: reals as %g writes them, the sum of Operations[10]
// and up, the headings of an empty record, and the program listing files,
// pipes and endless files byte for byte, short files with a warning.
#include "Parameter.h"
#include "listing.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

// The names line when only names 0 and 1 are set.
static std::string names(const std::string& first, const std::string& second)
{
    std::string line = "(0:" + first + ") (1:" + second + ") ";
    for (int i = 2; i < 50; ++i) {
        line += "(" + std::to_string(i) + ":) ";
    }
    return line;
}

// Line 7 of the listing, the operations, for a record holding value at index 0.
static std::string operationsLine(double value)
{
    Parameter para;
    para.setOperationsParameter(0, value);
    const std::string listing = formatListing(para);
    const std::size_t start = listing.find("operations parameters : ");
    return listing.substr(start, listing.find('\n', start) - start);
}

TEST(Listing, RealsUseGeneralNotationWithSixDigits)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* printed;
    } cases[] = {
        {2, "2"},
        {0.5, "0.5"},
        {123456, "123456"},
        {1234567, "1.23457e+06"},
        {100000.5, "100000"},
        {1234565, "1.23456e+06"},
        {999999.5, "1e+06"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {-1.5, "-1.5"},
        {0.000123456789, "0.000123457"},
        {1e100, "1e+100"},
        {5e-324, "4.94066e-324"},
        {2.2250738585072014e-308, "2.22507e-308"},
        {inf, "inf"},
        {-inf, "-inf"},
        {std::nan(""), "nan"},
        {-std::nan(""), "nan"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(operationsLine(c.value), std::string("operations parameters : (0:") + c.printed + ") ");
    }
    EXPECT_EQ(operationsLine(-0.0), "operations parameters : ");
}

TEST(Listing, RealsMatchTheCLibraryOnRandomBitPatterns)
{
    std::mt19937_64 random(20261208);
    std::string out;
    char expected[64];
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t pattern = random();
        double value;
        std::memcpy(&value, &pattern, sizeof value);
        if (std::isnan(value)) {
            continue;
        }
        out.clear();
        appendRoundedReal(out, value);
        std::snprintf(expected, sizeof expected, "%g", value);
        ASSERT_EQ(out, expected) << "bit pattern " << pattern;
    }
}

TEST(Listing, SumCountsIndexTenUpInOrder)
{
    Parameter para;
    para.setOperationsParameter(9, 1.5);
    para.setOperationsParameter(10, 1e16);
    para.setOperationsParameter(11, -1e16);
    para.setOperationsParameter(12, 1);
    para.setOperationsParameter(99, 2);
    const std::string listing = formatListing(para);
    EXPECT_NE(listing.find("\noperations parameters : (9:1.5) (10:1e+16) (11:-1e+16) (12:1) (99:2) \n"),
              std::string::npos);
    // Any order but ascending loses the 1 against 1e16.
    EXPECT_NE(listing.find("\nsum operations parameters > 10 : 3\n"), std::string::npos);
    para.setOperationsParameter(12, std::nan(""));
    EXPECT_NE(formatListing(para).find("\nsum operations parameters > 10 : nan\n"), std::string::npos);
}

TEST(Listing, EmptyRecordListsHeadingsZeroSumAndEveryName)
{
    std::string names;
    for (int i = 0; i < 50; ++i) {
        names += "(" + std::to_string(i) + ":) ";
    }
    EXPECT_EQ(formatListing(Parameter()),
              "\nparameters not shown are 0 \n\ninit parameters : \n\noperations parameters : \n"
              "sum operations parameters > 10 : 0\n\nterminal condition parameters : \n\n"
              "document parameters : \n\nnames parameters : \n" +
                  names + "\n\n");
}

TEST(Listing, ListsFilesPipesAndEndlessFilesByteForByte)
{
    ScratchDir dir;
    const std::string file = dir.write("sample.par", sample.bytes);
    const std::string listed = "init parameters : (3:7) (49:4000000000) \n\n"
                               "operations parameters : (9:1.5) (10:2) (60:0.1) \n"
                               "sum operations parameters > 10 : 2.1\n\n"
                               "terminal condition parameters : (0:1e-05) (1:3.14159) \n\n"
                               "document parameters : (5:1) (6:1) \n\n"
                               "names parameters : \n" +
                               names(std::string(50, 'N'), "next field") + "\n\n";
    const std::string empty = "init parameters : \n\noperations parameters : \n"
                              "sum operations parameters > 10 : 0\n\nterminal condition parameters : \n\n"
                              "document parameters : \n\nnames parameters : \n" +
                              names("", "") + "\n\n";
    const struct {
        std::string arguments;
        std::string path;
        std::string listing;
        std::string err;
    } cases[] = {
        {file + " ignored --json", file, listed,
         "paramlist: warning: only " + file +
             " is listed; 2 more operands ignored ('--json' is taken as a file: options go before the files)\n"},
        {"/dev/stdin <" + file, "/dev/stdin", listed, ""},
        {"- <" + file, "-", listed, ""},
        {"-- " + file, file, listed, ""},
        {"/dev/zero", "/dev/zero", empty, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome r = run(script("$P " + c.arguments));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "reading from file : " + c.path + "\n\nparameters not shown are 0 \n\n" + c.listing);
    }
}

TEST(Listing, ShortFileIsListedWithAWarning)
{
    ScratchDir dir;
    const std::string file = dir.write("short.par", sample.bytes.substr(0, 200));
    const Outcome r = run(command({file}));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("init parameters : (3:7) (49:4000000000) \n\noperations parameters : \n"), std::string::npos);
    EXPECT_EQ(r.err, "paramlist: " + file +
                         ": warning: the file holds 200 of 3950 bytes; entries past its end are listed at their "
                         "start values\n");
}
