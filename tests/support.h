// What the tests share: images of parameter files built byte by byte at the
// format's offsets, independent of the loader; a scratch directory; and the
// one way a test runs the program.
//
// Running the program, as a user runs it:
//
//     const Outcome r = run(command({"--set", "Init[0]=1", "f.par"}).in(dir));
//     EXPECT_EQ(r.status, 0); EXPECT_EQ(r.out, ""); EXPECT_EQ(r.err, "");
//     run(script("$P --json *.par | $P --apply -").in(dir).env("TMPDIR", tmp));
//
// command() launches the program with the words after its name, as they
// are; script() launches sh with a script, the program as $P in it. The
// Launch they return takes, each call returning it again:
//   .in(dir)              the working directory (else this process's)
//   .input(file)          standard input (else /dev/null)
//   .onTerminal(Terminal::Input)   standard input is a terminal
//   .onTerminal(Terminal::Output)  standard output and error are one
//                         terminal; what it was sent is Outcome::out
//   .onTerminal(Terminal::Keyboard)  standard input is the run's
//                         controlling terminal, as a user's is: lines reach
//                         it once typed with their Enter, ^D ends them, ^C
//                         sends SIGINT to the run and what it started
//   .env(name, value), .unset(name)  a variable of the environment
//   .limit(RLIMIT_..., n) a resource limit (leak checks off: LeakSanitizer
//                         needs a thread and descriptors of its own)
//   .as(uid)              that user and group, for a test run as root (leak
//                         checks off)
//   .withoutLeakChecks()  for strace or no /proc, where LeakSanitizer fails
//   .within(seconds)      the time the run has, 30 s unless given; after it
//                         the run is killed and its status is -1
// run() waits for the end. A Running starts the run and its finish() waits
// for it, for a test that acts while the program runs (types on its
// Keyboard, signals its process, reads what it has said so far); one
// destroyed before finish() kills the run, with what it started. PARAMLIST_COMMAND, when set,
// replaces the program: its words, split at spaces, as valgrind or an
// emulator with the program.
#ifndef PARAMLIST_TESTS_SUPPORT_H
#define PARAMLIST_TESTS_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <gtest/gtest.h>

// The real of a bit pattern, for NaN payloads and negative zero.
inline double fromBits(std::uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

struct Image {
    std::string bytes = std::string(3950, '\0');

    Image& u32(std::size_t offset, std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            bytes[offset + i] = static_cast<char>(value >> (8 * i));
        }
        return *this;
    }
    Image& f64(std::size_t offset, double value)
    {
        std::uint64_t pattern;
        std::memcpy(&pattern, &value, sizeof pattern);
        for (int i = 0; i < 8; ++i) {
            bytes[offset + i] = static_cast<char>(pattern >> (8 * i));
        }
        return *this;
    }
    Image& init(std::size_t i, std::uint32_t value) { return u32(4 * i, value); }
    Image& terminal(std::size_t i, double value) { return f64(200 + 8 * i, value); }
    Image& operation(std::size_t i, double value) { return f64(600 + 8 * i, value); }
    Image& name(std::size_t i, const std::string& text) { return put(1400 + 50 * i, text); }
    Image& document(std::size_t i, unsigned char value)
    {
        return put(3900 + i, std::string(1, static_cast<char>(value)));
    }
    Image& put(std::size_t offset, const std::string& text)
    {
        bytes.replace(offset, text.size(), text);
        return *this;
    }
};

// The 8 bytes of a real in a file.
inline std::string realBytes(double value)
{
    return Image().f64(0, value).bytes.substr(0, 8);
}

// An entry of each kind set, the first name filling its field.
inline const Image sample = Image()
                                .init(3, 7)
                                .init(49, 4000000000u)
                                .operation(9, 1.5)
                                .operation(10, 2)
                                .operation(60, 0.1)
                                .operation(99, -0.0)
                                .terminal(0, 1e-5)
                                .terminal(1, 3.14159265)
                                .document(5, 2)
                                .document(6, 255)
                                .name(0, std::string(50, 'N') + "next field");

