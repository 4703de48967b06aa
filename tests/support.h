// Helpers shared by the tests: parameter file images built byte by byte at the
// format's offsets, independent of the loader, a scratch directory, the
// request of a mode run in-process, and the --json line of an image.
#ifndef PARAMLIST_TESTS_SUPPORT_H
#define PARAMLIST_TESTS_SUPPORT_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "Parameter.h"
#include "modes.h"
#include "record_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A directory that lives as long as the object.
struct ScratchDir {
    std::string path;
    ScratchDir()
    {
        char pattern[] = "/tmp/paramlist-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string write(const std::string& name, const std::string& bytes) const
    {
        std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
};

inline std::string readFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The request that a command line of the mode and these operands makes.
struct CommandLine {
    std::vector<std::string> words;
    std::vector<char*> operands;
    Request request;
    CommandLine(Request::Mode mode, std::vector<std::string> given) : words(std::move(given))
    {
        for (std::string& word : words) {
            operands.push_back(&word[0]);
        }
        request.mode = mode;
        request.operands = operands.data();
        request.count = static_cast<int>(operands.size());
    }
};

// The --json line of a file holding bytes.
inline std::string exportImage(const std::string& bytes)
{
    ScratchDir dir;
    const std::string file = dir.write("f.par", bytes);
    Parameter para;
    std::size_t length = 0;
    EXPECT_TRUE(para.read(file.c_str(), &length));
    std::string json;
    appendRecordJson(json, file.c_str(), length, para);
    return json;
}

// What a run of the program gave: its exit status and what it wrote.
struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Whether holds(), polled, comes true every 10 ms, comes true within tries of them (ten seconds).
template <typename Condition> bool eventually(Condition holds, int tries = 1000)
{
    for (int tried = 0; tried < tries; ++tried) {
        if (holds()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The program started in dir as a user starts it at a terminal: its standard
// input is a terminal of its own, its controlling one, so that the keys that
// send signals (^C) send them to it and to what it runs; standard output
// and error go to files. The test types on the terminal, signals the process,
// and waits for it to end.
class OnTerminal
{
public:
    OnTerminal(const ScratchDir& dir, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {})
        : out(dir.path + "/.out"), err(dir.path + "/.err")
    {
        int terminal = -1;
        EXPECT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
        std::vector<std::string> words{PARAMLIST_BINARY};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(&word[0]);
        }
        argv.push_back(nullptr);
        child = ::fork();
        if (child == 0) {
            ::setsid();
            ::ioctl(terminal, TIOCSCTTY, 0);
            ::dup2(terminal, STDIN_FILENO);
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            ::close(master);
            ::close(terminal);
            if (::chdir(dir.path.c_str()) == 0) {
                for (const std::string& variable : environment) {
                    ::putenv(const_cast<char*>(variable.c_str()));
                }
                ::execv(argv[0], argv.data());
            }
            ::_exit(127);
        }
        ::close(terminal);
    }
    OnTerminal(const OnTerminal&) = delete;
    OnTerminal& operator=(const OnTerminal&) = delete;
    ~OnTerminal()
    {
        if (child > 0) {
            ::kill(-child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        ::close(master);
    }

    pid_t pid() const { return child; }
    void type(const std::string& keys) const
    {
        EXPECT_EQ(::write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // What it has written on standard error so far.
    std::string errors() const { return readFile(err); }
    // Its status once it ended: the exit status, or 128 and the signal that
    // ended it, as a shell gives it. One that runs for a minute is killed,
    // with what it runs, and fails the test.
    Outcome wait()
    {
        int status = 0;
        const bool ended = eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 6000);
        EXPECT_TRUE(ended) << "still running after a minute";
        if (!ended) {
            ::kill(-child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        child = -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(out), readFile(err)};
    }

private:
    std::string out;
    std::string err;
    int master = -1;
    pid_t child = -1;
};

#endif
