// The names of a mode's files, and the modes' runs over what the files hold.
#include "batches.h"

#include "Parameter.h"
#include "diagnostics.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A list is read in blocks of this many bytes: a few thousand names at once.
constexpr std::size_t listBlock = std::size_t{64} * 1024;

// The longest path that open takes, without its ending zero.
constexpr std::size_t longestName = PATH_MAX - 1;

// A batch of files read for runOverContents: a diagnostic for each name that
// could not be read, "" for one that was.
struct ReadBatch {
    NameBatch names;
    std::vector<FileContents> contents;
    std::vector<std::string> failures;
};

void readBatch(ReadBatch& batch, const FileReads& reads)
{
    const std::size_t count = batch.names.names.size();
    batch.contents.resize(count);
    batch.failures.assign(count, std::string());
    auto refusal = batch.names.refusals.begin();
    for (std::size_t k = 0; k < count; ++k) {
        const char* name = batch.names.names[k];
        if (name == nullptr) {
            batch.failures[k] = *refusal++;
            continue;
        }
        batch.contents[k] = FileContents();
        if (!reads.read(name, batch.contents[k])) {
            batch.failures[k] = errnoDiagnostic(name);
        }
    }
}

} // namespace

FileNames::FileNames(const char* list, char* const* operands, int count)
    : operands(operands), remaining(count), listPath(list)
{
    if (list == nullptr) {
        return;
    }
    this->list.emplace(list);
    if (this->list->fd() < 0) {
        openFailure = errnoDiagnostic(list);
    }
    buffer.resize(listBlock);
}

