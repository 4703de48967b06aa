// FileSystem.h: the file-system steps that the record (Parameter.h), its
// atomic replace (AtomicReplace.h) and its edit lock (EditLock.h) share: a
// descriptor's owner, whole reads and writes, a file told by its identity,
// and a path's symbolic links followed as the kernel follows them.
#ifndef PARAMLIST_FILE_SYSTEM_H
#define PARAMLIST_FILE_SYSTEM_H

#include <cerrno>
#include <cstddef>
#include <string>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

// Whether the kernel lets this process follow link, a symbolic link in
// directory. With fs.protected_symlinks set, a link in a sticky
// world-writable directory is followed only by the link's owner, or when
// the directory's owner owns the link too. The setting is read only for
// such a link, and taken as set when it cannot be read.
inline bool mayFollow(const char* directory, const struct stat& link)
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

// Follows file's chain of symbolic links as the kernel would for this
// process; target receives the path it leads to, which need not exist.
// Stops at a link that lives in /proc, which names an open descriptor
// (descriptorLink) or another object of the process, never a file to
// replace.
inline bool followLinks(const char* file, std::string& target, bool& descriptorLink)
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
} // namespace paramlist_detail

#endif
