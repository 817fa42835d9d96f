#include "app/window_layout.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/signal_panel.h"

namespace kestrune {

namespace {

// The window's client area, in dialog units.
constexpr int kWindowWidth = 179;
// The port row sits above the settings controls, which keep their places below it.
constexpr int kPortRowHeight = 26;
// The save box sits below the buttons, so every other control keeps its place.
constexpr int kSaveRowHeight = 12;
constexpr int kWindowHeight = 85 + kPortRowHeight + kSaveRowHeight;
// The signal panel's bars, below the fold button; tall enough that a level's step of one dB-Hz
// moves a bar by about a pixel at the usual fonts.
constexpr int kSignalBodyHeight = 64;

enum class Kind {
    DefaultButton,
    Button,
    Label,
    StatusField,
    SelectList,
    EditableList,
    EditableListAlwaysScrolled,
    SentenceBox,
    GroupBox,
};

// One control of the window; place and size in dialog units. For a list the height is that of
// the list dropped down.
struct ControlTemplate {
    int id;  // 0 for a control nobody addresses
    const char* name;
    Kind kind;
    const char* text;
    int x;
    int y;
    int width;
    int height;
};

// In this order, which is also the tab order.
constexpr ControlTemplate kControls[] = {
    {IDC_GET_SETTINGS, "IDC_GET_SETTINGS", Kind::DefaultButton, "Get Settings", 1, 69, 56, 14},
    {IDC_APPLY_SETTINGS, "IDC_APPLY_SETTINGS", Kind::Button, "Apply Settings", 61, 69, 56, 14},
    {IDC_RESET_RECEIVER, "IDC_RESET_RECEIVER", Kind::Button, "Reset Receiver", 123, 69, 56, 14},
    {0, "baudLabel", Kind::Label, "Baud", 11, 6, 18, 8},
    {0, "parityLabel", Kind::Label, "Parity", 8, 23, 21, 8},
    {0, "stopBitsLabel", Kind::Label, "Stop Bits", 0, 39, 32, 8},
    {IDC_STATUS, "IDC_STATUS", Kind::StatusField, "", 33, 53, 146, 14},
    {IDC_BAUD, "IDC_BAUD", Kind::SelectList, "", 32, 4, 43, 72},
    {IDC_PARITY, "IDC_PARITY", Kind::EditableList, "", 32, 20, 43, 43},
    {IDC_STOP_BITS, "IDC_STOP_BITS", Kind::EditableListAlwaysScrolled, "", 32, 36, 43, 47},
    {IDC_FORMAT, "IDC_FORMAT", Kind::EditableList, "", 83, 10, 56, 43},
    {IDC_GGA, "IDC_GGA", Kind::SentenceBox, "GGA", 83, 25, 32, 10},
    {IDC_GLL, "IDC_GLL", Kind::SentenceBox, "GLL", 83, 37, 29, 10},
    {IDC_GSA, "IDC_GSA", Kind::SentenceBox, "GSA", 115, 25, 31, 10},
    {IDC_GSV, "IDC_GSV", Kind::SentenceBox, "GSV", 115, 37, 31, 10},
    {IDC_RMC, "IDC_RMC", Kind::SentenceBox, "RMC", 147, 13, 30, 10},
    {IDC_VTG, "IDC_VTG", Kind::SentenceBox, "VTG", 147, 25, 26, 10},
    {IDC_ZDA, "IDC_ZDA", Kind::SentenceBox, "ZDA", 147, 37, 26, 10},
    {0, "formatGroup", Kind::GroupBox, "GPS Data Format", 79, 0, 100, 49},
    {0, "statusLabel", Kind::Label, "Status:", 5, 55, 25, 8},
};

// Above the rest, last in the tab order; placed as they are, not moved down.
constexpr ControlTemplate kPortRow[] = {
    {0, "portLabel", Kind::Label, "Port", 11, 4, 18, 8},
    {0, kPortListName, Kind::EditableList, "", 32, 2, 147, 72},
    {0, kReceiverIdentityName, Kind::Label, "", 34, 16, 145, 8},
};

// Under Apply Settings, last in the tab order; moved down with the settings controls.
constexpr ControlTemplate kSaveBox{
    0, kSaveInReceiverName, Kind::SentenceBox, "Save in receiver", 61, 85, 80, 10};

// A dialog unit is a quarter of the font's average character width across and an eighth of
// its line height down, so the layout grows with the font.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        static constexpr double kAlphabetLength = sizeof(kAlphabet) - 1;
        const QFontMetricsF metrics(font);
        charWidth_ = metrics.horizontalAdvance(QLatin1String(kAlphabet)) / kAlphabetLength;
        lineHeight_ = metrics.height();
    }
    int x(int units) const { return qRound(units * charWidth_ / kUnitsPerCharWidth); }
    int y(int units) const { return qRound(units * lineHeight_ / kUnitsPerLineHeight); }
    // Edges are mapped, not sizes, so neighbours never overlap by rounding.
    QRect rect(int left, int top, int width, int height) const {
        return QRect(QPoint(x(left), y(top)), QPoint(x(left + width) - 1, y(top + height) - 1));
    }

