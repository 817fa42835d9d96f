// The window and its commands, against the built-in virtual receivers on a clock sped up by the
// same factor as the link's timing. A command runs off the window's thread: the window keeps
// handling events, takes no input meanwhile, and can be closed while the command runs.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/panel_store.h"
#include "app/port_chooser.h"
#include "app/settings_controller.h"
#include "app/settings_window.h"
#include "app/signal_closer.h"
#include "app/signal_panel.h"
#include "app/signal_poller.h"
#include "app/startup.h"
#include "link/receiver_link.h"
#include "sim/presets.h"
#include "sim/sky.h"
#include "tests/support/fake_serial_port.h"

using namespace kestrune;

namespace {

constexpr double kSpeedUp = 0.05;
// Generous, for sanitizer builds on a loaded machine; QTRY returns as soon as it holds.
constexpr int kCommandTimeoutMs = 120000;
constexpr int kGet = IDC_GET_SETTINGS;
constexpr int kApply = IDC_APPLY_SETTINGS;
constexpr int kReset = IDC_RESET_RECEIVER;
constexpr int kBoxes = 7;
enum Preset { kFactory = 1, kStreamingNmea, kFastOdd, kSilent, kRejecting };
// How the port stands when the command is pressed.
enum class Port { Open, Closed, Gone };

// The baud, parity, stop-bits and format lists' indexes (-1: nothing), then the boxes' mask.
using Choice = std::array<int, 5>;
constexpr Choice kNone{-1, -1, -1, -1, 0x05};
constexpr Choice k2400{1, -1, -1, -1, 0x05};
constexpr Choice k19200{4, -1, -1, -1, 0x05};
constexpr const char* kSet = nullptr;  // "  Receiver set to" what the lists show

// One command's case. The window and the receiver are each described as "baud,parity,stop
// bits,format,sentence mask in hex" (the receiver keeps RMC in bit 8 of its mask).
struct Case {
    const char* name;
    int preset;
    Choice chosen;
    int button;
    const char *status, *shown;
    const char* receiver = nullptr;  // nothing: as the preset started
    Port port = Port::Open;
};

// clang-format off
constexpr Case kCases[] = {
    // The boxes follow the receiver's report, which may come after the command's end.
    {"get factory", kFactory, k2400, kGet, kSet, "9600,None,1,TSIP,59"},
    {"get streaming NMEA", kStreamingNmea, k2400, kGet, kSet, "4800,None,1,NMEA,43"},
    {"get 38400 odd", kFastOdd, k2400, kGet, kSet, "38400,Odd,1,TSIP,59"},
    // A failed search leaves the lists as they were.
    {"get silent", kSilent, k2400, kGet, kNotFoundStatus, "2400,,,,5"},
    // A lost port is opened again by its stored name before any command.
    {"get, port closed", kFactory, kNone, kGet, kSet, "9600,None,1,TSIP,59", nullptr, Port::Closed},
    {"get, device gone", kFactory, kNone, kGet, kSet, "9600,None,1,TSIP,59", nullptr, Port::Gone},
    // Nothing chosen applies 9600, no parity, one stop bit, TSIP and the boxes' mask.
    {"apply nothing", kFastOdd, kNone, kApply, kSet, "9600,None,1,TSIP,5", "9600,None,1,TSIP,5"},
    {"apply 38400 odd NMEA", kFactory, {5, 1, 0, 1, 0x41}, kApply, kSet, "38400,Odd,1,NMEA,41",
        "38400,Odd,1,NMEA,101"},
    // The search probes one stop bit only, and a receiver on two still hears it; its report
    // says two, and so does the window.
    {"apply two stop bits", kStreamingNmea, {3, 0, 1, 0, 0x7F}, kApply, kSet,
        "9600,None,2,TSIP,7f", "9600,None,2,TSIP,13f"},
    // Even parity is never probed: the final search fails, and says so. The boxes show the
    // selection the receiver reported during its reset.
    {"apply even parity", kFactory, {1, 2, 0, 0, 0x01}, kApply, kNotFoundStatus,
        "2400,Even,1,TSIP,59", "2400,Even,1,TSIP,1"},
    // Receivers that cannot be moved keep everything they had; the one that rejects
    // configurations still answers during the reset, and reports its selection.
    {"apply silent", kSilent, k19200, kApply, kApplyFailedStatus, "19200,,,,5"},
    {"apply rejecting", kRejecting, k19200, kApply, kApplyFailedStatus, "19200,,,,59"},
    // The format list shows what the receiver was last seen sending.
    {"reset factory", kFactory, kNone, kReset, kSet, "9600,None,1,TSIP,59"},
    {"reset streaming NMEA", kStreamingNmea, kNone, kReset, kSet, "9600,None,1,TSIP,43",
        "9600,None,1,TSIP,103"},
    {"reset silent", kSilent, kNone, kReset, kResetFailedStatus, ",,,,5"},
};
// clang-format on

QString describe(const ReceiverSettings& settings) {
    const char* parities[] = {"None", "Odd", "Even"};
    return QString::asprintf(
        "%u,%s,%d,%s,%x", settings.line.baud, parities[static_cast<int>(settings.line.parity)],
        settings.line.stopBits == StopBits::Two ? 2 : 1,
        settings.output == OutputProtocol::Nmea ? "NMEA" : "TSIP", settings.sentenceMask);
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
    QEvent::Type first, last;
    int count = 0;
};

// The window and its controller on a link to one preset, opened as main opens it; the first
// port opened may be one whose device is gone.
struct Rig {
    Rig(int preset, double speedUp, bool gone)
        : devices(speedUp),
          link(Timing{}.scaled(speedUp), [this, gone](std::string_view name) mutable -> OpenResult {
              if (std::exchange(gone, false)) {  // its first read fails
                  auto state = std::make_shared<test::FakePortState>();
                  state->dead = true;
                  return {std::make_unique<test::FakeSerialPort>(state), OpenError::None};
              }
              return devices.open(name);
          }) {
        link.setPortName("SIM" + std::to_string(preset));
        window.show();
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
        QTRY_VERIFY(port != Port::Gone || rig_->link.deviceGone());
        if (port == Port::Closed) {
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
    // What the lists show and the boxes hold, as described for the cases.
    QString shown() {
        QStringList shown;
        for (int id = IDC_BAUD; id <= IDC_FORMAT; ++id) {
            shown << list(id)->currentText();
        }
        return shown.join(',') +
               QStringLiteral(",%1").arg(window().chosenConfig().sentences, 0, 16);
    }
    // How many controls from first to the last sentence box are enabled.
    int enabled(int first = IDC_GGA) {
        int enabled = 0;
        for (int id = first; id <= IDC_ZDA; ++id) {
            enabled += window().control(id)->isEnabled() ? 1 : 0;
        }
        return enabled;
    }
    // Presses a button and checks the command's start: its status, the wait cursor, and no
    // input taken, neither from the window nor from its signals. Then waits for its end.
    void press(int button) {
        const char* during =
            std::array{kSearchingStatus, kApplyingStatus, kResettingStatus}[button - kGet];
        QTest::mouseClick(window().control(button), Qt::LeftButton);
        for (int attempt = 0; attempt < 2; ++attempt) {
            QCOMPARE(window().status(), QLatin1String(during));
            QVERIFY(rig_->controller.running() && waitCursorShown());
            QVERIFY(enabled(kGet) == 1 && window().control(IDC_STATUS)->isEnabled());
            QTest::keyClick(&window(), Qt::Key_Return);
            emit window().getSettingsPressed();
            emit window().applySettingsPressed();
            emit window().resetReceiverPressed();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!rig_->controller.running(), kCommandTimeoutMs);
        QVERIFY(!waitCursorShown());
        QCOMPARE(enabled(kGet) - enabled(), IDC_GGA - kGet);  // all but the boxes, at least
    }
    // Each box, found by its text, is set from its own sentence's bit and read back into that
    // bit alone, enabled or not; higher bits are ignored. A report's signal levels wake the
    // signal panel once, not the window.
    void checkSentenceMasks(int boxesEnabled) {
        std::vector<std::pair<NmeaMask, QStringList>> rows{
            {0x45, {"GGA", "VTG", "RMC"}}, {0xFFFFFFC5, {"GGA", "VTG", "RMC"}}, {0x80, {}}};
        for (const NmeaSentence& sentence : kNmeaSentences) {
            rows.push_back(
                {sentence.bit, {QLatin1String(sentence.name.data(), sentence.name.size())}});
        }
        EventCounter queued(QEvent::User, QEvent::MaxUser);
        EventCounter levelsQueued(QEvent::User, QEvent::MaxUser);
        window().installEventFilter(&queued);
        window().signalPanel().installEventFilter(&levelsQueued);
        for (const auto& [mask, checked] : rows) {
            queued.count = 0;
            levelsQueued.count = 0;
            for (std::uint32_t prn = 1; prn <= 51; ++prn) {  // one report's signal levels
                window().post(kNotifySignalLevel, prn, 0);
            }
            window().post(kNotifyNmeaMask, mask, 0);
            QCoreApplication::sendPostedEvents(&window());
            QCoreApplication::sendPostedEvents(&window().signalPanel());
            QCOMPARE(queued.count, 1);
            QCOMPARE(levelsQueued.count, 1);
            for (const NmeaSentence& sentence : kNmeaSentences) {
                const QString name = QLatin1String(sentence.name.data(), sentence.name.size());
                auto* box = window().findChild<QCheckBox*>(QStringLiteral("IDC_") + name);
                QCOMPARE(box->text(), name);
                QCOMPARE(box->isChecked(), checked.contains(name));
            }
            QCOMPARE(window().chosenConfig().sentences, mask & 0x7F);
            QCOMPARE(enabled(), boxesEnabled);
        }
    }

  private slots:
    void init() { openOn(kFactory); }
    void cleanup() { rig_.reset(); }

    // The window on its own: its start, the sentence boxes, the format list's rules, and no
    // input while busy. Only a choice (arrow keys, as a pick from the drop-down) sets the boxes:
    // neither a selection by the program nor typed text does. Escape does nothing; Enter presses
    // Get Settings. Busy, the window takes no input; after, the sentence boxes follow what the
    // format rules said meanwhile.
    void windowAlone() {
        QCOMPARE(shown(), QStringLiteral(",,,,5"));
        QCOMPARE(window().status(), QStringLiteral("  Ready"));
        QVERIFY(qobject_cast<QPushButton*>(window().control(kGet))->isDefault());
        // The longest status fits, with the small margin the field keeps inside its frame on
        // each side.
        const QString longest = QStringLiteral("  Receiver set to 38400,8,Even,2,NMEA");
        auto* status = qobject_cast<QLineEdit*>(window().control(IDC_STATUS));
        QCOMPARE_LE(status->fontMetrics().horizontalAdvance(longest) + 2 * 2,
                    status->contentsRect().width());
        checkSentenceMasks(0);

        QTest::keyClick(&window(), Qt::Key_Escape);
        QVERIFY(window().isVisible());
        QComboBox* format = list(IDC_FORMAT);
        format->setFocus();
        QTest::keyClicks(format->lineEdit(), QStringLiteral("NMEA"));
        QTest::keyClick(format->lineEdit(), Qt::Key_Return);
        QVERIFY(rig_->controller.running());
        // The search's end leaves the boxes as they were.
        QTRY_VERIFY_WITH_TIMEOUT(!rig_->controller.running(), kCommandTimeoutMs);
        QCOMPARE(enabled(), 0);
        QCOMPARE(format->count(), 2);
        format->setCurrentIndex(0);
        format->setCurrentIndex(1);  // NMEA, chosen by the program
        QCOMPARE(enabled(), 0);
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(format, key);
            const int index = key == Qt::Key_Down ? 1 : 0;  // 1: NMEA
            QCOMPARE(format->currentIndex(), index);
            QCOMPARE(enabled(), index * kBoxes);  // enabled exactly for NMEA
        }
        // Typing the very text of the next item, then moving to it, is a choice all the same.
        format->lineEdit()->clear();
        QTest::keyClicks(format->lineEdit(), QStringLiteral("NMEA"));
        QTest::keyClick(format, Qt::Key_Down);
        QCOMPARE(format->currentIndex(), 1);
        checkSentenceMasks(kBoxes);

        window().setBusy(true);
        window().showReceiverSettings(kFactoryLine, OutputProtocol::Tsip);
        window().setBusy(false);
        QCOMPARE(enabled(), 0);
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
        const QStringList l = QString::fromLatin1(c.shown).split(',');
        const QString set =
            QStringLiteral("  Receiver set to %1,8,%2,%3,%4").arg(l[0], l[1], l[2], l[3]);
        QCOMPARE(window().status(), c.status == kSet ? set : QString::fromLatin1(c.status));
        // A search that found the receiver names it under the port.
        const bool searched = c.status == kSet && c.button != kReset;
        QCOMPARE(window().shownReceiverIdentity(),
                 QLatin1String(searched ? "Kestrune Virtual Receiver, firmware 1.2" : ""));
        const ReceiverSettings start = SimulatedDevices::preset(c.preset).settings;
        QCOMPARE(describe(receiver().settings()),
                 c.receiver != nullptr ? QString::fromLatin1(c.receiver) : describe(start));
        QTRY_COMPARE_WITH_TIMEOUT(shown(), QLatin1String(c.shown), kCommandTimeoutMs);
        QCOMPARE(enabled(), l[3] == QLatin1String("NMEA") ? kBoxes : 0);
        QCOMPARE(rig_->link.verified(), c.status == kSet);
        window().setStatus(QStringLiteral("  untouched"));
        QTest::mouseClick(window().control(kGet), Qt::LeftButton);
        QCOMPARE(window().status(),
                 QLatin1String(c.status == kSet ? "  untouched" : kSearchingStatus));
    }

    // At the receiver's real timing the commands take many seconds, a search and an apply here.
    // Meanwhile the window's thread runs timers and repaints; the close box ends the command
    // where it stands, closes the link, ends the window, and no late result reaches it.
    // The port row sits above the settings controls with an accessible name. A typed name is
    // stored and used at once; one that cannot be stored is refused, the store left as it was.
    // A listing (as a plug event brings) keeps what is being typed; a choice the store cannot
    // take leaves the link where it was, and says so.
    void portRow() {
        QTemporaryDir folder;
        const QString store = folder.filePath(QStringLiteral("Kestrune.conf"));
        PortChooser chooser(rig_->link, window(), store);
        QSignalSpy listings(&chooser, &PortChooser::listed);
        auto* port = window().findChild<QComboBox*>(QStringLiteral("IDC_PORT"));
        QVERIFY(port != nullptr && port->accessibleName() == QStringLiteral("Port"));
        QVERIFY(port->geometry().bottom() < list(IDC_BAUD)->geometry().top());
        QCOMPARE(port->currentText(), QStringLiteral("SIM1 (virtual receiver)"));
        for (const QString& typed : {QStringLiteral("SIM2"), QStringLiteral("/dev/null")}) {
            port->setEditText(typed);
            QTest::keyClick(port->lineEdit(), Qt::Key_Return);
            QCOMPARE(QSettings(store, QSettings::IniFormat).value("Port"), QVariant("SIM2"));
            QCOMPARE(rig_->link.portName(), std::string("SIM2"));
        }
        QCOMPARE(window().status(), QStringLiteral("  Not a port name: /dev/null"));
        QCOMPARE(port->currentText(), QStringLiteral("SIM2 (virtual receiver)"));
        QTRY_VERIFY(listings.count() > 0);
        port->lineEdit()->selectAll();
        QTest::keyClicks(port->lineEdit(), QStringLiteral("USB"));
        const qsizetype seen = listings.count();
        chooser.refresh();
        QTRY_COMPARE(listings.count(), seen + 1);
        QCOMPARE(port->currentText(), QStringLiteral("USB"));
        QVERIFY(QFile::remove(store) && QDir().mkdir(store));
        port->setEditText(QStringLiteral("SIM3"));
        QTest::keyClick(port->lineEdit(), Qt::Key_Return);
        QCOMPARE(window().status(),
                 QStringLiteral("  Port SIM3 not chosen: the settings file %1 cannot be written")
                     .arg(store));
        QCOMPARE(rig_->link.portName(), std::string("SIM2"));
    }

    // Below Apply Settings, off by default, named for assistive tools, kept in the settings
    // file; checked, Apply has the receiver save and the status line says so.
    void saveInReceiver() {
        auto* box = window().findChild<QCheckBox*>(QString::fromLatin1(kSaveInReceiverName));
        QVERIFY(box != nullptr && !box->isChecked() && box->isEnabled());
        QCOMPARE(box->accessibleName(), QStringLiteral("Save in receiver"));
        const QRect apply = window().control(kApply)->geometry();
        QVERIFY(box->geometry().top() > apply.bottom() && box->geometry().left() == apply.left());
        QTemporaryDir folder;
        const QString store = folder.filePath(QStringLiteral("Kestrune.conf"));
        QVERIFY(!loadSaveChoice(store));
        for (const bool save : {true, false}) {
            QVERIFY(storeSaveChoice(save, store));
            QCOMPARE(loadSaveChoice(store), save);
        }
        window().setBusy(true);
        QVERIFY(!box->isEnabled());
        window().setBusy(false);
        box->setChecked(true);
        choose({1, 1, 0, 0, 0x01});
        press(kApply);
        QCOMPARE(window().status(), QStringLiteral("  Saved in the receiver"));
        QCOMPARE(receiver().savedSettings().value_or(ReceiverSettings{}).line.baud, 2400u);
    }

    // On SIM1 the panel first says no satellite was reported; after Get Settings it holds one bar
    // per satellite of the sky in PRN order, each telling its level and that level's worth. The
    // levels are asked for only once the receiver is found, idle and on TSIP. Folding shrinks the
    // window, and the next window opens folded.
    void signalPanel() {
        QTemporaryDir folder;
        const QString store = folder.filePath(QStringLiteral("Kestrune.conf"));
        keepPanelFolding(window().signalPanel(), store);
        // Its timer must not outlive the rig it polls, which is replaced below.
        std::optional<SignalPoller> poller(std::in_place, rig_->link, rig_->controller, window());
        const auto* none = window().findChild<QLabel*>(QString::fromLatin1(kNoSatellitesName));
        QTRY_COMPARE(none->text(), QStringLiteral("No satellites reported yet"));
        QVERIFY(none->isVisible() && !poller->pollNow());
        QTest::mouseClick(window().control(kGet), Qt::LeftButton);
        QVERIFY(!poller->pollNow());
        QTRY_VERIFY_WITH_TIMEOUT(!rig_->controller.running(), kCommandTimeoutMs);
        QVERIFY(poller->pollNow());
        const std::vector<std::uint8_t> query{0x10, 0x27, 0x10, 0x03};
        const auto asked = [&] {
            const std::vector<HostWrite> writes = receiver().hostWrites();
            return std::any_of(writes.begin(), writes.end(),
                               [&](const HostWrite& write) { return write.bytes == query; });
        };
        QTRY_VERIFY(asked());
        QTRY_COMPARE(window().signalPanel().barViews().size(), kSky.size());
        QVERIFY(!none->isVisible());
        const QRegularExpression shape(QStringLiteral("^PRN (\\d+): (\\d+) dB-Hz, (\\w+)$"));
        for (std::size_t i = 0; i < kSky.size(); ++i) {
            QWidget* bar = window().signalPanel().barViews()[i];
            const QString name =
                QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name);
            const QRegularExpressionMatch match = shape.match(name);
            QVERIFY2(match.hasMatch(), qPrintable(name));
            const int level = match.captured(2).toInt();
            QCOMPARE(match.captured(1).toInt(), kSky[i].prn);
            QCOMPARE_LE(std::abs(level - kSky[i].snrDbHz), 4);
            QCOMPARE(match.captured(3), QLatin1String(strengthWord(strengthOf(level))));
        }
        const int unfolded = window().height();
        QTest::mouseClick(window().findChild<QToolButton*>(QString::fromLatin1(kSignalFoldName)),
                          Qt::LeftButton);
        QCOMPARE_LT(window().height(), unfolded);
        QCOMPARE(QSettings(store, QSettings::IniFormat).value("SignalPanelFolded").toString(),
                 QStringLiteral("true"));
        poller.reset();
        rig_ = std::make_unique<Rig>(kFactory, kSpeedUp, false);
        keepPanelFolding(window().signalPanel(), store);
        QVERIFY(window().signalPanel().folded());
        QCOMPARE_LT(window().height(), unfolded);

        // A receiver sending NMEA is never asked.
        openOn(kStreamingNmea);
        SignalPoller nmeaPoller(rig_->link, rig_->controller, window());
        press(kGet);
        QTRY_VERIFY(rig_->link.outputProtocol() == OutputProtocol::Nmea);
        QVERIFY(!nmeaPoller.pollNow());
    }

