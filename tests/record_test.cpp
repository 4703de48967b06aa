// The record (Parameter.h): each table's bounds and neutral values, copies,
// and the image read from a file and written back.
#include "Parameter.h"
#include "support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// One row per table: how to read an entry, store 1 in it, and its last index.
struct Table {
    const char* name;
    unsigned last;
    std::function<double(const Parameter&, unsigned)> get;
    std::function<bool(Parameter&, unsigned)> setOne;
};

static const Table tables[] = {
    {"Init", 49, [](const Parameter& p, unsigned n) { return double(p.getInitParameter(n)); },
     [](Parameter& p, unsigned n) { return p.setInitParameter(n, 1); }},
    {"TerminalCondition", 49, [](const Parameter& p, unsigned n) { return p.getTerminalConditionParameter(n); },
     [](Parameter& p, unsigned n) { return p.setTerminalConditionParameter(n, 1.0); }},
    {"Operations", 99, [](const Parameter& p, unsigned n) { return p.getOperationsParameter(n); },
     [](Parameter& p, unsigned n) { return p.setOperationsParameter(n, 1.0); }},
    {"Names", 49, [](const Parameter& p, unsigned n) { return double(std::strlen(p.getNamesParameter(n))); },
     [](Parameter& p, unsigned n) { return p.setNamesParameter(n, "a"); }},
    {"Document", 49, [](const Parameter& p, unsigned n) { return double(p.getDocumentParameter(n)); },
     [](Parameter& p, unsigned n) { return p.setDocumentParameter(n, true); }},
};

TEST(Record, EachTableHasItsOwnBoundAndNeutralValue)
{
    for (const Table& t : tables) {
        SCOPED_TRACE(t.name);
        Parameter para;
        for (unsigned n = 0; n <= t.last; ++n) {
            EXPECT_EQ(t.get(para, n), 0.0);
        }
        EXPECT_TRUE(t.setOne(para, t.last));
        EXPECT_FALSE(t.setOne(para, t.last + 1));
        EXPECT_FALSE(t.setOne(para, UINT_MAX));
        EXPECT_EQ(t.get(para, t.last), 1.0);
        EXPECT_EQ(t.get(para, t.last + 1), 0.0);
        EXPECT_EQ(t.get(para, UINT_MAX), 0.0);
    }
    EXPECT_NE(Parameter().getNamesParameter(UINT_MAX), nullptr);
}

TEST(Record, SettersRefuseWhatDoesNotFitAndChangeNothing)
{
    Parameter para;
    ASSERT_TRUE(para.setNamesParameter(0, "kept"));
    EXPECT_FALSE(para.setNamesParameter(0, std::string(51, 'x').c_str()));
    EXPECT_FALSE(para.setNamesParameter(0, nullptr));
    EXPECT_STREQ(para.getNamesParameter(0), "kept");
    EXPECT_TRUE(para.setNamesParameter(1, std::string(50, 'y').c_str()));
    EXPECT_EQ(std::string(para.getNamesParameter(1)), std::string(50, 'y'));
    if (sizeof(unsigned long) > 4) {
        EXPECT_FALSE(para.setInitParameter(0, 0x100000000UL));
        EXPECT_EQ(para.getInitParameter(0), 0UL);
    }
    EXPECT_TRUE(para.setInitParameter(0, 4000000000UL));
    EXPECT_EQ(para.getInitParameter(0), 4000000000UL);
}

TEST(Record, CopiesOwnTheirNames)
{
    Parameter a;
    a.setNamesParameter(3, "first");
    Parameter b(a);
    Parameter c;
    c = a;
    a.setNamesParameter(3, "changed");
    EXPECT_STREQ(b.getNamesParameter(3), "first");
    EXPECT_STREQ(c.getNamesParameter(3), "first");
    Parameter& self = c;
    c = self;
    EXPECT_STREQ(c.getNamesParameter(3), "first");
}

static Image fullImage()
{
    Image image;
    for (unsigned i = 0; i < 50; ++i) {
        image.init(i, 0x01020304u * (i + 1)).terminal(i, -1.5 * i - 1).name(i, "n" + std::to_string(i)).document(i, 1);
    }
    for (unsigned i = 0; i < 100; ++i) {
        image.operation(i, 0.25 * i + 1);
    }
    return image;
}

TEST(Record, ReadsEveryEntryAtItsOffset)
{
    ScratchDir dir;
    Parameter para;
    CaptureStdout();
    const std::string file = dir.write("full.par", fullImage().bytes);
    ASSERT_TRUE(para.load(file.c_str()));
    EXPECT_EQ(GetCapturedStdout(), "reading from file : " + file + "\n");
    for (unsigned i = 0; i < 50; ++i) {
        EXPECT_EQ(para.getInitParameter(i), 0x01020304UL * (i + 1));
        EXPECT_EQ(para.getTerminalConditionParameter(i), -1.5 * i - 1);
        EXPECT_EQ(para.getNamesParameter(i), "n" + std::to_string(i));
        EXPECT_TRUE(para.getDocumentParameter(i));
    }
    for (unsigned i = 0; i < 100; ++i) {
        EXPECT_EQ(para.getOperationsParameter(i), 0.25 * i + 1);
    }
}

