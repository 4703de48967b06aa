// The names of a mode's files, and batches of them on two threads, written
// out in file order.
#include "batches.h"

#include "Parameter.h"
#include "diagnostics.h"
#include "terminal_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A list is read in blocks of this many bytes: a few thousand names at once.
constexpr std::size_t listBlock = std::size_t{64} * 1024;

// The longest path that open takes, without its ending zero.
constexpr std::size_t longestName = PATH_MAX - 1;

// A batch's names, and what its work made of them; kept, once written, for
// a later batch, whose buffers then keep their room.
struct Slot {
    NameBatch names;
    Batch batch;
    std::size_t number = 0;
};

// The batches of a run, each taken by whichever thread is free and written
// in file order by whichever finishes the next one due: a thread held up (on
// a busy machine, by the scheduler) holds up its own batch alone, where
// batches dealt out in turn would hold up every other one.
class BatchQueue
{
public:
    BatchQueue(FileNames& names, const BatchWork& work, int unreadStatus)
        : names(names), work(work), unreadStatus(unreadStatus)
    {
    }

    // The next batch, or null when none is left or the run is stopped.
    std::unique_ptr<Slot> take()
    {
        std::unique_lock<std::mutex> held(lock);
        progress.wait(held, [this] { return ended || taken - written < mostPending; });
        if (ended) {
            return nullptr;
        }
        std::unique_ptr<Slot> slot;
        if (spare.empty()) {
            slot = std::make_unique<Slot>();
        } else {
            slot = std::move(spare.back());
            spare.pop_back();
        }
        if (!names.next(batchFiles, slot->names)) {
            ended = true;
            progress.notify_all();
            return nullptr;
        }
        slot->number = taken++;
        return slot;
    }

    // Works on slot, then writes every batch due.
    void workOn(std::unique_ptr<Slot>& slot)
    {
        if (slot == nullptr) {
            return;
        }
        run(slot->batch, slot->names);
        {
            const std::lock_guard<std::mutex> held(lock);
            finished.emplace(slot->number, std::move(slot));
        }
        writeDue();
    }

    void drain()
    {
        for (std::unique_ptr<Slot> slot = take(); slot != nullptr; slot = take()) {
            workOn(slot);
        }
    }

    // Ends the run after the batches being worked on.
    void stop()
    {
        const std::lock_guard<std::mutex> held(lock);
        ended = true;
        progress.notify_all();
    }

    int status() const { return highest; }

private:
    // A batch takes about a hundred files, so that the files of a run go in
    // many batches whose output is a few hundred kilobytes; a thread that
    // runs ahead waits after mostPending batches not yet written, rather
    // than hold the output of the whole fleet.
    static constexpr std::size_t batchFiles = 128;
    static constexpr std::size_t mostPending = 8;

    // The work goes from one refused name to the next.
    void run(Batch& batch, const NameBatch& files) const
    {
        batch.out.clear();
        batch.tailLength = 0;
        batch.diagnostics.clear();
        batch.status = 0;
        auto refusal = files.refusals.begin();
        for (auto first = files.names.begin(); first != files.names.end();) {
            const auto stop = std::find(first, files.names.end(), nullptr);
            if (stop != first) {
                work(batch, &*first, static_cast<int>(stop - first));
            }
            first = stop;
            if (stop != files.names.end()) {
                batch.diagnostics += *refusal++;
                batch.status = std::max(batch.status, unreadStatus);
                ++first;
            }
        }
    }

    // Whoever writes holds writing, so that batches go out one after another
    // in order; a batch finished meanwhile is written by this loop or, once
    // it has stopped, by its own thread.
    void writeDue()
    {
        const std::lock_guard<std::mutex> writer(writing);
        for (;;) {
            std::unique_ptr<Slot> slot;
            {
                const std::lock_guard<std::mutex> held(lock);
                const auto due = finished.find(written);
                if (due == finished.end()) {
                    return;
                }
                slot = std::move(due->second);
                finished.erase(due);
            }
            const Batch& batch = slot->batch;
            std::fwrite(batch.diagnostics.data(), 1, batch.diagnostics.size(), stderr);
            std::fwrite(batch.out.data(), 1, batch.out.size(), stdout);
            // A buffer never grown has a null address, which fwrite may not be given.
            if (batch.tailLength > 0) {
                std::fwrite(batch.tailBuffer.data(), 1, batch.tailLength, stdout);
            }
            highest = std::max(highest, batch.status);
            const std::lock_guard<std::mutex> held(lock);
            ++written;
            spare.push_back(std::move(slot));
            progress.notify_all();
        }
    }

    FileNames& names;
    const BatchWork& work;
    const int unreadStatus;
    std::mutex lock;
    std::condition_variable progress;
    std::mutex writing;
    std::size_t taken = 0;
    std::size_t written = 0;
    bool ended = false;
    std::map<std::size_t, std::unique_ptr<Slot>> finished;
    std::vector<std::unique_ptr<Slot>> spare;
    int highest = 0;
};

// The thread that works on batches beside this one, joined before the run
// ends however it ends; what it throws is thrown again here.
class SecondThread
{
public:
    explicit SecondThread(BatchQueue& queue) : queue(queue) {}
    SecondThread(const SecondThread&) = delete;
    SecondThread& operator=(const SecondThread&) = delete;
    ~SecondThread()
    {
        if (thread.joinable()) {
            queue.stop();
            thread.join();
        }
    }

    // Starts the thread on slot, which it then owns; where no thread can be
    // started, slot stays with the caller.
    void start(std::unique_ptr<Slot>& slot)
    {
        Slot* const given = slot.get();
        try {
            thread = std::thread([this, given] {
                std::unique_ptr<Slot> own(given);
                try {
                    queue.workOn(own);
                    queue.drain();
                } catch (...) {
                    failure = std::current_exception();
                    queue.stop();
                }
            });
            static_cast<void>(slot.release());
        } catch (const std::system_error&) {
        }
    }

    void join()
    {
        if (thread.joinable()) {
            thread.join();
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
    }

private:
    BatchQueue& queue;
    std::thread thread;
    std::exception_ptr failure;
};

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

int runInBatches(FileNames& names, const BatchWork& work, int unreadStatus)
{
    if (!names.failure().empty()) {
        std::fputs(names.failure().c_str(), stderr);
        return troubleStatus;
    }
    BatchQueue queue(names, work, unreadStatus);
    std::unique_ptr<Slot> first = queue.take();
    if (first == nullptr) {
        return 0;
    }
    // A second thread only where there is a second batch for it, and room
    // for it: a batch reads one file at a time, and "-" may hold standard
    // input open beside it.
    std::unique_ptr<Slot> second = queue.take();
    SecondThread helper(queue);
    if (second != nullptr && sideBySide(2, 2) == 2) {
        helper.start(second);
    }
    queue.workOn(first);
    if (second != nullptr) {
        queue.workOn(second);
    }
    queue.drain();
    helper.join();
    return queue.status();
}

int runOverContents(FileNames& names, const FileReads& reads, const ContentsWork& work, int unreadStatus)
{
    const auto readEach = [&](Batch& batch, char* const* files, int count) {
        // Room for the longest file the image is read with, kept from file to file.
        const auto contents = std::make_unique<FileContents>();
        for (int k = 0; k < count; ++k) {
            const std::size_t out = batch.out.size();
            const std::size_t tail = batch.tailLength;
            const std::size_t diagnostics = batch.diagnostics.size();
            try {
                if (reads.read(files[k], *contents)) {
                    work(batch, files[k], *contents);
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
    return runOverContents(
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
