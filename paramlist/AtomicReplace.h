// AtomicReplace.h: how Parameter replaces a file, so that a reader finds the
// old bytes or the new ones whenever the writer stops, never a mix, and the
// file keeps its links, owner, mode and attributes.
//
// Calling sequence: AtomicReplace::replace(file, bytes, size, &replaced,
// locked), as Parameter::replace and Parameter::write call it; create(file,
// bytes, size, &replaced) for a file that must be new. They print nothing,
// throw nothing, and report a failure by returning false with errno set.
//
// What is written. Only a file that this process could open for writing:
// file is opened for writing first, so that the kernel applies its own rules
// (permission bits and ACLs, read-only mounts, fs.protected_symlinks). A
// device or a pipe is written to in place, and so is what a link into
// /proc/PID/fd names (/dev/stdout, /dev/fd/N, /proc/self/fd/N): this
// process's own descriptor N is written to itself, keeping the append mode of
// ">>"; another process's is written as ">>" or ">" would, following its
// append mode. A lease that another process holds on the file (an oplock)
// is waited for, as a plain open waits for it.
//
// A regular file is replaced atomically. The bytes go to an unnamed
// (O_TMPFILE) file in the directory of the file that the path's symbolic
// links lead to, are flushed, and are linked in only when complete: a new
// file straight to its name, an existing one to a hidden name
// ".paramlist-PID-" and 16 random hex digits, renamed over it. Then the
// directory is flushed. Where the unnamed file cannot be made or linked in
// (no O_TMPFILE, no /proc), the hidden file is created with mode 0600,
// written, flushed and renamed. The links are kept; the name gets a new
// inode, so another hard link to the old file keeps the old contents. The new
// file has the old one's owner and group where the process may set them,
// every extended attribute (POSIX ACLs included), the attributes chattr sets
// that say how it is kept (no dump, no access time, synchronous, compressed,
// no copy on write), and its permission bits
// (where the group cannot be kept, the new group may do no more than others
// could: the old group's rights were given to other people); a
// new file gets 0666 less the umask, or what the directory's default ACL
// gives. The symbolic links are followed as the kernel follows them, one
// directory at a time, so that whatever chain the kernel resolves is
// resolved, whatever the length of its texts joined.
//
// Errors, file unchanged: the kernel's refusal to open file for writing
// (EACCES for a read-only file, EROFS, ELOOP, EISDIR for a directory; EINVAL
// for a null path, ENOENT for an empty one); EACCES for a directory the
// process cannot write, even when file itself is writable; EAGAIN when the
// path leads to another file while it is replaced; EPERM for an existing
// file in an append-only directory (chattr +a), which the rename could not
// replace, refused before anything is linked in there; EEXIST from create
// when there is a file at the path; an ACL or a user.* or
// system.* attribute that cannot be kept (a security.* or trusted.* attribute
// that the process may not set, an SELinux label as a user, is left out); a
// write or flush that fails. replaced, if given, says whether file holds the
// new bytes: after a failure it is true only when the directory flush after
// the rename failed, so that the new contents, in place, may not survive a
// power cut. A directory the process may write and search but not read (mode
// 1733) is not flushed, as the system refuses it.
//
// locked: -1, or the descriptor of file's edit lock (EditLock.h). Given, file
// is replaced only while the path still leads to the file the lock holds;
// when another program has renamed a file over the path or repointed a link
// since the lock was taken, the replace fails with EAGAIN, file unchanged, so
// that what was read under the lock never replaces what that program put
// there: read again and retry.
//
// A kill leaves file whole, old or new, and at most one hidden
// ".paramlist-PID-..." file beside it: killed between link and rename, a
// complete copy of the new contents with the file's mode; on the fallback
// path, a file of mode 0600 that may be incomplete. When no process PID runs,
// such a file is debris, safe to remove.
#ifndef PARAMLIST_ATOMIC_REPLACE_H
#define PARAMLIST_ATOMIC_REPLACE_H

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
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "FileSystem.h"

namespace paramlist_detail {

class AtomicReplace
{
public:
    static bool replace(const char* file, const void* bytes, std::size_t size, bool* replaced = nullptr,
                        int locked = -1)
    {
        bool placed = false;
        const bool written = replaceFile(file, bytes, size, placed, locked, false);
        return told(written, placed, replaced);
    }

