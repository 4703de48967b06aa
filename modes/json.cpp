// --json: each file as one JSON object on one line, every value exact.
#include "Parameter.h"
#include "batches.h"
#include "entry.h"
#include "modes.h"
#include "record_text.h"

#include <algorithm>
#include <array>
#include <cstring>

// Formatting the reals takes most of the time, which is why the files go in
// batches shared between two threads.
int mode::json(const Request& request)
{
    FileNames names(request.fileList, request.operands, request.count);
    return runOverRecords(names, request,
                          [](Batch& batch, const char* file, std::size_t length, const Parameter& para) {
                              appendRecordJson(batch.out, file, length, para);
                          });
}
