#include "link/gpsd_control.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "link/file_descriptor.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kOk = "OK\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kAnswerRoom = 64;

GpsdAnswer connectFailure(int error) {
    switch (error) {
        case ENOENT:
        case ECONNREFUSED:
        case ENOTDIR:
            return GpsdAnswer::NoSocket;
        case EACCES:
        case EPERM:
            return GpsdAnswer::NoAccess;
        default:
            return GpsdAnswer::Failed;
    }
}

// Waits for events on fd until deadline; false when it passed first.
bool readyBy(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long>(left.count(), 0)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

GpsdAnswer connectTo(const FileDescriptor& socket, const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return GpsdAnswer::NoSocket;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
        0) {
        return GpsdAnswer::Ok;
    }
    if (errno != EINPROGRESS && errno != EAGAIN) {
        return connectFailure(errno);
    }
    if (!readyBy(socket.get(), POLLOUT, Clock::now() + kGpsdConnectWait)) {
        return GpsdAnswer::NoAnswer;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return GpsdAnswer::Failed;
    }
    return error == 0 ? GpsdAnswer::Ok : connectFailure(error);
}

// gpsd sends its whole answer in one write; a line end completes it.
GpsdAnswer readAnswer(const FileDescriptor& socket) {
    const Clock::time_point deadline = Clock::now() + kGpsdAnswerWait;
    std::string answer;
    std::array<char, kAnswerRoom> chunk{};
    while (answer.find('\n') == std::string::npos) {
        if (!readyBy(socket.get(), POLLIN, deadline)) {
            return GpsdAnswer::NoAnswer;
        }
        const long got =
            retryInterrupted([&] { return ::read(socket.get(), chunk.data(), chunk.size()); });
        if (got <= 0) {
            return got == 0 ? GpsdAnswer::Error : GpsdAnswer::Failed;
        }
        answer.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return answer.starts_with(kOk) ? GpsdAnswer::Ok : GpsdAnswer::Error;
}

}  // namespace

GpsdAnswer gpsdControl(const std::string& socketPath, GpsdRequest request,
                       const std::string& device) {
    const FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        return GpsdAnswer::Failed;
    }
    if (const GpsdAnswer connected = connectTo(socket, socketPath); connected != GpsdAnswer::Ok) {
        return connected;
    }
    const std::string line = static_cast<char>(request) + device + std::string(kLineEnd);
    const long sent = retryInterrupted(
        [&] { return ::send(socket.get(), line.data(), line.size(), MSG_NOSIGNAL); });
    if (sent != static_cast<long>(line.size())) {
        return GpsdAnswer::Failed;
    }
    return readAnswer(socket);
}

bool gpsdSocketExists(const std::string& socketPath) {
    struct stat status {};
    return ::stat(socketPath.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

}  // namespace kestrune
