// The three buttons, pressed in the real window, against the built-in virtual receivers on a
// clock sped up by the same factor as the link's timing.
#include "app/settings_commands.h"

#include <QGuiApplication>
#include <QTest>
#include <memory>

#include "app/port_routing.h"
#include "app/settings_window.h"
#include "app_test_support.h"
#include "link/receiver_link.h"
#include "sim/presets.h"

using namespace kestrune;
using namespace kestrune::testing;

namespace {

constexpr double kSpeedUp = 0.05;
// Long enough for a report to arrive on a loaded machine; QTRY returns as soon as it has.
constexpr int kNotificationTimeoutMs = 20000;

constexpr int kFactory = 1;
constexpr int kStreamingNmea = 2;
constexpr int kFastOdd = 3;
constexpr int kSilent = 4;
constexpr int kRejecting = 5;

// What the lists and boxes hold, chosen or shown: the baud, parity, stop-bits and format lists'
// selected indexes (-1: nothing selected), then the sentence boxes as a mask.
using Lists = QList<int>;
// A receiver's or the local port's line: baud, parity, stop bits.
using Line = QList<uint>;
const Line kFactoryLine{kFactoryBaud, kParityNone, kOneStopBit};

constexpr int kStartMask = 0x05;  // GGA and VTG
// The selection of every preset but the streaming one, as the window and the receiver keep it.
constexpr int kPresetMask = 0x59;
constexpr std::uint32_t kPresetSentences = 0x119;

const Lists kNothingChosen{-1, -1, -1, -1, kStartMask};

Line lineOf(const LineSettings& line) {
    return {line.baud, line.parity, line.stopBits};
}

}  // namespace

class SettingsCommandsTest : public QObject {
    Q_OBJECT

    void openWindowOn(int preset) {
        dir_ = std::make_unique<QTemporaryDir>();
        const QString store =
            writePortStore(*dir_, QStringLiteral("SIM%1:").arg(preset).toLatin1());
        QVERIFY(!store.isEmpty());
        devices_ = std::make_unique<SimulatedDevices>(kSpeedUp);
        link_ = std::make_unique<ReceiverLink>(Timing{}.scaled(kSpeedUp),
                                               routePortNames(*devices_, nullptr));
        window_ = std::make_unique<SettingsWindow>(*link_, store);
        QVERIFY(link_->isOpen());
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    // The command runs to its end inside the click.
    void press(int id) { QTest::mouseClick(window_->control(id), Qt::LeftButton); }
    Lists shownLists() {
        const ChosenSettings chosen = window_->chosenSettings();
        return {chosen.baudIndex, chosen.parityIndex, chosen.stopBitsIndex, chosen.formatIndex,
                static_cast<int>(chosen.mask)};
    }
    VirtualReceiver& receiver(int preset) { return *devices_->receiver(preset); }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SimulatedDevices> devices_;
    std::unique_ptr<ReceiverLink> link_;
    std::unique_ptr<SettingsWindow> window_;

  private slots:
    void cleanup() {
        window_.reset();
        link_.reset();
        devices_.reset();
    }

    void getSettings_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QString>("status");
        QTest::addColumn<Lists>("shown");
        QTest::newRow("factory") << kFactory << QString("  Receiver set to 9600,8,None,1,TSIP")
                                 << Lists{3, 0, 0, 0, kPresetMask};
        QTest::newRow("streaming NMEA")
            << kStreamingNmea << QString("  Receiver set to 4800,8,None,1,NMEA")
            << Lists{2, 0, 0, 1, 0x43};
        QTest::newRow("38400 odd") << kFastOdd << QString("  Receiver set to 38400,8,Odd,1,TSIP")
                                   << Lists{5, 1, 0, 0, kPresetMask};
        QTest::newRow("rejecting") << kRejecting << QString("  Receiver set to 9600,8,None,1,TSIP")
                                   << Lists{3, 0, 0, 0, kPresetMask};
        // A failed search leaves the lists as they were.
        QTest::newRow("silent") << kSilent << QString(kNotFoundStatus)
                                << Lists{1, -1, -1, -1, kStartMask};
    }