    // Levels posted out of PRN order, and again with new levels, end up as each satellite's last
    // level, in PRN order; a PRN beyond one byte is ignored.
    void signalLevelsInPrnOrder() {
        QVERIFY(window().signalPanel().barViews().empty());
        for (const std::uint32_t raise : {0u, 10u}) {
            for (const auto& [prn, level] :
                 {std::pair{30u, 15u}, {3u, 38u}, {300u, 30u}, {17u, 23u}}) {
                window().post(kNotifySignalLevel, prn, level + raise);
            }
        }
        const auto names = [this] {
            QStringList names;
            for (QWidget* bar : window().signalPanel().barViews()) {
                names << QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name);
            }
            return names;
        };
        QTRY_COMPARE(names(), (QStringList{QStringLiteral("PRN 3: 48 dB-Hz, strong"),
                                           QStringLiteral("PRN 17: 33 dB-Hz, usable"),
                                           QStringLiteral("PRN 30: 25 dB-Hz, weak")}));
    }

    void closeMidCommand() {
        for (const auto& [preset, button] :
             {std::pair{kSilent, kGet}, std::pair{kFactory, kApply}}) {
            openOn(preset, 1.0);
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
            connect(&window(), &QDialog::finished, this,
                    [&] { closedFirst = !rig_->link.isOpen(); });
            window().setResult(button);
            QTimer::singleShot(0, &window(), [this] { QVERIFY(window().close()); });
            QCOMPARE(window().exec(), 0);
            QVERIFY(closedFirst && !rig_->controller.running() && !waitCursorShown());
            QCoreApplication::sendPostedEvents();
            QCOMPARE(window().status(), during);
            // The command's last steps never happened: no search reached its end, no selection
            // was written.
            QCOMPARE_LT(receiver().hostWrites().size(), std::size_t{12});
            QCOMPARE(receiver().settings().sentenceMask, kFactorySentences);
            rig_.reset();
        }
    }

    // SIGTERM and SIGHUP are the close box too: the modal run ends with 0, the link closed. A
    // signal not taken would end the test here.
    void stopSignalsCloseTheWindow() {
        for (const int signal : {SIGTERM, SIGHUP}) {
            openOn(kFactory);
            const SignalCloser closer(window());
            QVERIFY(closer.active());
            QTimer::singleShot(0, &window(), [signal] { ::raise(signal); });
            QCOMPARE(window().exec(), 0);
            QVERIFY(!rig_->link.isOpen());
        }
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