  private:
    static constexpr double kUnitsPerCharWidth = 4.0;
    static constexpr double kUnitsPerLineHeight = 8.0;
    double charWidth_ = 0.0;
    double lineHeight_ = 0.0;
};

QComboBox* createList(Kind kind, QWidget* parent) {
    auto* list = new QComboBox(parent);
    if (kind == Kind::SelectList) {
        return list;
    }
    list->setEditable(true);
    // Typed text never becomes an item, and is never completed into one: a completion would
    // replace the typed text and hide that it was typed (see onFormatActivated).
    list->setInsertPolicy(QComboBox::NoInsert);
    list->setCompleter(nullptr);
    if (kind == Kind::EditableListAlwaysScrolled) {
        list->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    }
    return list;
}

QWidget* createControl(const ControlTemplate& control, QWidget* parent) {
    const QString text = QString::fromLatin1(control.text);
    switch (control.kind) {
        case Kind::DefaultButton:
        case Kind::Button: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(control.kind == Kind::DefaultButton);
            return button;
        }
        case Kind::Label: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case Kind::StatusField: {
            auto* field = new QLineEdit(parent);
            field->setReadOnly(true);
            field->setAlignment(Qt::AlignCenter);
            field->setFrame(true);
            return field;
        }
        case Kind::SelectList:
        case Kind::EditableList:
        case Kind::EditableListAlwaysScrolled:
            return createList(control.kind, parent);
        case Kind::SentenceBox: {
            auto* box = new QCheckBox(text, parent);
            box->setEnabled(false);
            return box;
        }
        case Kind::GroupBox: {
            // Drawn around the format controls but never in their way: clicks go through.
            auto* group = new QGroupBox(text, parent);
            group->setAttribute(Qt::WA_TransparentForMouseEvents);
            return group;
        }
    }
    return nullptr;
}

QWidget* placeControl(const ControlTemplate& entry, int down, const DialogUnits& units,
                      QWidget& window) {
    QWidget* widget = createControl(entry, &window);
    widget->setObjectName(QString::fromLatin1(entry.name));
    QRect place = units.rect(entry.x, entry.y + down, entry.width, entry.height);
    // A list's own height is that of its closed field; the template's is the list dropped
    // down, which holds every item.
    if (auto* list = qobject_cast<QComboBox*>(widget)) {
        place.setHeight(list->sizeHint().height());
    }
    widget->setGeometry(place);
    return widget;
}

}  // namespace

WindowControls buildWindowControls(QWidget& window) {
    WindowControls controls{};
    const DialogUnits units(window.font());
    window.setFixedSize(units.x(kWindowWidth), units.y(kWindowHeight));
    for (const ControlTemplate& entry : kControls) {
        QWidget* widget = placeControl(entry, kPortRowHeight, units, window);
        if (entry.id != 0) {
            controls[entry.id - IDC_GET_SETTINGS] = widget;
        }
    }
    QWidget* label = placeControl(kPortRow[0], 0, units, window);
    QWidget* ports = placeControl(kPortRow[1], 0, units, window);
    static_cast<QLabel*>(label)->setBuddy(ports);
    ports->setAccessibleName(QStringLiteral("Port"));
    ports->setAccessibleDescription(
        QStringLiteral("The serial port the window talks to: pick a listed port or type a name "
                       "or a device path"));
    QWidget* identity = placeControl(kPortRow[2], 0, units, window);
    identity->setAccessibleName(QStringLiteral("Receiver"));
    identity->setAccessibleDescription(
        QStringLiteral("The product name and firmware version of the receiver found"));
    QWidget* save = placeControl(kSaveBox, kPortRowHeight, units, window);
    save->setEnabled(true);
    save->setAccessibleName(QStringLiteral("Save in receiver"));
    save->setAccessibleDescription(
        QStringLiteral("Apply Settings also has the receiver keep the new settings through "
                       "power-off"));
    return controls;
}

SignalPanel* addSignalPanel(QWidget& window) {
    const DialogUnits units(window.font());
    const int top = units.y(kWindowHeight);
    auto* panel = new SignalPanel(&window, units.y(kSignalBodyHeight));
    panel->setGeometry(0, top, units.x(kWindowWidth), panel->height());
    const auto fit = [&window, panel, top] {
        window.setFixedSize(window.width(), top + panel->shownHeight());
    };
    QObject::connect(panel, &SignalPanel::foldedChanged, &window, fit);
    fit();
    return panel;
}

}  // namespace kestrune
