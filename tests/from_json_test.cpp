// --from-json: what it refuses to read, and where the problem is; "bytes"
// a count in digits alone; the image written to a terminal only when forced.
#include "Parameter.h"
#include "json_record.h"
#include "json_text.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FromJson, RejectsWhatItWouldNotWriteAndNamesThePlace)
{
    const std::string good = jsonOf(Image().init(0, 3).operation(0, 1.5).name(0, "n").document(0, 1).bytes);
    ASSERT_EQ(good.find("\"Operations\":[1.5,"), good.find("\"Operations\""));
    // Replaces the first occurrence of what in the good line.
    const auto with = [&](const std::string& what, const std::string& by) {
        std::string text = good;
        return text.replace(text.find(what), what.size(), by);
    };
    const struct {
        std::string text;
        const char* problem;
    } cases[] = {
        {with("{\"file\"", "{\"extra\":1,\"file\""), "1:2: unknown key \"extra\""},
        {with("\"Init\":[3", "\"Init\":[],\"Init\":[3"), "has 0 entries, not 50"},
        {with("{\"file\"", "{\"Document\":[],\"file\""), "has 0 entries, not 50"},
        {with("{\"file\"", "{\"file\":\"x\",\"file\""), "1:13: duplicate key \"file\""},
        {with("\"file\":\"", "\"file\":[\""), "\"file\" must be a string"},
        // A zero byte would cut the path short; the tail of the line is its "x".
        {with("{\"file\":\"", "{\"file\":\"a\\u0000b\",\"x\":\""), "1:9: \"file\" must not hold a zero byte"},
        {with("{\"file\":\"", "{\"file\":{\"hex\":\"6100\"},\"x\":\""), "\"file\" must not hold a zero byte"},
        {with("{\"file\":\"", "{\"file\":\"\",\"x\":\""), "1:9: \"file\" must not be empty"},
        {with("{\"file\":\"", "{\"file\":{\"hex\":\"\"},\"x\":\""), "\"file\" must not be empty"},
        {with("{\"file\":\"", "{\"file\":{\"name\":\"a\"},\"x\":\""), "a \"file\" object has only the key \"hex\""},
        {with("{\"file\":\"", "{\"file\":{},\"x\":\""), "a \"file\" object needs the key \"hex\""},
        {with("\"Init\":[3", "\"Init\":[-3"), "Init entries must not be negative"},
        {with("\"Init\":[3", "\"Init\":[3.5"), "Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[4294967296"), "Init entries must not be above 4294967295"},
        {with("\"Init\":[3", "\"Init\":[\"3\""), "Init entries must be a whole number, not a string"},
        {with("[1.5,", "[1e999,"), "1:302: Operations[0]: the number is too large for a real"},
        {with("[1.5,", "[\"inf\","), "a real must be a number"},
        {with("[1.5,", "[\"0x3ff0000000000000\","), "a real must be a number"},
        {with("[1.5,", "[null,"), "a null is not allowed here"},
        {with("[1.5,", "[1.5,2,"), "\"Operations\" has more than 100 entries"},
        {with("\"n\"", "\"" + std::string(51, 'n') + "\""), "a name holds at most 50 bytes, not 51"},
        {with("\"n\"", "\"a\\u0000b\""), "a name must not hold a zero byte"},
        {with("\"n\"", "{\"hex\":\"6\"}"), "\"hex\" must have an even number of digits"},
        {with("\"n\"", "{\"hex\":\"6g\"}"), "\"hex\" must hold only hexadecimal digits"},
        {with("\"n\"", "{\"hex\":\"61\",\"hex\":\"62\"}"), "duplicate key \"hex\""},
        {with("\"n\"", "{}"), "a name object needs the key \"hex\""},
        {with("\"n\"", "{\"hex\":[[[[[[[[]]]]]]]]}"), "\"hex\" must be a string, not an array"},
        {with("[true", "[1"), "Document entries must be true or false, not a number"},
        {good + good, "expected end of input"},
        {with("\"n\"", "\"\xff\""), "invalid string: ill-formed UTF-8 byte"},
        {"\n\n  [1]", "3:3: expected an object, found an array"},
        {std::string(100000, '['), "1:1: expected an object, found an array"},
        {"", "1:1: syntax error while parsing value - unexpected end of input"},
        // An Init entry is written in digits alone, as --json writes it.
        {with("\"Init\":[3", "\"Init\":[3e0"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[3.0"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[0.99999999999999999"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[4294967295.0000001"), "Init[0]: Init entries must be whole numbers"},
        {with("\"Init\":[3", "\"Init\":[99999999999999999999"), "Init[0]: Init entries must not be above"},
        {with("\"Init\":[3", "\"Init\":[3,0]"), "\"Init\" has 2 entries, not 50"},
        {with("\"Init\":[3", "\"Init\":[3]"), "\"Init\" has 1 entry, not 50"},
        // The parser's own message, without the text it last read.
        {with("\"n\"", "\"" + std::string(2000, 'n') + "\\q\""),
         "Names[0]: syntax error while parsing value - invalid string"},
        // A zero byte ends nothing: after the object, or inside it.
        {good + std::string("\0 this is not JSON {{{", 22), "a zero byte is not allowed in JSON"},
        {good + std::string(1, '\0'), "a zero byte is not allowed in JSON"},
        {with("[1.5,", std::string("[1.5\0,", 6)), "a zero byte is not allowed in JSON"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        Parameter para;
        std::string problem;
        EXPECT_FALSE(parseRecord(c.text, para, problem));
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;

        const std::string input = dir.write("in.json", c.text);
        const std::string output = dir.write("out.par", "kept");
        const Outcome outcome = run(command({"--from-json", input, "-o", output}));
        EXPECT_EQ(outcome.status, 1);
        const std::string& diagnostic = outcome.err;
        EXPECT_EQ(diagnostic.rfind("paramlist: " + input + ":" + problem.substr(0, problem.find(':')) + ":", 0), 0U)
            << diagnostic;
        EXPECT_LT(diagnostic.size(), 200U) << diagnostic;
        EXPECT_EQ(readFile(output), "kept");
    }
    Parameter para;
    std::string problem;
    EXPECT_TRUE(parseRecord(with("[1.5,", "[-0,"), para, problem)) << problem;
    EXPECT_TRUE(std::signbit(para.getOperationsParameter(0)));
    // Below the smallest denormal, a real keeps its sign, as the nearest double does.
    EXPECT_TRUE(parseRecord(with("[1.5,", "[-1e-400,"), para, problem)) << problem;
    EXPECT_EQ(realBits(para.getOperationsParameter(0)), realBits(-0.0));
    EXPECT_TRUE(parseRecord(with("[1.5,", "[4.9e-324,"), para, problem)) << problem;
    EXPECT_EQ(realBits(para.getOperationsParameter(0)), 1U);
}

TEST(FromJson, TheImageGoesToATerminalOnlyWhenForced)
{
    ScratchDir dir;
    const std::string json = dir.write("sample.json", run(command({"--json", dir.write("s.par", sample.bytes)})).out);
    const std::string refused = run(command({"--from-json", json, "-o", "-"}).onTerminal(Terminal::Output)).out;
    EXPECT_EQ(refused, "paramlist: refusing to write the binary image to a terminal; redirect standard output, or give "
                       "--force\n");
    const std::string forced =
        run(script("$P --from-json " + json + " -o - --force 2>/dev/null").onTerminal(Terminal::Output)).out;
    EXPECT_EQ(forced.size(), 3950U);
    EXPECT_EQ(run(command({"--force", "--check", json})).err,
              "paramlist: --force goes with --json or --csv or --tsv or --from-json or --diff or --summary or "
              "--init-schema or --set or "
              "--apply or --edit or --entries or --get or --merge\nTry 'paramlist --help' for more information.\n");
}

// "bytes" is a count, written in digits alone, as an Init entry is.
TEST(FromJson, TheCountOfBytesIsWrittenInDigitsAlone)
{
    const std::string json = jsonOf(unedited);
    const std::string digitsAlone = "\"bytes\" must be a whole number, written in digits alone";
    const struct {
        const char* bytes;
        int status;
        std::string problem;
    } cases[] = {
        {"1.5e300", 1, digitsAlone},
        {"-0.0", 1, digitsAlone},
        {"3950.0", 1, digitsAlone},
        {"3.95e3", 1, digitsAlone},
        {"-0", 1, "\"bytes\" must not be negative"},
        {"3950", 0, ""},
        {"0", 0, ""},
    };
    const std::size_t at = json.find("\"bytes\":3950") + 8;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        ScratchDir dir;
        std::string given = json;
        given.replace(at, 4, c.bytes);
        dir.write("in.json", given);
        const Outcome outcome = run(command({"--from-json", "in.json", "-o", "out.par"}).in(dir));
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err,
                  c.problem.empty() ? "" : "paramlist: in.json:1:" + std::to_string(at + 1) + ": " + c.problem + "\n");
        EXPECT_TRUE(holds(dir.path + "/out.par", c.status == 0 ? unedited : ""));
    }
}
