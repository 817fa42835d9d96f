// What apply prints per port: one line of text, or one JSON object per line.
//   /dev/ttyUSB0 [receiver.roof]: 4800 8N1 NMEA; changed baud 4800 -> 38400, format nmea -> tsip;
//   saved /dev/ttyUSB1 [default]: 9600 8N1 TSIP, sentences GGA,RMC; unchanged
//   {"device": "/dev/ttyUSB1", "table": "default", "result": "unchanged", "found": {"baud": 9600,
//    "parity": "none", "stopBits": 1, "protocol": "tsip", "sentences": ["GGA", "RMC"]},
//    "changes": [], "saved": false}
#pragma once

#include <string>

#include "tools/kestrunectl/apply_port.h"

namespace kestrune::ctl {

std::string applicationText(const PortApplication& application);
std::string applicationJson(const PortApplication& application);

}  // namespace kestrune::ctl
