#include "app/signal_poller.h"

#include <chrono>

#include "app/settings_controller.h"
#include "app/settings_window.h"
#include "link/receiver_link.h"
#include "protocol/tsip_commands.h"

namespace kestrune {

namespace {

// A receiver reports its levels once a second when it does so on its own; asking as often keeps
// the panel as fresh as such a receiver's would be.
constexpr std::chrono::milliseconds kPollInterval{1000};

}  // namespace

SignalPoller::SignalPoller(ReceiverLink& link, const SettingsController& controller,
                           const SettingsWindow& window)
    : link_(link), controller_(controller), window_(window) {
    timer_.setInterval(kPollInterval);
    connect(&timer_, &QTimer::timeout, this, [this] { (void)pollNow(); });
    timer_.start();
}

// The link writes on the window's thread only here, and only while no command runs: the
// commands' worker is then not writing, nor opening or closing the port.
bool SignalPoller::pollNow() {
    if (controller_.running() || window_.isBusy() || !link_.isOpen() || link_.deviceGone() ||
        !link_.verified() || link_.outputProtocol() != OutputProtocol::Tsip) {
        return false;
    }
    return link_.write(signalLevelQuery());
}

}  // namespace kestrune
