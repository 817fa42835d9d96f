// The control socket conversation against a stand-in for gpsd: a local socket that records the
// line it is sent and answers as told.
#include "link/gpsd_control.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "link/file_descriptor.h"

namespace kestrune::test {
namespace {

// Listens at path; answers the first connection with answer, or says nothing until it ends.
class StandIn {
  public:
    StandIn(const std::string& path, std::optional<std::string> answer)
        : listener_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)),
                  0);
        EXPECT_EQ(::listen(listener_.get(), 1), 0);
        server_ = std::thread([this, answer] {
            const FileDescriptor client(::accept(listener_.get(), nullptr, nullptr));
            char buffer[128] = {};
            const long got = ::read(client.get(), buffer, sizeof(buffer) - 1);
            heard_.assign(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
            if (answer) {
                (void)::write(client.get(), answer->data(), answer->size());
            } else {
                (void)::read(client.get(), buffer, sizeof(buffer));  // until the caller gives up
            }
        });
    }
    std::string heard() {
        server_.join();
        return heard_;
    }

  private:
    FileDescriptor listener_;
    std::thread server_;
    std::string heard_;
};

TEST(GpsdControlTest, AnswersAreToldApart) {
    struct Case {
        const char* name;
        std::optional<std::string> answer;
        GpsdRequest request;
        GpsdAnswer expected;
        const char* line;
    };
    const Case cases[] = {
        {"ok", "OK\n", GpsdRequest::Release, GpsdAnswer::Ok, "-/dev/ttyUSB0\r\n"},
        {"error", "ERROR\n", GpsdRequest::TakeBack, GpsdAnswer::Error, "+/dev/ttyUSB0\r\n"},
        {"closed unanswered", "", GpsdRequest::Release, GpsdAnswer::Error, "-/dev/ttyUSB0\r\n"},
        {"silent", std::nullopt, GpsdRequest::Release, GpsdAnswer::NoAnswer, "-/dev/ttyUSB0\r\n"},
    };
    char folder[] = "/tmp/kestrune-gpsd-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/gpsd.sock";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandIn gpsd(path, c.answer);
        EXPECT_TRUE(gpsdSocketExists(path));
        EXPECT_EQ(gpsdControl(path, c.request, "/dev/ttyUSB0"), c.expected);
        EXPECT_EQ(gpsd.heard(), c.line);
        ::unlink(path.c_str());
    }
    EXPECT_FALSE(gpsdSocketExists(path));
    EXPECT_EQ(gpsdControl(path, GpsdRequest::Release, "/dev/ttyUSB0"), GpsdAnswer::NoSocket);
    ::rmdir(folder);
}

}  // namespace
}  // namespace kestrune::test
