// Opening what a mode reads, and telling which operands name one file.
#include "input_files.h"

#include "Parameter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

bool isStandardInput(const char* path)
{
    return std::strcmp(path, "-") == 0;
}

InputFile::InputFile(const char* path)
    : descriptor(isStandardInput(path) ? STDIN_FILENO : Parameter::openForReading(path)), owned(!isStandardInput(path))
{
}

// Closing a file that was only read loses nothing; errno keeps what the
// caller's last failure said.
InputFile::~InputFile()
{
    if (owned && descriptor >= 0) {
        const int reason = errno;
        ::close(descriptor);
        errno = reason;
    }
}

bool readRecord(Parameter& para, const char* path, std::size_t* length)
{
    const InputFile input(path);
    return input.fd() >= 0 && para.readFrom(input.fd(), length);
}

bool readText(const char* path, std::string& text, std::size_t limit)
{
    const InputFile input(path);
    if (input.fd() < 0) {
        return false;
    }
    // Room for all of a regular file at once: growing by halves would copy
    // it over and over, and touch twice the memory.
    struct stat status {
    };
    if (::fstat(input.fd(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        text.reserve(std::min(static_cast<std::size_t>(status.st_size), limit) + 1);
    }
    std::array<char, 1 << 16> block;
    for (std::size_t got = block.size(); got == block.size() && text.size() <= limit;) {
        if (!Parameter::readFully(input.fd(), block.data(), block.size(), got)) {
            return false;
        }
        text.append(block.data(), got);
    }
    return true;
}

// Standard input that is a regular file loses nothing to a second read, and
// there "-" reads it from where it stands while another name of it opens it
// anew from its start: the two may differ, so "-" is the same only as "-".
RepeatedOperands::RepeatedOperands(char* const* operands, int count, bool everyOne)
    : firsts(static_cast<std::size_t>(count))
{
    const auto namesStandardInput = [](const char* path) {
        return isStandardInput(path) || std::strcmp(path, "/dev/stdin") == 0 || std::strcmp(path, "/dev/fd/0") == 0 ||
               std::strcmp(path, "/proc/self/fd/0") == 0;
    };
    struct stat input {
    };
    const bool lookAtEach = everyOne || (std::any_of(operands, operands + count, namesStandardInput) &&
                                         ::fstat(STDIN_FILENO, &input) == 0 && !S_ISREG(input.st_mode));
    std::map<std::pair<dev_t, ino_t>, int> byFile;
    std::unordered_map<std::string_view, int> bySpelling;
    for (int k = 0; k < count; ++k) {
        const char* path = operands[k];
        struct stat named = input;
        const bool found = lookAtEach && (isStandardInput(path) || ::stat(path, &named) == 0);
        const int first = found ? byFile.emplace(std::make_pair(named.st_dev, named.st_ino), k).first->second
                                : bySpelling.emplace(path, k).first->second;
        firsts[static_cast<std::size_t>(k)] = first;
    }
}
