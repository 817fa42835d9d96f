#include "app/settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "app_test_support.h"
#include "link/receiver_link.h"

using kestrune::SettingsWindow;
using kestrune::testing::itemsOf;
using kestrune::testing::QuietWindow;

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

// The named controls, in template order; they are the ones that take focus.
QStringList idNames() {
    QStringList names;
    for (const ExpectedControl& control : kExpectedControls) {
        if (qstrncmp(control.name, "IDC_", 4) == 0) {
            names << QString::fromLatin1(control.name);
        }
    }
    return names;
}

constexpr char kLongestStatus[] = "  Receiver set to 38400,8,Even,2,NMEA";

QString textOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        return field->text();
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        return group->title();
    }
    return qobject_cast<QComboBox*>(widget)->currentText();
}

// Dialog units from the window's own font, as the window should map them.
struct Units {
    explicit Units(const QFont& font) {
        const QFontMetricsF metrics(font);
        charWidth = metrics.horizontalAdvance(
                        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                    52.0;
        lineHeight = metrics.height();
    }
    int x(int units) const { return qRound(units * charWidth / 4.0); }
    int y(int units) const { return qRound(units * lineHeight / 8.0); }
    double charWidth;
    double lineHeight;
};

}  // namespace

// How the window looks when it opens: its controls, their order, places, texts and states.
class SettingsWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { fixture_ = std::make_unique<QuietWindow>(); }
    void cleanup() { fixture_.reset(); }

    void controlsInTemplateOrder();
    void tabOrderFollowsTemplate();
    void controlsAndTheirIds();
    void controlsPlacedInDialogUnits();
    void captionAndSize();
    void listsFilledNothingSelected();
    void initialStates();
    void portNameLoadedOnCreation();
    void longestStatusFits();

  private:
    template <typename T>
    T* find(const char* name) {
        return fixture_->find<T>(name);
    }
    SettingsWindow& window() { return fixture_->window; }
    QCheckBox* box(int id) { return qobject_cast<QCheckBox*>(window().control(id)); }

    std::unique_ptr<QuietWindow> fixture_;
};

void SettingsWindowTest::controlsInTemplateOrder() {
    QStringList children;
    for (QObject* child : window().children()) {
        if (child->isWidgetType()) {
            children << child->objectName();
        }
    }
    QStringList expected;
    for (const ExpectedControl& control : kExpectedControls) {
        expected << QString::fromLatin1(control.name);
    }
    QCOMPARE(children, expected);
}

// The named controls are reached by Tab in template order.
void SettingsWindowTest::tabOrderFollowsTemplate() {
    QStringList chain;
    QWidget* first = find<QWidget>("IDC_GET_SETTINGS");
    QWidget* widget = first;
    do {
        if (widget->parentWidget() == &window() && (widget->focusPolicy() & Qt::TabFocus) != 0) {
            chain << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != first);
    QCOMPARE(chain, idNames());
}

void SettingsWindowTest::controlsAndTheirIds() {
    for (const ExpectedControl& expected : kExpectedControls) {
        auto* widget = find<QWidget>(expected.name);
        QVERIFY2(widget != nullptr, expected.name);
        QCOMPARE(widget->metaObject()->className(), expected.className);
        QCOMPARE(textOf(widget), QString::fromLatin1(expected.text));
    }
    // Ids run from 1001 in template order.
    const QStringList names = idNames();
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(window().control(1001 + i)->objectName(), names[i]);
    }
    QCOMPARE(kestrune::IDC_ZDA, 1015);
    QVERIFY(window().control(1000) == nullptr);
    QVERIFY(window().control(1016) == nullptr);
}

// A list's own height is its closed field; the others take their whole place.
void SettingsWindowTest::controlsPlacedInDialogUnits() {
    const Units units(window().font());
    for (const ExpectedControl& expected : kExpectedControls) {
        const QRect place = find<QWidget>(expected.name)->geometry();
        QCOMPARE(place.x(), units.x(expected.x));
        QCOMPARE(place.y(), units.y(expected.y));
        QCOMPARE(place.width(), units.x(expected.x + expected.width) - units.x(expected.x));
        if (qstrcmp(expected.className, "QComboBox") != 0) {
            QCOMPARE(place.height(), units.y(expected.y + expected.height) - units.y(expected.y));
        }
    }
}

void SettingsWindowTest::captionAndSize() {
    QCOMPARE(window().windowTitle(), QStringLiteral("GPS Receiver Port Settings, 1.02"));
    const Units units(window().font());
    QCOMPARE(window().size(), QSize(units.x(179), units.y(85)));
}

void SettingsWindowTest::listsFilledNothingSelected() {
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
        auto* list = find<QComboBox>(expected.name);
        QCOMPARE(itemsOf(list), expected.items);
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(list->isEditable(), expected.editable);
        QCOMPARE(list->currentText(), QString());
        if (expected.editable) {
            QCOMPARE(list->insertPolicy(), QComboBox::NoInsert);
        }
    }
}

void SettingsWindowTest::initialStates() {
    const QList<int> checked{kestrune::IDC_GGA, kestrune::IDC_VTG};
    for (int id = kestrune::IDC_GGA; id <= kestrune::IDC_ZDA; ++id) {
        QCOMPARE(box(id)->isChecked(), checked.contains(id));
        QVERIFY(!box(id)->isEnabled());
    }
    auto* status = find<QLineEdit>("IDC_STATUS");
    QCOMPARE(status->text(), QStringLiteral("  Ready"));
    QVERIFY(status->isReadOnly());
    QVERIFY(status->hasFrame());
    QCOMPARE(status->alignment() & Qt::AlignHorizontal_Mask, Qt::Alignment(Qt::AlignHCenter));
    QVERIFY(find<QPushButton>("IDC_GET_SETTINGS")->isDefault());
    QVERIFY(!find<QPushButton>("IDC_APPLY_SETTINGS")->isDefault());
}

void SettingsWindowTest::portNameLoadedOnCreation() {
    QCOMPARE(fixture_->opener.names().size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(fixture_->opener.names().front()), QStringLiteral("QUIET"));
    QVERIFY(fixture_->link.isOpen());
}

void SettingsWindowTest::longestStatusFits() {
    window().setStatus(QString::fromLatin1(kLongestStatus));
    auto* status = find<QLineEdit>("IDC_STATUS");
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    // The line edit keeps a small margin inside its frame on each side.
    constexpr int kInnerMargins = 2 * 2;
    const int textWidth = status->fontMetrics().horizontalAdvance(QLatin1String(kLongestStatus));
    QVERIFY2(textWidth + kInnerMargins <= status->contentsRect().width(),
             qPrintable(QStringLiteral("%1 + margins > %2")
                            .arg(textWidth)
                            .arg(status->contentsRect().width())));
    QCOMPARE(status->text(), QString::fromLatin1(kLongestStatus));
}

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
