// The link an export talks over: one per open port handle.
//
// Exports never touch a serial port, USB device or socket directly; they send
// a Command packet, receive a protected packet and flush through this
// interface, chosen per call by the configured port type. Tests put an
// in-memory fake in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zr::link {

enum class LinkKind { Serial, Usb, Tcp };

// "Serial", "USB" or "TCP".
const char* linkKindName(LinkKind kind);

class Link {
public:
    virtual ~Link() = default;

    virtual LinkKind kind() const = 0;

    // The operating-system handle the caller sees as its port handle.
    virtual int handle() const = 0;

    // Sends one Command packet (`length` bytes, without CRC). Returns the send
    // count: `length` over serial, `length` + 2 over USB and TCP, a smaller
    // positive count when a later serial byte could not be written, 0 when
    // nothing went out.
    virtual int send(const uint8_t* packet, int length) = 0;

    // Receives one protected packet into `buffer` (256 bytes). Serial and USB
    // skip frames whose command code differs from a non-zero `expectedCode`;
    // TCP ignores the code and refuses packets shorter than `minimum` + 2.
    // Returns the count stored (L + 4) or 0.
    virtual int receive(uint8_t* buffer, int minimum, uint8_t expectedCode) = 0;

    // The flush on entry or exit of an export.
    virtual void flush() = 0;

    // The pause between the tries of a polled exchange.
    virtual void pause(int ms);

    // Closes the link: 1 when closed, 242 when it could not be closed (the
    // link then stays open and usable).
    virtual int close() = 0;
};

// Links over handles that ZROpen has opened. The link owns the handle.
std::unique_ptr<Link> makeSerialLink(int fd);
std::unique_ptr<Link> makeUsbLink(int fd);

struct TcpConnection;
std::unique_ptr<Link> makeTcpLink(std::unique_ptr<TcpConnection> connection);

}  // namespace zr::link
