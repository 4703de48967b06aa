// The signals that end an edit in the user's editor, taken where the edit
// waits, so that it cleans up before it ends by them.
#ifndef PARAMLIST_WATCHED_SIGNALS_H
#define PARAMLIST_WATCHED_SIGNALS_H

#include <csignal>

// Sets the disposition of a signal while it lives.
class SignalDisposition
{
public:
    SignalDisposition(int signal, void (*handler)(int)) : number(signal)
    {
        struct sigaction action {
        };
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        ::sigaction(number, &action, &before);
    }
    SignalDisposition(const SignalDisposition&) = delete;
    SignalDisposition& operator=(const SignalDisposition&) = delete;
    ~SignalDisposition() { ::sigaction(number, &before, nullptr); }

private:
    int number;
    struct sigaction before {
    };
};

// The signals that end an edit, SIGINT, SIGHUP and SIGTERM, taken by the
// edit while the object lives, so that it removes its private file first
// whenever they come: held back, and read from a descriptor it waits on with
// the editor and the user's answer. A child's end is read there too.
// Those that came and were not taken take effect when it ends.
class WatchedSignals
{
public:
    WatchedSignals();
    WatchedSignals(const WatchedSignals&) = delete;
    WatchedSignals& operator=(const WatchedSignals&) = delete;
    ~WatchedSignals();

    // What came since the last look.
    struct Taken {
        // The signal that ends the edit, or 0.
        int ending = 0;
        // Whether a child may have ended.
        bool child = false;
    };
    // Takes what came, without waiting. While the editor runs, the interrupt
    // that the terminal's key sends is the editor's, as in git: an editor
    // such as vi takes ^C as a key, and one that it ends has failed.
    Taken take(bool editorRuns) const;
    // The descriptor to wait on (poll) for a signal.
    int fd() const { return descriptor; }

private:
    // A child's end is told only where SIGCHLD is not ignored, as a parent
    // may have left it.
    SignalDisposition childEnds{SIGCHLD, SIG_DFL};
    sigset_t before{};
    int descriptor = -1;
};

// Ends the process by signal, as it would have ended had it not been held.
[[noreturn]] void endBySignal(int signal);

#endif
