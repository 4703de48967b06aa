// The edit transaction of edit_transaction.h: each step, how it fails, and why it starts again.
#include "edit_transaction.h"

#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "input_files.h"
#include "paramlist/AtomicReplace.h"
#include "paramlist/EditLock.h"
#include "schema.h"

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

// The most descriptors an edit holds at once: the lock, the file opened for
// writing, its directory, the new file, and one read on the way.
constexpr int editDescriptors = 5;

// The edit lock of a file (EditLock.h), held while it lives.
class HeldLock
{
public:
    HeldLock(const char* path, const EditSettings& settings, const paramlist_detail::LockWait& wait)
    {
        struct stat status {
        };
        // A write that does not read the file goes ahead unlocked where it
        // cannot lock: where there is no regular file it may read.
        if (settings.readsFile || (::stat(path, &status) == 0 && S_ISREG(status.st_mode))) {
            descriptor = paramlist_detail::EditLock::open(path, false, nullptr, wait);
            failure = descriptor < 0 ? errno : 0;
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
    // The descriptor, or -1: locked when it is a regular file's, otherwise a
    // path alone (a FIFO or device swapped in).
    int fd() const { return descriptor; }
    // Why the lock could not be taken (errno), or 0 when it was, or not tried.
    int error() const { return failure; }
    // The descriptor when it holds the lock of a regular file, or -1.
    int locked() const { return descriptor >= 0 && paramlist_detail::isRegular(descriptor) ? descriptor : -1; }

private:
    int descriptor = -1;
    int failure = 0;
};

// " held by process N", or "" where the holder cannot be told.
std::string heldBy(long holder)
{
    return holder > 0 ? ", held by process " + std::to_string(holder) : "";
}

// Whether the file fd is open on holds bytes and nothing else, which is
// then not written again.
bool holdsAlready(int fd, const std::vector<unsigned char>& bytes)
{
    struct stat status {
    };
    if (fd < 0 || ::fstat(fd, &status) != 0 || static_cast<std::size_t>(status.st_size) != bytes.size()) {
        return false;
    }
    std::vector<unsigned char> held(bytes.size() + 1);
    std::size_t got = 0;
    return ::lseek(fd, 0, SEEK_SET) == 0 && Parameter::readFully(fd, held.data(), held.size(), got) &&
           got == bytes.size() && std::equal(bytes.begin(), bytes.end(), held.begin());
}

// Whether path leads to another file than the one locked holds: what an
// EAGAIN of the replace means, and the only reason to start again.
bool pathChanged(const char* path, int locked)
{
    struct stat named {
    };
    struct stat held {
    };
    return locked < 0 || ::fstat(locked, &held) != 0 || ::stat(path, &named) != 0 ||
           !paramlist_detail::sameFile(named, held);
}

// A path such as /dev/stdout, which is written in place, so that the edited
// file would be appended to what it holds: openLocked's EINVAL.
std::string namesADescriptor(const char* path)
{
    return diagnostic(std::string(path) + ": names an open descriptor, which cannot be edited in place; name the file");
}

// The diagnostic for a lock that could not be taken, from errno.
std::string lockFailure(const char* path)
{
    return errno == EINVAL ? namesADescriptor(path) : errnoDiagnostic(path);
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

std::string notRegular(const char* option)
{
    return std::string("not a regular file, which ") + option + " cannot replace";
}

// Reads the locked file whole into bytes, completed with zeros to the
// image (completed: whether it was short). The diagnostic for a file that
// cannot be edited; "" when it can. The refusal of its length goes to
// misfit, for the caller to give when the change changes the file.
std::string readLocked(const HeldLock& lock, const char* path, const EditSettings& settings,
                       std::vector<unsigned char>& bytes, bool& completed, std::string& misfit)
{
    if (lock.fd() < 0) {
        errno = lock.error();
        return lockFailure(path);
    }
    // What the path led to when the lock was free, which may not be what the first refusal saw.
    if (lock.locked() < 0) {
        return diagnostic(std::string(path) + ": " + notRegular(settings.option));
    }
    if (!readWholeFile(lock.fd(), bytes)) {
        return errnoDiagnostic(path);
    }
    const std::string refusal = sizeRefusal(bytes.size(), settings.force);
    misfit = refusal.empty() ? "" : diagnostic(std::string(path) + ": " + refusal);
    completed = bytes.size() < Parameter::FileBytes;
    bytes.resize(std::max(bytes.size(), Parameter::FileBytes), 0);
    return "";
}

// The diagnostic for a file whose lock another still held after seconds.
std::string gaveUp(const char* path, double seconds)
{
    struct stat status {
    };
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", seconds);
    return diagnostic(std::string(path) + ": gave up waiting for the edit lock" +
                      heldBy(::stat(path, &status) == 0 ? paramlist_detail::EditLock::holder(status) : 0) +
                      " (--wait=" + shown + ")");
}

} // namespace

std::string sizeRefusal(std::size_t bytes, bool force)
{
    if (bytes == Parameter::FileBytes || force) {
        return "";
    }
    return "not a parameter file (" + std::to_string(bytes) + " bytes, not " + std::to_string(Parameter::FileBytes) +
           "); --force edits it anyway";
}

std::string schemaRefusal(const char* path, const EditSettings& settings, const unsigned char* before,
                          const unsigned char* after)
{
    if (settings.force || settings.schema == nullptr) {
        return "";
    }
    Parameter was;
    was.fromImage(before);
    Parameter now;
    now.fromImage(after);
    std::string refusals;
    for (const EntryDescription& description : settings.schema->described()) {
        const Entry entry = description.entry;
        if (sameEntry(was, now, entry.table, entry.index)) {
            continue;
        }
        for (const SchemaFinding& finding : checkValue(description, entryValueIn(after, entry))) {
            refusals += diagnostic(std::string(path) + ": " + refusalMessage(finding, *settings.schema) +
                                   "; --force sets it anyway");
        }
    }
    return refusals;
}

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
    return S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : notRegular(option);
}

std::string readForEdit(const char* file, const EditSettings& settings, Parameter& record, std::size_t* length,
                        std::string* misfit, bool* missing)
{
    std::string refusal = editRefusal(file, settings.option);
    if (!refusal.empty()) {
        return diagnostic(std::string(file) + ": " + refusal);
    }
    // What the lock refuses, which the edit's own first look leaves to it.
    paramlist_detail::Resolved target;
    if (paramlist_detail::resolveLinks(file, target) && target.inProc) {
        return namesADescriptor(file);
    }
    const InputFile input(file);
    struct stat status {
    };
    if (input.fd() < 0 && settings.create && errno == ENOENT) {
        if (missing != nullptr) {
            *missing = true;
        }
        return "";
    }
    if (input.fd() < 0 || ::fstat(input.fd(), &status) != 0 || !record.readFrom(input.fd(), length)) {
        return errnoDiagnostic(file);
    }
    refusal = sizeRefusal(static_cast<std::size_t>(status.st_size), settings.force);
    refusal = refusal.empty() ? "" : diagnostic(std::string(file) + ": " + refusal);
    if (misfit != nullptr) {
        *misfit = refusal;
        return "";
    }
    return refusal;
}

namespace {

EditResult editInPlace(const char* path, const EditSettings& settings, const ChangeFunction& change,
                       std::string& diagnostics)
{
    const std::string refusal = settings.readsFile ? editRefusal(path, settings.option) : "";
    if (!refusal.empty()) {
        diagnostics += diagnostic(std::string(path) + ": " + refusal);
        return EditResult::Failed;
    }
    paramlist_detail::LockWait wait;
    wait.seconds = settings.wait;
    // Said as it happens, not in file order: it is about now.
    wait.waiting = [path](long holder) { reportError(path, "waiting for the edit lock" + heldBy(holder)); };
    for (int attempt = 1;; ++attempt) {
        const HeldLock lock(path, settings, wait);
        if (lock.error() == EWOULDBLOCK) {
            diagnostics += gaveUp(path, settings.wait);
            return EditResult::Failed;
        }
        std::vector<unsigned char> bytes;
        bool replaced = false;
        bool written = false;
        if (settings.readsFile && settings.create && lock.error() == ENOENT) {
            bytes.assign(Parameter::FileBytes, 0);
            // A change that makes none (a conflict) creates nothing either.
            if (change(bytes) == Change::None) {
                return EditResult::Unchanged;
            }
            const std::string refused = schemaRefusal(path, settings, Parameter::Image{}.data(), bytes.data());
            if (!refused.empty()) {
                diagnostics += refused;
                return EditResult::Failed;
            }
            written = paramlist_detail::AtomicReplace::create(path, bytes.data(), bytes.size(), &replaced);
            // A file made meanwhile is edited as any other.
            if (!written && errno == EEXIST && attempt < attempts) {
                continue;
            }
        } else {
            bool completed = false;
            std::string misfit;
            const std::string problem =
                settings.readsFile ? readLocked(lock, path, settings, bytes, completed, misfit) : "";
            if (!problem.empty() || (!misfit.empty() && !settings.leaveAlike)) {
                diagnostics += problem.empty() ? misfit : problem;
                return EditResult::Failed;
            }
            const std::vector<unsigned char> before = bytes;
            const bool none = change(bytes) == Change::None ||
                              (settings.readsFile ? bytes == before : holdsAlready(lock.locked(), bytes));
            if (none && (!completed || settings.leaveAlike)) {
                return EditResult::Unchanged;
            }
            const std::string refused = misfit.empty() && settings.readsFile
                                            ? schemaRefusal(path, settings, before.data(), bytes.data())
                                            : misfit;
            if (!refused.empty()) {
                diagnostics += refused;
                return EditResult::Failed;
            }
            written = Parameter::replace(path, bytes.data(), bytes.size(), &replaced, lock.locked());
            if (!written && errno == EAGAIN && !replaced && attempt < attempts && pathChanged(path, lock.locked())) {
                continue;
            }
        }
        if (written) {
            return EditResult::Replaced;
        }
        const std::string reason = std::strerror(errno);
        diagnostics +=
            diagnostic(std::string(path) + ": " + (replaced ? settings.notFlushed + (": " + reason) : reason));
        return replaced ? EditResult::NotFlushed : EditResult::Failed;
    }
}

} // namespace

EditResult editFile(const char* path, const EditSettings& settings, const ChangeFunction& change,
                    std::string& diagnostics)
{
    try {
        return editInPlace(path, settings, change, diagnostics);
    } catch (const std::bad_alloc&) {
        // A large file is held twice while it is changed: one that memory
        // cannot hold fails alone, before anything is written, not the run.
        errno = ENOMEM;
        diagnostics += errnoDiagnostic(path);
        return EditResult::Failed;
    }
}

EditCount editSideBySide(FileNames& names, const FileEdit& edit)
{
    constexpr std::size_t runFiles = 16;
    // No more than the descriptor limit leaves room for.
    const auto runsAtOnce = static_cast<std::size_t>(sideBySide(16, editDescriptors));
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
