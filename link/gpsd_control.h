// gpsd's control socket: a local stream socket on which a line "-DEVICE" asks gpsd to let go of
// a device and "+DEVICE" to take it back. gpsd answers each line with "OK" or "ERROR".
#pragma once

#include <chrono>
#include <string>

namespace kestrune {

// Where gpsd's packages put the socket (mode 0600: root alone may use it).
inline constexpr const char* kGpsdControlSocket = "/run/gpsd.sock";

// A local connect either completes or is refused at once; this bounds one to a gpsd whose
// listening queue is full because its main loop is stuck.
inline constexpr std::chrono::milliseconds kGpsdConnectWait{1000};
// gpsd answers a control line from its main loop as soon as it has acted on it; opening a device
// again takes it a moment, closing one less. Well beyond both.
inline constexpr std::chrono::milliseconds kGpsdAnswerWait{3000};

enum class GpsdAnswer {
    Ok,
    Error,     // gpsd does not have the device by that name, or could not open it again
    NoSocket,  // nothing listens there: no gpsd, or one started without a control socket
    NoAccess,  // the socket is there, but this user may not use it
    NoAnswer,  // connected, but no answer within kGpsdAnswerWait
    Failed,    // anything else the socket refused
};

enum class GpsdRequest : char { Release = '-', TakeBack = '+' };

// Sends one control line and reads gpsd's answer.
GpsdAnswer gpsdControl(const std::string& socketPath, GpsdRequest request,
                       const std::string& device);

// The socket exists, whoever may use it.
bool gpsdSocketExists(const std::string& socketPath);

}  // namespace kestrune
