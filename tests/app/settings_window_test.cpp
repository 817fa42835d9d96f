// The window and its commands, against the built-in virtual receivers on a clock sped up by the
// same factor as the link's timing. A command runs off the window's thread: the window keeps
// handling events, takes no input meanwhile, and can be closed while the command runs.
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <memory>
#include <string>

#include "app/settings_controller.h"
#include "app/settings_window.h"
#include "link/receiver_link.h"
#include "sim/presets.h"

using namespace kestrune;

namespace {

constexpr double kSpeedUp = 0.05;
constexpr double kRealTime = 1.0;
// Generous, for sanitizer builds on a loaded machine; QTRY returns as soon as it holds.
constexpr int kCommandTimeoutMs = 120000;
constexpr int kGet = IDC_GET_SETTINGS;
constexpr int kApply = IDC_APPLY_SETTINGS;
constexpr int kReset = IDC_RESET_RECEIVER;
constexpr int kNmeaIndex = 1;
constexpr int kBoxes = 7;
constexpr std::uint32_t kSignalLevelsPerReport = 51;
enum Preset { kFactory = 1, kStreamingNmea, kFastOdd, kSilent, kRejecting };
// How the port stands when the command is pressed.
enum class Port { Open, Closed, Gone };

// The baud, parity, stop-bits and format lists' indexes (-1: nothing), then the boxes' mask.
using Choice = std::array<int, 5>;
constexpr Choice kNone{-1, -1, -1, -1, 0x05};
constexpr Choice k2400{1, -1, -1, -1, 0x05};
constexpr Choice k19200{4, -1, -1, -1, 0x05};
constexpr char kFactorySet[] = "  Receiver set to 9600,8,None,1,TSIP";

// One command's case. The window and the receiver are each described as "baud,parity,stop
// bits,format,sentence mask in hex" (the receiver keeps RMC in bit 8 of its mask).
struct Case {
    const char* name;
    int preset;
    Choice chosen;
    int button;
    const char* status;
    const char* shown;
    Port port = Port::Open;
    const char* receiver = nullptr;  // nothing: as the preset started
};

// clang-format off
constexpr Case kCases[] = {
    // The boxes follow the receiver's report, which may come after the command's end.
    {"get factory", kFactory, k2400, kGet, kFactorySet, "9600,None,1,TSIP,59"},
    {"get streaming NMEA", kStreamingNmea, k2400, kGet, "  Receiver set to 4800,8,None,1,NMEA",
        "4800,None,1,NMEA,43"},
    {"get 38400 odd", kFastOdd, k2400, kGet, "  Receiver set to 38400,8,Odd,1,TSIP",
        "38400,Odd,1,TSIP,59"},
    {"get rejecting", kRejecting, k2400, kGet, kFactorySet, "9600,None,1,TSIP,59"},
    // A failed search leaves the lists as they were.
    {"get silent", kSilent, k2400, kGet, kNotFoundStatus, "2400,,,,5"},
    // A lost port is opened again by its stored name first.
    {"get, port closed", kFactory, kNone, kGet, kFactorySet, "9600,None,1,TSIP,59", Port::Closed},
    {"get, device gone", kFactory, kNone, kGet, kFactorySet, "9600,None,1,TSIP,59", Port::Gone},
    // Nothing chosen applies 9600, no parity, one stop bit, TSIP and the boxes' mask.
    {"apply nothing chosen", kFastOdd, kNone, kApply, kFactorySet, "9600,None,1,TSIP,5", Port::Open,
        "9600,None,1,TSIP,5"},
    {"apply 38400 odd NMEA", kFactory, {5, 1, 0, 1, 0x41}, kApply,
        "  Receiver set to 38400,8,Odd,1,NMEA", "38400,Odd,1,NMEA,41", Port::Open,
        "38400,Odd,1,NMEA,101"},
    // The search probes one stop bit only, and a receiver on two still hears it.
    {"apply two stop bits", kStreamingNmea, {3, 0, 1, 0, 0x7F}, kApply, kFactorySet,
        "9600,None,1,TSIP,7f", Port::Open, "9600,None,2,TSIP,13f"},
    // Even parity is never probed: the final search fails, and says so. The boxes show the
    // selection the receiver reported during its reset.
    {"apply even parity", kFactory, {1, 2, 0, 0, 0x01}, kApply, kNotFoundStatus,
        "2400,Even,1,TSIP,59", Port::Open, "2400,Even,1,TSIP,1"},
    {"apply, device gone", kFactory, {4, 1, 0, 0, 0x1F}, kApply,
        "  Receiver set to 19200,8,Odd,1,TSIP", "19200,Odd,1,TSIP,1f", Port::Gone,
        "19200,Odd,1,TSIP,1f"},
    // Receivers that cannot be moved keep everything they had; the one that rejects
    // configurations still answers during the reset, and reports its selection.
    {"apply silent", kSilent, k19200, kApply, kApplyFailedStatus, "19200,,,,5"},
    {"apply rejecting", kRejecting, k19200, kApply, kApplyFailedStatus, "19200,,,,59"},
    // The format list shows what the receiver was last seen sending.
    {"reset factory", kFactory, kNone, kReset, kResetDoneStatus, "9600,None,1,TSIP,59"},
    {"reset streaming NMEA", kStreamingNmea, kNone, kReset, kResetDoneStatus, "9600,None,1,TSIP,43",
        Port::Open, "9600,None,1,TSIP,103"},
    {"reset 38400 odd", kFastOdd, kNone, kReset, kResetDoneStatus, "9600,None,1,TSIP,59",
        Port::Open, "9600,None,1,TSIP,119"},
    {"reset silent", kSilent, kNone, kReset, kResetFailedStatus, ",,,,5"},
    {"reset, port closed", kFastOdd, kNone, kReset, kResetDoneStatus, "9600,None,1,TSIP,59",
        Port::Closed, "9600,None,1,TSIP,119"},
};
// clang-format on

QString describe(const ReceiverSettings& settings) {
    const char* parities[] = {"None", "Odd", "Even"};
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(settings.line.baud)
        .arg(QLatin1String(parities[static_cast<int>(settings.line.parity)]))
        .arg(settings.line.stopBits == StopBits::Two ? 2 : 1)
        .arg(settings.output == OutputProtocol::Nmea ? "NMEA" : "TSIP")
        .arg(settings.sentenceMask, 0, 16);
}

bool waitCursorShown() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

// Counts the events of types first to last that reach the objects it filters.
struct EventCounter : QObject {
    EventCounter(QEvent::Type first, QEvent::Type last) : first(first), last(last) {}
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() >= first && event->type() <= last ? 1 : 0;
        return false;
    }
    QEvent::Type first;
    QEvent::Type last;
    int count = 0;
};

