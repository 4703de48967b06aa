// Running a mode over many files a batch at a time, on two threads, with the
// output written in file order.
#ifndef PARAMLIST_BATCHES_H
#define PARAMLIST_BATCHES_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What a mode makes of a run of files: its standard output, the diagnostics
// of files it could not read, and the exit status of the run.
struct Batch {
    std::string out;
    std::string diagnostics;
    int status = 0;

    // A mode whose lines are many and made of pieces writes them straight
    // into the batch's tail, which follows out, through a pointer: a string
    // would fill its room with zeros before each file, or copy the lines in
    // after it. reserveTail returns where to write at least most bytes;
    // commitTail keeps what was written up to end.
    char* reserveTail(std::size_t most);
    void commitTail(const char* end) { tailLength = static_cast<std::size_t>(end - tailBuffer.data()); }
    // The tail is the first tailLength bytes of tailBuffer.
    std::vector<char> tailBuffer;
    std::size_t tailLength = 0;
};

// Runs work over files a batch at a time and writes each batch's output and
// diagnostics in file order. Over many files a second thread works on every
// other batch, since formatting, not reading, is most of the cost. work is
// given an empty batch whose buffers keep their room from batch to batch,
// and may hold what the mode shares by every batch (two run at once).
// Returns the highest status of any batch.
using BatchWork = std::function<void(Batch&, char* const*, int)>;
int runInBatches(char* const* files, int count, const BatchWork& work);

#endif
