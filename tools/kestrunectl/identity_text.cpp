#include "tools/kestrunectl/identity_text.h"

#include <array>
#include <cstdio>

namespace kestrune::ctl {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUnknown = "unknown";
constexpr std::size_t kDateLength = sizeof "65535-255-255";

std::string dateText(const BuildDate& date) {
    std::array<char, kDateLength> text{};
    std::snprintf(text.data(), text.size(), "%04u-%02u-%02u", unsigned{date.year},
                  unsigned{date.month}, unsigned{date.day});
    return text.data();
}

std::string firmwareLine(const std::optional<FirmwareReport>& firmware) {
    if (!firmware) {
        return kUnknown;
    }
    return std::string(firmware->product.view()) + ", firmware " +
           versionText(firmware->major, firmware->minor) + " build " +
           std::to_string(firmware->build) + " of " + dateText(firmware->date);
}

std::string hardwareLine(const std::optional<HardwareReport>& hardware) {
    if (!hardware) {
        return kUnknown;
    }
    return "serial number " + std::to_string(hardware->serialNumber) + ", hardware code " +
           std::to_string(hardware->hardwareCode) + ", " + std::string(hardware->product.view());
}

std::string softwareLine(const std::optional<SoftwareVersion>& software) {
    if (!software) {
        return kUnknown;
    }
    const ComponentVersion& application = software->application;
    const ComponentVersion& core = software->core;
    return "version " + versionText(application.major, application.minor) + " of " +
           dateText(application.date) + ", GPS core " + versionText(core.major, core.minor) +
           " of " + dateText(core.date);
}

// A part the receiver did not answer is null.
template <typename Report, typename Build>
Json partJson(const std::optional<Report>& report, Build build) {
    return report ? build(*report) : Json(nullptr);
}

}  // namespace

std::string identityText(const ReceiverIdentity& identity) {
    return "product: " + firmwareLine(identity.firmware) +
           "\nhardware: " + hardwareLine(identity.hardware) +
           "\nsoftware: " + softwareLine(identity.software) + "\n";
}

Json identityJson(const ReceiverIdentity& identity) {
    return Json{
        {"product", partJson(identity.firmware,
                             [](const FirmwareReport& f) {
                                 return Json{{"name", f.product.view()},
                                             {"firmware", versionText(f.major, f.minor)},
                                             {"build", f.build},
                                             {"date", dateText(f.date)}};
                             })},
        {"hardware", partJson(identity.hardware,
                              [](const HardwareReport& h) {
                                  return Json{{"serialNumber", h.serialNumber},
                                              {"hardwareCode", h.hardwareCode},
                                              {"name", h.product.view()}};
                              })},
        {"software", partJson(identity.software,
                              [](const SoftwareVersion& s) {
                                  return Json{{"version", versionText(s.application.major,
                                                                      s.application.minor)},
                                              {"date", dateText(s.application.date)},
                                              {"core", versionText(s.core.major, s.core.minor)},
                                              {"coreDate", dateText(s.core.date)}};
                              })},
    };
}

}  // namespace kestrune::ctl
