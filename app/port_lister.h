// The serial port listing, off the window's thread: udev, the USB identity and a look through
// /proc for holders take from a few to hundreds of milliseconds, far longer than the window's
// thread may be busy at a time. A burst of requests (the several device events one plug brings)
// comes to one listing; a request made while a listing runs gets one more after it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "link/port_list.h"

namespace kestrune {

struct PortSurvey {
    PortListing listing;
    // The device asked about, and who holds it; it may be one the listing leaves out (a
    // pseudo-terminal).
    std::string device;
    std::optional<PortHolder> holder;
};

class PortLister {
  public:
    using Done = std::function<void(PortSurvey)>;
    // done runs on the lister's own thread, once per listing.
    explicit PortLister(Done done);
    // Waits out a listing under way; a request not yet taken is dropped.
    ~PortLister();
    PortLister(const PortLister&) = delete;
    PortLister& operator=(const PortLister&) = delete;

    // Asks for a listing that also names the holder of device (empty for none); the latest
    // request of a burst names the device.
    void request(std::string device);

  private:
    void run();

    struct State {
        std::optional<std::string> wanted;  // the device of a request not yet taken
        bool stopping = false;
    };
    const Done done_;
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_;
    std::thread worker_;
};

}  // namespace kestrune
