#include "platform/signals.h"

#include <csignal>

namespace zarbel {

namespace {

// A signal handler can reach nothing but objects of static storage duration: the request is
// kept in this one flag, written only by the handler and cleared by the catcher.
volatile std::sig_atomic_t g_pending = 0;

constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnTerminationRequest(int signal) {
    if (g_pending == 0) g_pending = signal;
}

}  // namespace

TInterruptCatcher::TInterruptCatcher() {
    g_pending = 0;
    struct sigaction sa {};
    sa.sa_handler = OnTerminationRequest;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // interrupted reads and writes resume; the loop sees the flag
    for (int i = 0; i < 3; ++i) sigaction(kCaught[i], &sa, &previous_[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &previous_[3]);
}

TInterruptCatcher::~TInterruptCatcher() {
    for (int i = 0; i < 3; ++i) sigaction(kCaught[i], &previous_[i], nullptr);
    sigaction(SIGXFSZ, &previous_[3], nullptr);
}

int TInterruptCatcher::Pending() { return g_pending; }

const char* TInterruptCatcher::SignalName(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "?";
    }
}

}  // namespace zarbel
