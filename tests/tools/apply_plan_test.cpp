// Which table applies to which port, and how apply reports a port: pure functions over values.
#include <gtest/gtest.h>

#include "tools/kestrunectl/apply_plan.h"
#include "tools/kestrunectl/apply_report.h"

namespace kestrune::ctl {
namespace {

DeclaredReceiver table(const std::string& name, std::size_t line, std::optional<MatchKey> key,
                       const std::string& value) {
    DeclaredReceiver declared;
    declared.name = name;
    declared.line = line;
    declared.key = key;
    declared.value = value;
    return declared;
}

ListedPort usbPort(const std::string& device, const std::string& serial) {
    ListedPort port;
    port.device = device;
    port.aliases = {"/dev/serial/by-id/usb-Example_" + serial + "-if00"};
    port.serial = serial;
    return port;
}

TEST(ApplyPlan, TheMatchingTableElseTheDefaultElseNoneAndTwoMatchesRefuseTheFile) {
    const ListedPort usb = usbPort("/dev/ttyUSB0", "A1");
    ListedPort uart;
    uart.device = "/dev/ttyS0";
    struct Case {
        const char* name;
        std::vector<DeclaredReceiver> receivers;
        bool withDefault;
        ListedPort port;
        std::string chosen;   // empty: none
        std::string problem;  // empty: none
    };
    const Case cases[] = {
        {"by-id link",
         {table("receiver.a", 1, MatchKey::ById, usb.aliases[0])},
         false,
         usb,
         "receiver.a",
         ""},
        {"device path",
         {table("receiver.a", 1, MatchKey::Device, "/dev/ttyS0")},
         false,
         uart,
         "receiver.a",
         ""},
        {"usb serial",
         {table("receiver.a", 1, MatchKey::UsbSerial, "A1")},
         false,
         usb,
         "receiver.a",
         ""},
        {"a port without a serial number matches no empty one",
         {table("receiver.a", 1, MatchKey::UsbSerial, "")},
         false,
         uart,
         "",
         ""},
        {"another port",
         {table("receiver.a", 1, MatchKey::Device, "/dev/ttyS1")},
         true,
         uart,
         "default",
         ""},
        {"nothing matches",
         {table("receiver.a", 1, MatchKey::UsbSerial, "B2")},
         false,
         usb,
         "",
         ""},
        {"two names of one port",
         {table("receiver.a", 1, MatchKey::UsbSerial, "A1"),
          table("receiver.b", 4, MatchKey::Device, "/dev/ttyUSB0")},
         true,
         usb,
         "",
         "f.toml:4: [receiver.b] and [receiver.a] on line 1 both match /dev/ttyUSB0"},
    };
    for (const Case& c : cases) {
        ReceiversFile file{"f.toml", c.receivers, std::nullopt};
        if (c.withDefault) {
            file.fallback = table("default", 9, std::nullopt, "");
        }
        std::string problem;
        const std::optional<std::vector<ApplyTarget>> targets =
            planTargets(file, {c.port}, problem);
        EXPECT_EQ(problem, c.problem) << c.name;
        const std::string chosen =
            targets && !targets->empty() ? targets->front().table.name : std::string{};
        EXPECT_EQ(chosen, c.chosen) << c.name;
        if (targets && !targets->empty()) {
            EXPECT_EQ(targets->front().byDefault, c.chosen == "default") << c.name;
        }
    }
}

TEST(ApplyReport, SaysWhatWasFoundWhatChangedAndWhetherItWasSaved) {
    PortApplication changed{ApplyTarget{usbPort("/dev/ttyUSB0", "A1"),
                                        table("receiver.roof", 1, MatchKey::UsbSerial, "A1")},
                            ApplyResult::Changed};
    changed.found = ReceiverConfig{{4800, Parity::None, StopBits::One}, OutputProtocol::Nmea, 0};
    changed.changes = {{"baud", "4800", "38400"}, {"format", "nmea", "tsip"}};
    changed.save = SaveOutcome::Saved;
    EXPECT_EQ(applicationText(changed),
              "/dev/ttyUSB0 [receiver.roof]: 4800 8N1 NMEA; changed baud "
              "4800 -> 38400, format nmea -> tsip; saved\n");
    EXPECT_EQ(applicationJson(changed),
              R"({"device":"/dev/ttyUSB0","table":"receiver.roof","result":"changed","found":)"
              R"({"baud":4800,"parity":"none","stopBits":1,"protocol":"nmea","sentences":null},)"
              R"("changes":[{"setting":"baud","from":"4800","to":"38400"},{"setting":"format",)"
              R"("from":"nmea","to":"tsip"}],"saved":true})"
              "\n");

    PortApplication unchanged = changed;
    unchanged.result = ApplyResult::Unchanged;
    unchanged.found = ReceiverConfig{
        {9600, Parity::Odd, StopBits::Two}, OutputProtocol::Tsip, kMaskGga | kMaskRmc};
    unchanged.sentencesRead = true;
    unchanged.changes.clear();
    unchanged.save.reset();
    EXPECT_EQ(applicationText(unchanged),
              "/dev/ttyUSB0 [receiver.roof]: 9600 8O2 TSIP, sentences GGA,RMC; unchanged\n");

    PortApplication unsaved = changed;
    unsaved.save = SaveOutcome::CannotSave;
    unsaved.problem = "not saved: cannot save";
    EXPECT_EQ(applicationText(unsaved).substr(applicationText(unsaved).find("tsip;")),
              "tsip; not saved: cannot save\n");
    EXPECT_EQ(applyStatus(unsaved), 1);
}

}  // namespace
}  // namespace kestrune::ctl
