// The window's controls as a template: each one's kind, text, place and size in dialog units of
// the window's font, in the order that is also the tab order.
#pragma once

#include <QWidget>
#include <array>

#include "app/control_ids.h"

namespace kestrune {

// The controls that have an id, indexed by id less IDC_GET_SETTINGS.
using WindowControls = std::array<QWidget*, kControlCount>;

// The port row's editable list, by its objectName: not one of the numbered controls.
inline constexpr char kPortListName[] = "IDC_PORT";
// Under the port: who the receiver found there is, once a search has found it.
inline constexpr char kReceiverIdentityName[] = "receiverIdentity";

// Below Apply Settings: whether Apply also has the receiver keep the new settings through
// power-off.
inline constexpr char kSaveInReceiverName[] = "saveInReceiver";

// Creates every control on the window, names each by its id, places it and sizes the window.
WindowControls buildWindowControls(QWidget& window);

class SignalPanel;
// Places the signal panel below the controls; the window's height follows its folding.
SignalPanel* addSignalPanel(QWidget& window);

}  // namespace kestrune