// A port whose device is gone as soon as it is opened: its first read fails.
struct GonePort : SerialPort {
    bool write(std::span<const std::uint8_t>) override { return true; }
    ReadResult readByte(std::uint8_t&) override { return ReadResult::Failed; }
    bool setReadCeiling(std::chrono::milliseconds) override { return true; }
    bool getLineSettings(LineSettings&) override { return true; }
    bool setLineSettings(const LineSettings&) override { return true; }
    bool setBreak(bool) override { return true; }
    void stopReading() override {}
};

// The window and its controller on a link to one preset, opened as main opens it.
struct Rig {
    Rig(int preset, double speedUp, bool firstPortGone)
        : devices(speedUp), link(Timing{}.scaled(speedUp), opener(firstPortGone)) {
        link.setPortName("SIM" + std::to_string(preset));
        window.show();
    }
    PortOpener opener(bool firstPortGone) {
        return [this, gone = firstPortGone](std::string_view name) mutable -> OpenResult {
            if (std::exchange(gone, false)) {
                return {std::make_unique<GonePort>(), OpenError::None};
            }
            return devices.open(name);
        };
    }

    SimulatedDevices devices;
    ReceiverLink link;
    SettingsWindow window;
    SettingsController controller{link, window};
};

}  // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Rig> rig_;
    int preset_ = kFactory;

    SettingsWindow& window() { return rig_->window; }
    QComboBox* list(int id) { return qobject_cast<QComboBox*>(window().control(id)); }
    VirtualReceiver& receiver() { return *rig_->devices.receiver(preset_); }
    void openOn(int preset, double speedUp = kSpeedUp, Port port = Port::Open) {
        preset_ = preset;
        rig_ = std::make_unique<Rig>(preset, speedUp, port == Port::Gone);
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
        if (port == Port::Gone) {
            QTRY_VERIFY(rig_->link.deviceGone());
        } else if (port == Port::Closed) {
            rig_->link.close();
        }
    }
    void choose(const Choice& chosen) {
        for (int i = 0; i < 4; ++i) {
            list(IDC_BAUD + i)->setCurrentIndex(chosen[i]);
        }
        window().post(kNotifyNmeaMask, static_cast<std::uint32_t>(chosen[4]), 0);
        QCoreApplication::sendPostedEvents(&window());
    }
    void chooseNmeaByKeys() {  // down from nothing chosen picks TSIP, then NMEA
        QTest::keyClick(list(IDC_FORMAT), Qt::Key_Down);
        QTest::keyClick(list(IDC_FORMAT), Qt::Key_Down);
    }
    // What the lists show and the boxes hold, as described for the cases.
    QString shown() {
        QStringList shown;
        for (int id = IDC_BAUD; id <= IDC_FORMAT; ++id) {
            shown << list(id)->currentText();
        }
        const NmeaMask mask = window().chosenConfig().sentences;
        return shown.join(',') + QStringLiteral(",%1").arg(mask, 0, 16);
    }
    // How many of the seven sentence boxes are enabled.
    int boxesEnabled() {
        int enabled = 0;
        for (int id = IDC_GGA; id <= IDC_ZDA; ++id) {
            enabled += window().control(id)->isEnabled() ? 1 : 0;
        }
        return enabled;
    }
    // Presses a button and checks the command's start: its status, the wait cursor, and no
    // input taken, neither from the window nor from its signals. Then waits for its end.
    void press(int button) {
        const char* during = button == kGet     ? kSearchingStatus
                             : button == kApply ? kApplyingStatus
                                                : kResettingStatus;
        QTest::mouseClick(window().control(button), Qt::LeftButton);
        for (int attempt = 0; attempt < 2; ++attempt) {
            QCOMPARE(window().status(), QLatin1String(during));
            QVERIFY(rig_->controller.running() && waitCursorShown());
            for (int id : {kGet, kApply, kReset, IDC_BAUD, IDC_FORMAT, IDC_GGA}) {
                QVERIFY(!window().control(id)->isEnabled());
            }
            QTest::keyClick(&window(), Qt::Key_Return);
            emit window().getSettingsPressed();
            emit window().applySettingsPressed();
            emit window().resetReceiverPressed();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!rig_->controller.running(), kCommandTimeoutMs);
        QVERIFY(!waitCursorShown() && window().control(kApply)->isEnabled());
        QVERIFY(list(IDC_PARITY)->isEnabled());
    }

  private slots:
    void init() { openOn(kFactory); }
    void cleanup() { rig_.reset(); }

    void startState() {
        QCOMPARE(shown(), QStringLiteral(",,,,5"));
        QCOMPARE(boxesEnabled(), 0);
        QCOMPARE(window().status(), QStringLiteral("  Ready"));
        QVERIFY(qobject_cast<QPushButton*>(window().control(kGet))->isDefault());
        const QString longest = QStringLiteral("  Receiver set to 38400,8,Even,2,NMEA");
        auto* status = qobject_cast<QLineEdit*>(window().control(IDC_STATUS));
        // The field keeps a small margin inside its frame on each side.
        constexpr int kInnerMargins = 2 * 2;
        QCOMPARE_LE(status->fontMetrics().horizontalAdvance(longest) + kInnerMargins,
                    status->contentsRect().width());
    }

    void nmeaMask_data() {
        QTest::addColumn<bool>("nmeaChosen");
        QTest::addColumn<uint>("mask");
        QTest::addColumn<QStringList>("checked");
        for (const NmeaSentence& sentence : kNmeaSentences) {
            const QString name = QString::fromLatin1(sentence.name.data(), sentence.name.size());
            QTest::addRow("%s", qPrintable(name)) << false << sentence.bit << QStringList{name};
        }
        QTest::newRow("0x45, boxes off") << false << 0x45u << QStringList{"GGA", "VTG", "RMC"};
        QTest::newRow("0x45, boxes on") << true << 0x45u << QStringList{"GGA", "VTG", "RMC"};
        QTest::newRow("higher bits") << false << 0xFFFFFFC5u << QStringList{"GGA", "VTG", "RMC"};
        QTest::newRow("none") << true << 0x80u << QStringList{};
    }

    // Each box, found by its text, is set from its own sentence's bit and read back into that
    // bit alone, enabled or not. Signal levels are dropped before they are queued.
    void nmeaMask() {
        QFETCH(bool, nmeaChosen);
        QFETCH(uint, mask);
        QFETCH(QStringList, checked);
        if (nmeaChosen) {
            chooseNmeaByKeys();
        }
        EventCounter queued(QEvent::User, QEvent::MaxUser);
        window().installEventFilter(&queued);
        for (std::uint32_t prn = 1; prn <= kSignalLevelsPerReport; ++prn) {
            window().post(kNotifySignalLevel, prn, 0);
        }
        window().post(kNotifyNmeaMask, mask, 0);
        QCoreApplication::sendPostedEvents(&window());
        QCOMPARE(queued.count, 1);
        NmeaMask expected = 0;
        for (const NmeaSentence& sentence : kNmeaSentences) {
            const QString name = QString::fromLatin1(sentence.name.data(), sentence.name.size());
            auto* box = window().findChild<QCheckBox*>(QStringLiteral("IDC_") + name);
            QCOMPARE(box->text(), name);
            QCOMPARE(box->isChecked(), checked.contains(name));
            expected |= checked.contains(name) ? sentence.bit : 0;
        }
        QCOMPARE(window().chosenConfig().sentences, expected);
        QCOMPARE(boxesEnabled(), nmeaChosen ? kBoxes : 0);
    }

    // Only a choice (arrow keys, as a pick from the drop-down) sets the boxes: neither a
    // selection by the program nor typed text does. Escape does nothing; Enter presses Get
    // Settings.
    void formatChoiceSetsSentenceBoxes() {
        QTest::keyClick(&window(), Qt::Key_Escape);
        QVERIFY(window().isVisible());
        QComboBox* format = list(IDC_FORMAT);
        format->setFocus();
        QTest::keyClicks(format->lineEdit(), QStringLiteral("NMEA"));
        QTest::keyClick(format->lineEdit(), Qt::Key_Return);
        QVERIFY(rig_->controller.running());
        // The search's end leaves the boxes as they were.
        QTRY_VERIFY_WITH_TIMEOUT(!rig_->controller.running(), kCommandTimeoutMs);
        QCOMPARE(boxesEnabled(), 0);
        QCOMPARE(format->count(), 2);
        format->setCurrentIndex(0);
        format->setCurrentIndex(kNmeaIndex);
        QCOMPARE(boxesEnabled(), 0);
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(format, key);
            const int index = key == Qt::Key_Down ? kNmeaIndex : 0;
            QCOMPARE(format->currentIndex(), index);
            QCOMPARE(boxesEnabled(), index * kBoxes);  // enabled exactly for NMEA
        }
        // Typing the very text of the next item, then moving to it, is a choice all the same.
        format->lineEdit()->clear();
        QTest::keyClicks(format->lineEdit(), QStringLiteral("NMEA"));
        QTest::keyClick(format, Qt::Key_Down);
        QCOMPARE(format->currentIndex(), kNmeaIndex);
        QCOMPARE(boxesEnabled(), kBoxes);
    }

    // Busy, the window takes no input; after, the sentence boxes follow what the format rules
    // said meanwhile.
    void busyTakesNoInput() {
        chooseNmeaByKeys();
        window().setBusy(true);
        for (int id = kGet; id <= IDC_ZDA; ++id) {
            QCOMPARE(window().control(id)->isEnabled(), id == IDC_STATUS);
        }
        window().setBusy(false);
        QCOMPARE(boxesEnabled(), kBoxes);
        window().setBusy(true);
        window().showReceiverSettings(kFactoryLine, OutputProtocol::Tsip);
        window().setBusy(false);
        QCOMPARE(boxesEnabled(), 0);
    }

    void commands_data() {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < std::size(kCases); ++i) {
            QTest::newRow(kCases[i].name) << static_cast<int>(i);
        }
    }

    // Each command's status texts and final states. Get Settings afterwards searches again
    // only if the command left the link unverified.
    void commands() {
        QFETCH(int, index);
        const Case& c = kCases[index];
        openOn(c.preset, kSpeedUp, c.port);
        choose(c.chosen);
        press(c.button);
        QCOMPARE(window().status(), QLatin1String(c.status));
        const ReceiverSettings start = SimulatedDevices::preset(c.preset).settings;
        QCOMPARE(describe(receiver().settings()),
                 c.receiver != nullptr ? QString::fromLatin1(c.receiver) : describe(start));
        QTRY_COMPARE_WITH_TIMEOUT(shown(), QLatin1String(c.shown), kCommandTimeoutMs);
        const bool nmea = list(IDC_FORMAT)->currentText() == QLatin1String("NMEA");
        QCOMPARE(boxesEnabled(), nmea ? kBoxes : 0);
        const bool verified = window().status().startsWith(QLatin1String("  Receiver set to"));
        QCOMPARE(rig_->link.verified(), verified);
        window().setStatus(QStringLiteral("  untouched"));
        QTest::mouseClick(window().control(kGet), Qt::LeftButton);
        QCOMPARE(window().status(), QLatin1String(verified ? "  untouched" : kSearchingStatus));
    }

    void closeMidCommand_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<int>("button");
        QTest::newRow("mid-search") << static_cast<int>(kSilent) << kGet;
        QTest::newRow("mid-apply") << static_cast<int>(kFactory) << kApply;
    }

    // At the receiver's real timing the commands take many seconds. Meanwhile the window's
    // thread runs timers and repaints; the close box ends the command where it stands, closes
    // the link, ends the window, and no late result reaches it.
    void closeMidCommand() {
        QFETCH(int, preset);
        QFETCH(int, button);
        openOn(preset, kRealTime);
        choose({-1, -1, -1, -1, 0x7F});
        QTest::mouseClick(window().control(button), Qt::LeftButton);
        const QString during = window().status();
        bool timerFired = false;
        QTimer::singleShot(0, &window(), [&] { timerFired = rig_->controller.running(); });
        QTRY_VERIFY(timerFired);
        EventCounter paints(QEvent::Paint, QEvent::Paint);
        window().control(IDC_STATUS)->installEventFilter(&paints);
        window().control(IDC_STATUS)->update();
        QTRY_VERIFY(paints.count > 0);
        // Well into the command: the search has sent its first probe, the apply has reset.
        QTRY_VERIFY_WITH_TIMEOUT(
            button == kGet ? !receiver().hostWrites().empty() : receiver().factoryResets() > 0,
            kCommandTimeoutMs);
        QVERIFY(rig_->controller.running());

        // The close box ends the modal run with 0, whatever result was set, the link closed.
        bool closedFirst = false;
        connect(&window(), &QDialog::finished, this, [&] { closedFirst = !rig_->link.isOpen(); });
        window().setResult(button);
        QTimer::singleShot(0, &window(), [this] { QVERIFY(window().close()); });
        QCOMPARE(window().exec(), 0);
        QVERIFY(closedFirst && !rig_->controller.running() && !waitCursorShown());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(window().status(), during);
        // The command's last steps never happened: no search reached its end, no selection was
        // written.
        QCOMPARE_LT(receiver().hostWrites().size(), std::size_t{12});
        QCOMPARE(receiver().settings().sentenceMask, kFactorySentences);
        rig_.reset();
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
