// One owned file descriptor, and the one place where a system call interrupted by a signal is
// run again.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrune {

inline constexpr long kFailedCall = -1;

// Runs a system call again for as long as a signal interrupts it. Never used around close: the
// descriptor is gone whatever close says.
template <typename Call>
long retryInterrupted(Call call) {
    long result = 0;
    do {
        result = static_cast<long>(call());
    } while (result == kFailedCall && errno == EINTR);
    return result;
}

// Move-only owner of a descriptor; closes it once, quietly, when it goes.
class FileDescriptor {
  public:
    static constexpr int kNone = -1;

    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, kNone)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        FileDescriptor gone(std::move(*this));
        fd_ = std::exchange(other.fd_, kNone);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ != kNone) {
            (void)::close(fd_);
        }
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ != kNone; }

  private:
    int fd_ = kNone;
};

}  // namespace kestrune
