// The report and listen exports over the in-memory fake link, fed with
// replies built from fuzz bytes: none may crash, write past the output
// size it documents, or return a result outside its documented set.
//
// Input: a link byte (0 serial, 1 USB, 2 TCP by value % 3), a device class
// byte, then steps: a header byte h and (h & 0x7F) bytes. With h & 0x80 the
// bytes are a packet and get a valid CRC; otherwise they arrive as they are.
// A step of 0 bytes is a receive that finds nothing. The exports are called
// in turn until every step was consumed.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::test::Bytes;
using zr::test::FakeReader;

namespace {

bool oneOf(int r, std::initializer_list<int> allowed) {
    for (int a : allowed)
        if (r == a) return true;
    return false;
}

bool readerStatus(int r) { return (r >= 1001 && r <= 1015) || (r >= 2001 && r <= 2007) || (r >= 3001 && r <= 4013); }

// An output buffer of exactly `size` bytes on the heap: AddressSanitizer
// reports a write past it.
struct Out {
    explicit Out(size_t size) : bytes(new unsigned char[size]), size(size) {}
    std::unique_ptr<unsigned char[]> bytes;
    size_t size;
};

void check(bool ok) {
    if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const zr::link::LinkKind kinds[] = {zr::link::LinkKind::Serial, zr::link::LinkKind::Usb, zr::link::LinkKind::Tcp};
    FakeReader reader(kinds[data[0] % 3], 2, 2);
    const int families[] = {500, 600, 800};
    ZRSetDeviceClass(-1, families[data[1] % 3]);

    int steps = 0;
    for (size_t i = 2; i < size;) {
        const uint8_t h = data[i++];
        const size_t n = std::min<size_t>(h & 0x7F, size - i);
        Bytes bytes(data + i, data + i + n);
        i += n;
        if (n == 0) reader.silence();
        else if (h & 0x80) reader.reply(bytes);
        else reader.replyRaw(bytes);
        ++steps;
    }

    const int port = reader.port();
    for (int call = 0; call < steps + 1; ++call) {
        switch (call % 9) {
            case 0: {  // inventory reports: status byte and data, at most 251 bytes
                Out out(251);
                const int r = ZRReport(port, out.bytes.get());
                check(oneOf(r, {1, 0, -4, -5, -7, -20}) || readerStatus(r));
                if (r == 1) check(ZRLastReplyLength() - 1 <= 251);
                break;
            }
            case 1: {
                Out out(251);
                const int r = ZRDirectReport(port, out.bytes.get());
                check(oneOf(r, {1, 0, -4, -5, -7, -20}) || readerStatus(r));
                break;
            }
            case 2: {
                Out out(251);
                check(oneOf(ZRLongReport(port, out.bytes.get()), {1, 0, -4, -8}));
                break;
            }
            case 3: {
                Out out(251);
                check(oneOf(ZRUserReport(port, out.bytes.get()), {1, 0, -4, -8}));
                break;
            }
            case 4: {  // whole packets without CRC, at most 254 bytes
                Out out(254);
                const int r = ZREpcCodeReport(port, out.bytes.get());
                check(oneOf(r, {1, 0, -4, -5, -7, -20}) || readerStatus(r));
                break;
            }
            case 5: {
                Out out(254);
                const int r = ZRTIDCodeReport(port, out.bytes.get());
                check(oneOf(r, {1, 0, -4, -5, -7, -20}) || readerStatus(r));
                break;
            }
            case 6: {
                Out out(254);
                const int r = ZRGetUseDataReport(port, out.bytes.get());
                check(oneOf(r, {1, 0, -4, -5, -7, -20}) || readerStatus(r));
                break;
            }
            case 7: {
                const int r = ZREASAlarmReport(port);
                check(oneOf(r, {1, 0, -4, -5, -7, -20}) || readerStatus(r));
                break;
            }
            case 8: {
                Out info(6), first(8), second(8);
                check(oneOf(ZRListenReader(port, 0, info.bytes.get(), first.bytes.get(), second.bytes.get()), {1, 0, -4}));
                break;
            }
        }
    }
    ZRSetDeviceClass(-1, 800);
    return 0;
}