bool FileNames::readName(std::string& to)
{
    const std::size_t start = to.size();
    for (;;) {
        const char* const first = buffer.data() + begin;
        const char* const last = buffer.data() + end;
        const char* const zero = std::find(first, last, '\0');
        if (to.size() - start + static_cast<std::size_t>(zero - first) > longestName) {
            overlong = true;
            listEnded = true;
            begin = end = 0;
            to.resize(start);
            return false;
        }
        to.append(first, zero);
        if (zero != last) {
            begin = static_cast<std::size_t>(zero + 1 - buffer.data());
            return true;
        }
        begin = end = 0;
        if (listEnded) {
            return to.size() > start;
        }
        const ssize_t got = ::read(list->fd(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            // What came before a read error is no whole name.
            readError = errno;
            listEnded = true;
            to.resize(start);
            return false;
        }
        listEnded = got == 0;
        end = static_cast<std::size_t>(got);
    }
}

bool FileNames::next(std::size_t most, NameBatch& batch)
{
    batch.names.clear();
    batch.refusals.clear();
    batch.bytes.clear();
    if (!list) {
        const int taken = static_cast<int>(std::min<std::size_t>(most, static_cast<std::size_t>(remaining)));
        batch.names.assign(operands, operands + taken);
        operands += taken;
        remaining -= taken;
        return taken > 0;
    }
    // Where each name starts in bytes, or npos for one refused: the
    // pointers are made once bytes has stopped growing.
    std::vector<std::size_t> starts;
    const bool fromStandardInput = isStandardInput(listPath);
    while (starts.size() < most && openFailure.empty()) {
        const std::size_t start = batch.bytes.size();
        if (!readName(batch.bytes)) {
            if (readError != 0) {
                batch.refusals.push_back(diagnostic(std::string(listPath) + ": " + std::strerror(readError)));
                starts.push_back(std::string::npos);
                readError = 0;
            }
            if (overlong) {
                batch.refusals.push_back(diagnostic(std::string(listPath) + ":" + std::to_string(number + 1) + ": " +
                                                    std::strerror(ENAMETOOLONG) + " (more than " +
                                                    std::to_string(longestName) +
                                                    " bytes before a zero byte); the list is read no further"));
                starts.push_back(std::string::npos);
                overlong = false;
            }
            break;
        }
        ++number;
        const std::string_view name(batch.bytes.data() + start, batch.bytes.size() - start);
        const char* refusal = name.empty()                       ? "invalid zero-length file name"
                              : fromStandardInput && name == "-" ? "when reading file names from standard input, no "
                                                                   "file name of '-' allowed"
                                                                 : nullptr;
        if (refusal != nullptr) {
            batch.refusals.push_back(diagnostic(std::string(listPath) + ":" + std::to_string(number) + ": " + refusal));
            batch.bytes.resize(start);
            starts.push_back(std::string::npos);
            continue;
        }
        batch.bytes += '\0';
        starts.push_back(start);
    }
    for (const std::size_t start : starts) {
        batch.names.push_back(start == std::string::npos ? nullptr : &batch.bytes[start]);
    }
    return !starts.empty();
}

char* Batch::reserveTail(std::size_t most)
{
    // The bytes are zeroed only when the buffer grows, which stops once it
    // holds a batch: batches keep their buffers.
    if (tailBuffer.size() - tailLength < most) {
        tailBuffer.resize(std::max(2 * tailBuffer.size(), tailLength + most));
    }
    return tailBuffer.data() + tailLength;
}

int runOverReads(FileNames& names, const FileReads& reads, const ReadWork& work, int unreadStatus)
{
    const auto readEach = [&](Batch& batch, char* const* files, int count) {
        FileContents contents;
        for (int k = 0; k < count; ++k) {
            const std::size_t out = batch.out.size();
            const std::size_t tail = batch.tailLength;
            const std::size_t diagnostics = batch.diagnostics.size();
            try {
                if (reads.read(files[k], contents)) {
                    work(batch, files[k], contents);
                    continue;
                }
            } catch (const std::bad_alloc&) {
                batch.out.resize(out);
                batch.tailLength = tail;
                batch.diagnostics.resize(diagnostics);
                errno = ENOMEM;
            }
            batch.diagnostics += errnoDiagnostic(files[k]);
            batch.status = std::max(batch.status, unreadStatus);
        }
    };
    return runInBatches(names, readEach, unreadStatus);
}

int runOverRecords(FileNames& names, const FileReads& reads, bool force, const RecordWork& work, int unreadStatus)
{
    const bool terminal = isTerminal(STDERR_FILENO);
    return runOverReads(
        names, reads,
        [&](Batch& batch, const char* file, const FileContents& contents) {
            Parameter record;
            record.fromImage(contents.image());
            if (!force && !contents.isParameterFile()) {
                batch.diagnostics += diagnostic(std::string(file) + ": " + notParameterFile(contents), terminal);
                batch.status = std::max(batch.status, unreadStatus);
            }
            work(batch, file, contents.held, record);
        },
        unreadStatus);
}

int runOverRecords(FileNames& names, const Request& request, const RecordWork& work)
{
    const FileReads reads(request.operands, request.count, names.listed());
    return runOverRecords(names, reads, request.force, work, 1);
}

namespace {

// The batches of runOverContents, read by one thread a few ahead of the
// one that works on them: a thread started for each batch would start late
// on a busy machine, and the work wait for it.
class ReadAhead
{
public:
    static constexpr std::size_t ahead = 4;

    ReadAhead(FileNames& names, const FileReads& reads) : names(names), reads(reads) {}
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    // A reader still at work is stopped, as when the work ran out of memory.
    ~ReadAhead()
    {
        {
            const std::lock_guard<std::mutex> held(lock);
            stopped = true;
        }
        changed.notify_all();
        if (reader.joinable()) {
            reader.join();
        }
    }

    // Starts the reading thread; false where none can be started.
    bool start()
    {
        try {
            reader = std::thread(&ReadAhead::readAll, this);
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // The next batch, once read, or nullptr after the last; the one before
    // it is done with.
    ReadBatch* next()
    {
        std::unique_lock<std::mutex> held(lock);
        if (taken > 0) {
            ++done;
            changed.notify_all();
        }
        changed.wait(held, [this] { return read > taken || ended; });
        if (read == taken && failure) {
            std::rethrow_exception(failure);
        }
        return read > taken ? &ring[taken++ % ahead] : nullptr;
    }

private:
    void readAll()
    {
        for (std::size_t k = 0;; ++k) {
            {
                std::unique_lock<std::mutex> held(lock);
                changed.wait(held, [this, k] { return stopped || k - done < ahead; });
                if (stopped) {
                    return;
                }
            }
            bool more = false;
            std::exception_ptr thrown;
            try {
                ReadBatch& batch = ring[k % ahead];
                more = names.next(batchFiles, batch.names);
                if (more) {
                    readBatch(batch, reads);
                }
            } catch (...) {
                thrown = std::current_exception();
                more = false;
            }
            {
                const std::lock_guard<std::mutex> held(lock);
                read += more ? 1 : 0;
                ended = !more;
                failure = thrown;
            }
            changed.notify_all();
            if (!more) {
                return;
            }
        }
    }

    FileNames& names;
    const FileReads& reads;
    std::array<ReadBatch, ahead> ring;
    std::mutex lock;
    std::condition_variable changed;
    // Batches read, handed to the work, and done with.
    std::size_t read = 0;
    std::size_t taken = 0;
    std::size_t done = 0;
    bool ended = false;
    bool stopped = false;
    // What ended the reading, when it failed, for the work's thread to throw.
    std::exception_ptr failure;
    std::thread reader;
};

} // namespace

int runOverContents(FileNames& names, const FileReads& reads, const ContentsWork& work, int unreadStatus)
{
    if (!names.failure().empty()) {
        std::fputs(names.failure().c_str(), stderr);
        return troubleStatus;
    }
    int status = 0;
    const auto workOn = [&](const ReadBatch& batch) {
        for (std::size_t k = 0; k < batch.failures.size(); ++k) {
            if (batch.failures[k].empty()) {
                work(batch.names.names[k], batch.contents[k]);
            } else {
                std::fputs(batch.failures[k].c_str(), stderr);
                status = std::max(status, unreadStatus);
            }
        }
    };
    ReadAhead ahead(names, reads);
    if (sideBySide(2, 2) == 2 && ahead.start()) {
        while (const ReadBatch* batch = ahead.next()) {
            workOn(*batch);
        }
        return status;
    }
    // Where no thread can be started, each batch is read, then worked on.
    ReadBatch batch;
    while (names.next(batchFiles, batch.names)) {
        readBatch(batch, reads);
        workOn(batch);
    }
    return status;
}

int sideBySide(int wanted, int descriptorsEach)
{
    rlimit limit{};
    // Far more than wanted needs, as limits usually are: nothing to count.
    constexpr rlim_t plenty = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= plenty) {
        return wanted;
    }
    int free = 0;
    for (int fd = 0; fd < static_cast<int>(limit.rlim_cur); ++fd) {
        free += ::fcntl(fd, F_GETFD) < 0 ? 1 : 0;
    }
    return std::clamp(free / descriptorsEach, 1, wanted);
}
