// Helpers shared by the window's tests: ports that need no device, and an opener that records
// which names it was asked to open.
#pragma once

#include <QComboBox>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/settings_window.h"
#include "link/platform_services.h"
#include "link/receiver_link.h"

namespace kestrune::testing {

// A port on which nothing ever arrives; writes vanish, each one first calling onWrite if set.
class QuietPort : public SerialPort {
  public:
    explicit QuietPort(std::function<void()> onWrite = {}) : onWrite_(std::move(onWrite)) {}

    bool write(std::span<const std::uint8_t>) override {
        if (onWrite_) {
            onWrite_();
        }
        return true;
    }
    ReadResult readByte(std::uint8_t&) override {
        std::this_thread::sleep_for(ceiling_);
        return ReadResult::Nothing;
    }
    bool setReadCeiling(std::chrono::milliseconds ceiling) override {
        ceiling_ = ceiling;
        return true;
    }
    bool getLineSettings(LineSettings& settings) override {
        settings = settings_;
        return true;
    }
    bool setLineSettings(const LineSettings& settings) override {
        settings_ = settings;
        return true;
    }
    bool setBreak(bool) override { return true; }

  private:
    std::function<void()> onWrite_;
    std::chrono::milliseconds ceiling_{1};
    LineSettings settings_;
};

// Records every name it is asked to open; opens a QuietPort when told to, else nothing.
class RecordingOpener {
  public:
    explicit RecordingOpener(bool opens = false, std::function<void()> onWrite = {})
        : opens_(opens), onWrite_(std::move(onWrite)) {}

    PortOpener opener() {
        return [this](std::string_view name) -> std::unique_ptr<SerialPort> {
            names_.emplace_back(name);
            if (!opens_) {
                return nullptr;
            }
            return std::make_unique<QuietPort>(onWrite_);
        };
    }
    const std::vector<std::string>& names() const { return names_; }

  private:
    bool opens_;
    std::function<void()> onWrite_;
    std::vector<std::string> names_;
};

inline QStringList itemsOf(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->itemText(i);
    }
    return items;
}

// Writes a port store naming portName in folder; returns its path (empty if it failed).
inline QString writePortStore(const QTemporaryDir& folder, const QByteArray& portName) {
    const QString path = folder.filePath(QStringLiteral("Kestrune.conf"));
    QFile store(path);
    if (!folder.isValid() || !store.open(QIODevice::WriteOnly) ||
        store.write("Port=" + portName + "\n") <= 0) {
        return {};
    }
    return path;
}

// A window whose stored port "QUIET" opens a quiet port, on a link with shrunk timing.
struct QuietWindow {
    static constexpr double kSpeedUp = 0.01;

    QTemporaryDir folder;
    QString store = writePortStore(folder, "QUIET");
    RecordingOpener opener{true};
    ReceiverLink link{Timing{}.scaled(kSpeedUp), opener.opener()};
    SettingsWindow window{link, store};

    template <typename T>
    T* find(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
};

}  // namespace kestrune::testing
