#include "app/panel_store.h"

#include <QSettings>
#include <QVariant>

#include "app/signal_panel.h"
#include "app/startup.h"

namespace kestrune {

namespace {

constexpr char kFoldedKey[] = "SignalPanelFolded";

// Only "true" folds the panel: anything else, or a store that cannot be read, leaves it open.
bool storedFolded(const QString& storePath) {
    if (!readableStore(storePath)) {
        return false;
    }
    const QSettings store(storePath, QSettings::IniFormat);
    const QVariant value = store.value(kFoldedKey);
    return store.status() == QSettings::NoError && value.toString() == QLatin1String("true");
}

}  // namespace

void keepPanelFolding(SignalPanel& panel, const QString& storePath) {
    panel.setFolded(storedFolded(storePath));
    QObject::connect(&panel, &SignalPanel::foldedChanged, &panel, [storePath](bool folded) {
        QSettings store(storePath, QSettings::IniFormat);
        store.setValue(kFoldedKey, folded);
        store.sync();
    });
}

}  // namespace kestrune
