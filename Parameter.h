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
// Two pairs read and write files. read and write print nothing: use them in a
// program of your own. load and save are the same with the lines the listing
// shows: load prints "reading from file : " and the path, and both print one
// line on standard output when they fail. All four report a failure by
// returning false, never by an exception, and errno then says why.

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
#include <sys/file.h>
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

    // Prints "reading from file : " and the path, then reads file as read does.
    // Prints "File could not be opened" instead when file cannot be opened as a
    // file; a read that fails part-way returns false after the first line.
    bool load(const char* file, std::size_t* length = nullptr)
    {
        const Descriptor input(openForReading(file));
        if (input.fd < 0) {
            return fail("File could not be opened");
        }
        std::fputs("reading from file : ", stdout);
        std::fputs(file, stdout);
        std::fputc('\n', stdout);
        return readFrom(input.fd, length);
    }

    // Writes the image as write does; on failure prints "File could not be
    // written" on standard output.
    bool save(const char* file) { return write(file) || fail("File could not be written"); }

    // Reads at most 3950 bytes of file into the tables, in one forward pass,
    // printing nothing. A short file is no error: entries it does not reach
    // keep their values, and an entry it cuts through takes the bytes it has.
    // length, if given, receives the number of bytes read. Fails, record
    // untouched and errno set, when file is null, cannot be opened, is a
    // directory (EISDIR), or a read fails.
    bool read(const char* file, std::size_t* length = nullptr)
    {
        const Descriptor input(openForReading(file));
        return input.fd >= 0 && readFrom(input.fd, length);
    }

    // Reads the image from an open descriptor as read does, from where the
    // descriptor stands; the descriptor stays open.
    bool readFrom(int fd, std::size_t* length = nullptr)
    {
        // Reading over the record's own image keeps whatever the file does not reach.
        Image image = toImage();
        std::size_t got = 0;
        if (!readFully(fd, image.data(), image.size(), got)) {
            return false;
        }
        fromImage(image);
        if (length != nullptr) {
            *length = got;
        }
        return true;
    }

    // Writes the 3950-byte image to file, flags as 0 or 1 and names
    // zero-padded, printing nothing, through replace. Fails, errno set, as
    // replace does.
    bool write(const char* file) const
    {
        const Image image = toImage();
        return replace(file, image.data(), image.size());
    }

    // Replaces file with the size bytes at bytes, printing nothing: the one
    // way this record and the programs built on it write a file. Atomic: the
    // bytes go to an unnamed file in file's directory (a hidden temporary name
    // where the file system has no O_TMPFILE), are flushed, and are renamed
    // over file only when complete; then the directory is flushed, so a
    // replace that returned true survives a power cut. A symbolic link is
    // followed: the file it points to is replaced and the link kept. An
    // existing file keeps its permission bits, and its owner and group where
    // the process may set them. The name gets a new inode, so a hard link to
    // the old file keeps the old contents. A device or pipe (/dev/null,
    // /dev/stdout) is written to in place. Fails, errno set and file
    // unchanged, when file is null or a directory, its directory cannot be
    // written (EACCES, even when file itself is writable), or a write fails.
    // replaced, if given, says whether file holds the new bytes, which it
    // does after a failure too when only the last flush of the directory
    // failed: the new contents are then in place but may not survive a power
    // cut.
    static bool replace(const char* file, const void* bytes, std::size_t size, bool* replaced = nullptr)
    {
        if (replaced != nullptr) {
            *replaced = false;
        }
        // A device or a pipe, such as /dev/null or /dev/stdout, is written to;
        // replacing it would put a regular file in its place.
        struct stat reached {
        };
        if (file != nullptr && ::stat(file, &reached) == 0 && !S_ISREG(reached.st_mode)) {
            if (S_ISDIR(reached.st_mode)) {
                errno = EISDIR;
                return false;
            }
            const Descriptor device(::open(file, O_WRONLY | O_CLOEXEC));
            const bool written = device.fd >= 0 && writeAll(device.fd, bytes, size);
            if (replaced != nullptr) {
                *replaced = written;
            }
            return written;
        }
        std::string target;
        if (!resolveLinks(file, target)) {
            return false;
        }
        const std::size_t slash = target.rfind('/');
        const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        const Descriptor folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.fd < 0) {
            return false;
        }
        struct stat existing {
        };
        const bool replacing = ::fstatat(folder.fd, name.c_str(), &existing, 0) == 0;
        Descriptor output(openUnnamed(folder.fd));
        std::string temporary;
        const bool unnamed = output.fd >= 0;
        if (!unnamed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return false;
        }
        if (!unnamed && !createTemporary(folder.fd, output, temporary)) {
            return false;
        }
        bool written = writeAll(output.fd, bytes, size) && (!replacing || keepIdentity(output.fd, existing)) &&
                       ::fsync(output.fd) == 0;
        if (written && unnamed) {
            written = linkTemporary(folder.fd, output.fd, temporary);
        }
        written =
            written && output.close() == 0 && ::renameat(folder.fd, temporary.c_str(), folder.fd, name.c_str()) == 0;
        if (!written) {
            const int reason = errno;
            if (!temporary.empty()) {
                ::unlinkat(folder.fd, temporary.c_str(), 0);
            }
            errno = reason;
            return false;
        }
        if (replaced != nullptr) {
            *replaced = true;
        }
        return ::fsync(folder.fd) == 0;
    }

    // Opens file for reading and takes an exclusive lock on it: the lock that
    // every program which reads a parameter file, changes it and replaces it
    // holds from the read to the replace, so that no edit undoes another.
    // Waits for the lock. The lock belongs to the descriptor (flock), so it
    // ends when the descriptor is closed or its holder dies, and no stale lock
    // can block anyone. When an earlier holder has replaced the file while
    // this one waited, the file now at the path is opened and locked instead.
    // With create, a file that does not exist is created empty, which reads
    // as the start image. Returns the descriptor, or -1 with errno set; the
    // caller replaces the file, then closes the descriptor.
    static int openLocked(const char* file, bool create)
    {
        if (file == nullptr) {
            errno = EINVAL;
            return -1;
        }
        for (;;) {
            Descriptor locked(::open(file, O_RDONLY | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0), 0666));
            if (locked.fd < 0 || isDirectory(locked.fd)) {
                return -1;
            }
            int result;
            while ((result = ::flock(locked.fd, LOCK_EX)) != 0 && errno == EINTR) {
            }
            struct stat held {
            };
            if (result != 0 || ::fstat(locked.fd, &held) != 0) {
                return -1;
            }
            struct stat named {
            };
            if (!S_ISREG(held.st_mode) ||
                (::stat(file, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino)) {
                return locked.release();
            }
        }
    }

    // Writes the 3950-byte image to an open descriptor, in place and not
    // atomically: for a pipe or standard output. Fails with errno set.
    bool writeTo(int fd) const
    {
        const Image image = toImage();
        return writeAll(fd, image.data(), image.size());
    }

    // Reads from fd until size bytes are in buffer or the file ends, retrying
    // a read that a signal interrupts; got receives how many bytes came. False,
    // errno set, when a read fails.
    static bool readFully(int fd, void* buffer, std::size_t size, std::size_t& got)
    {
        got = 0;
        while (got < size) {
            const ssize_t count = ::read(fd, static_cast<unsigned char*>(buffer) + got, size - got);
            if (count == 0) {
                return true;
            }
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            got += static_cast<std::size_t>(count);
        }
        return true;
    }

    // A descriptor open for reading file, or -1 with errno set: for a null
    // path, and for a directory (EISDIR), which Linux opens for reading and
    // fails only at the first read. The caller closes it.
    static int openForReading(const char* file)
    {
        if (file == nullptr) {
            errno = EINVAL;
            return -1;
        }
        Descriptor input(::open(file, O_RDONLY | O_CLOEXEC));
        if (input.fd >= 0 && isDirectory(input.fd)) {
            input.close();
            errno = EISDIR;
        }
        return input.release();
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
        int release()
        {
            const int kept = fd;
            fd = -1;
            return kept;
        }
        int fd;
    };

    // The path that writing through file reaches: file itself, or the end of
    // its chain of symbolic links, which need not exist yet.
    static bool resolveLinks(const char* file, std::string& target)
    {
        if (file == nullptr || *file == '\0') {
            errno = file == nullptr ? EINVAL : ENOENT;
            return false;
        }
        target = file;
        for (int depth = 0; depth < 40; ++depth) {
            struct stat status {
            };
            if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
                return true;
            }
            std::string link(static_cast<std::size_t>(status.st_size) + 256, '\0');
            const ssize_t length = ::readlink(target.c_str(), &link[0], link.size());
            if (length < 0) {
                return false;
            }
            link.resize(static_cast<std::size_t>(length));
            // A relative link is relative to the directory that holds it.
            const std::size_t slash = target.rfind('/');
            if (link[0] == '/' || slash == std::string::npos) {
                target = link;
            } else {
                target.resize(slash + 1);
                target += link;
            }
        }
        errno = ELOOP;
        return false;
    }

    // An unnamed file in folder, which vanishes if the process dies before it is linked in.
    static int openUnnamed(int folder)
    {
#ifdef O_TMPFILE
        return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
        static_cast<void>(folder);
        errno = EOPNOTSUPP;
        return -1;
#endif
    }

    // Creates a named temporary file in folder, for file systems without O_TMPFILE.
    static bool createTemporary(int folder, Descriptor& output, std::string& temporary)
    {
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            temporary = temporaryName(attempt);
            output.fd = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (output.fd >= 0 || errno != EEXIST) {
                break;
            }
        }
        if (output.fd < 0) {
            temporary.clear();
            return false;
        }
        return true;
    }

    // Gives the complete unnamed file a temporary name in folder, from which it
    // is renamed over the target.
    static bool linkTemporary(int folder, int fd, std::string& temporary)
    {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = temporaryName(attempt);
            if (::linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                temporary = candidate;
                return true;
            }
            if (errno != EEXIST) {
                return false;
            }
        }
        return false;
    }

    // Short and independent of the target's name, so any name that can be
    // saved at all has room for it.
    static std::string temporaryName(unsigned attempt)
    {
        return ".paramlist-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    }

    // Gives the new file the owner, group and permission bits of the one it
    // replaces. Owner and group are kept where the process may set them; the
    // bits are set last because a change of owner clears set-user-ID and
    // set-group-ID.
    static bool keepIdentity(int fd, const struct stat& existing)
    {
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), existing.st_gid));
        }
        return ::fchmod(fd, existing.st_mode & 07777) == 0;
    }

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

    static bool writeAll(int fd, const void* bytes, std::size_t size)
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t count = ::write(fd, static_cast<const unsigned char*>(bytes) + done, size - done);
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
