#include "app/settings_controller.h"

#include <QApplication>

#include "app/settings_window.h"
#include "link/receiver_link.h"
#include "link/receiver_procedures.h"

namespace kestrune {

namespace {

// The wait cursor for as long as a command runs. It shows before the work starts: the override
// cursor is handed to the windows at once.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString text(const char* ascii) {
    return QString::fromLatin1(ascii);
}

}  // namespace

SettingsController::SettingsController(ReceiverLink& link, SettingsWindow& window)
    : link_(link), window_(window) {
    connect(&window_, &SettingsWindow::getSettingsPressed, this, &SettingsController::getSettings);
    connect(&window_, &SettingsWindow::applySettingsPressed, this,
            &SettingsController::applySettings);
    connect(&window_, &SettingsWindow::resetReceiverPressed, this,
            &SettingsController::resetReceiver);
    connect(&window_, &SettingsWindow::closing, this, &SettingsController::windowClosing);
}

// The reader must not post to a window that is gone.
SettingsController::~SettingsController() {
    windowClosing();
}

void SettingsController::windowClosing() {
    link_.close();
    link_.setWindow(nullptr);
}

bool SettingsController::showReceiverSettings() {
    const std::optional<LineSettings> line = link_.verifiedSettings();
    if (!line) {
        return false;
    }
    window_.showReceiverSettings(*line, link_.outputProtocol());
    return true;
}

void SettingsController::getSettings() {
    const WaitCursor cursor;
    // The settings already shown stand while they stay verified.
    if (link_.verified()) {
        return;
    }
    window_.setStatus(text(kSearchingStatus));
    window_.repaintStatus();
    if (readReceiverSettings(link_, &window_)) {
        (void)showReceiverSettings();
    } else {
        window_.setStatus(text(kNotFoundStatus));
    }
}

void SettingsController::applySettings() {
    const ReceiverConfig chosen = window_.chosenConfig();
    window_.setStatus(text(kApplyingStatus));
    const WaitCursor cursor;
    window_.repaintStatus();
    if (!kestrune::applySettings(link_, &window_, chosen)) {
        window_.setStatus(text(kApplyFailedStatus));
        return;
    }
    // Let the receiver take up its new sentence selection before looking for it again. A
    // search that fails here leaves the applying status in place.
    if (link_.cancellation().sleepFor(link_.timing().settle) &&
        readReceiverSettings(link_, &window_)) {
        (void)showReceiverSettings();
    }
}

void SettingsController::resetReceiver() {
    {
        const WaitCursor cursor;
        window_.setStatus(text(kResettingStatus));
        window_.repaintStatus();
        if (kestrune::resetReceiver(link_, &window_)) {
            // The format list shows what the receiver was last seen sending; the status says
            // what the reset set, whatever that list shows.
            (void)showReceiverSettings();
            window_.setStatus(text(kResetDoneStatus));
        } else {
            window_.setStatus(text(kResetFailedStatus));
        }
    }
    window_.repaintStatus();
}

}  // namespace kestrune
