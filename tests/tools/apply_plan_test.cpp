// Which table applies to which port, and how apply reports a port: pure functions over values.
#include <gtest/gtest.h>

#include "tools/kestrunectl/apply_plan.h"
#include "tools/kestrunectl/apply_report.h"

namespace kestrune::ctl {
namespace {

DeclaredReceiver table(const char* name, std::size_t line, std::optional<MatchKey> key,
                       const char* value) {
    return DeclaredReceiver{name, line, key, value, {}, false};
}

ListedPort port(const char* device, const char* alias, const char* serial) {
    ListedPort listed;
    listed.device = device;
    listed.aliases = {alias};
    listed.serial = serial;
    return listed;
}

const ListedPort kUsb = port("/dev/ttyUSB0", "/dev/serial/by-id/usb-A1", "A1");
const ListedPort kUart = port("/dev/ttyS0", "/dev/serial/by-path/platform-serial8250", "");

TEST(ApplyPlan, TheMatchingTableElseTheDefaultElseNoneAndTwoMatchesRefuseTheFile) {
    struct Case {
        std::vector<DeclaredReceiver> receivers;
        bool withDefault;
        ListedPort port;
        std::string chosen;     // empty: none
        std::string problem{};  // empty: none
    };
    const DeclaredReceiver conflicting = table("receiver.b", 4, MatchKey::Device, "/dev/ttyUSB0");
    const std::string kBoth =
        "f.toml:4: [receiver.b] and [receiver.a] on line 1 both match /dev/ttyUSB0";
    const Case cases[] = {
        {{table("receiver.a", 1, MatchKey::ById, "/dev/serial/by-id/usb-A1")},
         0,
         kUsb,
         "receiver.a"},
        {{table("receiver.a", 1, MatchKey::Device, "/dev/ttyS0")}, 0, kUart, "receiver.a"},
        {{table("receiver.a", 1, MatchKey::UsbSerial, "A1")}, 0, kUsb, "receiver.a"},
        {{table("receiver.a", 1, MatchKey::UsbSerial, "")}, 0, kUart, ""},
        {{table("receiver.a", 1, MatchKey::Device, "/dev/ttyS1")}, 1, kUart, "default"},
        {{table("receiver.a", 1, MatchKey::UsbSerial, "B2")}, 0, kUsb, ""},
        {{table("receiver.a", 1, MatchKey::UsbSerial, "A1"), conflicting}, 1, kUsb, "", kBoth},
    };
    for (const Case& c : cases) {
        ReceiversFile file{"f.toml", c.receivers, std::nullopt};
        if (c.withDefault) {
            file.fallback = table("default", 9, std::nullopt, "");
        }
        std::string problem;
        const auto targets = planTargets(file, {c.port}, problem);
        EXPECT_EQ(problem, c.problem) << c.port.device;
        const bool one = targets && !targets->empty();
        EXPECT_EQ(one ? targets->front().table.name : "", c.chosen) << c.port.device;
        EXPECT_EQ(one && targets->front().byDefault, c.chosen == "default") << c.port.device;
    }
}

TEST(ApplyReport, SaysWhatWasFoundWhatChangedAndWhyItWasNotSaved) {
    PortApplication application{
        ApplyTarget{kUsb, table("receiver.roof", 1, MatchKey::UsbSerial, "A1")},
        ApplyResult::Changed, ReceiverConfig{{4800}, OutputProtocol::Nmea, 0}};
    application.changes = {{"baud", "4800", "38400"}, {"format", "nmea", "tsip"}};
    application.save = SaveOutcome::CannotSave;
    application.problem = "not saved: cannot save";
    EXPECT_EQ(applicationText(application),
              "/dev/ttyUSB0 [receiver.roof]: 4800 8N1 NMEA; changed baud 4800 -> 38400, format "
              "nmea -> tsip; not saved: cannot save\n");
    EXPECT_NE(applicationJson(application)
                  .find(R"("sentences":null},"changes":[{"setting":"baud",)"
                        R"("from":"4800","to":"38400"},)"),
              std::string::npos);
    EXPECT_NE(
        applicationJson(application).find(R"("saved":false,"problem":"not saved: cannot save"})"),
        std::string::npos);
}

}  // namespace
}  // namespace kestrune::ctl
