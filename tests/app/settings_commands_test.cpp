// The three buttons, pressed in the real window, against the built-in virtual receivers on a
// clock sped up by the same factor as the link's timing.
#include "app/settings_commands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/port_routing.h"
#include "app/settings_window.h"
#include "app_test_support.h"
#include "link/receiver_link.h"
#include "sim/presets.h"
#include "sim/virtual_receiver.h"

Q_DECLARE_METATYPE(kestrune::ChosenSettings)
Q_DECLARE_METATYPE(kestrune::LineSettings)

namespace kestrune {

// Readable failures for QCOMPARE.
char* toString(const ChosenSettings& s) {
    return QTest::toString(QStringLiteral("baud %1 parity %2 stop %3 format %4 mask 0x%5")
                               .arg(s.baudIndex)
                               .arg(s.parityIndex)
                               .arg(s.stopBitsIndex)
                               .arg(s.formatIndex)
                               .arg(s.mask, 0, 16));
}

char* toString(const LineSettings& s) {
    return QTest::toString(
        QStringLiteral("%1 parity %2 stop %3").arg(s.baud).arg(s.parity).arg(s.stopBits));
}

}  // namespace kestrune

using kestrune::ChosenSettings;
using kestrune::LineSettings;
using kestrune::NmeaMask;
using kestrune::OutputProtocol;
using kestrune::ReceiverLink;
using kestrune::SettingsWindow;

namespace {

constexpr double kSpeedUp = 0.05;
// Long enough for a report to arrive on a loaded machine; QTRY returns as soon as it has.
constexpr int kNotificationTimeoutMs = 20000;

constexpr int kFactory = 1;
constexpr int kStreamingNmea = 2;
constexpr int kFastOdd = 3;
constexpr int kSilent = 4;
constexpr int kRejecting = 5;

constexpr NmeaMask kStartMask = kestrune::kMaskGga | kestrune::kMaskVtg;
// The selection of every preset but the streaming one.
constexpr NmeaMask kPresetMask = 0x59;

QString text(const char* ascii) {
    return QString::fromLatin1(ascii);
}

// The receiver keeps RMC in bit 8 of its own mask; the window shows it as bit 6.
NmeaMask windowMask(std::uint32_t receiverMask) {
    NmeaMask mask = receiverMask & 0x3F;
    if ((receiverMask & kestrune::kSentenceRmc) != 0) {
        mask |= kestrune::kMaskRmc;
    }
    return mask;
}

std::uint32_t receiverMask(NmeaMask mask) {
    return (mask & 0x3F) | ((mask & kestrune::kMaskRmc) != 0 ? kestrune::kSentenceRmc : 0);
}

const char* settingsText(int preset) {
    switch (preset) {
        case kStreamingNmea:
            return "  Receiver set to 4800,8,None,1,NMEA";
        case kFastOdd:
            return "  Receiver set to 38400,8,Odd,1,TSIP";
        default:
            return "  Receiver set to 9600,8,None,1,TSIP";
    }
}

}  // namespace

class SettingsCommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup();

    void getSettingsShowsEachPreset_data();
    void getSettingsShowsEachPreset();
    void secondGetSettingsDoesNotSearch();
    void silentReceiverNotFound();

    void applySettings_data();
    void applySettings();
    void applyFailures_data();
    void applyFailures();

    void resetReceiver_data();
    void resetReceiver();

    void statusAndCursorShownBeforeBlocking_data();
    void statusAndCursorShownBeforeBlocking();

  private:
    void openWindowOn(int preset);
    void press(int id);
    QComboBox* list(int id) { return qobject_cast<QComboBox*>(window_->control(id)); }
    ChosenSettings shownLists() { return window_->chosenSettings(); }
    kestrune::VirtualReceiver& receiver(int preset) { return *devices_->receiver(preset); }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<kestrune::SimulatedDevices> devices_;
    std::unique_ptr<ReceiverLink> link_;
    std::unique_ptr<SettingsWindow> window_;
};

