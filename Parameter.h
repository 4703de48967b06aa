// Parameter.h: one parameter set, and the 3950-byte file image it is stored
// as. The image is headerless and little-endian, the tables one after another
// in declaration order:
//
//   offset  length  table
//        0     200  Init               50 x unsigned 32-bit integer
//      200     400  TerminalCondition  50 x IEEE 754 binary64
//      600     800  Operations        100 x IEEE 754 binary64
//     1400    2500  Names              50 x 50-byte field, zero-terminated text
//     3900      50  Document           50 x 1 byte, 0 clear, anything else set
//
// Bytes past offset 3950 are not part of the image. The image is decoded byte
// by byte, so a record reads the same on hosts of either byte order.
//
// read and write print nothing; load and save print the lines the listing
// shows. All four report a failure by returning false, never by an
// exception, and errno then says why. How a file is replaced, and what a kill
// leaves, is AtomicReplace.h's to say; how an edit locks a file, EditLock.h's.

#ifndef PARAMLIST_PARAMETER_H
#define PARAMLIST_PARAMETER_H

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>

#include "paramlist/AtomicReplace.h"
#include "paramlist/EditLock.h"
#include "paramlist/FileSystem.h"

class Parameter
{
public:
    static constexpr std::size_t InitEntries = 50;
    static constexpr std::size_t TerminalConditionEntries = 50;
    static constexpr std::size_t OperationsEntries = 100;
    static constexpr std::size_t NamesEntries = 50;
    static constexpr std::size_t DocumentEntries = 50;
    static constexpr std::size_t NameBytes = 50;
    // The bytes of one entry of each kind in the image.
    static constexpr std::size_t InitBytes = 4;
    static constexpr std::size_t RealBytes = 8;
    static constexpr std::size_t DocumentBytes = 1;

    static constexpr std::size_t InitOffset = 0;
    static constexpr std::size_t TerminalConditionOffset = InitOffset + InitBytes * InitEntries;
    static constexpr std::size_t OperationsOffset = TerminalConditionOffset + RealBytes * TerminalConditionEntries;
    static constexpr std::size_t NamesOffset = OperationsOffset + RealBytes * OperationsEntries;
    static constexpr std::size_t DocumentOffset = NamesOffset + NameBytes * NamesEntries;
    static constexpr std::size_t FileBytes = DocumentOffset + DocumentBytes * DocumentEntries;
    static_assert(FileBytes == 3950, "the file image is 3950 bytes");
    // The file image: the tables' bytes in file order.
    using Image = std::array<unsigned char, FileBytes>;

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

    // Prints "reading from file : " and the path, then reads file as read
    // does; prints "File could not be opened" instead when it cannot be opened.
    bool load(const char* file, std::size_t* length = nullptr)
    {
        const paramlist_detail::Descriptor input(openForReading(file));
        if (input.fd < 0) {
            return fail("File could not be opened");
        }
        std::fputs("reading from file : ", stdout);
        std::fputs(file, stdout);
        std::fputc('\n', stdout);
        return readFrom(input.fd, length);
    }

    // Writes file as write does; prints "File could not be written" when that
    // fails. Not const, as load is not: callers may rely on that signature.
    // NOLINTNEXTLINE(readability-make-member-function-const)
    bool save(const char* file) { return write(file) || fail("File could not be written"); }

    // Reads at most 3950 bytes of file into the tables, printing nothing: a
    // short file leaves the entries it does not reach as they were, and an
    // entry it cuts through takes the bytes it has. length receives the bytes
    // read. False, record untouched, for a null path, a file that cannot be
    // opened, a directory (EISDIR), or a read that fails.
    bool read(const char* file, std::size_t* length = nullptr)
    {
        const paramlist_detail::Descriptor input(openForReading(file));
        return input.fd >= 0 && readFrom(input.fd, length);
    }

    // Reads as read does from where fd stands; fd stays open.
    bool readFrom(int fd, std::size_t* length = nullptr)
    {
        // Reading over the record's own image keeps whatever the file does not reach.
        Image image = toImage();
        std::size_t got = 0;
        if (!readFully(fd, image.data(), image.size(), got)) {
            return false;
        }
        fromImage(image.data());
        if (length != nullptr) {
            *length = got;
        }
        return true;
    }

    // Replaces file with the image (flags 0 or 1, names zero-padded), printing
    // nothing; errno and replaced as for replace.
    bool write(const char* file, bool* replaced = nullptr) const
    {
        const Image image = toImage();
        return replace(file, image.data(), image.size(), replaced);
    }

    // Writes the image to fd in place, not atomically: for a pipe or standard output.
    bool writeTo(int fd) const
    {
        const Image image = toImage();
        return paramlist_detail::writeAll(fd, image.data(), image.size());
    }

    // Replaces file with size bytes atomically: the contract is AtomicReplace.h's.
    static bool replace(const char* file, const void* bytes, std::size_t size, bool* replaced = nullptr,
                        int locked = -1)
    {
        return paramlist_detail::AtomicReplace::replace(file, bytes, size, replaced, locked);
    }

    // Opens file and takes its edit lock: the contract is EditLock.h's.
    static int openLocked(const char* file, bool create, bool* created = nullptr)
    {
        return paramlist_detail::EditLock::open(file, create, created);
    }

    // Removes the file openLocked created, after a failed first replace (EditLock.h).
    static void removeCreated(const char* file, int locked) { paramlist_detail::EditLock::removeCreated(file, locked); }

    // Reads until size bytes are in buffer or the file ends; got receives how
    // many came. False, errno set, when a read fails.
    static bool readFully(int fd, void* buffer, std::size_t size, std::size_t& got)
    {
        return paramlist_detail::readFully(fd, buffer, size, got);
    }

    // A descriptor open for reading file, for the caller to close; -1 with
    // errno set, EINVAL for a null path and EISDIR for a directory.
    static int openForReading(const char* file)
    {
        if (file == nullptr) {
            errno = EINVAL;
            return -1;
        }
        paramlist_detail::Descriptor input(::open(file, O_RDONLY | O_CLOEXEC));
        if (input.fd >= 0 && paramlist_detail::isDirectory(input.fd)) {
            input.close();
            errno = EISDIR;
        }
        return input.release();
    }

    // The image's little-endian codec, the one place its byte order is coded:
    // every reader and writer of image bytes goes through these.
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

    // The image of the record: flags as 0 or 1, names zero-padded.
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

    // Takes every entry from the first 3950 bytes at image, as readFrom takes
    // them from a file of those bytes.
    void fromImage(const unsigned char* image)
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

private:
    // Stores value as entry n of table, if the table has one.
    template <typename Table, typename Value> static bool store(Table& table, unsigned int n, const Value& value)
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
};

#endif
