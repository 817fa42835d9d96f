// Serves a virtual receiver on a fresh pseudo-terminal, so any program that opens a serial
// device (the slave side) can talk to it. A thread reads the host's bytes from the master side
// and takes the host's line settings from the terminal settings the two sides share: speed,
// PARODD and CSTOPB are visible, PARENB is not, so PARODD reads as odd parity and anything else
// as none (even parity cannot be carried). A line break cannot be seen either. While no host has
// the slave open, the receiver has no host and its output is lost, as on an unplugged cable.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "link/file_descriptor.h"
#include "link/serial_port.h"
#include "protocol/receiver_settings.h"
#include "sim/receiver_state.h"

namespace kestrune {

class VirtualReceiver;

class PtyReceiver final : private HostLine {
  public:
    // Opens a pseudo-terminal and starts serving; nothing if the terminal cannot be made. The
    // receiver must outlive the PtyReceiver.
    static std::unique_ptr<PtyReceiver> start(VirtualReceiver& receiver);
    ~PtyReceiver() override;
    PtyReceiver(const PtyReceiver&) = delete;
    PtyReceiver& operator=(const PtyReceiver&) = delete;

    // The device a host opens, such as /dev/pts/3.
    const std::string& slavePath() const { return slavePath_; }
    // The port name to store for it, such as PTS3; empty when the terminal's number is too long
    // for a stored name.
    std::string portName() const;
    // Ends the serving thread and detaches from the receiver; the terminal closes with the
    // object. Safe to call more than once.
    void stop();

  private:
    PtyReceiver(VirtualReceiver& receiver, FileDescriptor master, FileDescriptor stopRead,
                FileDescriptor stopWrite, std::string slavePath);
    void serve();
    bool serveOnce(bool& hostPresent);
    bool readHostBytes();
    void refreshHostSettings();
    void deliver(std::uint8_t byte) override;

    VirtualReceiver& receiver_;
    const FileDescriptor master_;
    const FileDescriptor stopRead_;
    const FileDescriptor stopWrite_;
    const std::string slavePath_;
    std::thread server_;
};

// The local line settings a host has set on a pseudo-terminal, read from either side.
LineSettings ptyLineSettings(int fd);
// The closest handling of errors a pseudo-terminal can give for the input flags its host set.
InputErrorHandling ptyInputHandling(int fd);

}  // namespace kestrune
