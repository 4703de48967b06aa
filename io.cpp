#include "io.h"

#include "format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>

#include <fcntl.h>
#include <unistd.h>

namespace {

void writeStandardOutput(const std::string& out)
{
    std::fwrite(out.data(), 1, out.size(), stdout);
}

} // namespace

char* Batch::room(std::size_t most)
{
    // The bytes are zeroed only when the room grows, which stops once it
    // holds a batch: batches keep their room.
    if (roomBytes.size() - roomUsed < most) {
        roomBytes.resize(std::max(2 * roomBytes.size(), roomUsed + most));
    }
    return roomBytes.data() + roomUsed;
}

void openStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // Descriptors below fd are open, so the lowest free one is fd.
        if (::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) != fd) {
            std::_Exit(usageStatus);
        }
    }
}

bool isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

bool isStandardInput(const char* path)
{
    return std::strcmp(path, "-") == 0;
}

InputFile::InputFile(const char* path)
    : descriptor(isStandardInput(path) ? STDIN_FILENO : Parameter::openForReading(path)), owned(!isStandardInput(path))
{
}

// Closing a file that was only read loses nothing; errno keeps what the
// caller's last failure said.
InputFile::~InputFile()
{
    if (owned && descriptor >= 0) {
        const int reason = errno;
        ::close(descriptor);
        errno = reason;
    }
}

bool readRecord(Parameter& para, const char* path, std::size_t* length)
{
    const InputFile input(path);
    return input.fd() >= 0 && para.readFrom(input.fd(), length);
}

void reportError(const char* path, const std::string& reason)
{
    reportMessage(std::string(path) + ": " + reason);
}

void reportErrno(const char* path)
{
    const std::string line = errnoDiagnostic(path);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string errnoDiagnostic(const char* path)
{
    return diagnostic(std::string(path) + ": " + std::strerror(errno));
}

std::string diagnostic(const std::string& message)
{
    std::string line = "paramlist: ";
    if (isTerminal(STDERR_FILENO)) {
        appendVisible(line, message.data(), message.size());
    } else {
        line += message;
    }
    line += '\n';
    return line;
}

void reportMessage(const std::string& message)
{
    const std::string line = diagnostic(message);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

int usageError(const std::string& message)
{
    reportMessage(message);
    std::fputs("Try 'paramlist --help' for more information.\n", stderr);
    return usageStatus;
}

int runInBatches(char* const* files, int count, const BatchWork& work)
{
    constexpr int batchFiles = 128;
    int status = 0;
    Batch own;
    Batch other;
    const auto run = [&work](Batch& batch, char* const* first, int files) {
        batch.out.clear();
        batch.roomUsed = 0;
        batch.diagnostics.clear();
        batch.status = 0;
        work(batch, first, files);
    };
    const auto emit = [&status](const Batch& batch) {
        std::fwrite(batch.diagnostics.data(), 1, batch.diagnostics.size(), stderr);
        writeStandardOutput(batch.out);
        // A room never made has a null address, which fwrite may not be given.
        if (batch.roomUsed > 0) {
            std::fwrite(batch.roomBytes.data(), 1, batch.roomUsed, stdout);
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

bool finishStandardOutput(const std::string& out)
{
    writeStandardOutput(out);
    const bool failedEarlier = std::ferror(stdout) != 0;
    // With everything written, closing can fail only with EBADF, for a
    // standard output that was closed and never written to: nothing is lost.
    if (std::fflush(stdout) != 0 || failedEarlier || (std::fclose(stdout) != 0 && errno != EBADF)) {
        std::fprintf(stderr, "paramlist: write error: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}
