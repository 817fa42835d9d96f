#include "sim/nmea_output.h"

#include <array>
#include <chrono>
#include <cmath>
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

constexpr int kCentury = 100;
constexpr double kMinutesPerDegree = 60.0;
// Coordinates go out as degrees and minutes with five decimals of a minute (under 2 cm).
constexpr std::int64_t kMinuteFraction = 100000;
constexpr int kLatitudeDegreeDigits = 2;
constexpr int kLongitudeDegreeDigits = 3;
constexpr char kNorth = 'N';
constexpr char kSouth = 'S';
constexpr char kEast = 'E';
constexpr char kWest = 'W';

struct UtcTime {
    unsigned hours;
    unsigned minutes;
    unsigned seconds;
    unsigned day;
    unsigned month;
    int year;
};

UtcTime utcOf(const Fix& fix) {
    const auto midnight = std::chrono::floor<std::chrono::days>(fix.time.utc);
    const std::chrono::year_month_day date(midnight);
    const std::chrono::hh_mm_ss time(fix.time.utc - midnight);
    return UtcTime{static_cast<unsigned>(time.hours().count()),
                   static_cast<unsigned>(time.minutes().count()),
                   static_cast<unsigned>(time.seconds().count()),
                   static_cast<unsigned>(date.day()),
                   static_cast<unsigned>(date.month()),
                   static_cast<int>(date.year())};
}

// 5213.44120,N or 00458.12680,E: whole degrees, minutes, hemisphere. Rounded as one number, so
// 59.999999 minutes becomes the next degree rather than 60 minutes.
std::string coordinate(double degrees, int degreeDigits, char positive, char negative) {
    const auto units = static_cast<std::int64_t>(
        std::llround(std::abs(degrees) * kMinutesPerDegree * kMinuteFraction));
    const std::int64_t perDegree = static_cast<std::int64_t>(kMinutesPerDegree) * kMinuteFraction;
    std::array<char, kMaxSentence> text{};
    std::snprintf(text.data(), text.size(), "%0*lld%02lld.%05lld,%c", degreeDigits,
                  static_cast<long long>(units / perDegree),
                  static_cast<long long>(units % perDegree / kMinuteFraction),
                  static_cast<long long>(units % kMinuteFraction),
                  degrees < 0.0 ? negative : positive);
    return text.data();
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

void appendGsv(std::string& out, const SkySignals& sky) {
    const std::size_t total = (kSky.size() + kSatellitesPerGsv - 1) / kSatellitesPerGsv;
    for (std::size_t part = 0; part < total; ++part) {
        std::string body = "GPGSV," + std::to_string(total) + "," + std::to_string(part + 1) + "," +
                           std::to_string(kSky.size());
        for (std::size_t i = part * kSatellitesPerGsv;
             i < kSky.size() && i < (part + 1) * kSatellitesPerGsv; ++i) {
            std::array<char, kMaxSentence> entry{};
            std::snprintf(entry.data(), entry.size(), ",%02u,%02u,%03u,%02u", kSky[i].prn,
                          kSky[i].elevationDegrees, kSky[i].azimuthDegrees, sky[i].snrDbHz);
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
    std::array<char, kMaxSentence> dops{};
    std::snprintf(dops.data(), dops.size(), ",%.1f,%.1f,%.1f", double{kPdop}, double{kHdop},
                  double{kVdop});
    body += dops.data();
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

// $GPGGA,120000.00,5213.44120,N,00458.12680,E,1,07,1.0,58.6,M,0.0,M,,*hh
std::string nmeaSentences(std::uint32_t sentenceMask, const Fix& fix) {
    const UtcTime t = utcOf(fix);
    const std::string lat =
        coordinate(fix.position.latitudeDegrees, kLatitudeDegreeDigits, kNorth, kSouth);
    const std::string lon =
        coordinate(fix.position.longitudeDegrees, kLongitudeDegreeDigits, kEast, kWest);
    std::string out;
    if (sentenceMask & kSentenceGga) {
        appendSentence(out, "GPGGA,%02u%02u%02u.00,%s,%s,1,%02zu,%.1f,%.1f,M,0.0,M,,", t.hours,
                       t.minutes, t.seconds, lat.c_str(), lon.c_str(), kSky.size(), double{kHdop},
                       fix.position.altitudeMetres);
    }
    if (sentenceMask & kSentenceGll) {
        appendSentence(out, "GPGLL,%s,%s,%02u%02u%02u.00,A,A", lat.c_str(), lon.c_str(), t.hours,
                       t.minutes, t.seconds);
    }
    if (sentenceMask & kSentenceVtg) {
        out += nmeaSentence("GPVTG,0.0,T,,M,0.0,N,0.0,K,A");
    }
    if (sentenceMask & kSentenceGsv) {
        appendGsv(out, fix.satelliteSignals);
    }
    if (sentenceMask & kSentenceGsa) {
        appendGsa(out);
    }
    if (sentenceMask & kSentenceZda) {
        appendSentence(out, "GPZDA,%02u%02u%02u.00,%02u,%02u,%04d,00,00", t.hours, t.minutes,
                       t.seconds, t.day, t.month, t.year);
    }
    if (sentenceMask & kSentenceRmc) {
        appendSentence(out, "GPRMC,%02u%02u%02u.00,A,%s,%s,0.0,0.0,%02u%02u%02d,,,A", t.hours,
                       t.minutes, t.seconds, lat.c_str(), lon.c_str(), t.day, t.month,
                       t.year % kCentury);
    }
    return out;
}

}  // namespace kestrune
