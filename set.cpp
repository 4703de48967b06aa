// --set: entries changed in place. Each file is changed in the bytes of the
// named entries alone, so that whatever else it holds (a document byte of 2,
// bytes after a name's zero or past the image) stays as it was, and it is
// held under the edit lock from the read to the replace, so that two edits of
// one file at the same moment both hold.
#include "Parameter.h"
#include "edit.h"
#include "diagnostics.h"
#include "entry.h"
#include "modes.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>
#include <vector>

namespace {

struct Assignment {
    Entry entry;
    EntryValue value;
};

bool isSameEntry(const Entry& a, const Entry& b)
{
    return a.table == b.table && a.index == b.index;
}

// Reads every ENTRY=VALUE before any file is touched; of one entry given
// twice, the last holds. False after reporting the usage error.
bool parseAssignments(const Request& request, std::vector<Assignment>& assignments)
{
    for (const char* given : request.assignments) {
        const char* equals = std::strchr(given, '=');
        Assignment assignment{};
        std::string problem;
        if (equals == nullptr) {
            problem = "an edit is written ENTRY=VALUE, as in Operations[10]=851.5";
        } else if (parseEntryName(std::string(given, equals), assignment.entry, problem)) {
            parseEntryValue(assignment.entry.table, equals + 1, assignment.value, problem);
        }
        if (!problem.empty()) {
            usageError(std::string("--set '") + given + "': " + problem);
            return false;
        }
        assignments.erase(
            std::remove_if(assignments.begin(), assignments.end(),
                           [&](const Assignment& earlier) { return isSameEntry(earlier.entry, assignment.entry); }),
            assignments.end());
        assignments.push_back(assignment);
    }
    return true;
}

} // namespace

int mode::set(const Request& request)
{
    std::vector<Assignment> assignments;
    if (!parseAssignments(request, assignments)) {
        return usageStatus;
    }
    // Most of a file's cost is waiting for its two flushes, which the file
    // system completes together for files edited at the same time; so runs
    // of files are edited side by side, and their diagnostics written in
    // file order.
    constexpr int runFiles = 16;
    constexpr std::size_t runsAtOnce = 16;
    struct Run {
        std::string diagnostics;
        int edited = 0;
    };
    EditSettings settings("--set");
    settings.create = request.create;
    const ChangeFunction assign = [&assignments](std::vector<unsigned char>& bytes) {
        for (const Assignment& assignment : assignments) {
            storeEntryValue(bytes.data(), assignment.entry, assignment.value);
        }
        // Written back even when every entry already held its value.
        return Change::Made;
    };
    const auto editRun = [&](int first) {
        Run run;
        for (int i = first; i < std::min(first + runFiles, request.count); ++i) {
            const EditResult result = editFile(request.operands[i], settings, assign, run.diagnostics);
            run.edited += result == EditResult::Replaced ? 1 : 0;
        }
        return run;
    };
    std::deque<std::future<Run>> pending;
    int edited = 0;
    for (int first = 0; first < request.count || !pending.empty(); first += runFiles) {
        if (first < request.count) {
            // Either policy: where no thread can be started, the run is edited when it is waited for.
            pending.push_back(std::async(std::launch::async | std::launch::deferred, editRun, first));
        }
        if (pending.size() == runsAtOnce || first >= request.count) {
            const Run run = pending.front().get();
            pending.pop_front();
            std::fwrite(run.diagnostics.data(), 1, run.diagnostics.size(), stderr);
            edited += run.edited;
        }
    }
    // Once a run, not once a file: every file has the same edits.
    for (const Assignment& assignment : assignments) {
        if (edited > 0 && assignment.entry.table == Table::Names &&
            assignment.value.name.size() == Parameter::NameBytes) {
            reportMessage(unterminatedNameWarning(assignment.entry));
        }
    }
    return edited == request.count ? 0 : 1;
}
