// ReaderPeer: plays the reader on a real link, for tests that drive the
// library through ZROpen and assert the exact bytes on the wire.
//
//   zr::test::ReaderPeer peer(zr::link::LinkKind::Tcp);
//   ASSERT_EQ(peer.open(), 1);                       // writes the config, ZROpen
//   peer.replyNext({0x00, 0x02, 0x6C, 0x00});         // answer (CRC added) to the next request
//   EXPECT_EQ(ZRSomething(peer.port(), ...), 1);
//   ASSERT_TRUE(peer.waitForRequests(1));
//   EXPECT_EQ(hex(peer.requests()[0]), "00 01 6C 12 34");
//
// Per link kind:
//   Tcp    a listener on port 7086 of 127.0.0.N (N chosen from the pid and
//          the first free one taken, so parallel test processes don't clash).
//          Replies go out as protected packets (packet + CRC).
//   Serial a pseudo-terminal pair in raw mode; the library opens the slave
//          (devicePath()). Replies go out as Link frames.
//   Usb    a SOCK_SEQPACKET device socket in a fresh class folder, with
//          ZR_USB_DIR set to it for the peer's lifetime. 0x220000 (write
//          frame) is recorded and answered with success; 0x220004 (read
//          byte) delivers the next queued reply byte, or fails when none is
//          queued. Replies are queued as Link frames.
//
// Everything the library sends is recorded: received() holds the raw bytes
// (Link frames on serial/USB, the byte stream on TCP), requests() the decoded
// protected packets (CRC included; frames with a bad CRC are not listed).
// The destructor closes a handle still open, stops the thread and removes
// the listener, pty, socket, temporary folders and files. Thread-safe.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/link.h"
#include "support/fake_link.h"

namespace zr::test {

class ReaderPeer {
public:
    // The configuration section the peer writes (and opens).
    static constexpr const char* kSection = "READER";

    explicit ReaderPeer(link::LinkKind kind);
    ~ReaderPeer();
    ReaderPeer(const ReaderPeer&) = delete;
    ReaderPeer& operator=(const ReaderPeer&) = delete;

    link::LinkKind kind() const;
    std::string host() const;        // TCP: "127.0.0.N"; others: "127.0.0.1"
    std::string devicePath() const;  // serial: pty slave; USB: device socket; TCP: ""
    std::string tempDir() const;     // folder of the configuration file (removed at the end)

    // Writes the configuration file (returns its path): section READER with
    // ZR_PORT_TYPE, ZR_COM_NUMBER and ZR_HOST_NAME for this link, where a key
    // of `keys` with the same name replaces the value; then the other `keys`
    // in order; then `extraText` verbatim (e.g. "[ESPECIAL FLAG]\nZR_LENGTH=4\n").
    std::string writeConfig(const std::vector<std::pair<std::string, std::string>>& keys = {},
                            const std::string& extraText = "");
    std::string configPath() const;

    // ZROpen on the configuration (written with defaults first if not yet);
    // the handle is kept in port(). Returns ZROpen's result.
    int open();
    int port() const;
    int* portPointer();
    // ZRClose on port(); returns its result.
    int close();

    // Queues a reply packet (without CRC) as the answer to the next request
    // that has none queued yet. Several calls answer successive requests.
    void replyNext(const Bytes& packet);
    // Same, with wire bytes sent exactly as given (corrupt frames, split data).
    void replyNextRaw(const Bytes& wireBytes);
    // Sends a reply packet (without CRC) now (USB: queued for read-byte
    // requests). TCP data sent before the library connects waits for it.
    void sendNow(const Bytes& packet);
    // Sends wire bytes exactly as given, now.
    void sendRaw(const Bytes& wireBytes);

    Bytes received() const;
    std::vector<Bytes> requests() const;
    // The decoded requests without their CRC, as hex ("00 01 6C").
    std::vector<std::string> requestsHex() const;
    // Waits until at least `count` requests have been decoded.
    bool waitForRequests(size_t count, int timeoutMs = 3000);
    // Forgets what was received so far (not the queued replies).
    void clearReceived();

    // USB: reply bytes still queued for read-byte requests.
    size_t pendingUsbBytes() const;
    // Number of connections accepted (TCP, USB) so far.
    int connectionsAccepted() const;
    // Waits until at least `count` connections have been accepted (TCP, USB).
    bool waitForConnections(int count, int timeoutMs = 3000);
    // While held, the peer reads nothing from the link (TCP: the library's
    // socket buffers fill up and it stops being writable).
    void holdReading(bool hold);
    // Waits until no client holds the link: TCP/USB no connection left
    // open; serial the device lock released.
    bool waitUntilDisconnected(int timeoutMs = 3000);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace zr::test
