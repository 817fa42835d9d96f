// Receiver settings as the command line writes them: "4800 8N1", "NMEA", "none".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "protocol/receiver_settings.h"

namespace kestrune::ctl {

inline constexpr int kOneStopBit = 1;
inline constexpr int kTwoStopBits = 2;

// "4800 8N1": rate, data bits, parity letter, stop bits.
std::string lineText(const LineSettings& line);
// "TSIP" or "NMEA".
std::string_view protocolText(OutputProtocol protocol);
// "tsip" or "nmea", as options take it and JSON carries it.
std::string_view protocolWord(OutputProtocol protocol);
// "none", "odd" or "even".
std::string_view parityWord(Parity parity);
// 1 or 2.
int stopBitCount(StopBits stopBits);
// The sentences of a mask, in mask-bit order: "GGA", "RMC".
std::vector<std::string> sentenceNames(NmeaMask mask);
// "GGA,RMC", or "none" for no sentence at all.
std::string sentencesText(NmeaMask mask);

}  // namespace kestrune::ctl
