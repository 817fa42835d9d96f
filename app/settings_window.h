// The program's only window: three buttons, four lists, seven sentence boxes and a status line,
// laid out in dialog units of the window's own font. The window only reads and shows; the
// commands in settings_commands act on the receiver.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

#include "link/platform_services.h"

class QComboBox;

namespace kestrune {

class ReceiverLink;

// Control ids; each control's objectName is its id's name.
inline constexpr int IDC_GET_SETTINGS = 1001;
inline constexpr int IDC_APPLY_SETTINGS = 1002;
inline constexpr int IDC_RESET_RECEIVER = 1003;
inline constexpr int IDC_STATUS = 1004;
inline constexpr int IDC_BAUD = 1005;
inline constexpr int IDC_PARITY = 1006;
inline constexpr int IDC_STOP_BITS = 1007;
inline constexpr int IDC_FORMAT = 1008;
inline constexpr int IDC_GGA = 1009;
inline constexpr int IDC_GLL = 1010;
inline constexpr int IDC_GSA = 1011;
inline constexpr int IDC_GSV = 1012;
inline constexpr int IDC_RMC = 1013;
inline constexpr int IDC_VTG = 1014;
inline constexpr int IDC_ZDA = 1015;

// Index of "NMEA" in the format list; "TSIP" is 0.
inline constexpr int kNmeaFormatIndex = 1;

// What the lists and boxes hold: each list's selected index (-1 when nothing is selected) and
// the sentence boxes as a mask. Text typed into the editable lists is never part of it.
struct ChosenSettings {
    int baudIndex = -1;
    int parityIndex = -1;
    int stopBitsIndex = -1;
    int formatIndex = -1;
    NmeaMask mask = 0;
    bool operator==(const ChosenSettings&) const = default;
};

class SettingsWindow : public QDialog, public NotificationSink {
    Q_OBJECT

  public:
    // Builds the window and hands the port name kept in portStorePath to the link.
    SettingsWindow(ReceiverLink& link, const QString& portStorePath, QWidget* parent = nullptr);
    explicit SettingsWindow(ReceiverLink& link);
    ~SettingsWindow() override;

    // From any thread: the notification is handled on the window's thread in its turn.
    void post(std::uint32_t message, std::uint32_t first, std::uint32_t second) override;

    ReceiverLink& link() { return link_; }
    QWidget* control(int id) const;

    ChosenSettings chosenSettings() const;
    // Selects the item of that text, searching the whole list.
    void selectItem(int listId, const QString& text);
    void setSentenceBoxesEnabled(bool enabled);
    void setStatus(const QString& text);
    QString status() const;
    // Paints the status field now, before the window's thread goes off to block on a command.
    void repaintStatus();

  public slots:
    // Escape must not end the window; only the close box does.
    void reject() override;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void fillLists();
    void connectCommands();
    void onFormatActivated(int index);
    void showNmeaMask(NmeaMask mask);
    QComboBox* list(int id) const;

    static constexpr int kControlCount = IDC_ZDA - IDC_GET_SETTINGS + 1;

    ReceiverLink& link_;
    // Enter was the last key in the format list: its activation commits typed text.
    bool typedTextCommitted_ = false;
    // Indexed by id less IDC_GET_SETTINGS.
    std::array<QWidget*, kControlCount> controls_{};
};

}  // namespace kestrune
