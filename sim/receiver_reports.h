// The reports a receiver sends on its own once per second, and in answer to the standard queries,
// each framed and DLE-stuffed. Every report has exactly the data length a host's parser demands
// (given after each), since a parser drops a report of any other length unread.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/receiver_fix.h"

namespace kestrune {

using Frames = std::vector<std::vector<std::uint8_t>>;

inline constexpr std::uint8_t kSimIdHardware = 0x1C;
inline constexpr std::uint8_t kSimIdGpsTime = 0x41;
inline constexpr std::uint8_t kSimIdSoftwareVersion = 0x45;
inline constexpr std::uint8_t kSimIdHealth = 0x46;
inline constexpr std::uint8_t kSimIdSystemMessage = 0x48;
inline constexpr std::uint8_t kSimIdPosition = 0x4A;
inline constexpr std::uint8_t kSimIdMachine = 0x4B;
inline constexpr std::uint8_t kSimIdIoOptions = 0x55;
inline constexpr std::uint8_t kSimIdVelocity = 0x56;
inline constexpr std::uint8_t kSimIdTracking = 0x5C;
inline constexpr std::uint8_t kSimIdFixMode = 0x6D;
inline constexpr std::uint8_t kSimHardwareSubcode = 0x83;

// 0x41: GPS time of week (single, s), week (U16), GPS minus UTC (single, s). 10 bytes.
std::vector<std::uint8_t> gpsTimeReport(const Fix& fix);
// 0x4A: latitude and longitude (singles, rad), altitude above the ellipsoid (single, m), clock
// bias (single, m), time of fix (single, s of the GPS week). 20 bytes.
std::vector<std::uint8_t> positionReport(const Fix& fix);
// 0x56: velocity east, north and up (singles, m/s), clock bias rate (single, m/s), time of fix.
// 20 bytes.
std::vector<std::uint8_t> velocityReport(const Fix& fix);
// 0x6D: fix dimension 3D (automatic) with the number of satellites in bits 4 to 7, PDOP, HDOP,
// VDOP and TDOP (singles), then the PRN of each satellite in use. 17 + n bytes.
std::vector<std::uint8_t> fixModeReport();
// 0x46: status code (doing fixes) and error bits (none). 2 bytes.
std::vector<std::uint8_t> healthReport();
// 0x5C: one satellite's tracking status, by its channel in the sky (0 to kSky.size() - 1). 24
// bytes.
std::vector<std::uint8_t> trackingReport(std::size_t channel, const Fix& fix);
// Once per output interval in TSIP mode, in this order and all of the one fix: 0x41, 0x4A,
// 0x56, 0x6D, the 0x47 signal levels, 0x46. A host counting on the order sees the week before
// any time of fix, and the position before the fix mode that makes it a 3D fix.
Frames periodicReports(const Fix& fix);

// 0x4B: machine ID, status (nothing amiss), no superpackets. 3 bytes.
std::vector<std::uint8_t> machineReport();
// 0x55: the I/O options in force: position LLA in singles, velocity ENU, times in GPS time,
// levels in amplitude units. A request for others changes nothing and draws these. 4 bytes.
std::vector<std::uint8_t> ioOptionsReport();
// 0x48: the system message, 22 ASCII characters.
std::vector<std::uint8_t> systemMessageReport();

}  // namespace kestrune
