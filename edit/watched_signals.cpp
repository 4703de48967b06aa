// The signals that end an edit, read from a signalfd.
#include "watched_signals.h"

#include <cstdlib>
#include <initializer_list>

#include <sys/signalfd.h>
#include <unistd.h>

WatchedSignals::WatchedSignals()
{
    sigset_t watched;
    sigemptyset(&watched);
    for (const int signal : {SIGINT, SIGHUP, SIGTERM, SIGCHLD}) {
        sigaddset(&watched, signal);
    }
    ::sigprocmask(SIG_BLOCK, &watched, &before);
    descriptor = ::signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
}

WatchedSignals::~WatchedSignals()
{
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

WatchedSignals::Taken WatchedSignals::take(bool editorRuns) const
{
    Taken taken;
    signalfd_siginfo info{};
    while (::read(descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGCHLD) {
            taken.child = true;
        } else if (taken.ending == 0 && !(editorRuns && info.ssi_signo == SIGINT && info.ssi_code == SI_KERNEL)) {
            taken.ending = static_cast<int>(info.ssi_signo);
        }
    }
    return taken;
}

void endBySignal(int signal)
{
    const SignalDisposition byDefault(signal, SIG_DFL);
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, signal);
    ::sigprocmask(SIG_UNBLOCK, &ending, nullptr);
    ::raise(signal);
    // raise returns where the signal cannot end the process (SIGKILL aside, a
    // disposition a debugger holds): the status tells the signal all the same.
    // cppcheck-suppress unreachableCode
    std::_Exit(128 + signal);
}
