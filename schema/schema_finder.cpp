// Finding each file's schema, and judging whether the user wrote it.
#include "schema_finder.h"

#include "Parameter.h"
#include "diagnostics.h"
#include "input_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The directory that path names a file in, as path spells it; standard
// input is taken as a file of the current directory.
std::string directoryOf(const char* path)
{
    std::string_view spelled = isStandardInput(path) ? std::string_view("./-") : std::string_view(path);
    while (spelled.size() > 1 && spelled.back() == '/') {
        spelled.remove_suffix(1);
    }
    std::size_t slash = spelled.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    while (slash > 0 && spelled[slash - 1] == '/') {
        --slash;
    }
    return slash == 0 ? "/" : std::string(spelled.substr(0, slash));
}

// The largest schema whose bytes are kept to tell its copies.
constexpr std::size_t copiesKeptUpTo = 1 << 16;

std::string realPath(const std::string& path)
{
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real != nullptr ? std::string(real.get()) : std::string();
}

// Why a schema found by the search was not written by the user: it, or the
// folder it lies in (whose writers may put a file or a link in its place),
// belongs to another user than the one running and root, or another may
// write it.
// Empty when it was. status is the file's, or a link's that leads nowhere,
// or the folder's; what is "it" or "its folder".
std::string untrustedBecause(const struct stat& status, const std::string& what)
{
    if (status.st_uid != ::geteuid() && status.st_uid != 0) {
        return what + " belongs to user " + std::to_string(status.st_uid);
    }
    // A link's own mode means nothing: all may "write" every link.
    if (!S_ISLNK(status.st_mode) && (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return ((status.st_mode & S_IWOTH) != 0 ? "others may write " : "its group may write ") + what;
    }
    return "";
}

// Reads at most one byte past the schema's limit, so that the reader can
// tell a schema that is too long and an endless file cannot exhaust memory;
// room is made as the file's size says, then a block at a time, so that a
// small schema costs no more than its bytes.
bool readSchemaText(int fd, std::string& text)
{
    struct stat status {
    };
    std::size_t room = 1 << 12;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        room = std::min(static_cast<std::size_t>(status.st_size), schemaLimit) + 1;
    }
    for (;;) {
        const std::size_t used = text.size();
        text.resize(std::min(used + room, schemaLimit + 1));
        const std::size_t wanted = text.size() - used;
        std::size_t got = 0;
        if (!Parameter::readFully(fd, &text[used], wanted, got)) {
            return false;
        }
        text.resize(used + got);
        if (got < wanted || text.size() > schemaLimit) {
            return true;
        }
        room = 1 << 16;
    }
}

} // namespace

SchemaFinder::SchemaFinder(const Request& request) : request(request)
{
    if (request.schema == nullptr && !request.noSchema) {
        workingDirectory = realPath(".");
    }
}

bool SchemaFinder::start()
{
    if (request.schema == nullptr || request.noSchema) {
        return true;
    }
    const bool fromInput = isStandardInput(request.schema);
    if (fromInput && ((request.fileList != nullptr && isStandardInput(request.fileList)) ||
                      std::any_of(request.operands, request.operands + request.count,
                                  [](const char* file) { return isStandardInput(file); }))) {
        usageError("--schema=- reads the schema from standard input, which cannot be a FILE's too");
        return false;
    }
    const InputFile input(request.schema);
    std::string text;
    if (input.fd() < 0 || !readSchemaText(input.fd(), text)) {
        reportErrno(request.schema);
        return false;
    }
    std::string problems;
    std::optional<Schema> schema = parseSchema(text, request.schema, problems);
    if (!schema) {
        std::fputs(problems.c_str(), stderr);
        return false;
    }
    schemas.push_back(std::make_unique<Schema>(std::move(*schema)));
    named = schemas.back().get();
    return true;
}

SchemaFinder::Found SchemaFinder::of(const char* file, std::string& diagnostics)
{
    if (request.noSchema || request.schema != nullptr) {
        return {named, false};
    }
    const std::lock_guard<std::mutex> lock(lookups);
    Answer& answer = answerFor(directoryOf(file));
    diagnostics += answer.diagnostics;
    answer.diagnostics.clear();
    return {answer.schema, answer.failed};
}

bool SchemaFinder::findAll(char* const* files, int count)
{
    std::string diagnostics;
    bool failed = false;
    for (int k = 0; k < count; ++k) {
        failed = of(files[k], diagnostics).failed || failed;
    }
    std::fputs(diagnostics.c_str(), stderr);
    return !failed;
}

SchemaFinder::Answer& SchemaFinder::answerFor(const std::string& directory)
{
    const auto known = bySpelling.find(directory);
    if (known != bySpelling.end()) {
        return *known->second;
    }
    // A directory that is missing or out of reach holds no file a mode could
    // read; one that fails to resolve otherwise, as where its real path is
    // too long to make, may, and its schema is then unknown.
    const std::string canonical = realPath(directory);
    const bool unreadable = errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == ELOOP;
    const std::string file = (directory == "." ? "" : directory + '/') + schemaFileName;
    Answer& answer = !canonical.empty() ? search(canonical)
                     : unreadable       ? none
                                        : keep({nullptr, true, errnoDiagnostic(file.c_str())});
    bySpelling.emplace(directory, &answer);
    return answer;
}

