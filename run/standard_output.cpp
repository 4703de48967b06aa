// Opening the standard descriptors that are closed, and closing standard
// output with its errors reported.
#include "standard_output.h"

#include "diagnostics.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

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

void ignoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

bool finishStandardOutput(const std::string& out)
{
    std::fwrite(out.data(), 1, out.size(), stdout);
    const bool failedEarlier = std::ferror(stdout) != 0;
    // With everything written, closing can fail only with EBADF, for a
    // standard output that was closed and never written to: nothing is lost.
    if (std::fflush(stdout) != 0 || failedEarlier || (std::fclose(stdout) != 0 && errno != EBADF)) {
        std::fprintf(stderr, "paramlist: write error: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}
