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
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
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
    // written" on standard output. Not const, as load is not: the pair takes
    // the record as a whole, and callers may rely on that signature.
    // NOLINTNEXTLINE(readability-make-member-function-const)
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
        fromImage(image.data());
        if (length != nullptr) {
            *length = got;
        }
        return true;
    }

    // Writes the 3950-byte image to file, flags as 0 or 1 and names
    // zero-padded, printing nothing, through replace. Fails, errno set, as
    // replace does; replaced as for replace.
    bool write(const char* file, bool* replaced = nullptr) const
    {
        const Image image = toImage();
        return replace(file, image.data(), image.size(), replaced);
    }

    // Replaces file with the size bytes at bytes, printing nothing: the one
    // way this record and the programs built on it write a file.
    //
    // Only a file that this process could open for writing is written: file
    // is opened for writing first, so the kernel applies its own rules
    // (permission bits and ACLs, read-only mounts, fs.protected_symlinks), and
    // its refusal is the result (EACCES for a read-only file, EROFS, ELOOP,
    // EISDIR for a directory, EINVAL for null). A device or a pipe is written
    // to in place, and so is what a link into /proc/PID/fd names (/dev/stdout,
    // /dev/fd/N, /proc/self/fd/N): this process's own descriptor N is written
    // to itself, so that the append mode of ">>" is kept; another process's
    // is written as ">>" or ">" would, following its append mode.
    //
    // A regular file is replaced atomically: the bytes go to an unnamed file
    // in the directory of the file that the path's symbolic links lead to, are
    // flushed and linked in under the name only when complete, then the
    // directory is flushed. A new file is linked straight to its name; an
    // existing one is linked to a hidden name ".paramlist-PID-" and 16 random
    // hex digits and renamed over the file. Where the unnamed file cannot be
    // made or linked in (no O_TMPFILE, no /proc), that hidden file is created
    // with mode 0600, written, and renamed. The links are kept; the name gets
    // a new inode, so a hard link to the old file keeps the old contents. The
    // new file has the old one's owner and group where the process may set
    // them, every extended attribute of the old one (POSIX ACLs included), and
    // its permission bits; a new file gets 0666 less the umask, or what the
    // directory's default ACL gives. An ACL or a user.* or system.* attribute
    // that cannot be set fails the save; a security.* or trusted.* attribute
    // that the process may not set (an SELinux label as a user) is left out.
    //
    // Fails, errno set and file unchanged, when the kernel refuses to open
    // file for writing, its directory cannot be written (EACCES, even when
    // file itself is writable), the path changes to another file while it is
    // saved (EAGAIN), an attribute cannot be kept, or a write fails.
    // replaced, if given, says whether file holds the new bytes. After a
    // failure it is true only when the directory flush after the rename
    // failed: the new contents are then in place, but may not survive a
    // power cut. On a directory the process may write and search but not read
    // (mode 1733) the directory flush is skipped, as the system refuses it.
    //
    // A process killed during a save leaves file whole, old or new. It may
    // leave a hidden ".paramlist-PID-..." file in the directory: killed
    // between link and rename, a complete copy of the new contents with the
    // file's mode; on the fallback path, a file of mode 0600 that may be
    // incomplete. No process PID running, such a file is debris to remove.
    //
    // locked, if given, is the descriptor openLocked gave for file: the file
    // is then replaced only while the path still leads to the file it locks,
    // and fails with EAGAIN, unchanged, when another program has renamed a
    // file over it or repointed a link since the lock was taken, so that what
    // was read under the lock never replaces what that program put there.
    static bool replace(const char* file, const void* bytes, std::size_t size, bool* replaced = nullptr,
                        int locked = -1)
    {
        bool placed = false;
        const bool written = replaceFile(file, bytes, size, placed, locked);
        if (replaced != nullptr) {
            *replaced = placed;
        }
        return written;
    }

    // Opens file for reading and takes an exclusive lock on it: the lock that
    // every program which reads a parameter file, changes it and replaces it
    // holds from the read to the replace, so that no edit undoes another.
    // Waits for the lock. The lock belongs to the descriptor (flock), so it
    // ends when the descriptor is closed or its holder dies, and no stale lock
    // can block anyone. When an earlier holder has replaced the file while
    // this one waited, the file now at the path is opened and locked instead.
    // With create, a file that does not exist is created empty, which reads
    // as the start image, and created (if given) is set: a caller whose
    // replace then fails removes it again (removeCreated), so that a failed
    // edit leaves no file behind. A path that names an open descriptor
    // (/dev/stdout, /dev/fd/N, /proc/PID/fd/N) is refused with EINVAL, as
    // replace writes to it in place, where an edit would be appended to what
    // it holds. Returns the descriptor, or -1 with errno set; the caller
    // replaces the file, then closes the descriptor.
    static int openLocked(const char* file, bool create, bool* created = nullptr)
    {
        if (file == nullptr) {
            errno = EINVAL;
            return -1;
        }
        for (;;) {
            std::string target;
            bool descriptorLink = false;
            if (followLinks(file, target, descriptorLink) && descriptorLink) {
                errno = EINVAL;
                return -1;
            }
            Descriptor locked(::open(file, O_RDONLY | O_CLOEXEC | O_NOCTTY));
            bool made = false;
            if (locked.fd < 0 && errno == ENOENT && create) {
                locked.fd = ::open(file, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_CREAT, 0666);
                made = locked.fd >= 0;
            }
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
            if (!S_ISREG(held.st_mode) || (::stat(file, &named) == 0 && sameFile(named, held))) {
                if (created != nullptr) {
                    *created = made;
                }
                return locked.release();
            }
        }
    }

    // Removes file, which openLocked created and whose lock locked holds,
    // when the path still leads to that file and it is still empty: what a
    // failed first save of it leaves. A symbolic link that led to it stays.
    // Keeps errno.
    static void removeCreated(const char* file, int locked)
    {
        const int reason = errno;
        std::string target;
        bool descriptorLink = false;
        struct stat held {
        };
        struct stat named {
        };
        if (followLinks(file, target, descriptorLink) && !descriptorLink && ::fstat(locked, &held) == 0 &&
            held.st_size == 0 && ::lstat(target.c_str(), &named) == 0 && sameFile(named, held)) {
            ::unlink(target.c_str());
        }
        errno = reason;
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

    static bool replaceFile(const char* file, const void* bytes, std::size_t size, bool& placed, int locked)
    {
        if (file == nullptr || *file == '\0') {
            errno = file == nullptr ? EINVAL : ENOENT;
            return false;
        }
        const Descriptor reached(openForWriting(file));
        const int refusal = errno;
        struct stat existing {
        };
        if ((reached.fd < 0 && refusal != ENOENT) || (reached.fd >= 0 && ::fstat(reached.fd, &existing) != 0)) {
            return false;
        }
        struct stat held {
        };
        if (locked >= 0 && (::fstat(locked, &held) != 0 || reached.fd < 0 || !sameFile(held, existing))) {
            errno = EAGAIN;
            return false;
        }
        std::string target;
        bool descriptorLink = false;
        if (!followLinks(file, target, descriptorLink)) {
            return false;
        }
        if (descriptorLink || (reached.fd >= 0 && !S_ISREG(existing.st_mode))) {
            if (reached.fd < 0) {
                errno = refusal;
                return false;
            }
            placed = descriptorLink ? writeToDescriptor(target, reached.fd, existing, bytes, size)
                                    : writeInPlace(reached.fd, bytes, size);
            return placed;
        }
        const std::size_t slash = target.rfind('/');
        const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        const Folder folder(directory.c_str());
        if (folder.fd.fd < 0) {
            return false;
        }
        const bool replacing = reached.fd >= 0;
        if (replacing) {
            // The path was followed twice, by the kernel and here: both must
            // reach the same file, or it changed in between.
            struct stat named {
            };
            if (::fstatat(folder.fd.fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
                named.st_dev != existing.st_dev || named.st_ino != existing.st_ino) {
                errno = EAGAIN;
                return false;
            }
        }
        const Identity identity{reached.fd, existing};
        const Descriptor unnamed(openUnnamed(folder.fd.fd));
        if (unnamed.fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return false;
        }
        if (unnamed.fd >= 0) {
            if (!complete(unnamed.fd, bytes, size, identity, false)) {
                return false;
            }
            if (!replacing && linkUnnamed(folder.fd.fd, unnamed.fd, name.c_str())) {
                placed = true;
                return folder.flush();
            }
            // EEXIST: a file of that name appeared meanwhile, and is replaced
            // as any other. ENOENT: the unnamed file cannot be linked in.
            std::string temporary;
            if ((replacing || errno == EEXIST) && linkTemporary(folder.fd.fd, unnamed.fd, temporary)) {
                return renameOver(folder, temporary, name, placed);
            }
            if (errno != ENOENT) {
                return false;
            }
        }
        std::string temporary;
        Descriptor named(createTemporary(folder.fd.fd, temporary));
        if (named.fd < 0) {
            return false;
        }
        if (!complete(named.fd, bytes, size, identity, true)) {
            const int reason = errno;
            ::unlinkat(folder.fd.fd, temporary.c_str(), 0);
            errno = reason;
            return false;
        }
        return renameOver(folder, temporary, name, placed);
    }

    // The directory a file is saved in, opened so that it needs only search
    // and write permission: a directory the process may not read (mode 1733)
    // is opened as a path only, and then cannot be flushed.
    struct Folder {
        explicit Folder(const char* directory)
            : fd(::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC)), flushable(fd.fd >= 0)
        {
            if (fd.fd < 0 && errno == EACCES) {
                fd.fd = ::open(directory, O_PATH | O_DIRECTORY | O_CLOEXEC);
            }
        }
        bool flush() const { return !flushable || ::fsync(fd.fd) == 0; }
        Descriptor fd;
        bool flushable;
    };

    // The file a save replaces: its descriptor (-1 for a new file) and status.
    struct Identity {
        int old;
        const struct stat& status;
    };

    // Opens file for writing as a shell's ">>" would, without creating or
    // truncating it and without waiting for a reader of a FIFO.
    static int openForWriting(const char* file)
    {
        const int fd = ::open(file, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        // A FIFO with no reader yet: wait for one, as writing to it would.
        return fd < 0 && errno == ENXIO ? ::open(file, O_WRONLY | O_NOCTTY | O_CLOEXEC) : fd;
    }

    // Writes to a device, pipe or socket, blocking as an ordinary writer does.
    static bool writeInPlace(int fd, const void* bytes, std::size_t size)
    {
        const int flags = ::fcntl(fd, F_GETFL);
        return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && writeAll(fd, bytes, size);
    }

    // Follows file's chain of symbolic links as the kernel would for this
    // process; target receives the path it leads to, which need not exist.
    // Stops at a link that lives in /proc, which names an open descriptor
    // (descriptorLink) or another object of the process, never a file to
    // replace.
    static bool followLinks(const char* file, std::string& target, bool& descriptorLink)
    {
        target = file;
        for (int depth = 0; depth < 40; ++depth) {
            struct stat status {
            };
            if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
                return true;
            }
            const std::size_t slash = target.rfind('/');
            const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
            struct statfs system {
            };
            if (::statfs(directory.c_str(), &system) == 0 && system.f_type == PROC_SUPER_MAGIC) {
                descriptorLink = true;
                return true;
            }
            if (!mayFollow(directory.c_str(), status)) {
                errno = EACCES;
                return false;
            }
            std::string link(static_cast<std::size_t>(status.st_size) + 256, '\0');
            const ssize_t length = ::readlink(target.c_str(), &link[0], link.size());
            if (length < 0) {
                return false;
            }
            link.resize(static_cast<std::size_t>(length));
            // A relative link is relative to the directory that holds it.
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

    // Whether the kernel lets this process follow link, a symbolic link in
    // directory. With fs.protected_symlinks set, a link in a sticky
    // world-writable directory is followed only by the link's owner, or when
    // the directory's owner owns the link too. The setting is read only for
    // such a link, and taken as set when it cannot be read.
    static bool mayFollow(const char* directory, const struct stat& link)
    {
        struct stat folder {
        };
        if (::stat(directory, &folder) != 0) {
            return false;
        }
        constexpr mode_t shared = S_ISVTX | S_IWOTH;
        if ((folder.st_mode & shared) != shared || link.st_uid == folder.st_uid ||
            link.st_uid == static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)))) {
            return true;
        }
        const Descriptor setting(::open("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC));
        char value = '1';
        std::size_t got = 0;
        return setting.fd >= 0 && readFully(setting.fd, &value, 1, got) && got == 1 && value == '0';
    }

    // Writes to the open file that link, a link in /proc/PID/fd, names;
    // opened is that file, opened for writing through the link. This
    // process's own descriptor is written to itself, at its offset or
    // appending as it was opened. Another process's regular file is appended
    // to when its descriptor appends, otherwise truncated and written, as ">"
    // would.
    static bool writeToDescriptor(const std::string& link, int opened, const struct stat& status, const void* bytes,
                                  std::size_t size)
    {
        const std::size_t slash = link.rfind('/');
        const std::string table = link.substr(0, slash);
        const char* number = link.c_str() + slash + 1;
        char* end = nullptr;
        const long descriptor = std::strtol(number, &end, 10);
        if (*number < '0' || *number > '9' || *end != '\0' || descriptor > INT32_MAX) {
            return writeInPlace(opened, bytes, size);
        }
        struct stat named {
        };
        struct stat own {
        };
        if (::stat(table.c_str(), &named) == 0 &&
            ((::stat("/proc/self/fd", &own) == 0 && sameFile(named, own)) ||
             (::stat("/proc/thread-self/fd", &own) == 0 && sameFile(named, own)))) {
            return writeAll(static_cast<int>(descriptor), bytes, size);
        }
        if (!S_ISREG(status.st_mode)) {
            return writeInPlace(opened, bytes, size);
        }
        return (appends(table, number) ? ::lseek(opened, 0, SEEK_END) >= 0 : ::ftruncate(opened, 0) == 0) &&
               writeAll(opened, bytes, size);
    }

    // Whether descriptor number of the descriptor table at table (a
    // /proc/PID/fd directory) was opened for appending, as its fdinfo says.
    static bool appends(const std::string& table, const char* number)
    {
        const std::string info = table.substr(0, table.size() - 2) + "fdinfo/" + number;
        const Descriptor input(::open(info.c_str(), O_RDONLY | O_CLOEXEC));
        std::array<char, 512> text{};
        std::size_t got = 0;
        if (input.fd < 0 || !readFully(input.fd, text.data(), text.size() - 1, got)) {
            return false;
        }
        const char* flags = std::strstr(text.data(), "flags:");
        return flags != nullptr && (std::strtoul(flags + 6, nullptr, 8) & O_APPEND) != 0;
    }

    static bool sameFile(const struct stat& a, const struct stat& b)
    {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }

    // Writes the bytes to fd, gives it the identity of the file it replaces
    // (a new file on the named path gets the mode a created file would), and
    // flushes it.
    static bool complete(int fd, const void* bytes, std::size_t size, const Identity& identity, bool named)
    {
        if (!writeAll(fd, bytes, size)) {
            return false;
        }
        const bool kept =
            identity.old >= 0 ? keepIdentity(fd, identity) : !named || ::fchmod(fd, 0666 & ~currentUmask()) == 0;
        return kept && ::fsync(fd) == 0;
    }

    // The process's umask, read from /proc where it can be: umask(umask(0))
    // clears it for a moment, for every thread of the process.
    static mode_t currentUmask()
    {
        const Descriptor status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
        std::array<char, 4096> text{};
        std::size_t got = 0;
        if (status.fd >= 0 && readFully(status.fd, text.data(), text.size() - 1, got)) {
            const char* line = std::strstr(text.data(), "\nUmask:");
            if (line != nullptr) {
                return static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8) & 0777);
            }
        }
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }

    // An unnamed file in folder, which vanishes if the process dies before it
    // is linked in. Nobody else can open it, so it takes the mode a created
    // file would.
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

    // Links the unnamed file fd into folder as name: through /proc/self/fd,
    // or by the descriptor itself where /proc is missing, which needs
    // CAP_DAC_READ_SEARCH. ENOENT: it cannot be linked in. EEXIST: name exists.
    static bool linkUnnamed(int folder, int fd, const char* name)
    {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        return errno == ENOENT && ::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0;
    }

    // Gives the complete unnamed file a hidden name in folder, to be renamed
    // over the target.
    static bool linkTemporary(int folder, int fd, std::string& temporary)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary = temporaryName();
            if (linkUnnamed(folder, fd, temporary.c_str())) {
                return true;
            }
            if (errno != EEXIST) {
                break;
            }
        }
        temporary.clear();
        return false;
    }

    // Creates a hidden file in folder that only the owner can open, for where
    // there is no unnamed file.
    static int createTemporary(int folder, std::string& temporary)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary = temporaryName();
            const int fd = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0 || errno != EEXIST) {
                return fd;
            }
        }
        return -1;
    }

    // Renames temporary over name in folder, then flushes the directory.
    static bool renameOver(const Folder& folder, const std::string& temporary, const std::string& name, bool& placed)
    {
        if (::renameat(folder.fd.fd, temporary.c_str(), folder.fd.fd, name.c_str()) != 0) {
            const int reason = errno;
            ::unlinkat(folder.fd.fd, temporary.c_str(), 0);
            errno = reason;
            return false;
        }
        placed = true;
        return folder.flush();
    }

    // Hidden, short and independent of the target's name, so any name that
    // can be saved at all has room for it; the process ID says whose it is,
    // and the random part that nobody can take the name beforehand.
    static std::string temporaryName()
    {
        std::random_device random;
        const std::uint64_t part = static_cast<std::uint64_t>(random()) << 32 | random();
        std::array<char, 17> digits{};
        std::snprintf(digits.data(), digits.size(), "%016llx", static_cast<unsigned long long>(part));
        return ".paramlist-" + std::to_string(::getpid()) + "-" + digits.data();
    }

    // Gives the new file the identity of the one it replaces: owner and
    // group where the process may set them, then every extended attribute,
    // then the permission bits, last because a change of owner clears
    // set-user-ID and set-group-ID, and set so that an ACL's mask stays the
    // old one.
    static bool keepIdentity(int fd, const Identity& identity)
    {
        if (::fchown(fd, identity.status.st_uid, identity.status.st_gid) != 0) {
            static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), identity.status.st_gid));
        }
        return copyAttributes(identity.old, fd) && ::fchmod(fd, identity.status.st_mode & 07777) == 0;
    }

    // Copies every extended attribute of from to to. An access ACL that to
    // took from its directory's default ACL is removed when from has none,
    // so that access neither widens nor narrows. A security.* or trusted.*
    // attribute that cannot be set is left out; any other failure fails.
    static bool copyAttributes(int from, int to)
    {
        std::string names;
        if (!readAttribute(from, nullptr, names)) {
            return errno == ENOTSUP;
        }
        bool hasAcl = false;
        std::string value;
        for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
            const char* name = names.c_str() + at;
            hasAcl = hasAcl || std::strcmp(name, aclName) == 0;
            if (!readAttribute(from, name, value)) {
                if (errno == ENODATA) {
                    continue;
                }
                return false;
            }
            if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0 && std::strncmp(name, "security.", 9) != 0 &&
                std::strncmp(name, "trusted.", 8) != 0) {
                return false;
            }
        }
        return hasAcl || ::fremovexattr(to, aclName) == 0 || errno == ENODATA || errno == ENOTSUP;
    }

    static constexpr const char* aclName = "system.posix_acl_access";

    // Reads the value of attribute name of fd into value, or with a null
    // name the list of its attribute names, each ending in a zero byte.
    static bool readAttribute(int fd, const char* name, std::string& value)
    {
        value.resize(1024);
        for (;;) {
            const ssize_t length = name == nullptr ? ::flistxattr(fd, &value[0], value.size())
                                                   : ::fgetxattr(fd, name, &value[0], value.size());
            if (length >= 0) {
                value.resize(static_cast<std::size_t>(length));
                return true;
            }
            if (errno != ERANGE) {
                return false;
            }
            const ssize_t needed = name == nullptr ? ::flistxattr(fd, nullptr, 0) : ::fgetxattr(fd, name, nullptr, 0);
            if (needed < 0) {
                return false;
            }
            value.resize(static_cast<std::size_t>(needed) + 1);
        }
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

public:
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
