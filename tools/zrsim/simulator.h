// The simulated reader on its links: TCP listeners (one reader per
// address), a pseudo-terminal for the serial link and the USB stand-in
// socket, served by one background thread with epoll. Tests start it
// in-process on the links they need and inspect or change the readers'
// state through reader(i).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "faults.h"
#include "reader_model.h"

namespace zrsim {

struct SimulatorOptions {
    std::vector<std::string> tcpAddresses;  // one reader per address; reader 0 also serves pty and USB
    uint16_t tcpPort = 7086;
    int tcpAddressSearch = 0;               // when an address is taken, try up to this many following ones
    bool pty = false;
    std::string ptyLink;                    // symbolic link made to the pty's device path
    std::string usbFolder;                  // USB stand-in class folder; empty: no USB link
    std::string usbName = "zrsim0";         // socket name inside the folder
    std::vector<Tag> tags;                  // the field of every reader (each gets its own copy)
    int alarmIntervalMs = 500;
    int listenIntervalMs = 0;               // 0: 0xA1 messages only on demand
    bool verbose = false;
    std::function<void(const std::string&)> log;  // trace lines; stderr when empty
    std::string controlSocket;              // Unix stream socket for the control channel
    bool controlStdin = false;              // control lines on standard input
    uint32_t seed = 1;                      // garbage bytes of the garbage fault
};

class Simulator {
public:
    explicit Simulator(SimulatorOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens every link and starts the serving thread. False with `error`
    // when a link could not be opened (nothing stays open then).
    bool start(std::string& error);
    // Stops the thread and closes every link; idempotent.
    void stop();
    // Asks the thread to stop without waiting for it (safe from a signal
    // thread while another thread is in wait()).
    void requestStop();
    // Blocks until stop() or a "quit" on the control channel.
    void wait();
    bool running() const { return running_; }

    size_t readerCount() const { return readers_.size(); }
    ReaderModel& reader(size_t index = 0) { return *readers_.at(index).model; }
    FaultPlan& faults() { return faults_; }
    std::string ptyPath() const { return ptyPath_; }
    // The address reader `index` listens on (after any search).
    std::string tcpAddress(size_t index = 0) const { return readers_.at(index).tcpAddress; }
    std::string usbDevicePath() const;

    // Sends a 0xA1 message from reader `index` to the connection that last
    // talked to it. False when no host has talked to it yet.
    bool sendListenMessage(size_t index = 0);

    // Executes one line of the control protocol; returns the answer
    // (one or more lines, the last starting with "ok" or "error").
    std::string control(const std::string& line);

    // Connections from hosts currently open (TCP and USB clients).
    size_t clientCount();

private:
    enum class Kind { TcpListener, Tcp, Pty, UsbListener, Usb, ControlListener, Control, Stdin, Wake };
    struct Conn;
    struct Reader {
        std::unique_ptr<ReaderModel> model;
        std::string tcpAddress;
        uint64_t lastConn = 0;
    };
    struct Timer {
        int64_t atUs;
        uint64_t conn;
        std::vector<uint8_t> bytes;
    };

    SimulatorOptions options_;
    std::vector<Reader> readers_;
    FaultPlan faults_;
    std::string ptyPath_;
    int ptySlave_ = -1;
    int epoll_ = -1;
    int wake_ = -1;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::recursive_mutex lock_;             // connections and timers
    std::map<uint64_t, std::unique_ptr<Conn>> conns_;
    std::vector<Timer> timers_;
    uint64_t nextId_ = 1;
    uint32_t garbageState_;
    std::mutex logMutex_;

    void loop();
    uint64_t addConn(int fd, Kind kind, size_t reader, std::string label);
    void closeConn(uint64_t id);
    void closeAll();
    void onReadable(Conn& c);
    void onWritable(Conn& c);
    void accept(Conn& listener);
    void onRequest(Conn& c, const std::vector<uint8_t>& protectedPacket);
    void sendPacket(Conn& c, const Outgoing& out, const Fault* fault);
    void deliver(uint64_t conn, const std::vector<uint8_t>& bytes);
    void schedule(uint64_t conn, std::vector<uint8_t> bytes, int64_t atUs);
    void flushOut(Conn& c);
    void onUsbMessage(Conn& c, const uint8_t* bytes, size_t length);
    void onControlLine(Conn& c, const std::string& line);
    void runTimers(int64_t nowUs);
    void tickReaders(int64_t nowMs);
    void trace(const char* direction, const Conn& c, const Packet& packet, const std::string& note);
    void logLine(const std::string& line);
    bool openTcp(size_t reader, const std::string& address, std::string& error);
    bool openPty(std::string& error);
    bool openUsb(std::string& error);
    bool openControl(std::string& error);
    std::vector<uint8_t> wireBytes(const Conn& c, Packet packet, const Fault* fault);
};

// Milliseconds of the monotonic clock.
int64_t monotonicMs();

}  // namespace zrsim
