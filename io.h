#ifndef PARAMLIST_IO_H
#define PARAMLIST_IO_H

#include "Parameter.h"

#include <cstddef>
#include <string>
#include <vector>

// The edit lock of a file (Parameter::openLocked), held while it lives: by
// every mode that replaces a file that an edit may have read.
class EditLock
{
public:
    EditLock(const char* path, bool create);
    EditLock(const EditLock&) = delete;
    EditLock& operator=(const EditLock&) = delete;
    ~EditLock();
    // The locked descriptor, or -1 with errno set.
    int fd() const { return descriptor; }
    // Whether taking the lock created the file.
    bool created() const { return made; }
    // The diagnostic for a lock that could not be taken, from errno.
    static std::string failure(const char* path);

private:
    bool made = false;
    int descriptor;
};

// The most bytes an edit (--set, --merge) reads of a file, whose bytes past
// the image it keeps: far more than any parameter file holds, and within what
// memory can hold for the copy.
constexpr std::size_t editLimit = std::size_t{1} << 30;

// Reads all that fd holds, the image and whatever follows it, for an edit
// that keeps every byte: the file is copied whole into its replacement. A
// file larger than editLimit fails with EFBIG before anything is read, one
// that memory cannot hold with ENOMEM.
bool readWholeFile(int fd, std::vector<unsigned char>& bytes);

// Why path cannot be edited in place by mode (--set, --merge), or "" when it
// may be: standard input and anything but a regular file (a pipe would block
// the open, a device would be written to, not replaced).
std::string editRefusal(const char* path, const char* mode);

#endif
