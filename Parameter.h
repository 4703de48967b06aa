// Parameter: one parameter set, and the 3950-byte file image it is stored as.
//
// The image is headerless and little-endian; the tables follow one another in
// declaration order:
//
//   offset  length  table
//        0     200  Init               50 x unsigned 32-bit integer
//      200     400  TerminalCondition  50 x IEEE 754 binary64
//      600     800  Operations        100 x IEEE 754 binary64
//     1400    2500  Names              50 x 50-byte field, zero-terminated text
//     3900      50  Document           50 x 1 byte, 0 clear, anything else set
//
// Bytes after offset 3950 are not part of the image. The image is decoded
// byte by byte, so a record reads the same on hosts of either byte order.
//
// Every getter takes any index: past the end of its table it returns the
// table's neutral value. Every setter returns false, and changes nothing, when
// the index or value does not fit. The record holds its name buffers itself,
// so a copy has buffers of its own.
//
// load and save report a failure by returning false after printing one line on
// standard output, never by an exception; errno then says why.

#ifndef PARAMLIST_PARAMETER_H
#define PARAMLIST_PARAMETER_H

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class Parameter
{
public:
    static constexpr std::size_t InitEntries = 50;
    static constexpr std::size_t TerminalConditionEntries = 50;
    static constexpr std::size_t OperationsEntries = 100;
    static constexpr std::size_t NamesEntries = 50;
    static constexpr std::size_t DocumentEntries = 50;
    static constexpr std::size_t NameBytes = 50;

    static constexpr std::size_t InitOffset = 0;
    static constexpr std::size_t TerminalConditionOffset = InitOffset + 4 * InitEntries;
    static constexpr std::size_t OperationsOffset = TerminalConditionOffset + 8 * TerminalConditionEntries;
    static constexpr std::size_t NamesOffset = OperationsOffset + 8 * OperationsEntries;
    static constexpr std::size_t DocumentOffset = NamesOffset + NameBytes * NamesEntries;
    static constexpr std::size_t FileBytes = DocumentOffset + DocumentEntries;
    static_assert(FileBytes == 3950, "the file image is 3950 bytes");

private:
    std::array<std::uint32_t, InitEntries> Init{};
    std::array<double, TerminalConditionEntries> TerminalCondition{};
    std::array<double, OperationsEntries> Operations{};
    // One byte past each field stays zero, so a field of 50 non-zero bytes is
    // still a terminated text and nobody reads past the record.
    std::array<std::array<char, NameBytes + 1>, NamesEntries> Names{};
    std::array<bool, DocumentEntries> Document{};

public:
    // A record with every number 0, every flag false and every name empty.
    Parameter() = default;
    // Copies are deep: each record owns its own name buffers.
    Parameter(const Parameter&) = default;
    Parameter& operator=(const Parameter&) = default;
    // A record loaded from file (see load); left at start values if that fails.
    explicit Parameter(const char* file) { load(file); }
    ~Parameter() = default;

    // Init entry n for n <= 49, otherwise 0.
    unsigned long getInitParameter(unsigned int n) const { return n < InitEntries ? Init[n] : 0; }
    // TerminalCondition entry n for n <= 49, otherwise 0.0.
    double getTerminalConditionParameter(unsigned int n) const
    {
        return n < TerminalConditionEntries ? TerminalCondition[n] : 0.0;
    }
    // Operations entry n for n <= 99, otherwise 0.0.
    double getOperationsParameter(unsigned int n) const { return n < OperationsEntries ? Operations[n] : 0.0; }
    // Name n for n <= 49, otherwise "". Never null; at most 50 bytes before its
    // zero; valid while the record lives and is not changed.
    const char* getNamesParameter(unsigned int n) const { return n < NamesEntries ? Names[n].data() : ""; }
    // Document flag n for n <= 49, otherwise false.
    bool getDocumentParameter(unsigned int n) const { return n < DocumentEntries ? Document[n] : false; }

    // Sets Init entry n (n <= 49) to value; false if value needs more than 32 bits.
    bool setInitParameter(unsigned int n, unsigned long value)
    {
        return value <= UINT32_MAX && store(Init, n, static_cast<std::uint32_t>(value));
    }
    // Sets TerminalCondition entry n (n <= 49).
    bool setTerminalConditionParameter(unsigned int n, double value) { return store(TerminalCondition, n, value); }
    // Sets Operations entry n (n <= 99).
    bool setOperationsParameter(unsigned int n, double value) { return store(Operations, n, value); }
    // Sets name n (n <= 49) to a copy of name; false for null or a name of
    // more than 50 bytes, which is never cut short.
    bool setNamesParameter(unsigned int n, const char* name)
    {
        if (n >= NamesEntries || name == nullptr) {
            return false;
        }
        const std::size_t length = strnlen(name, NameBytes + 1);
        if (length > NameBytes) {
            return false;
        }
        // Zero the rest of the field so that a saved image holds no stale bytes.
        Names[n].fill('\0');
        std::memcpy(Names[n].data(), name, length);
        return true;
    }
    // Sets Document flag n (n <= 49).
    bool setDocumentParameter(unsigned int n, bool value) { return store(Document, n, value); }

    // Reads at most 3950 bytes of file into the tables, in one forward pass,
    // after printing "reading from file : " and the path. A short file is no
    // error: entries it does not reach keep their values, and an entry it cuts
    // through takes the bytes it has. length, if given, receives the number of
    // bytes read. Fails, record untouched, when file cannot be opened as a file
    // ("File could not be opened" printed instead) or a read fails.
    bool load(const char* file, std::size_t* length = nullptr)
    {
        if (file == nullptr) {
            errno = EINVAL;
            return fail("File could not be opened");
        }
        const Descriptor input(::open(file, O_RDONLY | O_CLOEXEC));
        // Linux opens a directory for reading and fails only at the first read.
        if (input.fd < 0 || isDirectory(input.fd)) {
            return fail("File could not be opened");
        }
        std::fputs("reading from file : ", stdout);
        std::fputs(file, stdout);
        std::fputc('\n', stdout);

        // Reading over the record's own image keeps whatever the file does not reach.
        Image image = toImage();
        std::size_t got = 0;
        while (got < FileBytes) {
            const ssize_t count = ::read(input.fd, image.data() + got, FileBytes - got);
            if (count == 0) {
                break;
            }
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            got += static_cast<std::size_t>(count);
        }
        fromImage(image);
        if (length != nullptr) {
            *length = got;
        }
        return true;
    }

    // Writes the 3950-byte image to file, flags as 0 or 1 and names zero-padded.
    // The image goes to a new file beside it that is renamed over file only when
    // complete, so file is never left half-written. On failure prints
    // "File could not be written" and leaves no temporary file behind.
    bool save(const char* file)
    {
        if (file == nullptr) {
            errno = EINVAL;
            return fail("File could not be written");
        }
        const Image image = toImage();
        std::string temporary;
        Descriptor output(-1);
        for (unsigned attempt = 0; attempt < 100 && output.fd < 0; ++attempt) {
            temporary = std::string(file) + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            output.fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (output.fd < 0 && errno != EEXIST) {
                break;
            }
        }
        if (output.fd < 0) {
            return fail("File could not be written");
        }
        if (!writeAll(output.fd, image) || ::fsync(output.fd) != 0 || output.close() != 0 ||
            ::rename(temporary.c_str(), file) != 0) {
            const int reason = errno;
            ::unlink(temporary.c_str());
            errno = reason;
            return fail("File could not be written");
        }
        return true;
    }

private:
    using Image = std::array<unsigned char, FileBytes>;

    // Owns an open file descriptor.
    struct Descriptor {
        explicit Descriptor(int opened) : fd(opened) {}
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        ~Descriptor() { close(); }
        int close()
        {
            const int result = fd >= 0 ? ::close(fd) : 0;
            fd = -1;
            return result;
        }
        int fd;
    };

    // Stores value as entry n of table, if the table has one.
    template <typename Table, typename Value> static bool store(Table& table, unsigned int n, Value value)
    {
        if (n >= table.size()) {
            return false;
        }
        table[n] = value;
        return true;
    }

    // Prints line on standard output and returns false, keeping errno for the caller.
    static bool fail(const char* line)
    {
        const int reason = errno;
        std::puts(line);
        errno = reason;
        return false;
    }

    // True for a directory, with errno set to say so.
    static bool isDirectory(int fd)
    {
        struct stat status {
        };
        if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
            errno = EISDIR;
            return true;
        }
        return false;
    }

    static std::uint32_t read32le(const unsigned char* bytes)
    {
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    static std::uint64_t read64le(const unsigned char* bytes)
    {
        return static_cast<std::uint64_t>(read32le(bytes)) | static_cast<std::uint64_t>(read32le(bytes + 4)) << 32;
    }
    static void write32le(unsigned char* bytes, std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<unsigned char>(value >> (8 * i));
        }
    }
    static void write64le(unsigned char* bytes, std::uint64_t value)
    {
        write32le(bytes, static_cast<std::uint32_t>(value));
        write32le(bytes + 4, static_cast<std::uint32_t>(value >> 32));
    }
    static double readDoubleLe(const unsigned char* bytes)
    {
        const std::uint64_t pattern = read64le(bytes);
        double value;
        std::memcpy(&value, &pattern, sizeof value);
        return value;
    }
    static void writeDoubleLe(unsigned char* bytes, double value)
    {
        std::uint64_t pattern;
        std::memcpy(&pattern, &value, sizeof pattern);
        write64le(bytes, pattern);
    }

    Image toImage() const
    {
        Image image{};
        for (std::size_t i = 0; i < InitEntries; ++i) {
            write32le(&image[InitOffset + 4 * i], Init[i]);
        }
        for (std::size_t i = 0; i < TerminalConditionEntries; ++i) {
            writeDoubleLe(&image[TerminalConditionOffset + 8 * i], TerminalCondition[i]);
        }
        for (std::size_t i = 0; i < OperationsEntries; ++i) {
            writeDoubleLe(&image[OperationsOffset + 8 * i], Operations[i]);
        }
        for (std::size_t i = 0; i < NamesEntries; ++i) {
            std::memcpy(&image[NamesOffset + NameBytes * i], Names[i].data(), NameBytes);
        }
        for (std::size_t i = 0; i < DocumentEntries; ++i) {
            image[DocumentOffset + i] = Document[i] ? 1 : 0;
        }
        return image;
    }

    void fromImage(const Image& image)
    {
        for (std::size_t i = 0; i < InitEntries; ++i) {
            Init[i] = read32le(&image[InitOffset + 4 * i]);
        }
        for (std::size_t i = 0; i < TerminalConditionEntries; ++i) {
            TerminalCondition[i] = readDoubleLe(&image[TerminalConditionOffset + 8 * i]);
        }
        for (std::size_t i = 0; i < OperationsEntries; ++i) {
            Operations[i] = readDoubleLe(&image[OperationsOffset + 8 * i]);
        }
        for (std::size_t i = 0; i < NamesEntries; ++i) {
            std::memcpy(Names[i].data(), &image[NamesOffset + NameBytes * i], NameBytes);
        }
        for (std::size_t i = 0; i < DocumentEntries; ++i) {
            Document[i] = image[DocumentOffset + i] != 0;
        }
    }

    static bool writeAll(int fd, const Image& image)
    {
        std::size_t done = 0;
        while (done < image.size()) {
            const ssize_t count = ::write(fd, image.data() + done, image.size() - done);
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            done += static_cast<std::size_t>(count);
        }
        return true;
    }
};

#endif
