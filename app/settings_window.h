// The program's only window: three buttons, four lists, seven sentence boxes and a status line,
// laid out in dialog units of the window's own font. The window only reads and shows: it hands
// over what the user chose and says which button was pressed; the controller acts on the
// receiver, and marks the window busy while it does.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>

#include "app/control_ids.h"
#include "app/window_layout.h"
#include "link/notification_sink.h"
#include "protocol/receiver_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace kestrune {

class SignalPanel;

class SettingsWindow : public QDialog, public NotificationSink {
    Q_OBJECT

  public:
    explicit SettingsWindow(QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // From any thread: the NMEA mask is handled on the window's thread in its turn, signal levels
    // go to the signal panel; every other notification is dropped here.
    void post(std::uint32_t message, std::uint32_t first, std::uint32_t second) override;

    QWidget* control(int id) const;
    SignalPanel& signalPanel() const { return *signalPanel_; }

    // The settings the lists and boxes hold. A list with nothing chosen gives the factory value
    // (9600, no parity, one stop bit, TSIP); a box in any state but clear sets its sentence.
    ReceiverConfig chosenConfig() const;
    // Selects the settings in the lists, enables the sentence boxes for NMEA only, and says in
    // the status line what was selected.
    void showReceiverSettings(const LineSettings& line, OutputProtocol protocol);
    void setStatus(const QString& text);
    QString status() const;
    // While busy, the lists, boxes and buttons take no input and the wait cursor shows; after,
    // the sentence boxes are enabled again only if the format rules left them so.
    void setBusy(bool busy);
    bool isBusy() const { return busy_; }

    // The port row: the ports to choose from (what each is, and the name a choice stores), and
    // the port the window talks to, as shown.
    // New choices keep what the user is typing in the row, where the cursor is.
    void setPortChoices(const QStringList& texts, const QStringList& names);
    void showPort(const QString& text);
    QString shownPort() const;
    // The user has typed in the row since a port was last shown or chosen there.
    bool portBeingTyped() const;
    // Who the receiver on the port is ("Kestrune Virtual Receiver, firmware 1.2"); empty for not
    // known.
    void showReceiverIdentity(const QString& text);
    QString shownReceiverIdentity() const;
    // The "Save in receiver" box, off until checked or set from the settings file.
    bool saveInReceiver() const;
    void setSaveInReceiver(bool save);

  signals:
    void getSettingsPressed();
    void applySettingsPressed();
    void resetReceiverPressed();
    // A listed port picked, or a name or path typed and entered: the name to store.
    void portChosen(const QString& name);
    // The user checked or cleared "Save in receiver".
    void saveInReceiverChanged(bool save);
    // The close box: the window is about to end.
    void closing();

  public slots:
    // Escape must not end the window; only the close box does.
    void reject() override;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void fillLists();
    void connectControls();
    void onFormatActivated(int index);
    void setSentenceBoxesEnabled(bool enabled);
    void applyEnabledStates();
    void showNmeaMask(NmeaMask mask);
    void onPortActivated(int index);
    bool choosePortOnEnter(int key);
    QComboBox* list(int id) const;

    // The newest mask the reader heard, and whether a wake for it is queued. A mask that comes
    // while one waits replaces it: the window shows the receiver's latest report.
    std::atomic<NmeaMask> postedMask_{0};
    std::atomic<bool> maskPosted_{false};
    bool busy_ = false;
    // What the format rules say of the sentence boxes, busy or not.
    bool sentenceBoxesOn_ = false;
    // Enter was the last key in the format list: its activation commits typed text.
    bool typedTextCommitted_ = false;
    WindowControls controls_{};
    QComboBox* portList_ = nullptr;
    QLabel* receiverIdentity_ = nullptr;
    QCheckBox* saveInReceiver_ = nullptr;
    SignalPanel* signalPanel_ = nullptr;
};

}  // namespace kestrune
