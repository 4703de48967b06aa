// Opening what a mode reads, reading it as a parameter file, and telling
// which operands name one file.
#include "input_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Past the image a file whose size cannot be trusted is read only this far,
// so that an endless one such as /dev/zero cannot hang a read.
constexpr std::size_t excessReadLimit = 1 << 20;

// Standard input that is a regular file loses nothing to a second read.
bool standardInputLosesReads()
{
    struct stat input {
    };
    return ::fstat(STDIN_FILENO, &input) == 0 && !S_ISREG(input.st_mode);
}

// A read on asks the file where it ends, whatever its size says: a file of
// /proc or /sys has a size of 0 or 4096 whatever it holds.
bool readFrom(int fd, FileContents& contents)
{
    contents.excess = 0;
    contents.excessCapped = false;
    std::array<unsigned char, Parameter::FileBytes + (std::size_t{1} << 14)> taken;
    std::size_t got = 0;
    if (!Parameter::readFully(fd, taken.data(), taken.size(), got)) {
        return false;
    }
    contents.held = std::min(got, Parameter::FileBytes);
    std::memcpy(contents.bytes.data(), taken.data(), contents.held);
    std::fill(contents.bytes.begin() + static_cast<std::ptrdiff_t>(contents.held), contents.bytes.end(), 0);
    contents.excess = got - contents.held;
    if (got < taken.size()) {
        return true;
    }
    // A long file whose data the file system keeps, and whose size covers
    // what was read, is not read to its end.
    struct stat status {
    };
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_blocks > 0 &&
        static_cast<std::size_t>(status.st_size) >= got) {
        contents.excess = static_cast<std::size_t>(status.st_size) - contents.held;
        return true;
    }
    // On past the image a block at a time, the block that followed it.
    unsigned char* const past = taken.data() + Parameter::FileBytes;
    const std::size_t block = taken.size() - Parameter::FileBytes;
    while (contents.excess < excessReadLimit) {
        if (!Parameter::readFully(fd, past, block, got)) {
            return false;
        }
        contents.excess += got;
        if (got < block) {
            return true;
        }
    }
    contents.excessCapped = true;
    return true;
}

} // namespace

bool isStandardInput(const char* path)
{
    return std::strcmp(path, "-") == 0;
}

bool namesStandardInput(const char* path)
{
    return isStandardInput(path) || std::strcmp(path, "/dev/stdin") == 0 || std::strcmp(path, "/dev/fd/0") == 0 ||
           std::strcmp(path, "/proc/self/fd/0") == 0;
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

bool readText(const char* path, std::string& text, std::size_t limit)
{
    const InputFile input(path);
    if (input.fd() < 0) {
        return false;
    }
    try {
        // Room for all of a regular file at once: growing by halves would
        // copy it over and over, and touch twice the memory. Past the limit
        // nothing is kept, so that the text never holds more than limit and
        // a byte.
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
            const std::size_t kept = std::min(got, limit + 1 - text.size());
            // The last growth is to the limit and a byte exactly: a string
            // grows to at least its double, past which the limit would not
            // hold, but a new one takes what it is asked.
            if (text.capacity() < text.size() + kept && 2 * text.capacity() >= limit) {
                std::string last;
                last.reserve(limit + 1);
                last = text;
                text.swap(last);
            }
            text.append(block.data(), kept);
        }
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

// A file is opened without asking what it is, as Parameter::openForReading
// asks: reading a directory fails with EISDIR all the same, and the question
// would cost a system call a file.
bool readContents(const char* path, FileContents& contents)
{
    if (isStandardInput(path)) {
        return readFrom(STDIN_FILENO, contents);
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool done = readFrom(fd, contents);
    const int reason = errno;
    ::close(fd);
    errno = reason;
    return done;
}

std::string notParameterFile(std::size_t bytes)
{
    return "not a parameter file (" + std::to_string(bytes) + " bytes, not " + std::to_string(Parameter::FileBytes) +
           ")";
}

std::string notParameterFile(const FileContents& contents)
{
    const std::string shown = notParameterFile(contents.held + contents.excess);
    return contents.excessCapped ? "not a parameter file (more than " + shown.substr(shown.find('(') + 1) : shown;
}

// There "-" reads standard input from where it stands while another name of
// it opens it anew from its start: the two may differ, so on a regular file
// "-" is the same only as "-".
RepeatedOperands::RepeatedOperands(char* const* operands, int count, bool everyOne)
    : firsts(static_cast<std::size_t>(count))
{
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

void FileReads::Once::read(const char* path)
{
    reason = readContents(path, contents) ? 0 : errno;
}

bool FileReads::give(const Once& once, FileContents& contents)
{
    if (once.reason != 0) {
        errno = once.reason;
        return false;
    }
    contents = once.contents;
    return true;
}

FileReads::FileReads(char* const* operands, int count, bool listed) : listed(listed)
{
    const RepeatedOperands repeats(operands, count);
    // Whether a second read of what operand k names would find what the first did.
    const auto readsAgain = [&](int k) {
        struct stat status {
        };
        return !isStandardInput(operands[k]) && ::stat(operands[k], &status) == 0 && S_ISREG(status.st_mode);
    };
    std::vector<int> slotOf(static_cast<std::size_t>(count), -1);
    for (int k = 0; k < count; ++k) {
        const int first = repeats.firstNaming(k);
        const bool shared = first != k || (listed && isStandardInput(operands[k]));
        if (shared && slotOf[static_cast<std::size_t>(first)] < 0 && !readsAgain(first)) {
            slotOf[static_cast<std::size_t>(first)] = static_cast<int>(repeated.size());
            repeated.emplace_back();
        }
    }
    for (int k = 0; k < count; ++k) {
        const int slot = slotOf[static_cast<std::size_t>(repeats.firstNaming(k))];
        if (slot >= 0) {
            slots.emplace(operands[k], static_cast<std::size_t>(slot));
        }
    }
    // Read in the operands' order, once the vector has stopped growing.
    for (int k = 0; k < count; ++k) {
        const int slot = slotOf[static_cast<std::size_t>(k)];
        if (slot >= 0) {
            repeated[static_cast<std::size_t>(slot)].read(operands[k]);
            if (listed && isStandardInput(operands[k])) {
                operandInput = &repeated[static_cast<std::size_t>(slot)];
            }
        }
    }
    inputLosesReads = listed && standardInputLosesReads();
}

bool FileReads::read(const char* file, FileContents& contents) const
{
    if (!slots.empty()) {
        const auto found = slots.find(file);
        if (found != slots.end()) {
            return give(repeated[found->second], contents);
        }
    }
    if (listed && (isStandardInput(file) || (inputLosesReads && namesStandardInput(file)))) {
        if (operandInput != nullptr) {
            return give(*operandInput, contents);
        }
        std::call_once(listedInputRead, [&] { listedInput.read("-"); });
        return give(listedInput, contents);
    }
    return readContents(file, contents);
}
