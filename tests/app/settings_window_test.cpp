// The window as it opens (its controls, their order, places, texts and states) and what it does
// with input and notifications: choices in the format list, the NMEA mask from the reader,
// Escape, Enter and the close box.
#include "app/settings_window.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/settings_commands.h"
#include "app_test_support.h"
#include "link/receiver_link.h"

using namespace kestrune;
using namespace kestrune::testing;

namespace {

// Every control in tab order: object name, kind, text, place in dialog units.
struct ExpectedControl {
    const char* name;
    const char* className;
    const char* text;
    int x, y, width, height;
};

constexpr ExpectedControl kExpectedControls[] = {
    {"IDC_GET_SETTINGS", "QPushButton", "Get Settings", 1, 69, 56, 14},
    {"IDC_APPLY_SETTINGS", "QPushButton", "Apply Settings", 61, 69, 56, 14},
    {"IDC_RESET_RECEIVER", "QPushButton", "Reset Receiver", 123, 69, 56, 14},
    {"baudLabel", "QLabel", "Baud", 11, 6, 18, 8},
    {"parityLabel", "QLabel", "Parity", 8, 23, 21, 8},
    {"stopBitsLabel", "QLabel", "Stop Bits", 0, 39, 32, 8},
    {"IDC_STATUS", "QLineEdit", "  Ready", 33, 53, 146, 14},
    {"IDC_BAUD", "QComboBox", "", 32, 4, 43, 72},
    {"IDC_PARITY", "QComboBox", "", 32, 20, 43, 43},
    {"IDC_STOP_BITS", "QComboBox", "", 32, 36, 43, 47},
    {"IDC_FORMAT", "QComboBox", "", 83, 10, 56, 43},
    {"IDC_GGA", "QCheckBox", "GGA", 83, 25, 32, 10},
    {"IDC_GLL", "QCheckBox", "GLL", 83, 37, 29, 10},
    {"IDC_GSA", "QCheckBox", "GSA", 115, 25, 31, 10},
    {"IDC_GSV", "QCheckBox", "GSV", 115, 37, 31, 10},
    {"IDC_RMC", "QCheckBox", "RMC", 147, 13, 30, 10},
    {"IDC_VTG", "QCheckBox", "VTG", 147, 25, 26, 10},
    {"IDC_ZDA", "QCheckBox", "ZDA", 147, 37, 26, 10},
    {"formatGroup", "QGroupBox", "GPS Data Format", 79, 0, 100, 49},
    {"statusLabel", "QLabel", "Status:", 5, 55, 25, 8},
};

constexpr char kLongestStatus[] = "  Receiver set to 38400,8,Even,2,NMEA";

QString textOf(const QWidget* widget) {
    const char* property = qobject_cast<const QGroupBox*>(widget)   ? "title"
                           : qobject_cast<const QComboBox*>(widget) ? "currentText"
                                                                    : "text";
    return widget->property(property).toString();
}

}  // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QuietWindow> q_;

  private slots:
    void init() { q_ = std::make_unique<QuietWindow>(); }
    void cleanup() { q_.reset(); }

    // Each control's kind, text, place and id in template order, which is also the tab order.
    // A list's own height is its closed field; the others take their whole place.
    void controlsAsTemplated() {
        // Dialog units from the window's own font, as the window should map them.
        const QFontMetricsF metrics(q_->window.font());
        const double charWidth = metrics.horizontalAdvance(QStringLiteral(
                                     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                                 52.0;
        const auto x = [&](int units) { return qRound(units * charWidth / 4.0); };
        const auto y = [&](int units) { return qRound(units * metrics.height() / 8.0); };
        QStringList all;
        QStringList named;  // those with ids, from 1001 on; they are the ones that take focus
        for (const ExpectedControl& expected : kExpectedControls) {
            all << QString::fromLatin1(expected.name);
            QWidget* widget = q_->find(expected.name);
            QVERIFY2(widget != nullptr, expected.name);
            if (all.last().startsWith(QLatin1String("IDC_"))) {
                QCOMPARE(q_->window.control(1001 + static_cast<int>(named.size())), widget);
                named << all.last();
            }
            QCOMPARE(widget->metaObject()->className(), expected.className);
            QCOMPARE(textOf(widget), QString::fromLatin1(expected.text));
            const QRect place = widget->geometry();
            QCOMPARE(place.x(), x(expected.x));
            QCOMPARE(place.y(), y(expected.y));
            QCOMPARE(place.width(), x(expected.x + expected.width) - x(expected.x));
            if (qstrcmp(expected.className, "QComboBox") != 0) {
                QCOMPARE(place.height(), y(expected.y + expected.height) - y(expected.y));
            }
        }
        QVERIFY(q_->window.control(1000) == nullptr);
        QVERIFY(q_->window.control(1016) == nullptr);
        QStringList children;
        for (QObject* child : q_->window.children()) {
            if (child->isWidgetType()) {
                children << child->objectName();
            }
        }
        QCOMPARE(children, all);
        QStringList chain;
        QWidget* const first = q_->find("IDC_GET_SETTINGS");
        QWidget* widget = first;
        do {
            if (widget->parentWidget() == &q_->window && (widget->focusPolicy() & Qt::TabFocus)) {
                chain << widget->objectName();
            }
            widget = widget->nextInFocusChain();
        } while (widget != first);
        QCOMPARE(chain, named);
        QCOMPARE(q_->window.windowTitle(), QStringLiteral("GPS Receiver Port Settings, 1.02"));
        QCOMPARE(q_->window.size(), QSize(x(179), y(85)));
    }

    void listsFilledNothingSelected() {
        const struct {
            const char* name;
            QStringList items;
            bool editable;
        } lists[] = {
            {"IDC_BAUD", {"1200", "2400", "4800", "9600", "19200", "38400"}, false},
            {"IDC_PARITY", {"None", "Odd", "Even"}, true},
            {"IDC_STOP_BITS", {"1", "2"}, true},
            {"IDC_FORMAT", {"TSIP", "NMEA"}, true},
        };
        for (const auto& expected : lists) {
            auto* list = q_->find<QComboBox>(expected.name);
            QCOMPARE(itemsOf(list), expected.items);
            QCOMPARE(list->currentIndex(), -1);
            QCOMPARE(list->isEditable(), expected.editable);
            QCOMPARE(list->currentText(), QString());
            QVERIFY(!expected.editable || list->insertPolicy() == QComboBox::NoInsert);
        }
    }

    void initialStates() {
        for (int id = IDC_GGA; id <= IDC_ZDA; ++id) {
            QCOMPARE(q_->box(id)->isChecked(), id == IDC_GGA || id == IDC_VTG);
        }
        QCOMPARE(sentenceBoxesEnabled(q_->window), 0);
        auto* status = q_->find<QLineEdit>("IDC_STATUS");
        QCOMPARE(status->text(), QStringLiteral("  Ready"));
        QVERIFY(status->isReadOnly());
        QVERIFY(status->hasFrame());
        QCOMPARE(status->alignment() & Qt::AlignHorizontal_Mask, Qt::Alignment(Qt::AlignHCenter));
        QVERIFY(q_->find<QPushButton>("IDC_GET_SETTINGS")->isDefault());
        QVERIFY(!q_->find<QPushButton>("IDC_APPLY_SETTINGS")->isDefault());
        // The stored port name was handed to the link, which opened it.
        QCOMPARE(q_->opener.names(), QStringList{QStringLiteral("QUIET")});
        QVERIFY(q_->link.isOpen());
    }

    void longestStatusFits() {
        q_->window.setStatus(QString::fromLatin1(kLongestStatus));
        auto* status = q_->find<QLineEdit>("IDC_STATUS");
        QVERIFY(q_->show());
        // The line edit keeps a small margin inside its frame on each side.
        constexpr int kInnerMargins = 2 * 2;
        const int textWidth =
            status->fontMetrics().horizontalAdvance(QLatin1String(kLongestStatus));
        QCOMPARE_LE(textWidth + kInnerMargins, status->contentsRect().width());
        QCOMPARE(status->text(), QString::fromLatin1(kLongestStatus));
    }

    // Only a choice (arrow keys, as a pick from the drop-down) sets the boxes: neither a
    // selection by the program nor typed text does.
    void formatChoiceSetsSentenceBoxes() {
        auto* format = q_->find<QComboBox>("IDC_FORMAT");
        QVERIFY(q_->show());
        format->setFocus();
        QTest::keyClicks(format->lineEdit(), QStringLiteral("NMEA"));
        QTest::keyClick(format->lineEdit(), Qt::Key_Return);
        QCOMPARE(sentenceBoxesEnabled(q_->window), 0);
        QCOMPARE(itemsOf(format), QStringList({"TSIP", "NMEA"}));
        q_->window.selectItem(IDC_FORMAT, QStringLiteral("TSIP"));
        q_->window.selectItem(IDC_FORMAT, QStringLiteral("NMEA"));
        QCOMPARE(format->currentIndex(), 1);
        QCOMPARE(sentenceBoxesEnabled(q_->window), 0);
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(format, key);
            const int index = key == Qt::Key_Down ? 1 : 0;
            QCOMPARE(format->currentIndex(), index);
            QCOMPARE(sentenceBoxesEnabled(q_->window), index);  // enabled exactly for NMEA
        }
        // Typing the very text of the next item, then moving to it, is a choice all the same.
        format->lineEdit()->clear();
        QTest::keyClicks(format->lineEdit(), QStringLiteral("NMEA"));
        QTest::keyClick(format, Qt::Key_Down);
        QCOMPARE(format->currentIndex(), 1);
        QCOMPARE(sentenceBoxesEnabled(q_->window), 1);
    }

    void nmeaMaskNotification_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<uint>("mask");
        QTest::addColumn<QList<int>>("checked");
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

    // The boxes are set, whether enabled or not; a signal level changes nothing.
    void nmeaMaskNotification() {
        QFETCH(bool, enabled);
        QFETCH(uint, mask);
        QFETCH(QList<int>, checked);
        q_->window.setSentenceBoxesEnabled(enabled);
        q_->window.post(kNotifyNmeaMask, mask, 0);
        q_->window.post(kNotifySignalLevel, 0x7F, 43);
        QCoreApplication::sendPostedEvents(&q_->window);
        for (int id = IDC_GGA; id <= IDC_ZDA; ++id) {
            QCOMPARE(q_->box(id)->isChecked(), checked.contains(id));
        }
        QCOMPARE(sentenceBoxesEnabled(q_->window), enabled ? 1 : 0);
        QCOMPARE(q_->window.status(), QStringLiteral("  Ready"));
    }

    // Escape does nothing; Enter presses Get Settings, whose search on the quiet port fails.
    void escapeAndEnter() {
        QVERIFY(q_->show());
        QTest::keyClick(&q_->window, Qt::Key_Escape);
        QCoreApplication::processEvents();
        QVERIFY(q_->window.isVisible());
        QVERIFY(q_->link.isOpen());
        QCOMPARE(q_->window.status(), QStringLiteral("  Ready"));
        QWidget* baud = q_->find("IDC_BAUD");
        baud->setFocus();
        QTest::keyClick(baud, Qt::Key_Return);
        QCOMPARE(q_->window.status(), QString::fromLatin1(kNotFoundStatus));
    }

    // The link is closed before the modal run ends, with result 0 whatever was set before.
    void closeBoxClosesLinkThenEnds() {
        bool closedFirst = false;
        connect(&q_->window, &QDialog::finished, this, [&] { closedFirst = !q_->link.isOpen(); });
        QTimer::singleShot(0, &q_->window, [this] {
            q_->window.setResult(7);
            QVERIFY(q_->window.close());
        });
        QCOMPARE(q_->window.exec(), 0);
        QVERIFY(closedFirst);
        QVERIFY(!q_->window.isVisible());
        QCOMPARE(q_->window.result(), 0);
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
