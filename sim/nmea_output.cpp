#include "sim/nmea_output.h"

#include <array>
#include <cstdio>

#include "sim/receiver_state.h"
#include "sim/sky.h"

namespace kestrune {

namespace {

constexpr char kStart = '$';
constexpr char kChecksumMark = '*';
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kMaxSentence = 96;
constexpr std::size_t kSatellitesPerGsv = 4;

// The first fix: 21 July 2008, 12:00:00 UTC.
constexpr std::uint32_t kStartSecondOfDay = 12 * 3600;
constexpr std::uint32_t kSecondsPerDay = 24 * 3600;
constexpr std::uint32_t kSecondsPerHour = 3600;
constexpr std::uint32_t kSecondsPerMinute = 60;
constexpr int kDay = 21;
constexpr int kMonth = 7;
constexpr int kYear = 2008;
constexpr int kCentury = 100;

// A receiver standing still in open country.
constexpr std::string_view kLatitude = "5213.4410,N";
constexpr std::string_view kLongitude = "00458.1270,E";

struct UtcTime {
    unsigned hours;
    unsigned minutes;
    unsigned seconds;
};

UtcTime utcAt(std::uint32_t secondsSinceStart) {
    const std::uint32_t second = (kStartSecondOfDay + secondsSinceStart) % kSecondsPerDay;
    return UtcTime{second / kSecondsPerHour, second % kSecondsPerHour / kSecondsPerMinute,
                   second % kSecondsPerMinute};
}

// Formats a body into a fixed buffer and appends it as a whole sentence.
template <typename... Args>
void appendSentence(std::string& out, const char* format, Args... args) {
    std::array<char, kMaxSentence> body{};
    const int length = std::snprintf(body.data(), body.size(), format, args...);
    if (length > 0) {
        out += nmeaSentence(std::string_view(body.data(), static_cast<std::size_t>(length)));
    }
}

void appendGsv(std::string& out) {
    const std::size_t total = (kSky.size() + kSatellitesPerGsv - 1) / kSatellitesPerGsv;
    for (std::size_t part = 0; part < total; ++part) {
        std::string body = "GPGSV," + std::to_string(total) + "," + std::to_string(part + 1) + "," +
                           std::to_string(kSky.size());
        for (std::size_t i = part * kSatellitesPerGsv;
             i < kSky.size() && i < (part + 1) * kSatellitesPerGsv; ++i) {
            std::array<char, kMaxSentence> entry{};
            std::snprintf(entry.data(), entry.size(), ",%02u,%02u,%03u,%02u", kSky[i].prn,
                          kSky[i].elevationDegrees, kSky[i].azimuthDegrees, kSky[i].snrDbHz);
            body += entry.data();
        }
        out += nmeaSentence(body);
    }
}

void appendGsa(std::string& out) {
    std::string body = "GPGSA,A,3";
    constexpr std::size_t kGsaSlots = 12;
    for (std::size_t i = 0; i < kGsaSlots; ++i) {
        body += ",";
        if (i < kSky.size()) {
            std::array<char, 4> prn{};
            std::snprintf(prn.data(), prn.size(), "%02u", kSky[i].prn);
            body += prn.data();
        }
    }
    body += ",1.8,1.0,1.5";
    out += nmeaSentence(body);
}

}  // namespace

std::string nmeaSentence(std::string_view body) {
    std::uint8_t checksum = 0;
    for (const char c : body) {
        checksum ^= static_cast<std::uint8_t>(c);
    }
    std::array<char, 3> hex{};
    std::snprintf(hex.data(), hex.size(), "%02X", checksum);
    std::string sentence(1, kStart);
    sentence += body;
    sentence += kChecksumMark;
    sentence += hex.data();
    sentence += kLineEnd;
    return sentence;
}

// $GPGGA,120000.00,5213.4410,N,00458.1270,E,1,07,1.0,12.4,M,46.2,M,,*hh
std::string nmeaSentences(std::uint32_t sentenceMask, std::uint32_t secondsSinceStart) {
    const UtcTime t = utcAt(secondsSinceStart);
    const std::string lat(kLatitude);
    const std::string lon(kLongitude);
    std::string out;
    if (sentenceMask & kSentenceGga) {
        appendSentence(out, "GPGGA,%02u%02u%02u.00,%s,%s,1,%02zu,1.0,12.4,M,46.2,M,,", t.hours,
                       t.minutes, t.seconds, lat.c_str(), lon.c_str(), kSky.size());
    }
    if (sentenceMask & kSentenceGll) {
        appendSentence(out, "GPGLL,%s,%s,%02u%02u%02u.00,A,A", lat.c_str(), lon.c_str(), t.hours,
                       t.minutes, t.seconds);
    }
    if (sentenceMask & kSentenceVtg) {
        out += nmeaSentence("GPVTG,0.0,T,358.9,M,0.0,N,0.0,K,A");
    }
    if (sentenceMask & kSentenceGsv) {
        appendGsv(out);
    }
    if (sentenceMask & kSentenceGsa) {
        appendGsa(out);
    }
    if (sentenceMask & kSentenceZda) {
        appendSentence(out, "GPZDA,%02u%02u%02u.00,%02d,%02d,%04d,00,00", t.hours, t.minutes,
                       t.seconds, kDay, kMonth, kYear);
    }
    if (sentenceMask & kSentenceRmc) {
        appendSentence(out, "GPRMC,%02u%02u%02u.00,A,%s,%s,0.0,0.0,%02d%02d%02d,1.1,W,A", t.hours,
                       t.minutes, t.seconds, lat.c_str(), lon.c_str(), kDay, kMonth,
                       kYear % kCentury);
    }
    return out;
}

}  // namespace kestrune
