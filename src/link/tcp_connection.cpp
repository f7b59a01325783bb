// The socket primitives beneath the TCP link.
#include "link/tcp_connection.h"

#include "platform/platform.h"

namespace zr::link {
namespace {

constexpr int kSendWaitMs = 1000;
constexpr int kReceiveWaitMicros = 2000;

}  // namespace

std::unique_ptr<TcpConnection> TcpConnect(const std::string& host) {
    int socket = platform::socketCreate();
    if (socket < 0) return nullptr;
    // Started, not awaited: TcpWaitWritable tells when it is established.
    platform::socketConnectStart(socket, host, kReaderTcpPort);
    auto connection = std::make_unique<TcpConnection>();
    connection->socket = socket;
    connection->active = 1;
    return connection;
}

int TcpWaitWritable(const TcpConnection& connection, int ms) {
    if (connection.active == 0) return 0;
    return platform::socketWaitWritable(connection.socket, ms);
}

int TcpSendRaw(TcpConnection& connection, const uint8_t* bytes, int length) {
    int wait = platform::socketWaitWritable(connection.socket, kSendWaitMs);
    if (wait == platform::kWaitError) return -1;
    if (wait == platform::kWaitTimeout) return 0;
    return static_cast<int>(platform::socketSend(connection.socket, bytes, length < 0 ? 0 : length));
}

int TcpRecvRaw(TcpConnection& connection, uint8_t* buffer, int length) {
    int wait = platform::socketWaitReadable(connection.socket, kReceiveWaitMicros);
    if (wait == platform::kWaitError) return -1;
    if (wait == platform::kWaitTimeout) return 0;
    return static_cast<int>(platform::socketRecv(connection.socket, buffer, length < 0 ? 0 : length));
}

int TcpClose(std::unique_ptr<TcpConnection> connection) {
    if (!connection) return -1;
    connection->active = 0;
    connection->reassembly.state = 0;
    connection->reassembly.count = 0;
    int result = platform::socketClose(connection->socket);
    connection->socket = -1;
    return result;
}

}  // namespace zr::link
