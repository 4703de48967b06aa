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

#endif
