#include "protocol/exchange.h"

#include <algorithm>

#include "protocol/trace.h"

namespace zr {
namespace {

// Length field of the latest reply received by an export on this thread
// (-1: none yet in the current call). Lets callers size the output of the
// report exports, which copy a reader-defined number of bytes.
thread_local int lastReplyLength = -1;

}  // namespace

void beginCall() { lastReplyLength = -1; }

std::shared_ptr<OpenHandle> resolveHandle(int port, std::shared_ptr<const config::ReaderSettings>& settings) {
    std::shared_ptr<OpenHandle> handle = findHandle(port);
    if (!handle) return nullptr;
    settings = currentSettings();
    // A handle is driven only by the link it was opened on; after a ZROpen
    // on another link changed the port type it is refused, never handed to
    // the wrong link.
    if (!settings || handle->link->kind() != selectedLinkKind(*settings)) return nullptr;
    return handle;
}

int Call::sendOnly(const Packet& request) {
    if (trace::enabled()) trace::commandSent(kind(), link().handle(), request.data(), request.size());
    return link().send(request.data(), request.size());
}

int Call::receiveOnce(Reply& reply, uint8_t code, int tcpMinimum) {
    reply.count = link().receive(reply.bytes, tcpMinimum, code);
    if (reply.count >= 2) lastReplyLength = reply.lengthField();
    if (reply.count > 0 && trace::enabled())
        trace::packet(trace::Direction::Receive, kind(), link().handle(), reply.bytes,
                      static_cast<size_t>(std::min(reply.count, static_cast<int>(sizeof reply.bytes))));
    return reply.count;
}

int Call::poll(const Packet& request, const Poll& poll, Reply& reply) {
    const int sent = sendOnly(request);
    awaitReply(request.code(), poll, reply);
    return sent;
}

void Call::awaitReply(uint8_t code, const Poll& poll, Reply& reply) {
    reply.count = 0;
    for (int attempt = 0; attempt < poll.tries; ++attempt) {
        pause(poll.pauseMs);
        receiveOnce(reply, code, poll.tcpMinimum);
        if (poll.stopOnEcho ? reply.echoes(code) : reply.count >= 6) break;
    }
}

int Call::command(const Packet& request, const Poll& poll, const Judge& rules) {
    Reply reply;
    this->poll(request, poll, reply);
    return judge(reply, request.code(), rules);
}

int startCommand(int port, const Packet& request) {
    return withCall(port, [&](Call& call) {
        call.flush();
        return call.sendOnly(request);
    });
}

int judge(const Reply& reply, uint8_t code, const Judge& rules) {
    if (!reply.echoes(code)) return rules.noReply;
    if (rules.lengthCheck && !reply.lengthMatches()) return rules.noReply;
    return mapStatus(reply.status());
}

void copyOut(const Reply& reply, int offset, int length, uint8_t* out) {
    if (length <= 0) return;
    if (offset + length > static_cast<int>(sizeof reply.bytes)) length = static_cast<int>(sizeof reply.bytes) - offset;
    std::memcpy(out, reply.bytes + offset, static_cast<size_t>(length));
}

void copyPacketData(const Reply& reply, int offset, int length, uint8_t* out) {
    if (length <= 0) return;
    const int packetEnd = reply.count - 2;
    const int inPacket = std::clamp(packetEnd - offset, 0, length);
    copyOut(reply, offset, inPacket, out);
    std::memset(out + inPacket, 0, static_cast<size_t>(length - inPacket));
}

}  // namespace zr

extern "C" ZR_API int ZR_CALL ZRLastReplyLength(void) { return zr::lastReplyLength; }
