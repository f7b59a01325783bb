// The Link of a "COM" or "USB" reader: the serial or USB routines over the
// device handle that ZROpen opened. The two differ only in their routines.
#include "link/device_link.h"
#include "link/link.h"
#include "link/serial_link.h"
#include "link/usb_link.h"
#include "platform/platform.h"

namespace zr::link {

namespace {

struct DeviceRoutines {
    LinkKind kind;
    int (*send)(int handle, const uint8_t* packet, int length);
    int (*receive)(int handle, uint8_t* buffer, int ignoredCount, uint8_t expectedCode);
    void (*flush)(int handle);
};

constexpr DeviceRoutines kSerialRoutines{LinkKind::Serial, SerialSendFrame, SerialReceiveFrame,
                                         platform::serialFlush};
constexpr DeviceRoutines kUsbRoutines{LinkKind::Usb, UsbSendFrame, UsbReceiveFrame, platform::usbFlush};

class DeviceLink final : public Link {
public:
    DeviceLink(const DeviceRoutines& routines, int fd) : routines_(routines), fd_(fd) {}
    ~DeviceLink() override {
        if (fd_ >= 0) platform::handleClose(fd_);
    }

    LinkKind kind() const override { return routines_.kind; }
    int handle() const override { return fd_; }
    int send(const uint8_t* packet, int length) override { return routines_.send(fd_, packet, length); }
    // `minimum` is a TCP notion; the frame receivers ignore their count.
    int receive(uint8_t* buffer, int minimum, uint8_t expectedCode) override {
        return routines_.receive(fd_, buffer, minimum, expectedCode);
    }
    void flush() override { routines_.flush(fd_); }
    // A failed close is reported, but the descriptor is never closed again:
    // the system may already have released it and handed the number to
    // another open file.
    int close() override {
        if (fd_ < 0) return kLinkClosed;
        const bool closed = platform::handleClose(fd_);
        fd_ = -1;
        return closed ? kLinkClosed : kLinkCloseFailed;
    }

private:
    const DeviceRoutines& routines_;
    int fd_;
};

}  // namespace

std::unique_ptr<Link> makeSerialLink(int fd) { return std::make_unique<DeviceLink>(kSerialRoutines, fd); }
std::unique_ptr<Link> makeUsbLink(int fd) { return std::make_unique<DeviceLink>(kUsbRoutines, fd); }

}  // namespace zr::link
