#include "app/settings_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <optional>
#include <span>
#include <utility>

#include "app/signal_panel.h"

namespace kestrune {

namespace {

constexpr char kCaption[] = "GPS Receiver Port Settings, 1.02";
constexpr char kReadyStatus[] = "  Ready";
constexpr char kSettingsStatus[] = "  Receiver set to %1,8,%2,%3,%4";

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

// Wakes the window's thread to show the NMEA mask the reader thread left. The event carries
// nothing: the mask crosses threads in an atomic, not in memory the event queue hands over.
class NmeaMaskEvent : public QEvent {
  public:
    NmeaMaskEvent() : QEvent(eventType()) {}

    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
};

}  // namespace

SettingsWindow::SettingsWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    controls_ = buildWindowControls(*this);
    portList_ = findChild<QComboBox*>(QString::fromLatin1(kPortListName));
    receiverIdentity_ = findChild<QLabel*>(QString::fromLatin1(kReceiverIdentityName));
    saveInReceiver_ = findChild<QCheckBox*>(QString::fromLatin1(kSaveInReceiverName));
    connect(saveInReceiver_, &QCheckBox::toggled, this, &SettingsWindow::saveInReceiverChanged);
    signalPanel_ = addSignalPanel(*this);
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
    // A pick from the list activates it; Enter after typed text is taken in eventFilter.
    connect(portList_, &QComboBox::activated, this, &SettingsWindow::onPortActivated);
    portList_->lineEdit()->installEventFilter(this);
}

// A listed port stands for the name stored with it; typed text is the name itself.
void SettingsWindow::onPortActivated(int index) {
    const QString typed = portList_->currentText().trimmed();
    const QString listed = index >= 0 && portList_->itemText(index) == typed
                               ? portList_->itemData(index).toString()
                               : QString{};
    const QString name = listed.isEmpty() ? typed : listed;
    if (!name.isEmpty()) {
        emit portChosen(name);
    }
}

// Enter in the port row chooses what it holds, and goes no further: it must not also press the
// window's default button.
bool SettingsWindow::choosePortOnEnter(int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter) {
        return false;
    }
    onPortActivated(portList_->findText(portList_->currentText().trimmed()));
    return true;
}

void SettingsWindow::setPortChoices(const QStringList& texts, const QStringList& names) {
    QLineEdit* edit = portList_->lineEdit();
    const QString shown = edit->text();
    const bool typed = edit->isModified();
    const int cursor = edit->cursorPosition();
    portList_->clear();
    for (qsizetype i = 0; i < texts.size() && i < names.size(); ++i) {
        portList_->addItem(texts[i], names[i]);
    }
    showPort(shown);
    if (typed) {
        edit->setModified(true);
        edit->setCursorPosition(cursor);
    }
}

bool SettingsWindow::portBeingTyped() const {
    return portList_->lineEdit()->isModified();
}

void SettingsWindow::showPort(const QString& text) {
    portList_->setCurrentIndex(portList_->findText(text, Qt::MatchFixedString));
    portList_->setEditText(text);
    portList_->lineEdit()->setCursorPosition(0);
}

QString SettingsWindow::shownPort() const {
    return portList_->currentText();
}

void SettingsWindow::showReceiverIdentity(const QString& text) {
    receiverIdentity_->setText(text);
}

QString SettingsWindow::shownReceiverIdentity() const {
    return receiverIdentity_->text();
}

// A signal-level report posts dozens of notifications, one per satellite: the panel gathers
// them, so that they do not pile up in the window's queue whenever it falls behind.
void SettingsWindow::post(std::uint32_t message, std::uint32_t first, std::uint32_t second) {
    if (message == kNotifyNmeaMask) {
        postedMask_.store(first);
        if (!maskPosted_.exchange(true)) {
            QCoreApplication::postEvent(this, new NmeaMaskEvent);
        }
    } else if (message == kNotifySignalLevel) {
        signalPanel_->post(first, static_cast<std::int32_t>(second));
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
    portList_->setEnabled(!busy_);
    saveInReceiver_->setEnabled(!busy_);
}

bool SettingsWindow::saveInReceiver() const {
    return saveInReceiver_->isChecked();
}

// Set from the settings file: no change is reported back to be stored again.
void SettingsWindow::setSaveInReceiver(bool save) {
    const QSignalBlocker quiet(saveInReceiver_);
    saveInReceiver_->setChecked(save);
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
    // The flag is cleared before the mask is read: a mask posted meanwhile is either shown now
    // or wakes the window again.
    maskPosted_.store(false);
    showNmeaMask(postedMask_.load());
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
    if (watched == portList_->lineEdit() && event->type() == QEvent::KeyPress) {
        return choosePortOnEnter(static_cast<QKeyEvent*>(event)->key());
    }
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
