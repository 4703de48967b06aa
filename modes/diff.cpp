// --diff: the entries whose values differ between a reference record and each
// of the files, in file order.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "differences.h"
#include "input_files.h"
#include "modes.h"

// An operand named twice, or the reference named again as a file, is read
// once: a second read of standard input or a pipe would find it empty. The
// names of a list are not all known before the last, so of them only
// standard input is read once.
int mode::diff(const Request& request)
{
    const char* referencePath = request.operands[0];
    const FileReads reads(request.operands, request.count, request.fileList != nullptr);
    FileContents contents;
    if (!reads.read(referencePath, contents)) {
        reportErrno(referencePath);
        return troubleStatus;
    }
    if (!request.force && !contents.isParameterFile()) {
        reportError(referencePath, notParameterFile(contents));
    }
    Parameter reference;
    reference.fromImage(contents.image());
    FileNames names(request.fileList, request.operands + 1, request.count - 1);
    const Comparison comparison(request, reference);
    const int status = runOverRecords(
        names, reads, request.force,
        [&](Batch& batch, const char* file, std::size_t, const Parameter& record) {
            comparison.compare(batch, file, record);
        },
        troubleStatus);
    return request.force || contents.isParameterFile() ? status : troubleStatus;
}
