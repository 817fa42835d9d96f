// The port listing, the opener's device check and the holder lookup over a made-up device tree;
// run under the device test bed's preload (umockdev-wrapper).
#include <poll.h>

#include <gtest/gtest.h>

#include "link/device_monitor.h"
#include "link/port_list.h"
#include "link/serial_device.h"
#include "link/serial_opener.h"
#include "tests/support/mock_ports.h"

namespace kestrune::test {
namespace {

// A bound on the wait for a device event, never reached when all is well.
constexpr int kEventWaitMs = 10000;

struct Shown {
    std::string device, storeName, driver, vendorId, product, serial;
    bool noUart;
    pid_t holder;
    bool operator==(const Shown&) const = default;
};

Shown shown(const ListedPort& port) {
    return Shown{port.device,  port.storeName, port.driver, port.vendorId,
                 port.product, port.serial,    port.noUart, port.holder ? port.holder->pid : 0};
}

class MockedPorts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!MockPorts::active()) {
            GTEST_SKIP() << "needs umockdev-wrapper";
        }
        ASSERT_TRUE(bed.addUsb({"ttyUSB0", "usbserial_generic"}, kUsbSerialMajor, 0, 1));
        ASSERT_TRUE(bed.addUsb({"ttyACM0", "cdc_acm", "GNSS Receiver", "EX0002"}, kAcmMajor, 0, 2));
        ASSERT_TRUE(bed.addUsb({"ttyUSB1", "usbserial_generic", "USB Serial Adapter", "EX0003"},
                               kUsbSerialMajor, 1, 3));
        ASSERT_TRUE(bed.addUart(0, 4));
        ASSERT_TRUE(bed.addUart(1, 0));
        ASSERT_TRUE(bed.addVirtualTerminal("tty5", 5));
    }
    MockPorts bed;
};

TEST_F(MockedPorts, ListsEachKindOfPortWithItsIdentityAndHolder) {
    const Holder holder("/dev/ttyUSB1");
    ASSERT_TRUE(holder.seen("/dev/ttyUSB1"));
    const std::vector<Shown> usable = {
        {"/dev/ttyACM0", "ACM0", "cdc_acm", "1d6b", "GNSS Receiver", "EX0002", false, 0},
        {"/dev/ttyS0", "COM1", "serial8250", "", "", "", false, 0},
        {"/dev/ttyUSB0", "USB0", "usbserial_generic", "1d6b", "USB Serial Adapter", "EX0001", false,
         0},
        {"/dev/ttyUSB1", "USB1", "usbserial_generic", "1d6b", "USB Serial Adapter", "EX0003", false,
         holder.pid},
    };
    for (const PortScope scope : {PortScope::Usable, PortScope::All}) {
        std::vector<Shown> expected = usable;
        if (scope == PortScope::All) {
            expected.insert(expected.begin() + 2,
                            {"/dev/ttyS1", "COM2", "serial8250", "", "", "", true, 0});
        }
        std::vector<Shown> listed;
        for (const ListedPort& port : listSerialPorts(scope).ports) {
            listed.push_back(shown(port));
        }
        EXPECT_EQ(listed, expected);
    }
    const std::optional<ListedPort> usb = findListedPort(
        listSerialPorts().ports, "/dev/serial/by-id/usb-Example_Devices_EX0001-if00");
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->stableName(), "/dev/serial/by-id/usb-Example_Devices_EX0001-if00");
    EXPECT_EQ(usb->aliases.size(), 2u);
}

// A link to a busy port names its holder: the lookup goes by the device the link leads to.
TEST_F(MockedPorts, NamesTheHolderThroughALink) {
    const Holder holder("/dev/ttyUSB1");
    const std::string link = "/tmp/kestrune-holder-" + std::to_string(::getpid());
    ASSERT_EQ(::symlink("/dev/ttyUSB1", link.c_str()), 0);
    ASSERT_TRUE(holder.seen(link));
    ::unlink(link.c_str());
    EXPECT_FALSE(findPortHolder("/dev/ttyUSB0"));
}

// Serial ports open through the real serial layer; every other device is refused unopened.
TEST_F(MockedPorts, OpensSerialPortsAndRefusesOtherDevices) {
    const std::pair<const char*, OpenError> cases[] = {
        {"/dev/ttyUSB0", OpenError::None},         {"/dev/ttyACM0", OpenError::None},
        {"/dev/ttyS0", OpenError::None},           {"/dev/tty5", OpenError::NotSerialPort},
        {"/dev/ttyUSB9", OpenError::NoSuchDevice},
    };
    for (const auto& [path, error] : cases) {
        const OpenResult result = openSerialDevice(path);
        EXPECT_EQ(result.error, error) << path;
        EXPECT_EQ(result.port != nullptr, error == OpenError::None) << path;
    }
}

// A port plugged in reaches a monitor, as the window's port row follows it.
TEST_F(MockedPorts, MonitorSeesAPortPluggedIn) {
    const std::unique_ptr<DeviceMonitor> monitor = DeviceMonitor::start();
    ASSERT_NE(monitor, nullptr);
    ASSERT_TRUE(bed.addUsb({"ttyUSB5", "usbserial_generic"}, kUsbSerialMajor, 5, 5));
    pollfd ready{monitor->fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, kEventWaitMs), 1);
    EXPECT_TRUE(monitor->drain());
    EXPECT_FALSE(monitor->drain());
    EXPECT_TRUE(findListedPort(listSerialPorts().ports, "/dev/ttyUSB5"));
}

}  // namespace
}  // namespace kestrune::test
