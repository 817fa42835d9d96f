#include "tools/kestrunectl/port_listing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/session.h"

namespace kestrune::ctl {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kReady = "ready";
constexpr const char* kNoUart = "no UART behind this legacy port";
constexpr const char* kNoAccess =
    "permission denied: add yourself to the dialout group (sudo usermod -aG dialout $USER)";
constexpr const char* kNone = "-";
constexpr std::size_t kColumns = 5;
constexpr const char* kColumnGap = "  ";

std::string orNone(const std::string& text) {
    return text.empty() ? kNone : text;
}

// The USB identity as one phrase: "1234:5678 Example Devices USB Serial Adapter (A1)".
std::string usbText(const ListedPort& port) {
    if (port.vendorId.empty()) {
        return kNone;
    }
    std::string text = port.vendorId + ":" + port.productId;
    for (const std::string* part : {&port.manufacturer, &port.product}) {
        text += part->empty() ? "" : " " + *part;
    }
    return text + (port.serial.empty() ? "" : " (" + port.serial + ")");
}

std::string aliasesText(const ListedPort& port) {
    std::string text;
    for (const std::string& alias : port.aliases) {
        text += (text.empty() ? "" : " ") + alias;
    }
    return text;
}

}  // namespace

std::string portState(const ListedPort& port) {
    if (port.holder) {
        return "held by " + holderText(port.holder);
    }
    if (!port.accessible) {
        return kNoAccess;
    }
    return port.noUart ? kNoUart : kReady;
}

bool searchable(const ListedPort& port) {
    return !port.holder && port.accessible && !port.noUart;
}

std::string portsText(const std::vector<ListedPort>& ports) {
    std::vector<std::array<std::string, kColumns>> rows;
    std::array<std::size_t, kColumns> widths{};
    for (const ListedPort& port : ports) {
        rows.push_back({port.device, orNone(port.storeName), orNone(port.driver), usbText(port),
                        portState(port)});
        for (std::size_t column = 0; column < kColumns; ++column) {
            widths[column] = std::max(widths[column], rows.back()[column].size());
        }
    }
    std::string text;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        std::string line;
        for (std::size_t column = 0; column < kColumns; ++column) {
            std::string cell = rows[row][column];
            cell.resize(std::max(cell.size(), widths[column]), ' ');
            line += (column == 0 ? "" : kColumnGap) + cell;
        }
        const std::string aliases = aliasesText(ports[row]);
        line += aliases.empty() ? "" : kColumnGap + aliases;
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}

std::string portsJson(const std::vector<ListedPort>& ports) {
    Json array = Json::array();
    for (const ListedPort& port : ports) {
        array.push_back({
            {"device", port.device},
            {"aliases", port.aliases},
            {"storeName", port.storeName.empty() ? Json(nullptr) : Json(port.storeName)},
            {"driver", port.driver},
            {"vendorId", port.vendorId},
            {"productId", port.productId},
            {"manufacturer", port.manufacturer},
            {"product", port.product},
            {"serial", port.serial},
            {"uart", !port.noUart},
            {"accessible", port.accessible},
            {"holder", port.holder ? Json{{"name", port.holder->name}, {"pid", port.holder->pid}}
                                   : Json(nullptr)},
        });
    }
    return array.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

int runPorts(bool all, bool json) {
    const PortListing listing = listSerialPorts(all ? PortScope::All : PortScope::Usable);
    const std::vector<ListedPort>& ports = listing.ports;
    if (!writeOut(json ? portsJson(ports) : portsText(ports))) {
        return kExitOutputClosed;
    }
    if (!listing.failure.empty()) {
        std::fprintf(stderr, "kestrunectl: %s\n", listingFailureText(listing.failure).c_str());
    } else if (ports.empty() && !json) {
        std::fputs("kestrunectl: no serial port found; plug the receiver in\n", stderr);
    }
    return ports.empty() ? kExitNoAnswer : kExitDone;
}

}  // namespace kestrune::ctl
