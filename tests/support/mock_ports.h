// A made-up device tree of serial ports for tests and benchmarks run under the device test bed's
// preload (umockdev-wrapper): USB adapters, CDC-ACM devices and on-board UARTs, each tty backed
// by a pseudo-terminal, with the udev properties and sysfs attributes a real one has.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <filesystem>
#include <string>

#include "link/port_holder.h"

namespace kestrune::test {

inline constexpr int kUsbSerialMajor = 188;
inline constexpr int kAcmMajor = 166;
inline constexpr int kUartMajor = 4;
inline constexpr int kFirstUartMinor = 64;
inline constexpr int kVirtualConsoleMajor = 4;

struct MockUsbPort {
    std::string name;    // ttyUSB0
    std::string driver;  // usbserial_generic
    std::string product = "USB Serial Adapter";
    std::string serial = "EX0001";
};

// A child process that holds the device open until it is ended.
struct Holder {
    pid_t pid = ::fork();
    explicit Holder(const std::string& device) {
        if (pid == 0) {
            (void)::open(device.c_str(), O_RDWR | O_NOCTTY);
            ::pause();
            ::_exit(0);
        }
    }
    // True once the lookup names this process for path; its open may take a moment to show.
    bool seen(const std::string& path) const {
        constexpr int kTries = 2000;
        constexpr useconds_t kPause = 1000;
        for (int tries = 0; tries < kTries; ++tries, ::usleep(kPause)) {
            if (const std::optional<PortHolder> found = findPortHolder(path)) {
                return found->pid == pid;
            }
        }
        return false;
    }
    ~Holder() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
};

class MockPorts {
  public:
    MockPorts() : bed_(umockdev_testbed_new()) {
        (void)add(
            "P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\nE: DRIVER=serial8250\n"
            "L: driver=../../bus/platform/drivers/serial8250\n");
    }
    ~MockPorts() { g_object_unref(bed_); }
    MockPorts(const MockPorts&) = delete;
    MockPorts& operator=(const MockPorts&) = delete;

    // True under the preload, once a test bed exists.
    static bool active() { return umockdev_in_mock_environment(); }

    // A USB device on bus port number, its one interface and its tty.
    bool addUsb(const MockUsbPort& port, int major, int minor, int number) {
        const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(number);
        const std::string interface = usb + "/1-" + std::to_string(number) + ":1.0";
        const std::string link = "usb-Example_Devices_" + port.serial + "-if00";
        return add("P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=1d6b\n" +
                   "A: idProduct=" + std::to_string(1000 + number) +
                   "\nA: manufacturer=Example Devices\nA: product=" + port.product +
                   "\nA: serial=" + port.serial + "\n\nP: " + interface + "\nE: SUBSYSTEM=usb\n" +
                   "E: DEVTYPE=usb_interface\nE: DRIVER=" + port.driver +
                   "\nL: driver=../../../../../bus/usb/drivers/" + port.driver + "\n\n" +
                   tty(interface + "/tty/" + port.name, port.name, major, minor,
                       "/dev/serial/by-id/" + link +
                           " /dev/serial/by-path/pci-usb-0:" + std::to_string(number) + ":1.0"));
    }
    // An on-board UART; type 0 is a legacy port with no UART behind it.
    bool addUart(int number, int type) {
        const std::string name = "ttyS" + std::to_string(number);
        return add(tty("/devices/platform/serial8250/tty/" + name, name, kUartMajor,
                       kFirstUartMinor + number, "") +
                   "A: type=" + std::to_string(type) + "\n");
    }
    // A tty with no hardware behind it, as the virtual consoles are.
    bool addVirtualTerminal(const std::string& name, int minor) {
        return add(tty("/devices/virtual/tty/" + name, name, kVirtualConsoleMajor, minor, ""));
    }
    // Puts whatever serves slavePath (a virtual receiver's pseudo-terminal) behind the mocked
    // node in place of the test bed's own terminal.
    bool serveFrom(const std::string& name, const std::string& slavePath) {
        const std::filesystem::path node = std::filesystem::path(root()) / "dev" / name;
        std::error_code error;
        const std::string number =
            std::filesystem::read_symlink(node.parent_path() / ".node" / name, error);
        std::string mapped = slavePath;
        std::replace(mapped.begin(), mapped.end(), '/', '_');
        return !error && std::filesystem::remove(node, error) &&
               ::symlink(slavePath.c_str(), node.c_str()) == 0 &&
               ::symlink(number.c_str(), (node.parent_path() / ".ptymap" / mapped).c_str()) == 0;
    }
    std::string root() const {
        gchar* folder = umockdev_testbed_get_root_dir(bed_);
        const std::string path(folder);
        g_free(folder);
        return path;
    }

  private:
    static std::string tty(const std::string& path, const std::string& name, int major, int minor,
                           const std::string& links) {
        const std::string number = std::to_string(major) + ":" + std::to_string(minor);
        return "P: " + path + "\nN: " + name + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + name +
               (links.empty() ? "" : "\nE: DEVLINKS=" + links) + "\nA: dev=" + number + "\n";
    }
    bool add(const std::string& record) {
        return umockdev_testbed_add_from_string(bed_, record.c_str(), nullptr);
    }

    UMockdevTestbed* bed_;
};

}  // namespace kestrune::test
