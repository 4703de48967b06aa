// --diff: the entries whose values differ between a reference record and each
// of the files, in file order. An entry that a file's schema describes ends
// its line with the schema's words, or with --json its object with the
// entry's "name" and "unit"; --brief, which names files alone, looks for no
// schema but the one --schema names.
#include "Parameter.h"
#include "batches.h"
#include "diagnostics.h"
#include "differences.h"
#include "input_files.h"
#include "modes.h"
#include "schema_finder.h"

// An operand named twice, or the reference named again as a file, is read
// once: a second read of standard input or a pipe would find it empty. The
// names of a list are not all known before the last, so of them only
// standard input is read once. A schema that cannot be used stops the run
// before any file is read, the reference too.
int mode::diff(const Request& request)
{
    const char* referencePath = request.operands[0];
    FileNames names(request.fileList, request.operands + 1, request.count - 1);
    SchemaFinder schemas(request);
    const bool described = !request.brief;
    if (!schemas.start() ||
        (described && !names.listed() && !schemas.findAll(request.operands + 1, request.count - 1))) {
        return troubleStatus;
    }
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
    const Comparison comparison(request, reference);
    const int status = runOverRecords(
        names, reads, request.force,
        [&](Batch& batch, const char* file, std::size_t, const Parameter& record) {
            const SchemaFinder::Found schema = described ? schemas.of(file, batch.diagnostics) : SchemaFinder::Found();
            if (schema.failed) {
                batch.status = troubleStatus;
                return;
            }
            const Schema* found = schema.schema;
            comparison.compare(batch, file, record,
                               found == nullptr ? nullptr
                               : request.json   ? found->jsonNotes()
                                                : found->notes());
        },
        troubleStatus);
    return request.force || contents.isParameterFile() ? status : troubleStatus;
}
