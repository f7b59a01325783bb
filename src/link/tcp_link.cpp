#include "link/tcp_link.h"

#include <vector>

namespace zr::link {

namespace {

constexpr int kReadyWaitMs = 50;

auto receiver(TcpConnection& connection) {
    return [&connection](uint8_t* buffer, int length) { return TcpRecvRaw(connection, buffer, length); };
}

auto sender(TcpConnection& connection) {
    return [&connection](const uint8_t* bytes, int length) { return TcpSendRaw(connection, bytes, length); };
}

bool usable(const TcpConnection* connection) {
    return connection != nullptr && TcpWaitWritable(*connection, kReadyWaitMs) == 2;
}

}  // namespace

int TcpReassemble(TcpConnection& connection, uint8_t* dest, int capacity) {
    return TcpReassemble(connection.reassembly, receiver(connection), dest, capacity);
}

int TcpReceiveRetry(TcpConnection& connection, uint8_t* dest, int capacity) {
    return TcpReceiveRetry(connection.reassembly, receiver(connection), dest, capacity);
}

int TcpSendCounted(TcpConnection& connection, const uint8_t* bytes, int length, int repliesPerPacket) {
    return TcpSendCounted(connection.reassembly, connection.sendCounter, receiver(connection), sender(connection),
                          bytes, length, repliesPerPacket);
}

int TcpSendPacket(TcpConnection* connection, const uint8_t* packet, int length) {
    if (length < 0 || !usable(connection)) return 0;
    std::vector<uint8_t> protectedPacket(static_cast<size_t>(length) + 2);
    buildProtectedPacket(packet, static_cast<size_t>(length), protectedPacket.data());
    const bool sent = TcpSendAll(connection->reassembly, connection->sendCounter, receiver(*connection),
                                 sender(*connection), protectedPacket.data(), length + 2);
    return sent ? length + 2 : 0;
}

int TcpReceivePacket(TcpConnection* connection, uint8_t* buffer, int minimum, uint8_t /*ignoredCode*/) {
    if (!usable(connection)) return 0;
    return TcpReceiveChecked(connection->reassembly, receiver(*connection), buffer, minimum);
}

}  // namespace zr::link
