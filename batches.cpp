// Batches of files on two threads, written out in file order.
#include "batches.h"

#include <algorithm>
#include <cstdio>
#include <future>

char* Batch::reserveTail(std::size_t most)
{
    // The bytes are zeroed only when the buffer grows, which stops once it
    // holds a batch: batches keep their buffers.
    if (tailBuffer.size() - tailLength < most) {
        tailBuffer.resize(std::max(2 * tailBuffer.size(), tailLength + most));
    }
    return tailBuffer.data() + tailLength;
}

int runInBatches(char* const* files, int count, const BatchWork& work)
{
    constexpr int batchFiles = 128;
    int status = 0;
    Batch own;
    Batch other;
    const auto run = [&work](Batch& batch, char* const* first, int files) {
        batch.out.clear();
        batch.tailLength = 0;
        batch.diagnostics.clear();
        batch.status = 0;
        work(batch, first, files);
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
    for (int first = 0; first < count; first += 2 * batchFiles) {
        const int ownFiles = std::min(batchFiles, count - first);
        const int otherFiles = std::min(batchFiles, count - first - ownFiles);
        std::future<void> done;
        if (otherFiles > 0) {
            done = std::async(std::launch::async, run, std::ref(other), files + first + ownFiles, otherFiles);
        }
        run(own, files + first, ownFiles);
        emit(own);
        if (otherFiles > 0) {
            done.get();
            emit(other);
        }
    }
    return status;
}
