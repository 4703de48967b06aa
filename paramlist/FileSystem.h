// FileSystem.h: the file-system steps that the record (Parameter.h), its
// atomic replace (AtomicReplace.h) and its edit lock (EditLock.h) share: a
// descriptor's owner, whole reads and writes, a file told by its identity,
// an open that never hangs, a path's symbolic links followed as the kernel
// follows them, extended attributes read and an ACL narrowed, inode flags
// kept, and the writes in place of what is not replaced.
#ifndef PARAMLIST_FILE_SYSTEM_H
#define PARAMLIST_FILE_SYSTEM_H

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace paramlist_detail {

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
    void reset(int opened)
    {
        close();
        fd = opened;
    }
    int fd;
};

// Reads until size bytes are in buffer or the file ends, retrying a read that
// a signal interrupts; got receives how many came. False, errno set, when a
// read fails.
inline bool readFully(int fd, void* buffer, std::size_t size, std::size_t& got)
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

inline bool writeAll(int fd, const void* bytes, std::size_t size)
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

inline bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True for a directory, with errno set to say so: Linux opens a directory for
// reading and fails only at the first read.
inline bool isDirectory(int fd)
{
    struct stat status {
    };
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return true;
    }
    return false;
}

inline bool isRegular(int fd)
{
    struct stat status {
    };
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// Opens path with flags (O_RDONLY or O_WRONLY) when it is a regular file,
// and opens anything else as a path alone (O_PATH), for the caller to tell by
// fstat: opening a FIFO would wait for its other end, and a device's open may
// act (a tape rewinds). A lease that another process holds on the file (a
// Samba oplock, an NFS delegation), whose break the open starts, is waited
// for as a plain open waits for it, by trying again: the kernel ends the
// lease after /proc/sys/fs/lease-break-time at the latest. So no open here
// waits for what may never come, and none fails for a lease. -1, errno set,
// when path cannot be opened.
inline int openRegular(const char* path, int flags)
{
    for (useconds_t pause = 1000;;) {
        Descriptor named(::open(path, O_PATH | O_CLOEXEC));
        struct stat status {
        };
        if (named.fd < 0 || ::fstat(named.fd, &status) != 0) {
            return -1;
        }
        if (!S_ISREG(status.st_mode)) {
            return named.release();
        }
        // Without blocking, in case the path leads elsewhere by now.
        Descriptor opened(::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat reached {
        };
        if (opened.fd >= 0 && ::fstat(opened.fd, &reached) == 0 && sameFile(reached, status)) {
            const int mode = ::fcntl(opened.fd, F_GETFL);
            return mode >= 0 && ::fcntl(opened.fd, F_SETFL, mode & ~O_NONBLOCK) == 0 ? opened.release() : -1;
        }
        const int reason = errno;
        struct stat now {
        };
        // A refusal of the file looked at, not of one swapped in meanwhile.
        if (opened.fd < 0 && reason != EWOULDBLOCK && reason != EINTR && ::stat(path, &now) == 0 &&
            sameFile(now, status)) {
            errno = reason;
            return -1;
        }
        ::usleep(pause);
        pause = std::min<useconds_t>(2 * pause, 50000);
    }
}

// Whether the kernel lets this process follow link, a symbolic link in the
// directory open as directory. With fs.protected_symlinks set, a link in a
// sticky world-writable directory is followed only by the link's owner, or
// when the directory's owner owns the link too. The setting is read only for
// such a link, and taken as set when it cannot be read.
inline bool mayFollow(int directory, const struct stat& link)
{
    struct stat folder {
    };
    if (::fstat(directory, &folder) != 0) {
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

// Where a path's symbolic links lead: the directory that holds the last name
// reached (open as a path alone), and that name, which need not exist.
struct Resolved {
    Descriptor directory{-1};
    std::string name;
    // The name is a link in /proc (/proc/PID/fd/N, also through /dev/stdout
    // or /dev/fd/N), left unfollowed: it names an open descriptor or another
    // object of a process, never a file to replace.
    bool inProc = false;
};

// Follows file's symbolic links as the kernel would for this process, one
// directory at a time, each link's text read relative to the directory that
// holds it: a chain the kernel resolves is resolved, however long its texts
// are joined. False, errno set, for a loop (ELOOP), a link the kernel would
// refuse to follow (EACCES) or a directory on the way that cannot be reached.
inline bool resolveLinks(const char* file, Resolved& resolved)
{
    std::string path = file;
    resolved.directory.reset(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int links = 0; resolved.directory.fd >= 0; ++links) {
        const std::size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            // The directories on the way are the kernel's to resolve.
            const std::string way = slash == 0 ? "/" : path.substr(0, slash);
            resolved.directory.reset(::openat(resolved.directory.fd, way.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            path.erase(0, slash + 1);
            if (resolved.directory.fd < 0) {
                return false;
            }
        }
        struct stat status {
        };
        struct statfs system {
        };
        resolved.name = path;
        if (::fstatat(resolved.directory.fd, path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(status.st_mode)) {
            return true;
        }
        if (::fstatfs(resolved.directory.fd, &system) == 0 && system.f_type == PROC_SUPER_MAGIC) {
            resolved.inProc = true;
            return true;
        }
        if (links == 40 || !mayFollow(resolved.directory.fd, status)) {
            errno = links == 40 ? ELOOP : EACCES;
            return false;
        }
        std::string link(static_cast<std::size_t>(status.st_size) + 256, '\0');
        const ssize_t length = ::readlinkat(resolved.directory.fd, path.c_str(), &link[0], link.size());
        if (length < 0) {
            return false;
        }
        link.resize(static_cast<std::size_t>(length));
        path = link;
    }
    return false;
}

// Reads the value of attribute name of fd into value, or with a null
// name the list of its attribute names, each ending in a zero byte.
inline bool readAttribute(int fd, const char* name, std::string& value)
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

// Narrows the owning group's entry of an ACL's value to the others'
// entry. The value is little-endian: a 4-byte version, then entries of a
// 2-byte tag, 2-byte permissions and a 4-byte ID.
inline void narrowOwningGroup(std::string& acl)
{
    constexpr unsigned owningGroup = 0x04;
    constexpr unsigned others = 0x20;
    const auto field = [&acl](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(acl[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(acl[at + 1])) << 8;
    };
    unsigned allowed = 0;
    for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
        allowed = field(at) == others ? field(at + 2) : allowed;
    }
    for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
        if (field(at) == owningGroup) {
            acl[at + 2] = static_cast<char>(field(at + 2) & allowed);
            acl[at + 3] = 0;
        }
    }
}

// Gives to the inode flags of from that say how it is kept and that its
// owner may set: no dump, no access time, synchronous writes, compression,
// no copy on write. Called before anything is written, as a file system
// takes "no copy on write" only for an empty file. A flag the file system
// does not take is left out, as an attribute of security.* is.
inline void keepFlags(int from, int to)
{
    constexpr int kept = FS_NODUMP_FL | FS_NOATIME_FL | FS_SYNC_FL | FS_COMPR_FL | FS_NOCOMP_FL | FS_NOCOW_FL;
    int old = 0;
    int given = 0;
    if (::ioctl(from, FS_IOC_GETFLAGS, &old) == 0 && ::ioctl(to, FS_IOC_GETFLAGS, &given) == 0 &&
        (given & kept) != (old & kept)) {
        given = (given & ~kept) | (old & kept);
        static_cast<void>(::ioctl(to, FS_IOC_SETFLAGS, &given));
    }
}

// Writes to a device, pipe or socket, blocking as an ordinary writer does.
inline bool writeInPlace(int fd, const void* bytes, std::size_t size)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && writeAll(fd, bytes, size);
}

// Whether the descriptor that link (in a /proc/PID/fd directory) names was
// opened for appending, as its fdinfo says.
inline bool appends(const Resolved& link)
{
    const std::string info = "../fdinfo/" + link.name;
    const Descriptor input(::openat(link.directory.fd, info.c_str(), O_RDONLY | O_CLOEXEC));
    std::array<char, 512> text{};
    std::size_t got = 0;
    if (input.fd < 0 || !readFully(input.fd, text.data(), text.size() - 1, got)) {
        return false;
    }
    const char* flags = std::strstr(text.data(), "flags:");
    return flags != nullptr && (std::strtoul(flags + 6, nullptr, 8) & O_APPEND) != 0;
}

// Writes to the open file that link, a link in /proc/PID/fd, names; opened
// is that file, opened for writing through the link. This process's own
// descriptor is written to itself, at its offset or appending as it was
// opened; another process's regular file is appended to when its descriptor
// appends, otherwise truncated and written, as ">" would.
inline bool writeToDescriptor(const Resolved& link, int opened, const struct stat& status, const void* bytes,
                              std::size_t size)
{
    const char* number = link.name.c_str();
    char* end = nullptr;
    const long descriptor = std::strtol(number, &end, 10);
    if (*number < '0' || *number > '9' || *end != '\0' || descriptor > INT32_MAX) {
        return writeInPlace(opened, bytes, size);
    }
    struct stat named {
    };
    struct stat own {
    };
    if (::fstat(link.directory.fd, &named) == 0 &&
        ((::stat("/proc/self/fd", &own) == 0 && sameFile(named, own)) ||
         (::stat("/proc/thread-self/fd", &own) == 0 && sameFile(named, own)))) {
        return writeAll(static_cast<int>(descriptor), bytes, size);
    }
    if (!S_ISREG(status.st_mode)) {
        return writeInPlace(opened, bytes, size);
    }
    return (appends(link) ? ::lseek(opened, 0, SEEK_END) >= 0 : ::ftruncate(opened, 0) == 0) &&
           writeAll(opened, bytes, size);
}

} // namespace paramlist_detail

#endif
