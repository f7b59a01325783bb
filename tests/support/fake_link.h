// An in-memory reader for unit tests of the exports: a fake link registered
// as an open port handle. It records every packet sent, every flush and
// every pause (without sleeping) and answers receives from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "link/link.h"

namespace zr::test {

using Bytes = std::vector<uint8_t>;

// What the fake link did, in order: "flush", "send", "pause N", "receive".
struct FakeLog {
    std::vector<Bytes> sent;        // Command packets as handed to the link
    std::vector<int> pauses;        // milliseconds of each pause
    int flushes = 0;
    int receives = 0;
    std::vector<std::string> events;
};

struct FakeScript {
    // Per receive: the protected packets that have arrived by then (empty: silence).
    std::deque<std::vector<Bytes>> steps;
    int sendResult = -1;            // -1: the link's normal send count
};

// Registers a fake link as an open handle and makes it the configured link
// (port type "COM", "USB" or "TCP" by kind, the given tries). Unregisters in
// the destructor.
class FakeReader {
public:
    explicit FakeReader(link::LinkKind kind = link::LinkKind::Tcp, int readTries = 25, int writeTries = 100);
    ~FakeReader();
    FakeReader(const FakeReader&) = delete;
    FakeReader& operator=(const FakeReader&) = delete;

    int port() const { return port_; }
    link::LinkKind kind() const { return kind_; }

    // Queues a reply packet (without CRC: the CRC is appended) for the next
    // receive that has nothing queued yet.
    FakeReader& reply(const Bytes& packet);
    // Queues protected bytes as they are (a wrong CRC makes the link refuse them).
    FakeReader& replyRaw(const Bytes& protectedPacket);
    // Queues `receives` receives that find nothing.
    FakeReader& silence(int receives = 1);
    // Makes every send report `count` (0: the packet did not go out).
    void setSendResult(int count);

    const FakeLog& log() const { return *log_; }
    // The packets sent, as hex strings ("00 01 6C").
    std::vector<std::string> sentHex() const;

    // Replaces the reader settings with a copy of the current ones, changed by `edit`.
    template <class Edit>
    void editSettings(Edit&& edit) {
        config::ReaderSettings s = settings();
        edit(s);
        applySettings(s);
    }

private:
    link::LinkKind kind_;
    int port_;
    std::shared_ptr<FakeLog> log_;
    std::shared_ptr<FakeScript> script_;
    static config::ReaderSettings settings();
    static void applySettings(const config::ReaderSettings& s);
};

// Hex text of bytes: "00 01 6C".
std::string hex(const Bytes& bytes);
std::string hex(const uint8_t* bytes, size_t length);
// The protected packet of `packet`: the packet and its CRC.
Bytes withCrc(const Bytes& packet);
// Bytes of a hex text ("00 01 6C" or "00016C").
Bytes unhex(const std::string& text);

}  // namespace zr::test
