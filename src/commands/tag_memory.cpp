// Tag memory: read, write and lock by tag ID and byte address, the chunked
// read and write built on them, and the password-protected EPC memory read.
//
// Every command here polls with the read tries, the write and lock commands
// included.
#include <algorithm>

#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kTagRead = 0x72;
constexpr uint8_t kTagWrite = 0x73;
constexpr uint8_t kTagLock = 0x74;
constexpr uint8_t kEpcMemoryRead = 0x84;

constexpr int kTagIdBytes = 8;
constexpr int kPasswordBytes = 4;
constexpr int kReadPiece = 64;
constexpr int kWritePiece = 32;
// User memory that writes and locks may touch ends here.
constexpr int kUserMemoryEnd = 224;
// Writes may not start below this address.
constexpr int kUserMemoryStart = 8;
// The most data bytes a tag write can carry in a 256-byte Command packet
// (12 bytes of header and parameters before the data, the length field's 2).
constexpr int kMaxWriteBytes = Packet::kCapacity - 14;

// A byte argument: the low 8 bits of an int.
int lowByte(int value) { return value & 0xFF; }

// The head shared by the three tag-ID commands: lead, tag ID, address, count.
Packet tagIdCommand(uint8_t code, int lead, const uint8_t* tagId, int address, int count) {
    Packet request(code);
    request.byte(lead).bytes(tagId, kTagIdBytes).byte(address).byte(count);
    return request;
}

// A read reply must carry exactly the data asked for: L = data bytes + 3
// (command code, Status byte, the byte passed over).
bool carriesData(const Reply& reply, int dataBytes) { return reply.lengthField() - 3 == dataBytes; }

// One tag read of `count` (0..255) bytes; `out` is written only on 1.
int readOnce(Call& call, int lead, int address, int count, const uint8_t* tagId, uint8_t* out) {
    call.flush();
    Reply reply;
    call.poll(tagIdCommand(kTagRead, lead, tagId, address, count), {.tries = call.readTries(), .pauseMs = 20}, reply);
    const int result = judge(reply, kTagRead, {.lengthCheck = true});
    if (result != ZR_OK) return result;
    if (!carriesData(reply, count)) return ZR_ERR_NO_REPLY;
    copyOut(reply, 5, count, out);
    return ZR_OK;
}

// One tag write of `count` (0..kMaxWriteBytes) bytes.
int writeOnce(Call& call, int lead, int address, const uint8_t* tagId, const uint8_t* data, int count) {
    call.flush();
    Reply reply;
    Packet request = tagIdCommand(kTagWrite, lead, tagId, address, count);
    request.bytes(data, static_cast<size_t>(count));
    call.poll(request, {.tries = call.readTries(), .pauseMs = 20}, reply);
    return judge(reply, kTagWrite, {.lengthCheck = true});
}

// Cuts `count` bytes into pieces of at most `pieceSize` and runs
// `piece(offset, size)` for each until one does not return 1. A count of 0 is
// one piece of 0 bytes.
template <class Piece>
int inPieces(int count, int pieceSize, Piece&& piece) {
    int offset = 0;
    do {
        const int size = std::min(pieceSize, count - offset);
        const int result = piece(offset, size);
        if (result != ZR_OK) return result;
        offset += size;
    } while (offset < count);
    return ZR_OK;
}

}  // namespace

extern "C" {

// Reads in pieces of 64 bytes. Addresses wrap at 255 (they are bytes on the
// wire); the area ends when all `count` bytes are read, so a wrapped address
// never ends the read early. Pieces already read stay in `out` when a later
// one fails.
ZR_API int ZR_CALL ZRReadUserData(int port, int lead, int address, int count, const unsigned char* tagId,
                                  unsigned char* out) {
    return withCall(port, [&](Call& call) {
        count = lowByte(count);
        if (!tagId || (count > 0 && !out)) return ZR_ERR_ARGUMENT;
        call.flush();
        return inPieces(count, kReadPiece, [&](int offset, int size) {
            return readOnce(call, lead, lowByte(address + offset), size, tagId, out + offset);
        });
    });
}

ZR_API int ZR_CALL ZRReadUserDataOnce(int port, int lead, int address, int count, const unsigned char* tagId,
                                      unsigned char* out) {
    return withCall(port, [&](Call& call) {
        count = lowByte(count);
        if (!tagId || (count > 0 && !out)) return ZR_ERR_ARGUMENT;
        return readOnce(call, lead, address, count, tagId, out);
    });
}

// Writes in pieces of 32 bytes inside user memory 8..224; no flush of its
// own (each piece flushes). Pieces already written stay written.
ZR_API int ZR_CALL ZRWriteUserData(int port, int lead, int address, const unsigned char* tagId,
                                   const unsigned char* data, int count) {
    return withCall(port, [&](Call& call) {
        address = lowByte(address);
        count = lowByte(count);
        if (address < kUserMemoryStart || address + count > kUserMemoryEnd) return ZR_ERR_RANGE;
        if (!tagId || (count > 0 && !data)) return ZR_ERR_ARGUMENT;
        return inPieces(count, kWritePiece, [&](int offset, int size) {
            return writeOnce(call, lead, address + offset, tagId, data + offset, size);
        });
    });
}

// A count that cannot fit the Command packet is refused with -15.
ZR_API int ZR_CALL ZRWriteUserDataOnce(int port, int lead, int address, const unsigned char* tagId,
                                       const unsigned char* data, int count) {
    return withCall(port, [&](Call& call) {
        count = lowByte(count);
        if (count > kMaxWriteBytes) return ZR_ERR_LENGTH;
        if (!tagId || (count > 0 && !data)) return ZR_ERR_ARGUMENT;
        return writeOnce(call, lead, address, tagId, data, count);
    });
}

// No flush; a request that did not go out returns 0 without polling, and no
// valid reply gives -2 rather than -4.
ZR_API int ZR_CALL ZRLockUserData(int port, int address, int lead, const unsigned char* tagId, int count) {
    return withCall(port, [&](Call& call) {
        if (lowByte(address) + lowByte(count) > kUserMemoryEnd) return ZR_ERR_RANGE;
        if (!tagId) return ZR_ERR_ARGUMENT;
        const Packet request = tagIdCommand(kTagLock, lead, tagId, address, count);
        if (call.sendOnly(request) == 0) return ZR_NOTHING;
        Reply reply;
        call.awaitReply(kTagLock, {.tries = call.readTries(), .pauseMs = 10}, reply);
        return judge(reply, kTagLock, {.lengthCheck = true, .noReply = ZR_ERR_RANGE});
    });
}

// A silent reader gives 0; on success `out` gets the packet from its length
// field on without the Frame CRC: 2 × words + 5 bytes.
ZR_API int ZR_CALL ZRReadUserDataEPC(int port, const unsigned char* password, int address, int words, int lead,
                                     unsigned char* out) {
    return withCall(port, [&](Call& call) {
        if (!password || !out) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        Packet request(kEpcMemoryRead);
        request.byte(lead).bytes(password, kPasswordBytes).byte(address).byte(words);
        call.poll(request, {.tries = call.readTries(), .pauseMs = 20}, reply);
        if (!reply.echoes(kEpcMemoryRead)) return ZR_NOTHING;
        const int result = judge(reply, kEpcMemoryRead, {.lengthCheck = true});
        if (result != ZR_OK) return result;
        if (!carriesData(reply, 2 * lowByte(words))) return ZR_ERR_NO_REPLY;
        copyOut(reply, 0, reply.lengthField() + 2, out);
        return ZR_OK;
    });
}

}  // extern "C"
