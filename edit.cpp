// The edit transaction of edit.h: each step, how it fails, and why it starts again.
#include "edit.h"

#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "input_files.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The most bytes an edit reads of a file, whose bytes past the image it
// keeps: far more than any parameter file holds, and within what memory can
// hold for the copy.
constexpr std::size_t editLimit = std::size_t{1} << 30;

// A path that another program makes lead to another file between the lock
// and the replace starts the edit again; this many times at most.
constexpr int attempts = 100;

// The edit lock of a file (Parameter::openLocked), held while it lives.
class HeldLock
{
public:
    HeldLock(const char* path, const EditSettings& settings)
    {
        struct stat status {
        };
        // Opening a FIFO to lock it would wait for a writer; a write that
        // does not read the file goes ahead unlocked where it cannot lock.
        if (settings.readsFile || (::stat(path, &status) == 0 && S_ISREG(status.st_mode))) {
            descriptor = Parameter::openLocked(path, settings.create, &made);
        }
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    ~HeldLock()
    {
        if (descriptor >= 0) {
            const int reason = errno;
            ::close(descriptor);
            errno = reason;
        }
    }
    // The locked descriptor, or -1 with errno set.
    int fd() const { return descriptor; }
    bool created() const { return made; }

private:
    int descriptor = -1;
    bool made = false;
};

// The diagnostic for a lock that could not be taken, from errno.
std::string lockFailure(const char* path)
{
    // openLocked's EINVAL: a path such as /dev/stdout, which is written in
    // place, so that the edited file would be appended to what it holds.
    return errno == EINVAL ? diagnostic(std::string(path) +
                                        ": names an open descriptor, which cannot be edited in place; name the file")
                           : errnoDiagnostic(path);
}

// Reads all that fd holds, the image and whatever follows it: the file is
// copied whole into its replacement. A file larger than editLimit fails with
// EFBIG before anything is read, one that memory cannot hold with ENOMEM.
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

} // namespace

std::string editRefusal(const char* path, const char* option)
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
                                   : std::string("not a regular file, which ") + option + " cannot replace";
}

EditResult editFile(const char* path, const EditSettings& settings, const ChangeFunction& change,
                    std::string& diagnostics)
{
    const std::string refusal = settings.readsFile ? editRefusal(path, settings.option) : "";
    if (!refusal.empty()) {
        diagnostics += diagnostic(std::string(path) + ": " + refusal);
        return EditResult::Failed;
    }
    for (int attempt = 1;; ++attempt) {
        const HeldLock lock(path, settings);
        std::vector<unsigned char> bytes;
        bool completed = false;
        if (settings.readsFile) {
            if (lock.fd() < 0) {
                diagnostics += lockFailure(path);
                return EditResult::Failed;
            }
            if (!readWholeFile(lock.fd(), bytes)) {
                diagnostics += errnoDiagnostic(path);
                return EditResult::Failed;
            }
            // A short file reads as if completed with zeros; the edit makes that so.
            completed = bytes.size() < Parameter::FileBytes;
            bytes.resize(std::max(bytes.size(), Parameter::FileBytes), 0);
        }
        if (change(bytes) == Change::None && !completed) {
            return EditResult::Unchanged;
        }
        bool replaced = false;
        if (Parameter::replace(path, bytes.data(), bytes.size(), &replaced, lock.fd())) {
            return EditResult::Replaced;
        }
        if (!replaced && lock.created()) {
            Parameter::removeCreated(path, lock.fd());
        }
        if (errno == EAGAIN && !replaced && attempt < attempts) {
            continue;
        }
        const std::string reason = std::strerror(errno);
        diagnostics +=
            diagnostic(std::string(path) + ": " + (replaced ? settings.notFlushed + (": " + reason) : reason));
        return replaced ? EditResult::NotFlushed : EditResult::Failed;
    }
}

EditCount editSideBySide(FileNames& names, const FileEdit& edit)
{
    constexpr std::size_t runFiles = 16;
    constexpr std::size_t runsAtOnce = 16;
    struct Run {
        std::string diagnostics;
        EditCount count;
    };
    const auto editRun = [&edit](const std::shared_ptr<const NameBatch>& files) {
        Run run;
        auto refusal = files->refusals.begin();
        for (const char* file : files->names) {
            if (file == nullptr) {
                run.diagnostics += *refusal++;
            } else if (edit(file, run.diagnostics)) {
                ++run.count.edited;
            }
        }
        run.count.files = files->names.size();
        return run;
    };
    std::deque<std::future<Run>> pending;
    EditCount count;
    for (bool more = true; more || !pending.empty();) {
        if (more) {
            // Each run owns its names: the next run's are read meanwhile.
            const auto run = std::make_shared<NameBatch>();
            more = names.next(runFiles, *run);
            if (more) {
                // Either policy: where no thread can be started, the run is edited when it is waited for.
                pending.push_back(std::async(std::launch::async | std::launch::deferred, editRun, run));
            }
        }
        if (!pending.empty() && (pending.size() == runsAtOnce || !more)) {
            const Run run = pending.front().get();
            pending.pop_front();
            std::fwrite(run.diagnostics.data(), 1, run.diagnostics.size(), stderr);
            count.files += run.count.files;
            count.edited += run.count.edited;
        }
    }
    return count;
}
