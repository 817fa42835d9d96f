#include "app/settings_window.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <optional>
#include <span>
#include <utility>

namespace kestrune {

namespace {

constexpr char kCaption[] = "GPS Receiver Port Settings, 1.02";
constexpr char kReadyStatus[] = "  Ready";
constexpr char kSettingsStatus[] = "  Receiver set to %1,8,%2,%3,%4";

// The window's client area, in dialog units.
constexpr int kWindowWidth = 179;
constexpr int kWindowHeight = 85;

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

// The sentence box of each sentence, in the order of kNmeaSentences.
constexpr std::array<int, kNmeaSentences.size()> kSentenceBoxes{IDC_GGA, IDC_GLL, IDC_VTG, IDC_GSV,
                                                                IDC_GSA, IDC_ZDA, IDC_RMC};

// A list item: its text and the value it stands for. The lists are not sorted, so an item's
// index is its place in its table.
template <typename Value>
struct Item {
    const char* text;
    Value value;
};

constexpr std::array<Item<OutputProtocol>, 2> kFormatItems{
    {{"TSIP", OutputProtocol::Tsip}, {"NMEA", OutputProtocol::Nmea}}};
constexpr std::array<Item<Parity>, 3> kParityItems{
    {{"None", Parity::None}, {"Odd", Parity::Odd}, {"Even", Parity::Even}}};
constexpr std::array<Item<StopBits>, 2> kStopBitsItems{
    {{"1", StopBits::One}, {"2", StopBits::Two}}};

template <typename Value>
QString textOf(std::span<const Item<Value>> items, Value value) {
    for (const Item<Value>& item : items) {
        if (item.value == value) {
            return QString::fromLatin1(item.text);
        }
    }
    return {};
}

// The value of the chosen index; the fallback when nothing, or nothing known, is chosen.
template <typename Value>
Value valueAt(std::span<const Item<Value>> items, int index, Value fallback) {
    if (index < 0 || index >= static_cast<int>(items.size())) {
        return fallback;
    }
    return items[static_cast<std::size_t>(index)].value;
}

template <typename Value>
QStringList textsOf(std::span<const Item<Value>> items) {
    QStringList texts;
    for (const Item<Value>& item : items) {
        texts << QString::fromLatin1(item.text);
    }
    return texts;
}

QStringList baudTexts() {
    QStringList texts;
    for (const BaudRate& rate : kBaudRates) {
        texts << QString::number(rate.baud);
    }
    return texts;
}

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

// An NMEA mask from the reader thread, carried to the window's thread.
class NmeaMaskEvent : public QEvent {
  public:
    explicit NmeaMaskEvent(NmeaMask mask) : QEvent(eventType()), mask(mask) {}

    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    const NmeaMask mask;
};

}  // namespace

SettingsWindow::SettingsWindow(QWidget* parent) : QDialog(parent) {
    buildControls();
    for (const int id : {IDC_GGA, IDC_VTG}) {
        static_cast<QCheckBox*>(control(id))->setChecked(true);
    }
    fillLists();
    setStatus(QString::fromLatin1(kReadyStatus));
    connectControls();
}

SettingsWindow::~SettingsWindow() {
    setBusy(false);
}

void SettingsWindow::buildControls() {
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits units(font());
    setFixedSize(units.x(kWindowWidth), units.y(kWindowHeight));
    for (const ControlTemplate& entry : kControls) {
        QWidget* widget = createControl(entry, this);
        widget->setObjectName(QString::fromLatin1(entry.name));
        QRect place = units.rect(entry.x, entry.y, entry.width, entry.height);
        // A list's own height is that of its closed field; the template's is the list dropped
        // down, which holds every item.
        if (auto* list = qobject_cast<QComboBox*>(widget)) {
            place.setHeight(list->sizeHint().height());
        }
        widget->setGeometry(place);
        if (entry.id != 0) {
            controls_[entry.id - IDC_GET_SETTINGS] = widget;
        }
    }
}

void SettingsWindow::fillLists() {
    const std::pair<int, QStringList> contents[] = {
        {IDC_FORMAT, textsOf<OutputProtocol>(kFormatItems)},
        {IDC_BAUD, baudTexts()},
        {IDC_PARITY, textsOf<Parity>(kParityItems)},
        {IDC_STOP_BITS, textsOf<StopBits>(kStopBitsItems)},
    };
    for (const auto& [id, items] : contents) {
        QComboBox* box = list(id);
        box->addItems(items);
        // Adding the first item selects it; nothing is selected until settings are shown.
        box->setCurrentIndex(-1);
        if (box->isEditable()) {
            box->clearEditText();
        }
    }
}

void SettingsWindow::connectControls() {
    connect(static_cast<QPushButton*>(control(IDC_GET_SETTINGS)), &QPushButton::clicked, this,
            &SettingsWindow::getSettingsPressed);
    connect(static_cast<QPushButton*>(control(IDC_APPLY_SETTINGS)), &QPushButton::clicked, this,
            &SettingsWindow::applySettingsPressed);
    connect(static_cast<QPushButton*>(control(IDC_RESET_RECEIVER)), &QPushButton::clicked, this,
            &SettingsWindow::resetReceiverPressed);
    // Only the user's choice counts, not a selection made by showing settings.
    connect(list(IDC_FORMAT), &QComboBox::activated, this, &SettingsWindow::onFormatActivated);
    list(IDC_FORMAT)->installEventFilter(this);
    list(IDC_FORMAT)->lineEdit()->installEventFilter(this);
}

// A signal-level report alone posts dozens of notifications; queued, they would pile up for as
// long as the window's thread is busy.
void SettingsWindow::post(std::uint32_t message, std::uint32_t first, std::uint32_t /*second*/) {
    if (message == kNotifyNmeaMask) {
        QCoreApplication::postEvent(this, new NmeaMaskEvent(first));
    }
}

QWidget* SettingsWindow::control(int id) const {
    if (id < IDC_GET_SETTINGS || id > IDC_ZDA) {
        return nullptr;
    }
    return controls_[id - IDC_GET_SETTINGS];
}

QComboBox* SettingsWindow::list(int id) const {
    return qobject_cast<QComboBox*>(control(id));
}

ReceiverConfig SettingsWindow::chosenConfig() const {
    ReceiverConfig chosen;
    const int baudIndex = list(IDC_BAUD)->currentIndex();
    chosen.line.baud = baudIndex >= 0 && baudIndex < static_cast<int>(kBaudRates.size())
                           ? kBaudRates[static_cast<std::size_t>(baudIndex)].baud
                           : kFactoryBaud;
    chosen.line.parity =
        valueAt<Parity>(kParityItems, list(IDC_PARITY)->currentIndex(), Parity::None);
    chosen.line.stopBits =
        valueAt<StopBits>(kStopBitsItems, list(IDC_STOP_BITS)->currentIndex(), StopBits::One);
    chosen.protocol = valueAt<OutputProtocol>(kFormatItems, list(IDC_FORMAT)->currentIndex(),
                                              OutputProtocol::Tsip);
    for (std::size_t i = 0; i < kNmeaSentences.size(); ++i) {
        const auto* box = static_cast<QCheckBox*>(control(kSentenceBoxes[i]));
        if (box->checkState() != Qt::Unchecked) {
            chosen.sentences |= kNmeaSentences[i].bit;
        }
    }
    return chosen;
}

void SettingsWindow::showReceiverSettings(const LineSettings& line, OutputProtocol protocol) {
    const bool nmea = protocol == OutputProtocol::Nmea;
    setSentenceBoxesEnabled(nmea);
    const QString texts[] = {textOf<OutputProtocol>(kFormatItems, protocol),
                             textOf<StopBits>(kStopBitsItems, line.stopBits),
                             textOf<Parity>(kParityItems, line.parity), QString::number(line.baud)};
    const int lists[] = {IDC_FORMAT, IDC_STOP_BITS, IDC_PARITY, IDC_BAUD};
    // Selected by text, searching the whole list, in this order.
    for (std::size_t i = 0; i < std::size(lists); ++i) {
        QComboBox* box = list(lists[i]);
        box->setCurrentIndex(box->findText(texts[i], Qt::MatchFixedString));
        // What was typed there is replaced by what is shown.
        if (QLineEdit* edit = box->lineEdit()) {
            edit->setModified(false);
        }
    }
    setStatus(QString::fromLatin1(kSettingsStatus).arg(texts[3], texts[2], texts[1], texts[0]));
}

void SettingsWindow::setSentenceBoxesEnabled(bool enabled) {
    sentenceBoxesOn_ = enabled;
    applyEnabledStates();
}

void SettingsWindow::setBusy(bool busy) {
    if (busy == busy_) {
        return;
    }
    busy_ = busy;
    // The override cursor shows over every window of the program, and this is its only one.
    if (busy_) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
    applyEnabledStates();
}

void SettingsWindow::applyEnabledStates() {
    for (int id = IDC_GET_SETTINGS; id <= IDC_ZDA; ++id) {
        if (id == IDC_STATUS) {
            continue;  // read-only all along, and kept readable
        }
        const bool sentenceBox = id >= IDC_GGA;
        control(id)->setEnabled(!busy_ && (!sentenceBox || sentenceBoxesOn_));
    }
}

void SettingsWindow::setStatus(const QString& text) {
    auto* field = static_cast<QLineEdit*>(control(IDC_STATUS));
    field->setText(text);
    // Keep the start of a long text in view rather than its end.
    field->setCursorPosition(0);
}

QString SettingsWindow::status() const {
    return static_cast<QLineEdit*>(control(IDC_STATUS))->text();
}

void SettingsWindow::reject() {}

bool SettingsWindow::event(QEvent* event) {
    if (event->type() != NmeaMaskEvent::eventType()) {
        return QDialog::event(event);
    }
    showNmeaMask(static_cast<NmeaMaskEvent*>(event)->mask);
    return true;
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    emit closing();
    done(0);
    event->accept();
}

// Enter in the format list's edit field commits typed text, which may select an item but is
// not a choice; any other key, a click or the wheel starts a real one (arrow keys, the
// drop-down). The mark set by Enter is taken by the activation Enter causes, if any.
bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            typedTextCommitted_ = key == Qt::Key_Return || key == Qt::Key_Enter;
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            typedTextCommitted_ = false;
            break;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsWindow::onFormatActivated(int index) {
    if (std::exchange(typedTextCommitted_, false)) {
        return;
    }
    setSentenceBoxesEnabled(valueAt<OutputProtocol>(kFormatItems, index, OutputProtocol::Tsip) ==
                            OutputProtocol::Nmea);
}

void SettingsWindow::showNmeaMask(NmeaMask mask) {
    for (std::size_t i = 0; i < kNmeaSentences.size(); ++i) {
        auto* box = static_cast<QCheckBox*>(control(kSentenceBoxes[i]));
        box->setChecked((mask & kNmeaSentences[i].bit) != 0);
    }
}

}  // namespace kestrune
