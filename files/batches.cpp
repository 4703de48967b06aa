// The names of a mode's files, and batches of them on two threads, written
// out in file order.
#include "batches.h"

#include "Parameter.h"
#include "diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <string_view>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A list is read in blocks of this many bytes: a few thousand names at once.
constexpr std::size_t listBlock = std::size_t{64} * 1024;

// Names taken at once: enough to keep both threads busy, few enough that a
// batch's files stay in the cache.
constexpr std::size_t batchFiles = 128;

// The policy for a batch run beside this thread. A batch reads one file at a
// time; "-" may hold standard input open beside it. Either policy: where no
// thread can be started, the batch is worked on when it is waited for.
std::launch besideThisThread()
{
    return sideBySide(2, 2) == 2 ? std::launch::async | std::launch::deferred : std::launch::deferred;
}

// A batch of files read for runOverContents: a diagnostic for each name that
// could not be read, "" for one that was.
struct ReadBatch {
    NameBatch names;
    std::vector<Contents> contents;
    std::vector<std::string> failures;
};

void readBatch(ReadBatch& batch)
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
        batch.contents[k] = Contents();
        if (!readContents(name, batch.contents[k])) {
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
    int status = 0;
    Batch own;
    Batch other;
    NameBatch ownNames;
    NameBatch otherNames;
    // The work goes from one refused name to the next.
    const auto run = [&work, unreadStatus](Batch& batch, const NameBatch& files) {
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
    };
    const auto emit = [&status](const Batch& batch) {
        std::fwrite(batch.diagnostics.data(), 1, batch.diagnostics.size(), stderr);
        std::fwrite(batch.out.data(), 1, batch.out.size(), stdout);
        // A buffer never grown has a null address, which fwrite may not be given.
        if (batch.tailLength > 0) {
            std::fwrite(batch.tailBuffer.data(), 1, batch.tailLength, stdout);
        }
        status = std::max(status, batch.status);
    };
    const std::launch policy = besideThisThread();
    while (names.next(batchFiles, ownNames)) {
        std::future<void> done;
        const bool two = names.next(batchFiles, otherNames);
        if (two) {
            done = std::async(policy, run, std::ref(other), std::cref(otherNames));
        }
        run(own, ownNames);
        emit(own);
        if (two) {
            done.get();
            emit(other);
        }
    }
    return status;
}

int runOverRecords(FileNames& names, const RecordWork& work)
{
    const auto readEach = [&work](Batch& batch, char* const* files, int count) {
        for (int k = 0; k < count; ++k) {
            Parameter para;
            std::size_t length = 0;
            if (readRecord(para, files[k], &length)) {
                work(batch, files[k], length, para);
            } else {
                batch.diagnostics += errnoDiagnostic(files[k]);
                batch.status = 1;
            }
        }
    };
    return runInBatches(names, readEach, 1);
}

int runOverContents(FileNames& names, const ContentsWork& work, int unreadStatus)
{
    if (!names.failure().empty()) {
        std::fputs(names.failure().c_str(), stderr);
        return troubleStatus;
    }
    int status = 0;
    const std::launch policy = besideThisThread();
    ReadBatch batches[2];
    bool more = names.next(batchFiles, batches[0].names);
    if (more) {
        readBatch(batches[0]);
    }
    for (std::size_t current = 0; more; current ^= 1) {
        ReadBatch& taken = batches[current];
        ReadBatch& next = batches[current ^ 1];
        more = names.next(batchFiles, next.names);
        std::future<void> read;
        if (more) {
            read = std::async(policy, readBatch, std::ref(next));
        }
        for (std::size_t k = 0; k < taken.failures.size(); ++k) {
            if (taken.failures[k].empty()) {
                work(taken.names.names[k], taken.contents[k]);
            } else {
                std::fputs(taken.failures[k].c_str(), stderr);
                status = std::max(status, unreadStatus);
            }
        }
        if (more) {
            read.get();
        }
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
