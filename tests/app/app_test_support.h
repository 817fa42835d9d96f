// Helpers shared by the window's tests: a port that never answers, an opener that records which
// names it was asked to open, and a window on such a port.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string_view>

#include "app/settings_window.h"
#include "link/receiver_link.h"
#include "tests/support/fake_serial_port.h"

namespace kestrune::testing {

// A port on which nothing ever arrives; each write first calls onWrite, if set.
class QuietPort : public test::FakeSerialPort {
  public:
    explicit QuietPort(std::function<void()> onWrite)
        : FakeSerialPort(std::make_shared<test::FakePortState>()), onWrite_(std::move(onWrite)) {}

    bool write(std::span<const std::uint8_t> bytes) override {
        if (onWrite_) {
            onWrite_();
        }
        return FakeSerialPort::write(bytes);
    }

  private:
    std::function<void()> onWrite_;
};

// Records every name it is asked to open; opens a QuietPort when told to, else nothing.
class RecordingOpener {
  public:
    explicit RecordingOpener(bool opens = false, std::function<void()> onWrite = {})
        : opens_(opens), onWrite_(std::move(onWrite)) {}

    PortOpener opener() {
        return [this](std::string_view name) -> std::unique_ptr<SerialPort> {
            names_ << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
            return opens_ ? std::make_unique<QuietPort>(onWrite_) : nullptr;
        };
    }
    const QStringList& names() const { return names_; }

  private:
    bool opens_;
    std::function<void()> onWrite_;
    QStringList names_;
};

inline QStringList itemsOf(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->itemText(i);
    }
    return items;
}

// 1 when all seven sentence boxes are enabled, 0 when none is, -1 when they differ.
inline int sentenceBoxesEnabled(const SettingsWindow& window) {
    int enabled = 0;
    for (int id = IDC_GGA; id <= IDC_ZDA; ++id) {
        enabled += window.control(id)->isEnabled() ? 1 : 0;
    }
    return enabled == 0 ? 0 : (enabled == IDC_ZDA - IDC_GGA + 1 ? 1 : -1);
}

// Writes content to path, making its folder first; false if that failed.
inline bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

// Writes a port store naming portName in folder; returns its path (empty if it failed).
inline QString writePortStore(const QTemporaryDir& folder, const QByteArray& portName) {
    const QString path = folder.filePath(QStringLiteral("Kestrune.conf"));
    return folder.isValid() && writeFile(path, "Port=" + portName + "\n") ? path : QString();
}

// A window whose stored port "QUIET" opens a quiet port, on a link with shrunk timing.
struct QuietWindow {
    static constexpr double kSpeedUp = 0.01;

    explicit QuietWindow(std::function<void()> onWrite = {}) : opener(true, std::move(onWrite)) {}

    template <typename T = QWidget>
    T* find(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
    QCheckBox* box(int id) { return qobject_cast<QCheckBox*>(window.control(id)); }
    // Shows the window; true once it is on the screen.
    bool show() {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

    QTemporaryDir folder;
    QString store = writePortStore(folder, "QUIET");
    RecordingOpener opener;
    ReceiverLink link{Timing{}.scaled(kSpeedUp), opener.opener()};
    SettingsWindow window{link, store};
};

}  // namespace kestrune::testing
