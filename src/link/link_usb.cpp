// The Link of a "USB" reader: the USB routines over the device handle.
#include "link/device_link.h"
#include "link/link.h"
#include "link/usb_link.h"
#include "platform/platform.h"

namespace zr::link {

namespace {

class UsbLink final : public Link {
public:
    explicit UsbLink(int fd) : fd_(fd) {}
    ~UsbLink() override {
        if (fd_ >= 0) platform::handleClose(fd_);
    }

    LinkKind kind() const override { return LinkKind::Usb; }
    int handle() const override { return fd_; }
    int send(const uint8_t* packet, int length) override { return UsbSendFrame(fd_, packet, length); }
    int receive(uint8_t* buffer, int minimum, uint8_t expectedCode) override {
        return UsbReceiveFrame(fd_, buffer, minimum, expectedCode);
    }
    void flush() override { platform::usbFlush(fd_); }
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

std::unique_ptr<Link> makeUsbLink(int fd) { return std::make_unique<UsbLink>(fd); }

}  // namespace zr::link
