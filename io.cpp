#include "io.h"

#include "diagnostics.h"
#include "input_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

EditLock::EditLock(const char* path, bool create) : descriptor(Parameter::openLocked(path, create, &made))
{
}

EditLock::~EditLock()
{
    if (descriptor >= 0) {
        const int reason = errno;
        ::close(descriptor);
        errno = reason;
    }
}

std::string EditLock::failure(const char* path)
{
    // openLocked's EINVAL: a path such as /dev/stdout, which is written in
    // place, so that the edited file would be appended to what it holds.
    return errno == EINVAL ? diagnostic(std::string(path) +
                                        ": names an open descriptor, which cannot be edited in place; name the file")
                           : errnoDiagnostic(path);
}

bool readWholeFile(int fd, std::vector<unsigned char>& bytes)
{
    struct stat status {
    };
    const off_t size = ::fstat(fd, &status) == 0 ? status.st_size : 0;
    if (size > static_cast<off_t>(editLimit)) {
        errno = EFBIG;
        return false;
    }
    try {
        bytes.resize(std::max(static_cast<std::size_t>(size), Parameter::FileBytes) + 1);
        std::size_t filled = 0;
        for (;;) {
            std::size_t got = 0;
            if (!Parameter::readFully(fd, bytes.data() + filled, bytes.size() - filled, got)) {
                return false;
            }
            filled += got;
            if (filled < bytes.size()) {
                break;
            }
            if (bytes.size() > editLimit) {
                errno = EFBIG;
                return false;
            }
            bytes.resize(2 * bytes.size());
        }
        bytes.resize(filled);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

std::string editRefusal(const char* path, const char* mode)
{
    struct stat status {
    };
    if (isStandardInput(path)) {
        return "standard input cannot be edited in place";
    }
    if (::stat(path, &status) != 0 || S_ISREG(status.st_mode)) {
        return "";
    }
    return S_ISDIR(status.st_mode) ? std::strerror(EISDIR)
                                   : std::string("not a regular file, which ") + mode + " cannot replace";
}