void SettingsCommandsTest::openWindowOn(int preset) {
    dir_ = std::make_unique<QTemporaryDir>();
    const QString store =
        kestrune::testing::writePortStore(*dir_, QStringLiteral("SIM%1:").arg(preset).toLatin1());
    QVERIFY(!store.isEmpty());
    devices_ = std::make_unique<kestrune::SimulatedDevices>(kSpeedUp);
    link_ = std::make_unique<ReceiverLink>(kestrune::Timing{}.scaled(kSpeedUp),
                                           kestrune::routePortNames(*devices_, nullptr));
    window_ = std::make_unique<SettingsWindow>(*link_, store);
    QVERIFY(link_->isOpen());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

// The command runs to its end inside the click.
void SettingsCommandsTest::press(int id) {
    QTest::mouseClick(window_->control(id), Qt::LeftButton);
}

void SettingsCommandsTest::cleanup() {
    window_.reset();
    link_.reset();
    devices_.reset();
}

void SettingsCommandsTest::getSettingsShowsEachPreset_data() {
    QTest::addColumn<int>("preset");
    QTest::addColumn<ChosenSettings>("shown");
    QTest::newRow("factory") << kFactory << ChosenSettings{3, 0, 0, 0, 0x59};
    QTest::newRow("streaming NMEA") << kStreamingNmea << ChosenSettings{2, 0, 0, 1, 0x43};
    QTest::newRow("38400 odd") << kFastOdd << ChosenSettings{5, 1, 0, 0, 0x59};
    QTest::newRow("rejecting") << kRejecting << ChosenSettings{3, 0, 0, 0, 0x59};
}

// The sentence boxes follow the receiver's report, which is handled once the command is over.
void SettingsCommandsTest::getSettingsShowsEachPreset() {
    QFETCH(int, preset);
    QFETCH(ChosenSettings, shown);
    openWindowOn(preset);
    press(kestrune::IDC_GET_SETTINGS);

    QCOMPARE(window_->status(), text(settingsText(preset)));
    QVERIFY(link_->verified());
    QCOMPARE(shownLists().mask, kStartMask);
    QTRY_COMPARE_WITH_TIMEOUT(shownLists(), shown, kNotificationTimeoutMs);
    const bool nmea = shown.formatIndex == kestrune::kNmeaFormatIndex;
    for (int id = kestrune::IDC_GGA; id <= kestrune::IDC_ZDA; ++id) {
        QCOMPARE(window_->control(id)->isEnabled(), nmea);
    }
}

void SettingsCommandsTest::secondGetSettingsDoesNotSearch() {
    openWindowOn(kFastOdd);
    press(kestrune::IDC_GET_SETTINGS);
    QVERIFY(link_->verified());
    receiver(kFastOdd).clearHostWrites();
    window_->setStatus(QStringLiteral("  untouched"));
    press(kestrune::IDC_GET_SETTINGS);
    QVERIFY(receiver(kFastOdd).hostWrites().empty());
    QCOMPARE(window_->status(), QStringLiteral("  untouched"));
}

// A failed search leaves the lists alone; the next press searches again.
void SettingsCommandsTest::silentReceiverNotFound() {
    openWindowOn(kSilent);
    window_->selectItem(kestrune::IDC_BAUD, QStringLiteral("2400"));
    press(kestrune::IDC_GET_SETTINGS);
    QCOMPARE(window_->status(), text(kestrune::kNotFoundStatus));
    QCOMPARE(shownLists(), (ChosenSettings{1, -1, -1, -1, kStartMask}));
    receiver(kSilent).clearHostWrites();
    press(kestrune::IDC_GET_SETTINGS);
    QVERIFY(!receiver(kSilent).hostWrites().empty());
    QCOMPARE(window_->status(), text(kestrune::kNotFoundStatus));
}

void SettingsCommandsTest::applySettings_data() {
    QTest::addColumn<int>("preset");
    QTest::addColumn<ChosenSettings>("chosen");
    QTest::addColumn<LineSettings>("line");
    QTest::addColumn<QString>("status");
    QTest::addColumn<ChosenSettings>("shown");
    using namespace kestrune;
    const ChosenSettings nothing{-1, -1, -1, -1, kStartMask};
    QTest::newRow("nothing chosen")
        << kFastOdd << nothing << LineSettings{9600, kParityNone, kOneStopBit}
        << text("  Receiver set to 9600,8,None,1,TSIP") << ChosenSettings{3, 0, 0, 0, kStartMask};
    QTest::newRow("19200 odd TSIP")
        << kFactory << ChosenSettings{4, 1, 0, 0, 0x1F}
        << LineSettings{19200, kParityOdd, kOneStopBit}
        << text("  Receiver set to 19200,8,Odd,1,TSIP") << ChosenSettings{4, 1, 0, 0, 0x1F};
    // Found at the search's first probe, where the receiver's sentences already arrive: a
    // sentence still on its way when the search starts cannot pass for an answer elsewhere.
    QTest::newRow("38400 odd NMEA")
        << kFactory << ChosenSettings{5, 1, 0, 1, 0x41}
        << LineSettings{38400, kParityOdd, kOneStopBit}
        << text("  Receiver set to 38400,8,Odd,1,NMEA") << ChosenSettings{5, 1, 0, 1, 0x41};
    // The search probes one stop bit only, and a receiver on two still hears it.
    QTest::newRow("two stop bits")
        << kStreamingNmea << ChosenSettings{3, 0, 1, 0, 0x7F}
        << LineSettings{9600, kParityNone, kTwoStopBits}
        << text("  Receiver set to 9600,8,None,1,TSIP") << ChosenSettings{3, 0, 0, 0, 0x7F};
    // Even parity is never probed: the final search cannot find the receiver. The boxes show
    // the selection the receiver reported during its reset, before the new one was sent.
    QTest::newRow("even parity") << kFactory << ChosenSettings{1, 2, 0, 0, 0x01}
                                 << LineSettings{2400, kParityEven, kOneStopBit}
                                 << text(kApplyingStatus)
                                 << ChosenSettings{1, 2, 0, 0, kPresetMask};
    QTest::newRow("38400 even two stop bits")
        << kFastOdd << ChosenSettings{5, 2, 1, 0, 0x08}
        << LineSettings{38400, kParityEven, kTwoStopBits} << text(kApplyingStatus)
        << ChosenSettings{5, 2, 1, 0, kPresetMask};
}

void SettingsCommandsTest::applySettings() {
    QFETCH(int, preset);
    QFETCH(ChosenSettings, chosen);
    QFETCH(LineSettings, line);
    QFETCH(QString, status);
    QFETCH(ChosenSettings, shown);
    openWindowOn(preset);
    list(kestrune::IDC_BAUD)->setCurrentIndex(chosen.baudIndex);
    list(kestrune::IDC_PARITY)->setCurrentIndex(chosen.parityIndex);
    list(kestrune::IDC_STOP_BITS)->setCurrentIndex(chosen.stopBitsIndex);
    list(kestrune::IDC_FORMAT)->setCurrentIndex(chosen.formatIndex);
    window_->post(kestrune::kNotifyNmeaMask, chosen.mask, 0);
    QCoreApplication::sendPostedEvents(window_.get());

    press(kestrune::IDC_APPLY_SETTINGS);

    const kestrune::ReceiverSettings now = receiver(preset).settings();
    QCOMPARE(now.line, line);
    const bool nmea = chosen.formatIndex == kestrune::kNmeaFormatIndex;
    QCOMPARE(now.output, nmea ? OutputProtocol::Nmea : OutputProtocol::Tsip);
    QCOMPARE(now.sentenceMask, receiverMask(chosen.mask));
    QCOMPARE(window_->status(), status);
    QTRY_COMPARE_WITH_TIMEOUT(shownLists(), shown, kNotificationTimeoutMs);

    const bool found = status != QLatin1String(kestrune::kApplyingStatus);
    QCOMPARE(link_->verified(), found);
    if (!found) {
        // The last probe of the failed search: 1200 bits/s, no parity.
        LineSettings local;
        QVERIFY(link_->port()->getLineSettings(local));
        QCOMPARE(local, (LineSettings{1200, kestrune::kParityNone, kestrune::kOneStopBit}));
    }
}

void SettingsCommandsTest::applyFailures_data() {
    QTest::addColumn<int>("preset");
    QTest::newRow("silent") << kSilent;
    QTest::newRow("rejects configurations") << kRejecting;
}

void SettingsCommandsTest::applyFailures() {
    QFETCH(int, preset);
    openWindowOn(preset);
    list(kestrune::IDC_BAUD)->setCurrentIndex(4);
    press(kestrune::IDC_APPLY_SETTINGS);
    QCOMPARE(window_->status(), text(kestrune::kApplyFailedStatus));
    QVERIFY(!link_->verified());
    QCOMPARE(receiver(preset).settings().line.baud, kestrune::kFactoryBaud);
}

void SettingsCommandsTest::resetReceiver_data() {
    QTest::addColumn<int>("preset");
    QTest::addColumn<QString>("status");
    QTest::newRow("factory") << kFactory << text(kestrune::kResetDoneStatus);
    QTest::newRow("streaming NMEA") << kStreamingNmea << text(kestrune::kResetDoneStatus);
    QTest::newRow("38400 odd") << kFastOdd << text(kestrune::kResetDoneStatus);
    QTest::newRow("rejecting") << kRejecting << text(kestrune::kResetDoneStatus);
    QTest::newRow("silent") << kSilent << text(kestrune::kResetFailedStatus);
}

void SettingsCommandsTest::resetReceiver() {
    QFETCH(int, preset);
    QFETCH(QString, status);
    openWindowOn(preset);
    press(kestrune::IDC_RESET_RECEIVER);
    QCOMPARE(window_->status(), status);
    const kestrune::ReceiverSettings now = receiver(preset).settings();
    QCOMPARE(now.line, (LineSettings{}));
    QCOMPARE(now.output, OutputProtocol::Tsip);
    if (status == QLatin1String(kestrune::kResetFailedStatus)) {
        QCOMPARE(shownLists(), (ChosenSettings{-1, -1, -1, -1, kStartMask}));
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(shownLists(),
                              (ChosenSettings{3, 0, 0, 0, windowMask(now.sentenceMask)}),
                              kNotificationTimeoutMs);
}

void SettingsCommandsTest::statusAndCursorShownBeforeBlocking_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("during");
    QTest::addColumn<QString>("after");
    QTest::newRow("get") << kestrune::IDC_GET_SETTINGS << text(kestrune::kSearchingStatus)
                         << text(kestrune::kNotFoundStatus);
    QTest::newRow("apply") << kestrune::IDC_APPLY_SETTINGS << text(kestrune::kApplyingStatus)
                           << text(kestrune::kApplyFailedStatus);
    QTest::newRow("reset") << kestrune::IDC_RESET_RECEIVER << text(kestrune::kResettingStatus)
                           << text(kestrune::kResetFailedStatus);
}

// Whenever the command writes to the receiver, the wait cursor and its status are up.
void SettingsCommandsTest::statusAndCursorShownBeforeBlocking() {
    QFETCH(int, button);
    QFETCH(QString, during);
    QFETCH(QString, after);
    dir_ = std::make_unique<QTemporaryDir>();
    const QString store = kestrune::testing::writePortStore(*dir_, "QUIET");
    QVERIFY(!store.isEmpty());
    QStringList seen;
    kestrune::testing::RecordingOpener opener(true, [&] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        const bool waiting = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
        seen << (waiting ? QStringLiteral("wait ") : QStringLiteral("no wait ")) +
                    window_->status();
    });
    link_ = std::make_unique<ReceiverLink>(kestrune::Timing{}.scaled(kSpeedUp), opener.opener());
    window_ = std::make_unique<SettingsWindow>(*link_, store);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));

    press(button);

    QVERIFY(!seen.isEmpty());
    for (const QString& moment : seen) {
        QCOMPARE(moment, QStringLiteral("wait ") + during);
    }
    QCOMPARE(window_->status(), after);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    window_.reset();
    link_.reset();
}

QTEST_MAIN(SettingsCommandsTest)
#include "settings_commands_test.moc"
