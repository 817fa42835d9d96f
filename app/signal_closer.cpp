#include "app/signal_closer.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <atomic>
#include <cerrno>
#include <csignal>

#include "link/stop_signals.h"

namespace kestrune {

namespace {

constexpr int kNoPipe = -1;

// Where the handler writes; the handler can reach nothing but a global.
std::atomic<int> signalPipe{kNoPipe};

extern "C" void onStopSignal(int signal) {
    const int savedErrno = errno;
    const auto number = static_cast<unsigned char>(signal);
    (void)::write(signalPipe.load(), &number, sizeof number);
    errno = savedErrno;
}

// Sets the action of every stop signal: the handler, or back to the default.
void handleStopSignals(void (*handler)(int)) {
    const sigset_t taken = stopSignals();
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal = 1; signal <= SIGRTMAX; ++signal) {
        if (sigismember(&taken, signal) == 1) {
            (void)::sigaction(signal, &action, nullptr);
        }
    }
}

}  // namespace

SignalCloser::SignalCloser(QWidget& window) : window_(window) {
    int none = kNoPipe;
    if (::pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_ = {kNoPipe, kNoPipe};
        return;
    }
    if (!signalPipe.compare_exchange_strong(none, pipe_[1])) {
        return;
    }
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalCloser::onSignal);
    handleStopSignals(onStopSignal);
}

SignalCloser::~SignalCloser() {
    if (active()) {
        handleStopSignals(SIG_DFL);
        signalPipe.store(kNoPipe);
    }
    for (const int end : pipe_) {
        if (end != kNoPipe) {
            ::close(end);
        }
    }
}

// Every signal waiting is read at once; one close is enough for all.
void SignalCloser::onSignal() {
    unsigned char number = 0;
    while (::read(pipe_[0], &number, sizeof number) > 0) {
    }
    window_.close();
}

}  // namespace kestrune
