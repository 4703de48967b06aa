// EditLock.h: the lock that every program which reads a parameter file,
// changes it and replaces it holds from the read to the replace, so that no
// edit undoes another. Every mode of paramlist that writes a file takes it.
//
// Calling sequence, through Parameter's forwarders:
//
//   bool created = false;
//   int fd = Parameter::openLocked(path, create, &created); // waits for the lock
//   ... read the file from fd, change its bytes ...
//   bool replaced = false;
//   if (!Parameter::replace(path, bytes, size, &replaced, fd) && !replaced && created)
//       Parameter::removeCreated(path, fd);
//   close(fd);
//
// and when the replace failed with EAGAIN (another program renamed a file
// over the path or repointed its link since the lock was taken), start again
// from openLocked: the file now at the path is another.
//
// The lock is flock's exclusive lock on a descriptor open for reading the
// file, so it ends when the descriptor is closed or its holder dies: no stale
// lock can block anyone, and a kill leaves nothing to clean up. openLocked
// waits for it, as long as it takes unless told how long (wait); when an
// earlier holder replaced the file while this one waited, the file now at
// the path is opened and locked instead. What the path leads to is looked at
// before each open: anything but a regular file (a FIFO, a device, swapped in
// while this one waited too) is opened as a path alone (O_PATH), never for
// reading, and returned unlocked, for the caller to tell by fstat and refuse.
// A lease that another process holds (an oplock) is waited for, as a plain
// open waits for it.
//
// With create, a missing file is created empty, which reads as the start
// image, and created is set; removeCreated removes it again after a failed
// replace, so that a failed edit leaves no file behind. A holder killed
// before its first replace of a file it created leaves that file empty.
//
// Errors, -1 with errno set: EINVAL for a null path, or for one that names an
// open descriptor (/dev/stdout, /dev/fd/N, /proc/PID/fd/N), which the replace
// writes to in place, where an edit would be appended to what it holds;
// EISDIR for a directory; EWOULDBLOCK when another still held the lock after
// wait.seconds; otherwise what open and flock say (ENOENT for a missing file
// without create, EACCES for one the process may not read).
#ifndef PARAMLIST_EDIT_LOCK_H
#define PARAMLIST_EDIT_LOCK_H

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "FileSystem.h"

namespace paramlist_detail {

// How long to wait for a lock that another holds, and what to say meanwhile.
struct LockWait {
    // Seconds at most; negative: as long as it takes.
    double seconds = -1;
    // Called once, after a second of waiting, with the process that holds
    // the lock (holder's result).
    std::function<void(long holder)> waiting;
};

class EditLock
{
public:
    // The locked descriptor, for the caller to close after its replace.
    static int open(const char* file, bool create, bool* created = nullptr, const LockWait& wait = LockWait())
    {
        if (file == nullptr) {
            errno = EINVAL;
            return -1;
        }
        const auto start = std::chrono::steady_clock::now();
        bool told = false;
        for (;;) {
            Resolved target;
            if (resolveLinks(file, target) && target.inProc) {
                errno = EINVAL;
                return -1;
            }
            Descriptor locked(openRegular(file, O_RDONLY));
            bool made = false;
            if (locked.fd < 0 && errno == ENOENT && create) {
                locked.fd = ::open(file, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_CREAT, 0666);
                made = locked.fd >= 0;
            }
            if (locked.fd < 0 || isDirectory(locked.fd)) {
                return -1;
            }
            struct stat held {
            };
            struct stat named {
            };
            if (isRegular(locked.fd) && !takeLock(locked.fd, start, wait, told)) {
                return -1;
            }
            if (::fstat(locked.fd, &held) != 0) {
                return -1;
            }
            if (!S_ISREG(held.st_mode) || (::stat(file, &named) == 0 && sameFile(named, held))) {
                if (created != nullptr) {
                    *created = made;
                }
                return locked.release();
            }
        }
    }

    // Removes file when the path still leads to the file that locked holds
    // and it is still empty: what a failed first replace of a created file
    // leaves. A symbolic link that led to it stays. Keeps errno.
    static void removeCreated(const char* file, int locked)
    {
        const int reason = errno;
        Resolved target;
        struct stat held {
        };
        struct stat named {
        };
        if (resolveLinks(file, target) && !target.inProc && ::fstat(locked, &held) == 0 && held.st_size == 0 &&
            ::fstatat(target.directory.fd, target.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(named, held)) {
            ::unlinkat(target.directory.fd, target.name.c_str(), 0);
        }
        errno = reason;
    }

    // The process that holds a lock on the file of status, as /proc/locks
    // names it; 0 where it cannot be told (no /proc, a holder in another PID
    // namespace, a file system whose device /proc/locks names otherwise).
    static long holder(const struct stat& status)
    {
        const Descriptor locks(::open("/proc/locks", O_RDONLY | O_CLOEXEC));
        if (locks.fd < 0) {
            return 0;
        }
        std::string text;
        for (std::size_t got = 1; got > 0;) {
            char chunk[4096];
            if (!readFully(locks.fd, chunk, sizeof chunk, got)) {
                return 0;
            }
            text.append(chunk, got);
        }
        // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:5678 0 EOF"; a waiter's line has "->".
        char file[64];
        std::snprintf(file, sizeof file, " %02x:%02x:%llu ", major(status.st_dev), minor(status.st_dev),
                      static_cast<unsigned long long>(status.st_ino));
        for (std::size_t at = text.find(file); at != std::string::npos; at = text.find(file, at + 1)) {
            const std::size_t line = text.rfind('\n', at) + 1;
            const std::string start = text.substr(line, at - line);
            const std::size_t pid = start.rfind(' ');
            if (start.find("FLOCK") != std::string::npos && start.find("->") == std::string::npos &&
                pid != std::string::npos) {
                return std::strtol(start.c_str() + pid + 1, nullptr, 10);
            }
        }
        return 0;
    }

private:
    // Takes the lock on fd, polling, with pauses that grow to a tenth of a
    // second, so that the wait can end (wait.seconds) and be told of (told:
    // whether it has been). EWOULDBLOCK: still held when the time was up.
    static bool takeLock(int fd, std::chrono::steady_clock::time_point start, const LockWait& wait, bool& told)
    {
        for (useconds_t pause = 1000;; pause = std::min<useconds_t>(2 * pause, 100000)) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                return true;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return false;
            }
            const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (wait.seconds >= 0 && waited >= wait.seconds) {
                errno = EWOULDBLOCK;
                return false;
            }
            struct stat status {
            };
            if (!told && waited >= 1 && wait.waiting && ::fstat(fd, &status) == 0) {
                told = true;
                wait.waiting(holder(status));
            }
            const double left = wait.seconds >= 0 ? wait.seconds - waited : 1;
            ::usleep(static_cast<useconds_t>(std::min<double>(pause, left * 1e6 + 1)));
        }
    }
};

} // namespace paramlist_detail

#endif
