#include "app/settings_commands.h"

#include <QApplication>
#include <QString>
#include <cstdint>
#include <iterator>
#include <thread>

#include "app/settings_window.h"
#include "link/receiver_link.h"
#include "link/receiver_procedures.h"

namespace kestrune {

namespace {

constexpr char kSettingsStatus[] = "  Receiver set to %1,8,%2,%3,%4";

// Baud-list items by index; an index outside the list, or none, stands for the factory rate.
constexpr std::uint32_t kBaudByIndex[] = {1200, 2400, 4800, 9600, 19200, 38400};
constexpr int kOddParityIndex = 1;
constexpr int kEvenParityIndex = 2;
constexpr int kTwoStopBitsIndex = 1;
// Stop bits as the status line counts them.
constexpr int kOneStopBitCount = 1;
constexpr int kTwoStopBitsCount = 2;

// The wait cursor for as long as a command blocks the window's thread. It shows before the
// blocking work starts: the override cursor is handed to the windows at once.
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

std::uint32_t chosenBaud(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kBaudByIndex))) {
        return kFactoryBaud;
    }
    return kBaudByIndex[index];
}

std::uint32_t chosenParity(int index) {
    if (index == kOddParityIndex) {
        return kParityOdd;
    }
    return index == kEvenParityIndex ? kParityEven : kParityNone;
}

std::uint32_t chosenStopBits(int index) {
    return index == kTwoStopBitsIndex ? kTwoStopBits : kOneStopBit;
}

QString parityText(std::uint32_t parity) {
    if (parity == kParityOdd) {
        return text("Odd");
    }
    return text(parity == kParityEven ? "Even" : "None");
}

}  // namespace

bool showReceiverSettings(SettingsWindow& window) {
    const ReceiverLink& link = window.link();
    if (!link.verified()) {
        return false;
    }
    const bool nmea = link.outputProtocol() == OutputProtocol::Nmea;
    window.setSentenceBoxesEnabled(nmea);
    const QString format = text(nmea ? "NMEA" : "TSIP");
    window.selectItem(IDC_FORMAT, format);

    const bool twoStopBits = link.stopBits() == kTwoStopBits;
    const QString stopBits = QString::number(twoStopBits ? kTwoStopBitsCount : kOneStopBitCount);
    window.selectItem(IDC_STOP_BITS, stopBits);

    const QString parity = parityText(link.parity());
    window.selectItem(IDC_PARITY, parity);

    // A verified link holds one of the listed rates.
    const QString baud = QString::number(link.baud());
    window.selectItem(IDC_BAUD, baud);

    window.setStatus(text(kSettingsStatus).arg(baud, parity, stopBits, format));
    return true;
}

void onGetSettings(SettingsWindow& window) {
    const WaitCursor cursor;
    // The settings already shown stand while they stay verified.
    if (window.link().verified()) {
        return;
    }
    window.setStatus(text(kSearchingStatus));
    window.repaintStatus();
    if (readReceiverSettings(window.link(), &window)) {
        (void)showReceiverSettings(window);
    } else {
        window.setStatus(text(kNotFoundStatus));
    }
}

void onApplySettings(SettingsWindow& window) {
    const ChosenSettings chosen = window.chosenSettings();
    const bool nmea = chosen.formatIndex == kNmeaFormatIndex;
    const std::uint32_t baud = chosenBaud(chosen.baudIndex);
    const std::uint32_t parity = chosenParity(chosen.parityIndex);
    const std::uint32_t stopBits = chosenStopBits(chosen.stopBitsIndex);

    window.setStatus(text(kApplyingStatus));
    const WaitCursor cursor;
    window.repaintStatus();
    ReceiverLink& link = window.link();
    if (!applySettings(link, &window, baud, parity, stopBits, nmea, chosen.mask)) {
        window.setStatus(text(kApplyFailedStatus));
        return;
    }
    // Let the receiver take up its new sentence selection before looking for it again. A
    // search that fails here leaves the applying status in place.
    std::this_thread::sleep_for(link.timing().settle);
    if (readReceiverSettings(link, &window)) {
        (void)showReceiverSettings(window);
    }
}

void onResetReceiver(SettingsWindow& window) {
    {
        const WaitCursor cursor;
        window.setStatus(text(kResettingStatus));
        window.repaintStatus();
        if (resetReceiver(window.link(), &window)) {
            // The format list shows what the receiver was last seen sending; the status says
            // what the reset set, whatever that list shows.
            (void)showReceiverSettings(window);
            window.setStatus(text(kResetDoneStatus));
        } else {
            window.setStatus(text(kResetFailedStatus));
        }
    }
    window.repaintStatus();
}

}  // namespace kestrune
