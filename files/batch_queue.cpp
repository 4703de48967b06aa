// Running a mode's work over batches of its files on two threads, each
// taking the next batch when it is free, the output written in file order.
#include "batches.h"

#include "diagnostics.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

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
    // A thread that runs ahead waits after mostPending batches not yet
    // written, rather than hold the output of the whole fleet.
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
            const auto gap = std::find(first, files.names.end(), nullptr);
            if (gap != first) {
                work(batch, &*first, static_cast<int>(gap - first));
            }
            first = gap;
            if (gap != files.names.end()) {
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