SchemaFinder::Answer& SchemaFinder::search(const std::string& canonical)
{
    // The directories from canonical up to the first with an answer, each
    // given the answer found: a fleet in many folders under one shares the
    // search of what lies above them.
    std::vector<std::string> passed;
    Answer* answer = nullptr;
    for (std::string directory = canonical; answer == nullptr;) {
        const auto known = byDirectory.find(directory);
        if (known != byDirectory.end()) {
            answer = known->second;
            break;
        }
        passed.push_back(directory);
        answer = lookIn(directory);
        if (answer == nullptr && directory == "/") {
            answer = &none;
        }
        const std::size_t slash = directory.rfind('/');
        directory = slash == 0 ? "/" : directory.substr(0, slash);
    }
    for (const std::string& directory : passed) {
        byDirectory.emplace(directory, answer);
    }
    return *answer;
}

SchemaFinder::Answer* SchemaFinder::lookIn(const std::string& directory)
{
    const std::string file = (directory == "/" ? "" : directory) + '/' + schemaFileName;
    const std::string path = shown(file);
    // The folder is held open and the schema opened in it, so that the schema
    // judged is the one in the folder judged, whatever is renamed meanwhile.
    const paramlist_detail::Descriptor folder(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        return nullptr;
    }
    if (folder.fd < 0) {
        return &keep({nullptr, true, errnoDiagnostic(path.c_str())});
    }
    // Opened once and judged by what was opened, so that a file put in its
    // place after it was judged is never read; without waiting, so that a
    // FIFO planted by another user cannot hang the run.
    const paramlist_detail::Descriptor input(
        ::openat(folder.fd, schemaFileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int reason = errno;
    struct stat status {
    };
    // A link that leads nowhere is found all the same: the schema it was
    // meant to lead to, not one above it, describes the files below it.
    if (input.fd < 0 && (reason == ENOENT || reason == ENOTDIR) &&
        ::fstatat(folder.fd, schemaFileName, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return nullptr;
    }
    // One that cannot be opened is judged by what it leads to, or by the
    // link itself when that leads nowhere, as a loop of links does, so that
    // another user's link cannot fail the run.
    struct stat folderStatus {
    };
    const bool judged = ::fstat(folder.fd, &folderStatus) == 0 &&
                        (input.fd >= 0 ? ::fstat(input.fd, &status) == 0
                                       : ::fstatat(folder.fd, schemaFileName, &status, 0) == 0 ||
                                             ::fstatat(folder.fd, schemaFileName, &status, AT_SYMLINK_NOFOLLOW) == 0);
    std::string untrusted = judged ? untrustedBecause(folderStatus, "its folder") : "";
    untrusted = untrusted.empty() && judged ? untrustedBecause(status, "it") : untrusted;
    Answer answer;
    if (!untrusted.empty()) {
        answer.diagnostics =
            diagnostic("warning: " + path + " is not used as a schema, since " + untrusted +
                       "; the files below it have none (name it with --schema=" + path + " to use it)");
    } else if (input.fd < 0 || !judged) {
        errno = reason;
        answer = {nullptr, true, errnoDiagnostic(path.c_str())};
    } else if (!S_ISREG(status.st_mode)) {
        answer = {nullptr, true, diagnostic(path + ": a schema is a regular file")};
    } else {
        std::string text;
        std::string problems;
        std::optional<Schema> schema;
        if (!readSchemaText(input.fd, text)) {
            answer = {nullptr, true, errnoDiagnostic(path.c_str())};
        } else if (const auto copied = byBytes.find(text); copied != byBytes.end()) {
            schemas.push_back(std::make_unique<Schema>(path, *copied->second));
            answer.schema = schemas.back().get();
        } else if ((schema = parseSchema(text, path, problems))) {
            schemas.push_back(std::make_unique<Schema>(std::move(*schema)));
            answer.schema = schemas.back().get();
            // A schema is seldom large; one that is is kept only as parsed.
            if (text.size() <= copiesKeptUpTo) {
                byBytes.emplace(std::move(text), answer.schema);
            }
        } else {
            answer = {nullptr, true, problems};
        }
    }
    return &keep(std::move(answer));
}

std::string SchemaFinder::shown(const std::string& file) const
{
    // Both are real paths, in which .. is the parent a shell's cd .. and
    // cat ../FILE take too.
    const std::string here = workingDirectory == "/" ? "" : workingDirectory;
    const std::string folder = file.substr(0, file.rfind('/'));
    if (here.empty() && !workingDirectory.empty()) {
        return file.substr(1);
    }
    if (here.empty() || (folder + '/').compare(0, here.size() + 1, here + '/') == 0) {
        return here.empty() ? file : file.substr(here.size() + 1);
    }
    if ((here + '/').compare(0, folder.size() + 1, folder + '/') != 0) {
        return file;
    }
    std::string up;
    for (std::size_t slash = folder.size(); slash < here.size(); slash = here.find('/', slash + 1)) {
        up += "../";
    }
    return up + file.substr(file.rfind('/') + 1);
}

SchemaFinder::Answer& SchemaFinder::keep(Answer answer)
{
    answers.push_back(std::make_unique<Answer>(std::move(answer)));
    return *answers.back();
}
