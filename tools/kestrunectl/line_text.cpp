#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

constexpr char kDataBits = '8';

char parityLetter(Parity parity) {
    switch (parity) {
        case Parity::Odd:
            return 'O';
        case Parity::Even:
            return 'E';
        case Parity::None:
            break;
    }
    return 'N';
}

}  // namespace

std::string lineText(const LineSettings& line) {
    std::string text = std::to_string(line.baud);
    text += ' ';
    text += kDataBits;
    text += parityLetter(line.parity);
    text += std::to_string(stopBitCount(line.stopBits));
    return text;
}

std::string_view protocolText(OutputProtocol protocol) {
    return protocol == OutputProtocol::Nmea ? "NMEA" : "TSIP";
}

std::string_view protocolWord(OutputProtocol protocol) {
    return protocol == OutputProtocol::Nmea ? "nmea" : "tsip";
}

std::string_view parityWord(Parity parity) {
    switch (parity) {
        case Parity::Odd:
            return "odd";
        case Parity::Even:
            return "even";
        case Parity::None:
            break;
    }
    return "none";
}

int stopBitCount(StopBits stopBits) {
    return stopBits == StopBits::Two ? kTwoStopBits : kOneStopBit;
}

std::vector<std::string> sentenceNames(NmeaMask mask) {
    std::vector<std::string> names;
    for (const NmeaSentence& sentence : kNmeaSentences) {
        if ((mask & sentence.bit) != 0) {
            names.emplace_back(sentence.name);
        }
    }
    return names;
}

std::string sentencesText(NmeaMask mask) {
    std::string text;
    for (const std::string& name : sentenceNames(mask)) {
        text += (text.empty() ? "" : ",") + name;
    }
    return text.empty() ? "none" : text;
}

}  // namespace kestrune::ctl