    // The sentence boxes follow the receiver's report, which is handled once the command is
    // over. A second press searches again only if the first found nothing.
    void getSettings() {
        QFETCH(int, preset);
        QFETCH(QString, status);
        QFETCH(Lists, shown);
        openWindowOn(preset);
        window_->selectItem(IDC_BAUD, QStringLiteral("2400"));
        press(IDC_GET_SETTINGS);

        QCOMPARE(window_->status(), status);
        const bool found = status != QString(kNotFoundStatus);
        QCOMPARE(link_->verified(), found);
        QCOMPARE(shownLists().last(), kStartMask);
        QTRY_COMPARE_WITH_TIMEOUT(shownLists(), shown, kNotificationTimeoutMs);
        const bool nmea = shown[3] == kNmeaFormatIndex;
        QCOMPARE(sentenceBoxesEnabled(*window_), nmea ? 1 : 0);

        receiver(preset).clearHostWrites();
        window_->setStatus(QStringLiteral("  untouched"));
        press(IDC_GET_SETTINGS);
        QCOMPARE(receiver(preset).hostWrites().empty(), found);
        QCOMPARE(window_->status(), found ? QStringLiteral("  untouched") : status);
    }

    void applySettings_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<Lists>("chosen");
        QTest::addColumn<Line>("line");
        QTest::addColumn<uint>("sentences");
        QTest::addColumn<QString>("status");
        QTest::addColumn<Lists>("shown");
        QTest::newRow("nothing chosen")
            << kFastOdd << kNothingChosen << kFactoryLine << 0x05u
            << QString("  Receiver set to 9600,8,None,1,TSIP") << Lists{3, 0, 0, 0, kStartMask};
        QTest::newRow("19200 odd TSIP")
            << kFactory << Lists{4, 1, 0, 0, 0x1F} << Line{19200, kParityOdd, kOneStopBit} << 0x1Fu
            << QString("  Receiver set to 19200,8,Odd,1,TSIP") << Lists{4, 1, 0, 0, 0x1F};
        // Found at the search's first probe, where the receiver's sentences already arrive: a
        // sentence still on its way when the search starts cannot pass for an answer elsewhere.
        // The receiver keeps RMC in bit 8 of its own mask; the window shows it as bit 6.
        QTest::newRow("38400 odd NMEA")
            << kFactory << Lists{5, 1, 0, 1, 0x41} << Line{38400, kParityOdd, kOneStopBit} << 0x101u
            << QString("  Receiver set to 38400,8,Odd,1,NMEA") << Lists{5, 1, 0, 1, 0x41};
        // The search probes one stop bit only, and a receiver on two still hears it.
        QTest::newRow("two stop bits")
            << kStreamingNmea << Lists{3, 0, 1, 0, 0x7F} << Line{9600, kParityNone, kTwoStopBits}
            << 0x13Fu << QString("  Receiver set to 9600,8,None,1,TSIP") << Lists{3, 0, 0, 0, 0x7F};
        // Even parity is never probed: the final search cannot find the receiver. The boxes show
        // the selection the receiver reported during its reset, before the new one was sent.
        QTest::newRow("even parity")
            << kFactory << Lists{1, 2, 0, 0, 0x01} << Line{2400, kParityEven, kOneStopBit} << 0x01u
            << QString(kApplyingStatus) << Lists{1, 2, 0, 0, kPresetMask};
        QTest::newRow("38400 even two stop bits")
            << kFastOdd << Lists{5, 2, 1, 0, 0x08} << Line{38400, kParityEven, kTwoStopBits}
            << 0x08u << QString(kApplyingStatus) << Lists{5, 2, 1, 0, kPresetMask};
        // Receivers that cannot be moved keep everything they had.
        const Lists only19200{4, -1, -1, -1, kStartMask};
        QTest::newRow("silent") << kSilent << only19200 << kFactoryLine << kPresetSentences
                                << QString(kApplyFailedStatus) << only19200;
        QTest::newRow("rejects configurations")
            << kRejecting << only19200 << kFactoryLine << kPresetSentences
            << QString(kApplyFailedStatus) << only19200;
    }

    void applySettings() {
        QFETCH(int, preset);
        QFETCH(Lists, chosen);
        QFETCH(Line, line);
        QFETCH(uint, sentences);
        QFETCH(QString, status);
        QFETCH(Lists, shown);
        openWindowOn(preset);
        for (int list = 0; list < 4; ++list) {  // baud to format, in id order
            qobject_cast<QComboBox*>(window_->control(IDC_BAUD + list))
                ->setCurrentIndex(chosen[list]);
        }
        window_->post(kNotifyNmeaMask, static_cast<std::uint32_t>(chosen[4]), 0);
        QCoreApplication::sendPostedEvents(window_.get());

        press(IDC_APPLY_SETTINGS);

        const ReceiverSettings now = receiver(preset).settings();
        QCOMPARE(lineOf(now.line), line);
        const bool nmea = chosen[3] == kNmeaFormatIndex;
        QCOMPARE(now.output, nmea ? OutputProtocol::Nmea : OutputProtocol::Tsip);
        QCOMPARE(now.sentenceMask, sentences);
        QCOMPARE(window_->status(), status);
        QTRY_COMPARE_WITH_TIMEOUT(shownLists(), shown, kNotificationTimeoutMs);
        QCOMPARE(link_->verified(), status.startsWith(QLatin1String("  Receiver set to")));
        if (status == QString(kApplyingStatus)) {
            // The last probe of the failed final search: 1200 bits/s, no parity.
            LineSettings local;
            QVERIFY(link_->port()->getLineSettings(local));
            QCOMPARE(lineOf(local), (Line{1200, kParityNone, kOneStopBit}));
        }
    }

    void resetReceiver_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QString>("status");
        QTest::addColumn<Lists>("shown");
        const QString done = QString(kResetDoneStatus);
        const Lists factory{3, 0, 0, 0, kPresetMask};
        QTest::newRow("factory") << kFactory << done << factory;
        QTest::newRow("streaming NMEA") << kStreamingNmea << done << Lists{3, 0, 0, 0, 0x43};
        QTest::newRow("38400 odd") << kFastOdd << done << factory;
        QTest::newRow("rejecting") << kRejecting << done << factory;
        QTest::newRow("silent") << kSilent << QString(kResetFailedStatus) << kNothingChosen;
    }

    void resetReceiver() {
        QFETCH(int, preset);
        QFETCH(QString, status);
        QFETCH(Lists, shown);
        openWindowOn(preset);
        press(IDC_RESET_RECEIVER);
        QCOMPARE(window_->status(), status);
        const ReceiverSettings now = receiver(preset).settings();
        QCOMPARE(lineOf(now.line), kFactoryLine);
        QCOMPARE(now.output, OutputProtocol::Tsip);
        QTRY_COMPARE_WITH_TIMEOUT(shownLists(), shown, kNotificationTimeoutMs);
    }

    void statusAndCursorShownBeforeBlocking_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("during");
        QTest::addColumn<QString>("after");
        QTest::newRow("get") << IDC_GET_SETTINGS << QString(kSearchingStatus)
                             << QString(kNotFoundStatus);
        QTest::newRow("apply") << IDC_APPLY_SETTINGS << QString(kApplyingStatus)
                               << QString(kApplyFailedStatus);
        QTest::newRow("reset") << IDC_RESET_RECEIVER << QString(kResettingStatus)
                               << QString(kResetFailedStatus);
    }

    // Whenever the command writes to the receiver, the wait cursor and its status are up.
    void statusAndCursorShownBeforeBlocking() {
        QFETCH(int, button);
        QFETCH(QString, during);
        QFETCH(QString, after);
        QStringList seen;
        std::unique_ptr<QuietWindow> quiet;
        quiet = std::make_unique<QuietWindow>([&] {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            const bool waiting = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
            seen << (waiting ? QStringLiteral("wait ") : QStringLiteral("no wait ")) +
                        quiet->window.status();
        });
        QVERIFY(quiet->show());

        QTest::mouseClick(quiet->window.control(button), Qt::LeftButton);

        QVERIFY(!seen.isEmpty());
        for (const QString& moment : seen) {
            QCOMPARE(moment, QStringLiteral("wait ") + during);
        }
        QCOMPARE(quiet->window.status(), after);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }
};

QTEST_MAIN(SettingsCommandsTest)
#include "settings_commands_test.moc"
