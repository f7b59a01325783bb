// Close codes shared by the links behind makeSerialLink/makeUsbLink/makeTcpLink.
#pragma once

namespace zr::link {

// What Link::close returns: closed, or could not be closed (still open).
constexpr int kLinkClosed = 1;
constexpr int kLinkCloseFailed = 242;

}  // namespace zr::link
