#include "app/settings_controller.h"

#include <cstdio>
#include <memory>

#include "app/settings_window.h"
#include "link/gpsd_handover.h"
#include "link/port_names.h"
#include "link/receiver_link.h"
#include "link/receiver_procedures.h"
#include "link/receiver_save.h"
#include "link/receiver_search.h"

namespace kestrune {

namespace {

QString text(const char* ascii) {
    return QString::fromLatin1(ascii);
}

// On the worker thread, before the command's own work: an unplugged and replugged adapter, or a
// port that could not be opened at start, is tried again rather than needing a restart.
void reopenIfLost(ReceiverLink& link) {
    if (!link.isOpen() || link.deviceGone()) {
        (void)link.open();
    }
}

// On the worker thread, before the command: a port gpsd holds is borrowed for the command, the
// link letting go of it first (root opens a port gpsd holds without being refused).
std::unique_ptr<GpsdHandover> borrowFromGpsd(ReceiverLink& link) {
    const std::string device = portDevicePath(link.portName());
    if (device.empty() || !heldByGpsd(device)) {
        return nullptr;
    }
    link.close();
    std::vector<std::string> names{device};
    if (isDevicePath(link.portName()) && link.portName() != device) {
        names.push_back(link.portName());
    }
    HandoverOptions options;
    options.giveUp = [&link] { return link.cancellation().raised(); };
    options.say = [](const std::string& step) {
        std::fprintf(stderr, "kestrune: %s\n", step.c_str());
    };
    return std::make_unique<GpsdHandover>(device, std::move(names), std::move(options));
}

// gpsd gets the port back at the settings the receiver answered at, which stay shown: the link
// keeps them as verified while closed, and opens the port again (borrowing it anew) for the
// next command.
void handBack(ReceiverLink& link, GpsdHandover& gpsd) {
    const std::optional<LineSettings> verified = link.verifiedSettings();
    link.close();
    if (verified) {
        gpsd.leaveLineAt(*verified);
        link.storeVerified(*verified);
    }
    (void)gpsd.handBack();
}

// The status line says a save's outcome in the command line's words, as a sentence.
QString saveStatus(SaveOutcome outcome) {
    QString words = QString::fromLatin1(saveOutcomeText(outcome).data(),
                                        static_cast<qsizetype>(saveOutcomeText(outcome).size()));
    words[0] = words[0].toUpper();
    return QStringLiteral("  ") + words;
}

}  // namespace

SettingsController::SettingsController(ReceiverLink& link, SettingsWindow& window)
    : link_(link), window_(window) {
    connect(&window_, &SettingsWindow::getSettingsPressed, this, &SettingsController::getSettings);
    connect(&window_, &SettingsWindow::applySettingsPressed, this,
            &SettingsController::applySettings);
    connect(&window_, &SettingsWindow::resetReceiverPressed, this,
            &SettingsController::resetReceiver);
    connect(&window_, &SettingsWindow::closing, this, &SettingsController::stop);
}

// The reader must not post to a window that is gone.
SettingsController::~SettingsController() {
    stop();
}

void SettingsController::stop() {
    link_.cancel();
    runner_.abandon();
    link_.close();
    link_.setWindow(nullptr);
    window_.setBusy(false);
}

void SettingsController::runCommand(CommandRunner::Work work) {
    link_.clearCancel();
    window_.setBusy(true);
    (void)runner_.start([this, work = std::move(work)]() -> CommandRunner::Finish {
        const std::unique_ptr<GpsdHandover> gpsd = borrowFromGpsd(link_);
        reopenIfLost(link_);
        CommandRunner::Finish finish = work();
        if (gpsd) {
            handBack(link_, *gpsd);
        }
        return [this, finish = std::move(finish)] {
            window_.setBusy(false);
            finish();
        };
    });
}

bool SettingsController::showReceiverSettings() {
    const std::optional<LineSettings> line = link_.verifiedSettings();
    if (!line) {
        return false;
    }
    window_.showReceiverSettings(*line, link_.outputProtocol());
    return true;
}

void SettingsController::showSearchOutcome(bool found, const ReceiverIdentity& identity) {
    window_.showReceiverIdentity(found ? QString::fromStdString(identitySummary(identity))
                                       : QString{});
    if (!found || !showReceiverSettings()) {
        window_.setStatus(text(kNotFoundStatus));
        sayIfPortLost();
    }
}

// A port that could not be opened (held by another program, unplugged) is named as the reason,
// in place of the plain failure.
void SettingsController::sayIfPortLost() {
    if (!link_.isOpen() || link_.deviceGone()) {
        emit portUnavailable();
    }
}

// The search, with who the receiver is asked while it speaks TSIP.
bool SettingsController::searchAndIdentify(ReceiverIdentity& identity) {
    return readReceiverSettings(link_, &window_, [&] { identity = readIdentity(link_); });
}

void SettingsController::getSettings() {
    // The settings already shown stand while they stay verified.
    if (running() || link_.verified()) {
        return;
    }
    window_.setStatus(text(kSearchingStatus));
    runCommand([this] {
        ReceiverIdentity identity;
        const bool found = searchAndIdentify(identity);
        return [this, found, identity] { showSearchOutcome(found, identity); };
    });
}

void SettingsController::applySettings() {
    if (running()) {
        return;
    }
    const ReceiverConfig chosen = window_.chosenConfig();
    const bool save = window_.saveInReceiver();
    window_.setStatus(text(kApplyingStatus));
    runCommand([this, chosen, save]() -> CommandRunner::Finish {
        if (!kestrune::applySettings(link_, &window_, chosen)) {
            return [this] {
                window_.setStatus(text(kApplyFailedStatus));
                sayIfPortLost();
            };
        }
        const std::optional<SaveOutcome> saved =
            save ? std::optional(saveConfiguration(link_)) : std::nullopt;
        // Let the receiver take up its new sentence selection before looking for it again.
        ReceiverIdentity identity;
        const bool found =
            link_.cancellation().sleepFor(link_.timing().settle) && searchAndIdentify(identity);
        return [this, found, identity, saved] {
            showSearchOutcome(found, identity);
            if (found && saved) {
                window_.setStatus(saveStatus(*saved));
            }
        };
    });
}

void SettingsController::resetReceiver() {
    if (running()) {
        return;
    }
    window_.setStatus(text(kResettingStatus));
    runCommand([this] {
        const bool reset = kestrune::resetReceiver(link_, &window_);
        return [this, reset] {
            // The format list shows what the receiver was last seen sending; the status says
            // what the reset set, whatever that list shows.
            if (reset) {
                (void)showReceiverSettings();
            }
            window_.setStatus(text(reset ? kResetDoneStatus : kResetFailedStatus));
            if (!reset) {
                sayIfPortLost();
            }
        };
    });
}

}  // namespace kestrune
