// What the window does with input and notifications: choices in the format list, the NMEA
// mask from the reader, Escape, Enter and the close box.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <memory>
#include <thread>

#include "app/settings_commands.h"
#include "app/settings_window.h"
#include "app_test_support.h"
#include "link/receiver_link.h"

using kestrune::SettingsWindow;
using kestrune::testing::itemsOf;
using kestrune::testing::QuietWindow;

class SettingsWindowInputTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { fixture_ = std::make_unique<QuietWindow>(); }
    void cleanup() { fixture_.reset(); }

    void formatChoiceSetsSentenceBoxes();
    void selectionByProgramLeavesBoxes();
    void typedFormatLeavesBoxes();
    void nmeaMaskNotification_data();
    void nmeaMaskNotification();
    void notificationFromAnotherThread();
    void signalLevelIgnored();
    void chosenSettingsReadsIndexesAndBoxes();

    void escapeDoesNotClose();
    void enterPressesGetSettings();
    void closeBoxClosesLinkAndEnds();
    void closeBoxEndsModalRun();

  private:
    template <typename T>
    T* find(const char* name) {
        return fixture_->find<T>(name);
    }
    SettingsWindow& window() { return fixture_->window; }
    QCheckBox* box(int id) { return qobject_cast<QCheckBox*>(window().control(id)); }

    std::unique_ptr<QuietWindow> fixture_;
};

// Arrow keys on the list are a choice, as a pick from its drop-down is.
void SettingsWindowInputTest::formatChoiceSetsSentenceBoxes() {
    auto* format = find<QComboBox>("IDC_FORMAT");
    const auto boxesEnabled = [this] {
        for (int id = kestrune::IDC_GGA; id <= kestrune::IDC_ZDA; ++id) {
            if (box(id)->isEnabled() != box(kestrune::IDC_GGA)->isEnabled()) {
                return -1;
            }
        }
        return box(kestrune::IDC_GGA)->isEnabled() ? 1 : 0;
    };
    format->setFocus();
    QTest::keyClick(format, Qt::Key_Down);
    QCOMPARE(format->currentIndex(), 0);
    QCOMPARE(boxesEnabled(), 0);
    QTest::keyClick(format, Qt::Key_Down);
    QCOMPARE(format->currentIndex(), 1);
    QCOMPARE(boxesEnabled(), 1);
    QTest::keyClick(format, Qt::Key_Up);
    QCOMPARE(format->currentIndex(), 0);
    QCOMPARE(boxesEnabled(), 0);
}

void SettingsWindowInputTest::selectionByProgramLeavesBoxes() {
    window().selectItem(kestrune::IDC_FORMAT, QStringLiteral("NMEA"));
    QCOMPARE(find<QComboBox>("IDC_FORMAT")->currentIndex(), 1);
    QVERIFY(!box(kestrune::IDC_GGA)->isEnabled());
}

void SettingsWindowInputTest::typedFormatLeavesBoxes() {
    auto* format = find<QComboBox>("IDC_FORMAT");
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    format->setFocus();
    QTest::keyClicks(format->lineEdit(), QStringLiteral("NMEA"));
    QTest::keyClick(format->lineEdit(), Qt::Key_Return);
    QVERIFY(!box(kestrune::IDC_GGA)->isEnabled());
    QCOMPARE(itemsOf(format), QStringList({"TSIP", "NMEA"}));
    // A choice after typing still counts.
    QTest::keyClick(format, Qt::Key_Up);
    QTest::keyClick(format, Qt::Key_Down);
    QCOMPARE(format->currentIndex(), 1);
    QVERIFY(box(kestrune::IDC_GGA)->isEnabled());
}