TEST(Record, ShortFilesFillWhatTheyReachAndOversizeOnesAreCut)
{
    const std::string full = fullImage().bytes;
    const struct {
        std::string bytes;
        std::size_t length;
    } cases[] = {{"", 0}, {full.substr(0, 200), 200}, {full.substr(0, 1401), 1401}, {full + "extra", 3950}};
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Parameter para;
        std::size_t length = 9999;
        CaptureStdout();
        EXPECT_TRUE(para.load(dir.write("f.par", c.bytes).c_str(), &length));
        GetCapturedStdout();
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(para.getInitParameter(49), c.length >= 200 ? 0x01020304UL * 50 : 0);
        EXPECT_EQ(para.getTerminalConditionParameter(0), c.length >= 208 ? -1.0 : 0.0);
        EXPECT_STREQ(para.getNamesParameter(0), c.length > 1400 ? (c.length > 1401 ? "n0" : "n") : "");
        EXPECT_EQ(para.getDocumentParameter(49), c.length == 3950);
    }
}

TEST(Record, EntryCutByTheEndKeepsItsEarlierHighBytes)
{
    ScratchDir dir;
    Parameter para;
    CaptureStdout();
    ASSERT_TRUE(para.load(dir.write("a.par", Image().init(0, 0xAABBCCDD).bytes).c_str()));
    ASSERT_TRUE(para.load(dir.write("b.par", std::string("\x11\x22", 2)).c_str()));
    GetCapturedStdout();
    EXPECT_EQ(para.getInitParameter(0), 0xAABB2211UL);
}

TEST(Record, DocumentBytesAndUnterminatedNames)
{
    ScratchDir dir;
    Parameter para;
    const Image image = Image().document(0, 1).document(1, 2).document(2, 255).name(7, std::string(50, 'z'));
    CaptureStdout();
    ASSERT_TRUE(para.load(dir.write("d.par", image.bytes).c_str()));
    GetCapturedStdout();
    EXPECT_TRUE(para.getDocumentParameter(0) && para.getDocumentParameter(1) && para.getDocumentParameter(2));
    EXPECT_FALSE(para.getDocumentParameter(3));
    EXPECT_EQ(std::string(para.getNamesParameter(7)), std::string(50, 'z'));
    EXPECT_STREQ(para.getNamesParameter(8), "");
}

TEST(Record, FailuresLeaveTheRecordUntouched)
{
    ScratchDir dir;
    const struct {
        std::string file;
        std::string printed;
    } cases[] = {{dir.path + "/missing", "File could not be opened\n"},
                 {dir.path, "File could not be opened\n"},
                 {"/proc/self/mem", "reading from file : /proc/self/mem\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Parameter para;
        para.setInitParameter(0, 5);
        CaptureStdout();
        EXPECT_FALSE(para.load(c.file.c_str()));
        EXPECT_EQ(GetCapturedStdout(), c.printed);
        EXPECT_EQ(para.getInitParameter(0), 5UL);
    }
    CaptureStdout();
    EXPECT_FALSE(Parameter().load(nullptr));
    EXPECT_EQ(GetCapturedStdout(), "File could not be opened\n");
}

TEST(Record, WritesTheImageAtomicallyAndLoadsBackEqual)
{
    ScratchDir dir;
    Parameter para;
    para.setInitParameter(1, 0xDEADBEEF);
    para.setTerminalConditionParameter(49, -0.0);
    para.setOperationsParameter(99, std::nan("7"));
    para.setNamesParameter(2, "pump");
    para.setDocumentParameter(3, true);
    const std::string file = dir.write("target.par", std::string(5000, 'x'));
    ASSERT_TRUE(para.save(file.c_str()));

    const Image expected =
        Image().init(1, 0xDEADBEEF).terminal(49, -0.0).operation(99, std::nan("7")).name(2, "pump").document(3, 1);
    EXPECT_EQ(readFile(file), expected.bytes);
    Parameter back;
    CaptureStdout();
    ASSERT_TRUE(back.load(file.c_str()));
    GetCapturedStdout();
    EXPECT_STREQ(back.getNamesParameter(2), "pump");

    CaptureStdout();
    EXPECT_FALSE(para.save((dir.path + "/no/such/dir.par").c_str()));
    EXPECT_FALSE(para.save(dir.path.c_str()));
    EXPECT_EQ(GetCapturedStdout(), "File could not be written\nFile could not be written\n");
    EXPECT_EQ(entriesIn(dir.path), 1) << "only target.par";
}

TEST(Record, TheQuietPairPrintsNothing)
{
    ScratchDir dir;
    const std::string file = dir.write("f.par", Image().init(2, 9).bytes);
    Parameter para;
    CaptureStdout();
    EXPECT_TRUE(para.read(file.c_str()));
    EXPECT_TRUE(para.write(file.c_str()));
    EXPECT_FALSE(para.read((dir.path + "/missing").c_str()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(para.read(dir.path.c_str()));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(para.write(dir.path.c_str()));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(para.write((dir.path + "/no/such.par").c_str()));
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(para.getInitParameter(2), 9u);
}
