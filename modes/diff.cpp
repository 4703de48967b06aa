// --diff: the entries whose values differ between a reference record and each
// of the files, in file order.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "differences.h"
#include "entry.h"
#include "input_files.h"
#include "modes.h"
#include "terminal_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <unistd.h>

namespace {

// A record read from an operand, or the errno of the read that failed.
struct Operand {
    Parameter record;
    bool read = false;
    int reason = 0;
};

void readOperand(Operand& operand, const char* path)
{
    operand.read = readRecord(operand.record, path);
    operand.reason = operand.read ? 0 : errno;
}

} // namespace

// An operand named twice, or the reference named again as a file, is read
// once: a second read of standard input or a pipe would find it empty. The
// names of a list are not all known before the last, so of them only "-" is
// read once.
int mode::diff(const Request& request)
{
    const char* referencePath = request.operands[0];
    std::vector<Operand> repeated(1);
    readOperand(repeated[0], referencePath);
    if (!repeated[0].read) {
        errno = repeated[0].reason;
        reportErrno(referencePath);
        return troubleStatus;
    }
    // The slot of repeated that holds an operand named more than once, by
    // the operand's address, which the batches are given.
    std::unordered_map<const char*, std::size_t> slots{{request.operands[0], 0}};
    const RepeatedOperands repeats(request.operands, request.count);
    for (int k = 1; k < request.count; ++k) {
        const int first = repeats.firstNaming(k);
        if (first == k) {
            continue;
        }
        const auto named = slots.emplace(request.operands[first], repeated.size());
        if (named.second) {
            repeated.emplace_back();
            readOperand(repeated.back(), request.operands[first]);
        }
        slots.emplace(request.operands[k], named.first->second);
    }
    FileNames names(request.fileList, request.operands + 1, request.count - 1);
    Operand listedStandardInput;
    std::once_flag standardInputRead;
    const auto readOnce = [&](const char* file) -> const Operand* {
        if (names.listed() && isStandardInput(file)) {
            if (isStandardInput(referencePath)) {
                return &repeated[0];
            }
            std::call_once(standardInputRead, [&] { readOperand(listedStandardInput, file); });
            return &listedStandardInput;
        }
        const auto found = slots.find(file);
        return found != slots.end() ? &repeated[found->second] : nullptr;
    };
    const Comparison comparison(request, repeated[0].record);
    return runInBatches(
        names,
        [&](Batch& batch, char* const* files, int count) {
            for (int k = 0; k < count; ++k) {
                const char* file = files[k];
                // A fresh record for each file: a short file leaves the rest as it finds it.
                Operand own;
                const Operand* once = readOnce(file);
                if (once == nullptr) {
                    readOperand(own, file);
                }
                const Operand& operand = once != nullptr ? *once : own;
                if (operand.read) {
                    comparison.compare(batch, file, operand.record);
                } else {
                    errno = operand.reason;
                    batch.diagnostics += errnoDiagnostic(file);
                    batch.status = troubleStatus;
                }
            }
        },
        troubleStatus);
}
