// EditLock.h: the lock that every program which reads a parameter file,
// changes it and replaces it holds from the read to the replace, so that no
// edit undoes another. paramlist's --set, --merge and --from-json -o take it.
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
// waits for it; when an earlier holder replaced the file while this one
// waited, the file now at the path is opened and locked instead.
//
// With create, a missing file is created empty, which reads as the start
// image, and created is set; removeCreated removes it again after a failed
// replace, so that a failed edit leaves no file behind. A holder killed
// before its first replace of a file it created leaves that file empty.
//
// Errors, -1 with errno set: EINVAL for a null path, or for one that names an
// open descriptor (/dev/stdout, /dev/fd/N, /proc/PID/fd/N), which the replace
// writes to in place, where an edit would be appended to what it holds;
// EISDIR for a directory; otherwise what open and flock say (ENOENT for a
// missing file without create, EACCES for one the process may not read).
#ifndef PARAMLIST_EDIT_LOCK_H
#define PARAMLIST_EDIT_LOCK_H

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystem.h"

namespace paramlist_detail {

class EditLock
{
public:
    // The locked descriptor, for the caller to close after its replace.
    static int open(const char* file, bool create, bool* created = nullptr)
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

    // Removes file when the path still leads to the file that locked holds
    // and it is still empty: what a failed first replace of a created file
    // leaves. A symbolic link that led to it stays. Keeps errno.
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
};

} // namespace paramlist_detail

#endif
