// The Link of a "TCP" reader: the TCP link over its connection.
#include "link/device_link.h"
#include "link/link.h"
#include "link/tcp_link.h"

namespace zr::link {

namespace {

constexpr int kCloseWaitMs = 500;

class TcpLink final : public Link {
public:
    explicit TcpLink(std::unique_ptr<TcpConnection> connection) : connection_(std::move(connection)) {}
    ~TcpLink() override {
        if (connection_) TcpClose(std::move(connection_));
    }

    LinkKind kind() const override { return LinkKind::Tcp; }
    // The connection object stands for the handle; its socket is what the
    // operating system knows.
    int handle() const override { return connection_ ? connection_->socket : -1; }
    int send(const uint8_t* packet, int length) override { return TcpSendPacket(connection_.get(), packet, length); }
    int receive(uint8_t* buffer, int minimum, uint8_t expectedCode) override {
        return TcpReceivePacket(connection_.get(), buffer, minimum, expectedCode);
    }
    void flush() override {}

    // Waits up to 500 ms for the connection to be writable, then closes it.
    // Not active: nothing to close. A time-out leaves it open (it may still
    // drain). A socket error means the reader dropped or reset the
    // connection, which can never become writable again: it is released
    // too, or the handle and its socket could never be closed. TcpClose
    // releases the connection whatever the close returned, so the link
    // never touches it again.
    int close() override {
        if (!connection_) return kLinkClosed;
        switch (TcpWaitWritable(*connection_, kCloseWaitMs)) {
            case 0:
                return kLinkClosed;
            case 1:
                TcpClose(std::move(connection_));
                return kLinkClosed;
            case 2:
                return TcpClose(std::move(connection_)) == 0 ? kLinkClosed : kLinkCloseFailed;
            default:
                return kLinkCloseFailed;
        }
    }

private:
    std::unique_ptr<TcpConnection> connection_;
};

}  // namespace

std::unique_ptr<Link> makeTcpLink(std::unique_ptr<TcpConnection> connection) {
    return std::make_unique<TcpLink>(std::move(connection));
}

}  // namespace zr::link
