// --merge: the three-way rules over every kind of entry, the
// bytes of the result, the sides that resolve conflicts, and the failures
// that leave OURS untouched.
#include "Parameter.h"
#include "diagnostics.h"
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Merged {
    std::string result;
    std::string out;
    int status;
};

// --merge of the three images, OURS in a file: the file afterwards, the
// conflicts, and the status. With force, an OURS that is not 3950 bytes long
// is merged into too.
Merged mergeImages(const std::string& base, const std::string& ours, const std::string& theirs,
                   const char* side = nullptr, bool force = false)
{
    ScratchDir dir;
    const std::string oursFile = dir.write("ours.par", ours);
    std::vector<std::string> args{"--merge", "--path=plant.par"};
    if (side != nullptr) {
        args.push_back(side);
    }
    if (force) {
        args.push_back("--force");
    }
    args.insert(args.end(), {dir.write("base.par", base), oursFile, dir.write("theirs.par", theirs)});
    const Outcome r = run(command(args));
    return {readFile(oursFile), r.out, r.status};
}

const double nan1 = fromBits(0x7ff8000000000001);
const double nan2 = fromBits(0x7ff8000000000002);
const double nan3 = fromBits(0xfff8000000000003);
const Image start = Image().init(1, 5).operation(10, 850).operation(5, nan1).name(2, "feed rate").document(4, 1);

} // namespace

