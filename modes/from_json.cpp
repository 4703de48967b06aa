// --from-json: the image that one JSON object, as --json writes it, describes,
// written only once the whole object has been read (json_record.h).
#include "Parameter.h"
#include "diagnostics.h"
#include "edit_transaction.h"
#include "entry.h"
#include "input_files.h"
#include "json_record.h"
#include "modes.h"
#include "terminal_text.h"

#include <cstdio>
#include <vector>

#include <unistd.h>

namespace {

// One record's JSON is a few tens of kilobytes; the limit keeps an endless
// input such as /dev/zero from exhausting memory.
constexpr std::size_t inputLimit = std::size_t{16} << 20;

} // namespace

int mode::fromJson(const Request& request)
{
    const char* input = request.input;
    const char* output = request.output;
    std::string text;
    if (!readText(input, text, inputLimit)) {
        reportErrno(input);
        return 1;
    }
    if (text.size() > inputLimit) {
        reportError(input, "larger than 16 MiB, far more than one record's JSON");
        return 1;
    }
    Parameter para;
    std::string problem;
    if (!parseRecord(text, para, problem)) {
        // INPUT:LINE:COLUMN, the form editors jump to.
        reportMessage(std::string(input) + ":" + problem);
        return 1;
    }
    const bool toStandardOutput = isStandardInput(output);
    if (toStandardOutput && !request.force && isTerminal(STDOUT_FILENO)) {
        reportMessage("refusing to write the binary image to a terminal; redirect standard output, or give --force");
        return 1;
    }
    if (toStandardOutput && !para.writeTo(STDOUT_FILENO)) {
        reportErrno(output);
        return 1;
    }
    // An edit in another process that read OUTPUT before this write must not
    // replace it afterwards with what it read: the write is an edit too.
    EditSettings settings("--from-json");
    settings.readsFile = false;
    settings.wait = request.waitSeconds;
    settings.notFlushed = "written, but the directory could not be flushed, so it may not survive a power cut";
    const Parameter::Image image = para.toImage();
    const ChangeFunction write = [&image](std::vector<unsigned char>& bytes) {
        bytes.assign(image.begin(), image.end());
        return Change::Made;
    };
    std::string diagnostics;
    const EditResult result = toStandardOutput ? EditResult::Replaced : editFile(output, settings, write, diagnostics);
    if (result != EditResult::Replaced && result != EditResult::Unchanged) {
        std::fwrite(diagnostics.data(), 1, diagnostics.size(), stderr);
        return 1;
    }
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        if (nameLength(para.getNamesParameter(i)) == Parameter::NameBytes) {
            reportError(output, unterminatedNameWarning({Table::Names, i}));
        }
    }
    return 0;
}
