// The Link of a "COM" reader: the serial routines over the device handle.
#include "link/device_link.h"
#include "link/link.h"
#include "link/serial_link.h"
#include "platform/platform.h"

namespace zr::link {

namespace {

class SerialLink final : public Link {
public:
    explicit SerialLink(int fd) : fd_(fd) {}
    ~SerialLink() override {
        if (fd_ >= 0) platform::handleClose(fd_);
    }

    LinkKind kind() const override { return LinkKind::Serial; }
    int handle() const override { return fd_; }
    int send(const uint8_t* packet, int length) override { return SerialSendFrame(fd_, packet, length); }
    int receive(uint8_t* buffer, int minimum, uint8_t expectedCode) override {
        return SerialReceiveFrame(fd_, buffer, minimum, expectedCode);
    }
    void flush() override { platform::serialFlush(fd_); }
    int close() override {
        if (fd_ < 0) return kLinkClosed;
        if (!platform::handleClose(fd_)) return kLinkCloseFailed;
        fd_ = -1;
        return kLinkClosed;
    }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<Link> makeSerialLink(int fd) { return std::make_unique<SerialLink>(fd); }

}  // namespace zr::link