TEST(Merge, TakesWhatOneSideChangedAndReportsWhatBothChangedDifferently)
{
    const struct {
        const char* rule;
        Image base, ours, theirs, result;
        const char* conflicts;
    } cases[] = {
        {"different entries", start, Image(start).init(1, 6), Image(start).operation(10, 851.5),
         Image(start).init(1, 6).operation(10, 851.5), ""},
        {"the same change on both sides", start, Image(start).init(1, 6), Image(start).init(1, 6),
         Image(start).init(1, 6), ""},
        {"changed only in ours", start, Image(start).init(49, 1), start, Image(start).init(49, 1), ""},
        {"an integer both ways", start, Image(start).init(1, 6), Image(start).init(1, 7), Image(start).init(1, 6),
         "plant.par: Init[1]: base 5, ours 6, theirs 7\n"},
        {"a real both ways", start, Image(start).operation(10, 851.5), Image(start).operation(10, 852),
         Image(start).operation(10, 851.5), "plant.par: Operations[10]: base 850, ours 851.5, theirs 852\n"},
        {"-0.0 is a change from 0.0", start, start, Image(start).terminal(0, -0.0), Image(start).terminal(0, -0.0), ""},
        {"-0.0 against 1", start, Image(start).terminal(0, -0.0), Image(start).terminal(0, 1),
         Image(start).terminal(0, -0.0), "plant.par: TerminalCondition[0]: base 0, ours -0.0, theirs 1\n"},
        {"a NaN payload is a change", start, start, Image(start).operation(5, nan2), Image(start).operation(5, nan2),
         ""},
        {"NaN payloads both ways", start, Image(start).operation(5, nan2), Image(start).operation(5, nan3),
         Image(start).operation(5, nan2),
         "plant.par: Operations[5]: base \"0x7ff8000000000001\", ours \"0x7ff8000000000002\", theirs "
         "\"0xfff8000000000003\"\n"},
        {"a name changed after its zero only is the same", start,
         Image(start).name(2, std::string("feed rate\0ours", 14)),
         Image(start).name(2, std::string("feed rate\0x", 11)),
         Image(start).name(2, std::string("feed rate\0ours", 14)), ""},
        {"a name taken whole, bytes after its zero too", Image(start).name(2, std::string("feed rate\0base", 14)),
         Image(start).name(2, std::string("feed rate\0base", 14)), Image(start).name(2, std::string("new\0tail", 8)),
         Image(start).name(2, std::string("new\0tail", 8)), ""},
        {"names both ways", start, Image(start).name(2, "feed rate A"), Image(start).name(2, "feed rate B"),
         Image(start).name(2, "feed rate A"),
         "plant.par: Names[2]: base \"feed rate\", ours \"feed rate A\", theirs \"feed rate B\"\n"},
        {"document bytes 1 and 2 are both set", start, Image(start).document(4, 2), Image(start).document(4, 1),
         Image(start).document(4, 2), ""},
        {"a document byte taken as it is", start, start, Image(start).document(9, 2), Image(start).document(9, 2), ""},
        {"2 to 1 is no change of a flag", Image(start).document(9, 2), Image(start).document(9, 0),
         Image(start).document(9, 1), Image(start).document(9, 0), ""},
        {"conflicts in file order", start, Image(start).name(5, "x").document(0, 1).init(0, 1),
         Image(start).name(5, "y").document(0, 0).init(0, 2).operation(10, 1).document(1, 1),
         Image(start).name(5, "x").document(0, 1).init(0, 1).operation(10, 1).document(1, 1),
         "plant.par: Init[0]: base 0, ours 1, theirs 2\nplant.par: Names[5]: base \"\", ours \"x\", theirs \"y\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const Merged merged = mergeImages(c.base.bytes, c.ours.bytes, c.theirs.bytes);
        EXPECT_EQ(merged.result, c.result.bytes);
        EXPECT_EQ(merged.out, c.conflicts);
        EXPECT_EQ(merged.status, *c.conflicts == '\0' ? sameStatus : foundStatus);
    }
}

TEST(Merge, OursOrTheirsResolvesEveryConflictAndStillListsThem)
{
    const Image ours = Image(start).init(1, 6).operation(10, 851.5).name(7, "ours only");
    const Image theirs = Image(start).init(1, 7).operation(10, 852).document(20, 1);
    const char* lines = "plant.par: Init[1]: base 5, ours 6, theirs 7\n"
                        "plant.par: Operations[10]: base 850, ours 851.5, theirs 852\n";
    const struct {
        const char* side;
        Image result;
        int status;
    } cases[] = {
        {nullptr, Image(ours).document(20, 1), foundStatus},
        {"--ours", Image(ours).document(20, 1), sameStatus},
        {"--theirs", Image(ours).document(20, 1).init(1, 7).operation(10, 852), sameStatus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side != nullptr ? c.side : "neither");
        const Merged merged = mergeImages(start.bytes, ours.bytes, theirs.bytes, c.side);
        EXPECT_EQ(merged.result, c.result.bytes);
        EXPECT_EQ(merged.out, lines);
        EXPECT_EQ(merged.status, c.status);
    }
    ScratchDir dir;
    const std::string oursFile = dir.write("ours.par", ours.bytes);
    const Outcome named =
        run(command({"--merge", dir.write("base.par", start.bytes), oursFile, dir.write("t.par", theirs.bytes)}));
    EXPECT_EQ(named.out.substr(0, oursFile.size() + 10), oursFile + ": Init[1]:");
}

TEST(Merge, KeepsEveryByteOfOursButTheEntriesItTakes)
{
    const std::string tail = "bytes past the image";
    const Image ours = Image(start).document(30, 7).name(3, std::string("a\0\x01\x02", 4));
    const Image theirs = Image(start).document(31, 9).init(2, 0xffffffff);
    // The first length bytes of image, completed with zeros, with what OURS takes from THEIRS.
    const auto taken = [](const std::string& image, std::size_t length) {
        Image result;
        result.put(0, image.substr(0, length));
        return result.document(31, 9).init(2, 0xffffffff).bytes;
    };
    const struct {
        const char* what;
        std::string ours, result;
    } cases[] = {
        {"a whole image", ours.bytes, taken(ours.bytes, 3950)},
        {"bytes past 3950 kept", ours.bytes + tail, taken(ours.bytes, 3950) + tail},
        {"a short OURS completed with zeros", ours.bytes.substr(0, 1000), taken(ours.bytes, 1000)},
        {"a short OURS that changes nothing else", start.bytes.substr(0, 3000), taken(start.bytes, 3000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Merged merged = mergeImages(start.bytes, c.ours, theirs.bytes, nullptr, true);
        EXPECT_EQ(merged.result, c.result);
        EXPECT_EQ(merged.status, sameStatus);
    }
    // A short THEIRS counts as completed with zeros: what it does not reach is 0.
    const Merged cut = mergeImages(start.bytes, start.bytes, start.bytes.substr(0, 500));
    EXPECT_EQ(cut.result, start.bytes.substr(0, 500) + std::string(3450, '\0'));
}

TEST(Merge, LeavesOursUntouchedWhenAFileCannotBeRead)
{
    ScratchDir dir;
    const std::string base = dir.write("base.par", start.bytes);
    const std::string ours = dir.write("ours.par", start.bytes);
    const std::string theirs = dir.write("theirs.par", Image(start).init(0, 1).bytes);
    const std::string missing = dir.path + "/missing.par";
    const std::string fifo = dir.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Written to in place, appending: the merge would be added to the file.
    // Not close-on-exec: the run has it too.
    const int appending = open(ours.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(appending, 0);
    const std::string descriptor = "/proc/self/fd/" + std::to_string(appending);
    const std::string huge = dir.write("huge.par", "");
    ASSERT_EQ(truncate(huge.c_str(), off_t{1} << 40), 0);
    const struct {
        std::string base, ours, theirs, diagnostic;
    } cases[] = {
        {missing, ours, theirs, missing + ": No such file or directory"},
        {base, ours, missing, missing + ": No such file or directory"},
        {base, missing, theirs, missing + ": No such file or directory"},
        {base, ours, dir.path, dir.path + ": Is a directory"},
        {base, fifo, theirs, fifo + ": not a regular file, which --merge cannot replace"},
        {base, "/dev/null", theirs, "/dev/null: not a regular file, which --merge cannot replace"},
        {base, "-", theirs, "-: standard input cannot be edited in place"},
        {base, huge, theirs, huge + ": File too large"},
        {base, descriptor, theirs,
         descriptor + ": names an open descriptor, which cannot be edited in place; name the file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.diagnostic);
        const Outcome r = run(command({"--merge", c.base, c.ours, c.theirs}));
        EXPECT_EQ(r.status, troubleStatus);
        EXPECT_EQ(r.err, "paramlist: " + c.diagnostic + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(readFile(ours), start.bytes);
    }
    close(appending);
}