void SettingsWindowInputTest::nmeaMaskNotification_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<uint>("mask");
    QTest::addColumn<QList<int>>("checked");
    using namespace kestrune;
    const QList<int> ggaVtgRmc{IDC_GGA, IDC_VTG, IDC_RMC};
    const QList<int> all{IDC_GGA, IDC_GLL, IDC_GSA, IDC_GSV, IDC_RMC, IDC_VTG, IDC_ZDA};
    QTest::newRow("0x45 disabled") << false << 0x45u << ggaVtgRmc;
    QTest::newRow("0x45 enabled") << true << 0x45u << ggaVtgRmc;
    QTest::newRow("higher bits ignored") << false << 0xFFFFFFC5u << ggaVtgRmc;
    QTest::newRow("each bit") << true << 0x7Fu << all;
    QTest::newRow("GLL GSV GSA ZDA")
        << false << 0x3Au << QList<int>{IDC_GLL, IDC_GSV, IDC_GSA, IDC_ZDA};
    QTest::newRow("none") << true << 0x80u << QList<int>{};
}

void SettingsWindowInputTest::nmeaMaskNotification() {
    QFETCH(bool, enabled);
    QFETCH(uint, mask);
    QFETCH(QList<int>, checked);
    window().setSentenceBoxesEnabled(enabled);
    window().post(kestrune::kNotifyNmeaMask, mask, 0);
    QCoreApplication::sendPostedEvents(&window());
    for (int id = kestrune::IDC_GGA; id <= kestrune::IDC_ZDA; ++id) {
        QCOMPARE(box(id)->isChecked(), checked.contains(id));
        QCOMPARE(box(id)->isEnabled(), enabled);
    }
}

void SettingsWindowInputTest::notificationFromAnotherThread() {
    std::thread reader([this] { window().post(kestrune::kNotifyNmeaMask, kestrune::kMaskGll, 0); });
    reader.join();
    QTRY_VERIFY_WITH_TIMEOUT(box(kestrune::IDC_GLL)->isChecked(), 10000);
    QVERIFY(!box(kestrune::IDC_GGA)->isChecked());
}

void SettingsWindowInputTest::signalLevelIgnored() {
    window().post(kestrune::kNotifySignalLevel, 0x45, 43);
    QCoreApplication::sendPostedEvents(&window());
    QCOMPARE(window().chosenSettings().mask, kestrune::kMaskGga | kestrune::kMaskVtg);
    QCOMPARE(window().status(), QStringLiteral("  Ready"));
}

void SettingsWindowInputTest::chosenSettingsReadsIndexesAndBoxes() {
    QCOMPARE(window().chosenSettings(), (kestrune::ChosenSettings{-1, -1, -1, -1, 0x05}));
    find<QComboBox>("IDC_BAUD")->setCurrentIndex(4);
    find<QComboBox>("IDC_PARITY")->setCurrentIndex(2);
    find<QComboBox>("IDC_STOP_BITS")->setCurrentIndex(1);
    find<QComboBox>("IDC_FORMAT")->setCurrentIndex(1);
    box(kestrune::IDC_GGA)->setChecked(false);
    box(kestrune::IDC_ZDA)->setChecked(true);
    box(kestrune::IDC_RMC)->setChecked(true);
    QCOMPARE(window().chosenSettings(), (kestrune::ChosenSettings{4, 2, 1, 1, 0x64}));
}

void SettingsWindowInputTest::escapeDoesNotClose() {
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    QTest::keyClick(&window(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(window().isVisible());
    QVERIFY(fixture_->link.isOpen());
}

// The quiet port never answers: the search ends in its failure text.
void SettingsWindowInputTest::enterPressesGetSettings() {
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    auto* baud = find<QWidget>("IDC_BAUD");
    baud->setFocus();
    QTest::keyClick(baud, Qt::Key_Return);
    QCOMPARE(window().status(), QString::fromLatin1(kestrune::kNotFoundStatus));
}

void SettingsWindowInputTest::closeBoxClosesLinkAndEnds() {
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    window().setResult(7);
    QVERIFY(window().close());
    QVERIFY(!fixture_->link.isOpen());
    QVERIFY(!window().isVisible());
    QCOMPARE(window().result(), 0);
}

void SettingsWindowInputTest::closeBoxEndsModalRun() {
    QTimer::singleShot(0, &window(), [this] { window().close(); });
    QCOMPARE(window().exec(), 0);
    QVERIFY(!fixture_->link.isOpen());
}

QTEST_MAIN(SettingsWindowInputTest)
#include "settings_window_input_test.moc"
