// Whether the signal panel is folded, kept in the settings file beside the port, so that the
// window opens as the user last left it.
#pragma once

#include <QString>

namespace kestrune {

class SignalPanel;

// Folds the panel as stored (open when nothing usable is stored) and stores every later change.
void keepPanelFolding(SignalPanel& panel, const QString& storePath);

}  // namespace kestrune
