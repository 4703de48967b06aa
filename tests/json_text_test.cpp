// The exact text of values: reals that read back to their 64 bits, names as
// JSON strings or hex that never break a line, paths as JSON strings, or as
// hex when they are not UTF-8.
#include "Parameter.h"
#include "json_record.h"
#include "json_text.h"
#include "record_text.h"
#include "support.h"

#include <gtest/gtest.h>

#include <limits>

TEST(JsonText, RealsReadBackToTheSameBits)
{
    const struct {
        double value;
        const char* written;
    } cases[] = {
        {850, "850"},
        {0.1, "0.1"},
        {1234567.891, "1234567.891"},
        {0.0, "0"},
        {-0.0, "-0.0"},
        {5e-324, "5e-324"},
        {1e300, "1e+300"},
        {std::numeric_limits<double>::infinity(), "\"Infinity\""},
        {-std::numeric_limits<double>::infinity(), "\"-Infinity\""},
        {fromBits(0x7ff8000000000000), "\"NaN\""},
        {fromBits(0xfff8000000000000), "\"0xfff8000000000000\""},
        {fromBits(0x7ff0000000000001), "\"0x7ff0000000000001\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        std::string out;
        appendJsonReal(out, c.value);
        EXPECT_EQ(out, c.written);
        Parameter read;
        std::string problem;
        ASSERT_TRUE(parseRecord(jsonOf(Image().operation(7, c.value).bytes), read, problem)) << problem;
        EXPECT_EQ(realBits(read.getOperationsParameter(7)), realBits(c.value));
    }
}

TEST(JsonText, NamesAreStringsOrHexAndNeverBreakTheLine)
{
    const struct {
        std::string bytes;
        const char* written;
    } cases[] = {
        {"feed rate", "\"feed rate\""},
        {"", "\"\""},
        {"quote \" back \\ tab \t nl \n cr \r del \x7f esc \x1b", "\"quote \\\" back \\\\ tab \\t nl \\n cr \\r del "
                                                                  "\\u007f esc \\u001b\""},
        {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
        {"bad \xff", "{\"hex\":\"62616420ff\"}"},
        {"overlong \xc0\xaf", "{\"hex\":\"6f7665726c6f6e6720c0af\"}"},
        {"surrogate \xed\xa0\x80", "{\"hex\":\"737572726f6761746520eda080\"}"},
        {std::string(50, 'x'), nullptr},
        // The C1 controls, U+0080 to U+009F, escaped like the others; U+00A0 is not one.
        {"csi \xc2\x9b"
         "2J nbsp \xc2\xa0",
         "\"csi \\u009b2J nbsp \xc2\xa0\""},
        {"\xc2\x80\xc2\x9f\xc2\x7f", "{\"hex\":\"c280c29fc27f\"}"},
        {"\xc2\x80\xc2\x9f", "\"\\u0080\\u009f\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::string out;
        appendJsonName(out, c.bytes.data(), c.bytes.size());
        if (c.written != nullptr) {
            EXPECT_EQ(out, c.written);
        }
        EXPECT_EQ(out.find('\n'), std::string::npos);
        Parameter back;
        std::string problem;
        ASSERT_TRUE(parseRecord(jsonOf(Image().name(3, c.bytes).bytes), back, problem)) << problem;
        EXPECT_EQ(std::string(back.getNamesParameter(3)), c.bytes);
    }
    std::string path;
    appendJsonText(path, "dir/\xff.par\xc2\x9b\x1b", 12);
    EXPECT_EQ(path, "\"dir/\xef\xbf\xbd.par\\u009b\\u001b\"");
}

TEST(JsonText, PathsAreStringsOrHexAndReadBackByteForByte)
{
    const std::pair<std::string, std::string> cases[] = {
        {"dir/caf\xc3\xa9 \"q\"\n.par", "\"dir/caf\xc3\xa9 \\\"q\\\"\\n.par\""},
        {"dir/caf\xe9.par", "{\"hex\":\"6469722f636166e92e706172\"}"},
    };
    for (const auto& [path, written] : cases) {
        std::string json;
        appendRecordJson(json, path.c_str(), 3950, Parameter());
        EXPECT_EQ(json.substr(8, written.size() + 1), written + ",");
        std::size_t at = 0;
        RecordObject object;
        std::size_t wrongAt = 0;
        std::string problem;
        ASSERT_TRUE(parseRecordObject(json, at, object, wrongAt, problem)) << problem;
        EXPECT_EQ(object.file, path);
    }
}
