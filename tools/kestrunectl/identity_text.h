// The receiver's identity as show prints it: three lines of text, or one JSON object whose parts
// are null where the receiver did not answer.
//   product: Kestrune Virtual Receiver, firmware 1.2 build 7 of 2026-03-14
//   hardware: serial number 20260314, hardware code 1001, Kestrune Virtual Receiver
//   software: version 1.2 of 2026-03-14, GPS core 3.1 of 2026-03-14
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "link/receiver_identity.h"

namespace kestrune::ctl {

std::string identityText(const ReceiverIdentity& identity);
nlohmann::ordered_json identityJson(const ReceiverIdentity& identity);

}  // namespace kestrune::ctl
