#include "sim/receiver_reports.h"

#include <numbers>
#include <string_view>

#include "sim/payload_writer.h"
#include "sim/sky.h"
#include "sim/tsip_messages.h"

namespace kestrune {

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
constexpr float kLeapSecondsSingle = static_cast<float>(kLeapSeconds);
constexpr float kNoBias = 0.0f;
constexpr float kStandingStill = 0.0f;

// 0x6D byte 0: the fix dimension in bits 0 to 2 (4: 3D, chosen automatically), the number of
// satellites in bits 4 to 7.
constexpr std::uint8_t kFix3d = 4;
constexpr unsigned kSatelliteCountShift = 4;
constexpr std::size_t kMostSatellitesCounted = 15;
static_assert(kSky.size() <= kMostSatellitesCounted, "0x6D counts its satellites in four bits");

constexpr std::uint8_t kDoingFixes = 0x00;
constexpr std::uint8_t kNoErrors = 0x00;

// 0x5C: the channel sits in bits 3 to 7; a satellite acquired, with good ephemeris, with its
// last measurement fresh, not integer-millisecond, good and not being collected.
constexpr unsigned kChannelShift = 3;
constexpr std::uint8_t kAcquired = 1;
constexpr std::uint8_t kEphemerisGood = 1;
constexpr std::uint8_t kFlagClear = 0;
constexpr int kTrackingFlags = 4;

constexpr std::uint8_t kMachineId = 0x20;
constexpr std::uint8_t kStatusClear = 0x00;
constexpr std::uint8_t kNoSuperpackets = 0;
constexpr std::string_view kSystemMessage = "VIRTUAL RECEIVER READY";
static_assert(kSystemMessage.size() == 22, "0x48 carries exactly 22 characters");

// 0x55 bytes: position LLA (0x02) in singles; velocity ENU (0x02); GPS time; amplitude units.
constexpr std::uint8_t kPositionLla = 0x02;
constexpr std::uint8_t kVelocityEnu = 0x02;
constexpr std::uint8_t kGpsTiming = 0x00;
constexpr std::uint8_t kLevelsInAmu = 0x00;

float timeOfFix(const Fix& fix) {
    return static_cast<float>(fix.time.timeOfWeek);
}

float radians(double degrees) {
    return static_cast<float>(degrees * kRadiansPerDegree);
}

}  // namespace

// 10 41 47 D2 00 00 09 90 41 90 00 00 10 03: second 107520 of week 2448 (7 December 2026,
// 05:51:42 UTC), 18 leap seconds.
std::vector<std::uint8_t> gpsTimeReport(const Fix& fix) {
    return PayloadWriter()
        .single(timeOfFix(fix))
        .u16(static_cast<std::uint16_t>(fix.time.gpsWeek))
        .single(kLeapSecondsSingle)
        .frame(kSimIdGpsTime);
}

// 10 4A 3F 69 56 D3 3D B1 9B 14 42 6A 66 66 00 00 00 00 47 D2 00 00 10 03: 52.22402° N,
// 4.96878° E, 58.6 m, at second 107520.
std::vector<std::uint8_t> positionReport(const Fix& fix) {
    return PayloadWriter()
        .single(radians(fix.position.latitudeDegrees))
        .single(radians(fix.position.longitudeDegrees))
        .single(static_cast<float>(fix.position.altitudeMetres))
        .single(kNoBias)
        .single(timeOfFix(fix))
        .frame(kSimIdPosition);
}

// 10 56 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 47 D2 00 00 10 03: standing still.
std::vector<std::uint8_t> velocityReport(const Fix& fix) {
    return PayloadWriter()
        .single(kStandingStill)
        .single(kStandingStill)
        .single(kStandingStill)
        .single(kNoBias)
        .single(timeOfFix(fix))
        .frame(kSimIdVelocity);
}

// 10 6D 74 3F E6 66 66 3F 80 00 00 3F C0 00 00 3F 66 66 66 03 07 0B 11 13 1A 1E 10 03: 3D,
// seven satellites, DOPs 1.8, 1.0, 1.5, 0.9.
std::vector<std::uint8_t> fixModeReport() {
    PayloadWriter data;
    data.u8(static_cast<std::uint8_t>(kSky.size() << kSatelliteCountShift | kFix3d))
        .single(kPdop)
        .single(kHdop)
        .single(kVdop)
        .single(kTdop);
    for (const SkySatellite& satellite : kSky) {
        data.u8(satellite.prn);
    }
    return data.frame(kSimIdFixMode);
}

// 10 46 00 00 10 03
std::vector<std::uint8_t> healthReport() {
    return PayloadWriter().u8(kDoingFixes).u8(kNoErrors).frame(kSimIdHealth);
}

// 10 5C 03 00 01 01 41 B3 33 33 47 D2 00 00 3F 9E 9D 93 40 03 CE A9 00 00 00 00 10 03: PRN 3 in
// channel 0, level 22.4 (50 dB-Hz, in one second of its drift), measured at second 107520,
// elevation 71°, azimuth 118°.
std::vector<std::uint8_t> trackingReport(std::size_t channel, const Fix& fix) {
    const SkySatellite& satellite = kSky.at(channel);
    PayloadWriter data;
    data.u8(satellite.prn)
        .u8(static_cast<std::uint8_t>(channel << kChannelShift))
        .u8(kAcquired)
        .u8(kEphemerisGood)
        .single(fix.satelliteSignals.at(channel).level)
        .single(timeOfFix(fix))
        .single(radians(satellite.elevationDegrees))
        .single(radians(satellite.azimuthDegrees));
    for (int i = 0; i < kTrackingFlags; ++i) {
        data.u8(kFlagClear);
    }
    return data.frame(kSimIdTracking);
}

Frames periodicReports(const Fix& fix) {
    return {gpsTimeReport(fix),
            positionReport(fix),
            velocityReport(fix),
            fixModeReport(),
            signalLevels(fix.satelliteSignals),
            healthReport()};
}

// 10 4B 20 00 00 10 03
std::vector<std::uint8_t> machineReport() {
    return PayloadWriter().u8(kMachineId).u8(kStatusClear).u8(kNoSuperpackets).frame(kSimIdMachine);
}

// 10 55 02 02 00 00 10 03
std::vector<std::uint8_t> ioOptionsReport() {
    return PayloadWriter()
        .u8(kPositionLla)
        .u8(kVelocityEnu)
        .u8(kGpsTiming)
        .u8(kLevelsInAmu)
        .frame(kSimIdIoOptions);
}

// 10 48 56 49 52 54 55 41 4C 20 52 45 43 45 49 56 45 52 20 52 45 41 44 59 10 03
std::vector<std::uint8_t> systemMessageReport() {
    return PayloadWriter().text(kSystemMessage).frame(kSimIdSystemMessage);
}

}  // namespace kestrune
