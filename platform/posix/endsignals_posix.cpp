// POSIX end signals: the handler only notes the first of SIGINT, SIGTERM and SIGHUP.
#include "platform/endsignals.h"

#include <csignal>

namespace plat {

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t firstEnd = 0;

void NoteEnd(int signal) {
    if (firstEnd == 0) firstEnd = signal;
}

}  // namespace

void InstallEndSignals() {
    struct sigaction action {};
    action.sa_handler = NoteEnd;
    sigemptyset(&action.sa_mask);
    for (int signal : kEndSignals) sigaddset(&action.sa_mask, signal);  // one handler at a time
    // No SA_RESTART: a blocking connect on the main thread, which Linux prefers for a signal sent to
    // the process, is cut short too. SA_RESETHAND: a second Ctrl+C ends a program stuck elsewhere.
    action.sa_flags = SA_RESETHAND;
    for (int signal : kEndSignals) {
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

EndSignal EndSignalReceived() {
    switch (firstEnd) {
        case SIGINT: return EndSignal::Interrupt;
        case SIGTERM: return EndSignal::Terminate;
        case SIGHUP: return EndSignal::HangUp;
        default: return EndSignal::None;
    }
}

}  // namespace plat