// An image, and what `--set Operations[10]=851` makes of it.
inline const std::string unedited = Image().init(0, 3).operation(10, 850).name(0, "furnace").bytes;
inline const std::string edited = Image().init(0, 3).operation(10, 851).name(0, "furnace").bytes;

// A directory that lives as long as the object.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(ScratchDir&& other) noexcept : path(std::move(other.path)) { other.path.clear(); }
    ScratchDir& operator=(const ScratchDir&) = delete;
    // Writes bytes to name in the directory; its path.
    std::string write(const std::string& name, const std::string& bytes) const;
};

std::string readFile(const std::string& file);

// What follows every usage error.
inline const std::string tryHelp = "Try 'paramlist --help' for more information.\n";

// A script, $P the program, and what it gives: its status and both outputs.
struct ScriptCase {
    std::string script;
    int status;
    std::string out;
    std::string err;
};

// Runs each case's script in a directory of its own, as made makes it, and
// checks all that it gives.
void expectEach(const std::vector<ScriptCase>& cases, const std::function<ScratchDir()>& made);

// The pieces of text between separators: its lines, or a CSV line's fields.
// A separator that ends the text ends its last piece.
std::vector<std::string> piecesOf(const std::string& text, char separator = '\n');

// Whether a file holds the expected bytes; where not, the sizes and the first
// offset that differs, not the bytes.
testing::AssertionResult holds(const std::string& file, const std::string& expected);

// What lstat says of a file; all zeros where it says nothing.
struct stat statusOf(const std::string& file);

// How many entries a directory has besides . and ..
int entriesIn(const std::string& directory);

// The --json line of a file that holds bytes, named file, else by its path
// in a scratch directory.
std::string jsonOf(const std::string& bytes, const std::string& file = "");

// Whether holds(), polled every 10 ms, comes true within tries of them
// (ten seconds).
bool eventually(const std::function<bool()>& holds, int tries = 1000);

// Whether a shell command succeeds here: a tool installed, a facility of
// the kernel allowed.
bool available(const std::string& command);
bool canTrace();

enum class Terminal { None, Input, Output, Keyboard };

struct Launch {
    std::vector<std::string> words;
    std::string scriptText;
    std::string workingDirectory;
    std::string inputFile = "/dev/null";
    Terminal terminal = Terminal::None;
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    std::vector<std::pair<int, rlim_t>> limits;
    std::optional<uid_t> user;
    bool leakChecks = true;
    int seconds = 30;

    Launch& in(const ScratchDir& dir) { return in(dir.path); }
    Launch& in(std::string dir)
    {
        workingDirectory = std::move(dir);
        return *this;
    }
    Launch& input(std::string file)
    {
        inputFile = std::move(file);
        return *this;
    }
    Launch& onTerminal(Terminal which)
    {
        terminal = which;
        return *this;
    }
    Launch& env(std::string name, std::string value)
    {
        environment.emplace_back(std::move(name), std::move(value));
        return *this;
    }
    Launch& unset(std::string name)
    {
        environment.emplace_back(std::move(name), std::nullopt);
        return *this;
    }
    Launch& limit(int resource, rlim_t value)
    {
        limits.emplace_back(resource, value);
        leakChecks = false;
        return *this;
    }
    Launch& as(uid_t id)
    {
        user = id;
        leakChecks = false;
        return *this;
    }
    Launch& withoutLeakChecks()
    {
        leakChecks = false;
        return *this;
    }
    Launch& within(int limitSeconds)
    {
        seconds = limitSeconds;
        return *this;
    }
};

Launch command(std::vector<std::string> args);
Launch script(std::string text);

// What a run gave: its exit status (128 and the signal for one killed by a
// signal, -1 for one out of time), and what it wrote.
struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class Running
{
public:
    explicit Running(const Launch& run);
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    ~Running();
    Outcome finish();
    // Sends keys to the terminal of a run on one.
    void type(const std::string& keys) const;
    // The process started, for a signal.
    pid_t process() const { return pid; }
    // What the run has written on standard error so far.
    std::string errors() const;

private:
    ScratchDir logs;
    int seconds;
    int terminal = -1;
    bool terminalOutput = false;
    pid_t pid = -1;
};

Outcome run(const Launch& run);

#endif