    // Writes a new file at file as replace would, where nothing is: EEXIST,
    // nothing written, when something is there or appears meanwhile.
    static bool create(const char* file, const void* bytes, std::size_t size, bool* replaced = nullptr)
    {
        bool placed = false;
        const bool written = replaceFile(file, bytes, size, placed, -1, true);
        return told(written, placed, replaced);
    }

private:
    // The directory a file is replaced in, opened from the one its path
    // leads to (a path alone) so that it needs only search and write
    // permission: a directory the process may not read stays a path alone,
    // and then cannot be flushed.
    struct Folder {
        explicit Folder(Descriptor& path)
            : fd(::openat(path.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), flushable(fd.fd >= 0)
        {
            if (fd.fd < 0 && errno == EACCES) {
                fd.fd = path.release();
            }
            path.close();
        }
        bool flush() const { return !flushable || ::fsync(fd.fd) == 0; }
        // In an append-only directory (chattr +a) a name can be added but
        // neither renamed over nor removed: a hidden name linked in for a
        // rename that is then refused would stay for good.
        bool appendOnly() const
        {
            int flags = 0;
            return ::ioctl(fd.fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
        }
        Descriptor fd;
        bool flushable;
    };

    // The file being replaced: its descriptor (-1 for a new file) and status.
    struct Identity {
        int old;
        const struct stat& status;
    };

    // Returns written, having told replaced, if given, whether the file holds the new bytes.
    static bool told(bool written, bool placed, bool* replaced)
    {
        if (replaced != nullptr) {
            *replaced = placed;
        }
        return written;
    }

    static bool replaceFile(const char* file, const void* bytes, std::size_t size, bool& placed, int locked,
                            bool onlyNew)
    {
        if (file == nullptr || *file == '\0') {
            errno = file == nullptr ? EINVAL : ENOENT;
            return false;
        }
        // An edit's file is the regular file it locked; anything else there
        // now is another file, not one to open.
        const Descriptor reached(locked >= 0 ? openRegular(file, O_WRONLY) : openForWriting(file, !onlyNew));
        const int refusal = errno;
        struct stat existing {
        };
        if (reached.fd < 0 && refusal != ENOENT) {
            // Something there that could not be opened (a FIFO without a reader) is there all the same.
            errno = onlyNew && ::stat(file, &existing) == 0 ? EEXIST : refusal;
            return false;
        }
        if (reached.fd >= 0 && ::fstat(reached.fd, &existing) != 0) {
            return false;
        }
        struct stat held {
        };
        if (locked >= 0 && (::fstat(locked, &held) != 0 || reached.fd < 0 || !sameFile(held, existing))) {
            errno = EAGAIN;
            return false;
        }
        Resolved target;
        if ((onlyNew && reached.fd >= 0) || !resolveLinks(file, target)) {
            errno = onlyNew && reached.fd >= 0 ? EEXIST : errno;
            return false;
        }
        if (target.inProc || (reached.fd >= 0 && !S_ISREG(existing.st_mode))) {
            if (reached.fd < 0) {
                errno = refusal;
                return false;
            }
            placed = target.inProc ? writeToDescriptor(target, reached.fd, existing, bytes, size)
                                   : writeInPlace(reached.fd, bytes, size);
            return placed;
        }
        const std::string& name = target.name;
        const Folder folder(target.directory);
        if (folder.fd.fd < 0) {
            return false;
        }
        const bool replacing = reached.fd >= 0;
        struct stat named {
        };
        // The path was followed twice, by the kernel and here: both must
        // reach the same file, or it changed in between.
        if (replacing &&
            (::fstatat(folder.fd.fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(named, existing))) {
            errno = EAGAIN;
            return false;
        }
        // Refused as the rename would be, before any name is linked in.
        const bool addOnly = folder.appendOnly();
        if (replacing && addOnly) {
            errno = EPERM;
            return false;
        }
        const Identity identity{reached.fd, existing};
        const Descriptor unnamed(openUnnamed(folder.fd.fd));
        if (unnamed.fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return false;
        }
        std::string temporary;
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
            if (errno == EEXIST && (onlyNew || addOnly)) {
                errno = onlyNew ? EEXIST : EPERM;
                return false;
            }
            if ((replacing || errno == EEXIST) && linkTemporary(folder.fd.fd, unnamed.fd, temporary)) {
                return renameOver(folder, temporary, name, placed, 0);
            }
            if (errno != ENOENT) {
                return false;
            }
        }
        const Descriptor hidden(addOnly ? -1 : createTemporary(folder.fd.fd, temporary));
        if (hidden.fd < 0) {
            errno = addOnly ? EPERM : errno;
            return false;
        }
        if (!complete(hidden.fd, bytes, size, identity, true)) {
            const int reason = errno;
            ::unlinkat(folder.fd.fd, temporary.c_str(), 0);
            errno = reason;
            return false;
        }
        return renameOver(folder, temporary, name, placed, onlyNew ? RENAME_NOREPLACE : 0);
    }

    // Opens file for writing as a shell's ">>" would, without creating or
    // truncating it, without failing for a lease that another process holds
    // (see openRegular) and, unless toReader, without waiting for a reader
    // of a FIFO.
    static int openForWriting(const char* file, bool toReader)
    {
        for (useconds_t pause = 1000;; pause = std::min<useconds_t>(2 * pause, 50000)) {
            const int fd = ::open(file, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0 || (errno != EWOULDBLOCK && errno != EINTR)) {
                // A FIFO with no reader yet: wait for one, as writing to it would.
                return fd < 0 && errno == ENXIO && toReader ? ::open(file, O_WRONLY | O_NOCTTY | O_CLOEXEC) : fd;
            }
            ::usleep(pause);
        }
    }

    // Writes the bytes to fd, gives it the flags and identity of the file it replaces
    // (a new file on the named path gets the mode a created file would), and
    // flushes it.
    static bool complete(int fd, const void* bytes, std::size_t size, const Identity& identity, bool named)
    {
        if (identity.old >= 0) {
            keepFlags(identity.old, fd);
        }
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

    // Gives the complete unnamed file a hidden name, to be renamed over the target.
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

    // A hidden file that only the owner can open, where there is no unnamed file.
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

    static bool renameOver(const Folder& folder, const std::string& temporary, const std::string& name, bool& placed,
                           unsigned flags)
    {
        // A file system that cannot rename without replacing renames as any other.
        if (::renameat2(folder.fd.fd, temporary.c_str(), folder.fd.fd, name.c_str(), flags) != 0 &&
            (errno != EINVAL || flags == 0 ||
             ::renameat(folder.fd.fd, temporary.c_str(), folder.fd.fd, name.c_str()) != 0)) {
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

    // Owner and group where the process may set them, then every extended
    // attribute, then the permission bits, last because a change of owner
    // clears set-user-ID and set-group-ID, and set so that an ACL's mask stays
    // the old one. A group that cannot be kept is another group of people
    // than the one the old group's permissions were given to: it gets no more
    // than everyone else had, in the group bits or, with an ACL (whose group
    // bits are its mask), in the owning group's entry.
    static bool keepIdentity(int fd, const Identity& identity)
    {
        const bool groupKept = ::fchown(fd, identity.status.st_uid, identity.status.st_gid) == 0 ||
                               ::fchown(fd, static_cast<uid_t>(-1), identity.status.st_gid) == 0;
        bool hasAcl = false;
        mode_t mode = identity.status.st_mode & 07777;
        if (!copyAttributes(identity.old, fd, !groupKept, hasAcl)) {
            return false;
        }
        if (!groupKept && !hasAcl) {
            mode &= ~S_IRWXG | (mode & S_IRWXO) << 3;
        }
        return ::fchmod(fd, mode) == 0;
    }

    // An access ACL that to took from its directory's default ACL is removed
    // when from has none, so that access neither widens nor narrows; hasAcl
    // says whether from has one, narrowed as narrowOwningGroup says when
    // narrowGroup.
    static bool copyAttributes(int from, int to, bool narrowGroup, bool& hasAcl)
    {
        static constexpr const char* aclName = "system.posix_acl_access";
        std::string names;
        if (!readAttribute(from, nullptr, names)) {
            return errno == ENOTSUP;
        }
        std::string value;
        for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
            const char* name = names.c_str() + at;
            const bool isAcl = std::strcmp(name, aclName) == 0;
            hasAcl = hasAcl || isAcl;
            if (!readAttribute(from, name, value)) {
                if (errno == ENODATA) {
                    continue;
                }
                return false;
            }
            if (isAcl && narrowGroup) {
                narrowOwningGroup(value);
            }
            if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0 && std::strncmp(name, "security.", 9) != 0 &&
                std::strncmp(name, "trusted.", 8) != 0) {
                return false;
            }
        }
        return hasAcl || ::fremovexattr(to, aclName) == 0 || errno == ENODATA || errno == ENOTSUP;
    }
};

} // namespace paramlist_detail

#endif
