// --set: entries changed in place. Each file is changed in the bytes of the
// named entries alone, so that whatever else it holds (a document byte of 2,
// bytes after a name's zero or past the image) stays as it was, and it is
// held under the edit lock from the read to the replace, so that two edits of
// one file at the same moment both hold.
#include "Parameter.h"
#include "format.h"
#include "io.h"
#include "modes.h"

#include <algorithm>
#include <cerrno>
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

// Applies the assignments to file under its edit lock. False, with the
// diagnostic appended to diagnostics, when it failed; the file is then as it
// was. When another program renames a file over it or repoints a link while
// it is edited, the edit starts again on what the path now leads to.
bool editFile(const char* file, const std::vector<Assignment>& assignments, bool create, std::string& diagnostics)
{
    const std::string refusal = editRefusal(file, "--set");
    if (!refusal.empty()) {
        diagnostics += diagnostic(std::string(file) + ": " + refusal);
        return false;
    }
    for (int attempt = 1;; ++attempt) {
        const EditLock lock(file, create);
        if (lock.fd() < 0) {
            diagnostics += EditLock::failure(file);
            return false;
        }
        std::vector<unsigned char> bytes;
        if (!readWholeFile(lock.fd(), bytes)) {
            diagnostics += errnoDiagnostic(file);
            return false;
        }
        // A short file reads as if completed with zeros; the edit makes that so.
        if (bytes.size() < Parameter::FileBytes) {
            bytes.resize(Parameter::FileBytes, 0);
        }
        for (const Assignment& assignment : assignments) {
            storeEntryValue(bytes.data(), assignment.entry, assignment.value);
        }
        bool replaced = false;
        if (Parameter::replace(file, bytes.data(), bytes.size(), &replaced, lock.fd())) {
            return true;
        }
        if (!replaced && lock.created()) {
            Parameter::removeCreated(file, lock.fd());
        }
        constexpr int attempts = 100;
        if (errno == EAGAIN && !replaced && attempt < attempts) {
            continue;
        }
        const std::string reason = std::strerror(errno);
        diagnostics += diagnostic(std::string(file) + ": " +
                                  (replaced ? "edited, but the directory could not be flushed, so the edit may not "
                                              "survive a power cut: " +
                                                  reason
                                            : reason));
        return false;
    }
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
    const auto editRun = [&](int first) {
        Run run;
        for (int i = first; i < std::min(first + runFiles, request.count); ++i) {
            run.edited += editFile(request.operands[i], assignments, request.create, run.diagnostics) ? 1 : 0;
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
