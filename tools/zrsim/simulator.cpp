#include "simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <iostream>
#include <sstream>

#include "link/framing.h"

namespace zrsim {

namespace {

constexpr uint32_t kUsbWriteFrame = 0x220000;
constexpr uint32_t kUsbReadByte = 0x220004;
constexpr int kTickMs = 10;

int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool makeFolders(const std::string& path) {
    std::string partial;
    std::stringstream in(path);
    std::string part;
    if (!path.empty() && path[0] == '/') partial = "/";
    while (std::getline(in, part, '/')) {
        if (part.empty()) continue;
        partial += part + "/";
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// The reader's clock starts at the host's UTC time.
void setClockToNow(ReaderState& s, int64_t nowMs) {
    std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    s.clock = {static_cast<uint8_t>(utc.tm_year - 100), static_cast<uint8_t>(utc.tm_mon + 1),
               static_cast<uint8_t>(utc.tm_mday), static_cast<uint8_t>(utc.tm_hour),
               static_cast<uint8_t>(utc.tm_min), static_cast<uint8_t>(utc.tm_sec)};
    s.clockSetAtMs = nowMs;
}

}  // namespace

int64_t monotonicMs() { return monotonicUs() / 1000; }

struct Simulator::Conn {
    uint64_t id = 0;
    int fd = -1;
    Kind kind = Kind::Tcp;
    size_t reader = 0;
    std::string label;
    zr::link::LinkFrameDecoder frames;
    zr::link::TcpPacketDecoder packets{1024};
    std::string out;                 // bytes waiting for a writable fd
    bool watchingOut = false;
    std::deque<uint8_t> usbBytes;    // USB: bytes the host fetches one per read request
    std::string line;                // control channel input
    bool isFramed() const { return kind == Kind::Pty || kind == Kind::Usb; }
};

Simulator::Simulator(SimulatorOptions options) : options_(std::move(options)), garbageState_(options_.seed | 1) {
    size_t count = std::max<size_t>(1, options_.tcpAddresses.size());
    for (size_t i = 0; i < count; ++i) {
        Reader r;
        r.model = std::make_unique<ReaderModel>(options_.tags);
        if (i < options_.tcpAddresses.size()) r.tcpAddress = options_.tcpAddresses[i];
        r.model->withState([&](ReaderState& s) {
            s.alarmIntervalMs = options_.alarmIntervalMs;
            s.listenIntervalMs = options_.listenIntervalMs;
            setClockToNow(s, monotonicMs());
        });
        readers_.push_back(std::move(r));
    }
}

Simulator::~Simulator() { stop(); }

std::string Simulator::usbDevicePath() const {
    if (options_.usbFolder.empty()) return "";
    return options_.usbFolder + "/" + options_.usbName;
}

bool Simulator::start(std::string& error) {
    if (running_) return true;
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || wake_ < 0) {
        error = errnoText("epoll");
        closeAll();
        return false;
    }
    addConn(wake_, Kind::Wake, 0, "wake");
    bool ok = true;
    for (size_t i = 0; ok && i < options_.tcpAddresses.size(); ++i) ok = openTcp(i, options_.tcpAddresses[i], error);
    if (ok && options_.pty) ok = openPty(error);
    if (ok && !options_.usbFolder.empty()) ok = openUsb(error);
    if (ok) ok = openControl(error);
    if (!ok) {
        closeAll();
        return false;
    }
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread([this] { loop(); });
    return true;
}

void Simulator::requestStop() {
    stopRequested_ = true;
    if (wake_ >= 0) {
        uint64_t one = 1;
        (void)!write(wake_, &one, sizeof one);
    }
}

void Simulator::stop() {
    requestStop();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    closeAll();
    running_ = false;
}

void Simulator::wait() {
    if (thread_.joinable()) thread_.join();
}

void Simulator::closeAll() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (auto& [id, c] : conns_) {
        if (c->fd >= 0 && c->kind != Kind::Stdin) close(c->fd);
    }
    conns_.clear();
    timers_.clear();
    wake_ = -1;
    if (epoll_ >= 0) close(epoll_);
    epoll_ = -1;
    if (ptySlave_ >= 0) close(ptySlave_);
    ptySlave_ = -1;
    if (!options_.ptyLink.empty() && !ptyPath_.empty()) {
        struct stat st{};
        if (lstat(options_.ptyLink.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(options_.ptyLink.c_str());
    }
    ptyPath_.clear();
    if (!options_.usbFolder.empty()) unlink(usbDevicePath().c_str());
    if (!options_.controlSocket.empty()) unlink(options_.controlSocket.c_str());
}

uint64_t Simulator::addConn(int fd, Kind kind, size_t reader, std::string label) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto c = std::make_unique<Conn>();
    c->id = nextId_++;
    c->fd = fd;
    c->kind = kind;
    c->reader = reader;
    c->label = std::move(label);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = c->id;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) return 0;
    uint64_t id = c->id;
    conns_[id] = std::move(c);
    return id;
}

void Simulator::closeConn(uint64_t id) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto it = conns_.find(id);
    if (it == conns_.end()) return;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second->fd, nullptr);
    if (it->second->kind != Kind::Stdin) close(it->second->fd);
    if (options_.verbose) logLine("close " + it->second->label);
    conns_.erase(it);
}

// ---- Opening the links ------------------------------------------------------------

bool Simulator::openTcp(size_t reader, const std::string& address, std::string& error) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(options_.tcpPort);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        error = "not a dotted IPv4 address: " + address;
        return false;
    }
    for (int attempt = 0;; ++attempt) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(fd, 64) == 0) {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
            readers_[reader].tcpAddress = text;
            addConn(fd, Kind::TcpListener, reader, std::string("tcp ") + text);
            return true;
        }
        bool busy = errno == EADDRINUSE;
        error = errnoText("TCP " + address + ":" + std::to_string(options_.tcpPort));
        if (fd >= 0) close(fd);
        if (!busy || attempt >= options_.tcpAddressSearch) return false;
        sa.sin_addr.s_addr = htonl(ntohl(sa.sin_addr.s_addr) + 1);
    }
}

bool Simulator::openPty(std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        error = errnoText("pseudo-terminal");
        if (master >= 0) close(master);
        return false;
    }
    // Keep the slave open so the master never sees a hang-up between hosts,
    // and make it raw so nothing is echoed or translated before a host opens it.
    ptySlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ptySlave_ < 0) {
        error = errnoText(std::string("open ") + name);
        close(master);
        return false;
    }
    termios t{};
    tcgetattr(ptySlave_, &t);
    cfmakeraw(&t);
    tcsetattr(ptySlave_, TCSANOW, &t);
    setNonBlocking(master);
    ptyPath_ = name;
    if (!options_.ptyLink.empty()) {
        struct stat st{};
        if (lstat(options_.ptyLink.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(options_.ptyLink.c_str());
        if (symlink(name, options_.ptyLink.c_str()) != 0) {
            error = errnoText("symlink " + options_.ptyLink);
            close(master);
            return false;
        }
    }
    addConn(master, Kind::Pty, 0, std::string("serial ") + name);
    return true;
}

bool Simulator::openUsb(std::string& error) {
    std::string path = usbDevicePath();
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) {
        error = "USB socket path too long: " + path;
        return false;
    }
    if (!makeFolders(options_.usbFolder)) {
        error = errnoText("mkdir " + options_.usbFolder);
        return false;
    }
    std::strcpy(sa.sun_path, path.c_str());
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0) {
        error = errnoText("USB socket " + path);
        if (fd >= 0) close(fd);
        return false;
    }
    addConn(fd, Kind::UsbListener, 0, "usb " + path);
    return true;
}

bool Simulator::openControl(std::string& error) {
    if (options_.controlStdin && addConn(0, Kind::Stdin, 0, "stdin") == 0) {
        error = "standard input cannot be watched for control lines (a regular file?)";
        return false;
    }
    if (options_.controlSocket.empty()) return true;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (options_.controlSocket.size() >= sizeof sa.sun_path) {
        error = "control socket path too long";
        return false;
    }
    std::strcpy(sa.sun_path, options_.controlSocket.c_str());
    unlink(sa.sun_path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 4) != 0) {
        error = errnoText("control socket " + options_.controlSocket);
        if (fd >= 0) close(fd);
        return false;
    }
    addConn(fd, Kind::ControlListener, 0, "control");
    return true;
}

// ---- The serving loop ---------------------------------------------------------------

void Simulator::loop() {
    epoll_event events[64];
    int64_t nextTickMs = monotonicMs();
    while (!stopRequested_) {
        int timeoutMs = kTickMs;
        {
            std::lock_guard<std::recursive_mutex> lock(lock_);
            int64_t now = monotonicUs();
            for (const Timer& t : timers_)
                timeoutMs = std::min<int64_t>(timeoutMs, std::max<int64_t>(0, (t.atUs - now + 999) / 1000));
        }
        int n = epoll_wait(epoll_, events, 64, timeoutMs);
        if (stopRequested_) break;
        std::lock_guard<std::recursive_mutex> lock(lock_);
        for (int i = 0; i < n; ++i) {
            auto it = conns_.find(events[i].data.u64);
            if (it == conns_.end()) continue;
            Conn& c = *it->second;
            if (events[i].events & EPOLLOUT) onWritable(c);
            if (conns_.count(events[i].data.u64) && (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                onReadable(c);
        }
        runTimers(monotonicUs());
        int64_t nowMs = monotonicMs();
        if (nowMs >= nextTickMs) {
            tickReaders(nowMs);
            nextTickMs = nowMs + kTickMs;
        }
    }
}

void Simulator::accept(Conn& listener) {
    for (;;) {
        int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        Kind kind = listener.kind == Kind::TcpListener ? Kind::Tcp
                    : listener.kind == Kind::UsbListener ? Kind::Usb
                                                         : Kind::Control;
        if (kind == Kind::Tcp) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        std::string label = listener.label + " #" + std::to_string(nextId_);
        if (addConn(fd, kind, listener.reader, label) == 0) {
            close(fd);
            continue;
        }
        if (options_.verbose) logLine("open " + label);
    }
}

void Simulator::onReadable(Conn& c) {
    switch (c.kind) {
        case Kind::TcpListener: case Kind::UsbListener: case Kind::ControlListener:
            accept(c);
            return;
        case Kind::Wake: {
            uint64_t v;
            (void)!read(c.fd, &v, sizeof v);
            return;
        }
        case Kind::Usb: {
            uint8_t buffer[4096];
            ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) closeConn(c.id);
            else if (n > 0) onUsbMessage(c, buffer, static_cast<size_t>(n));
            return;
        }
        default: break;
    }
    uint8_t buffer[4096];
    ssize_t n = read(c.fd, buffer, sizeof buffer);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR || c.kind == Kind::Pty)) return;
        uint64_t id = c.id;
        closeConn(id);
        return;
    }
    uint64_t id = c.id;
    if (c.kind == Kind::Control || c.kind == Kind::Stdin) {
        c.line.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
        size_t nl;
        while (conns_.count(id) && (nl = c.line.find('\n')) != std::string::npos) {
            std::string line = c.line.substr(0, nl);
            c.line.erase(0, nl + 1);
            onControlLine(c, line);
        }
        return;
    }
    std::vector<std::vector<uint8_t>> packets;
    if (c.kind == Kind::Tcp) c.packets.feed(buffer, static_cast<size_t>(n), packets);
    else c.frames.feed(buffer, static_cast<size_t>(n), packets);
    for (const auto& p : packets) {
        if (!conns_.count(id)) break;  // a fault closed the connection
        onRequest(c, p);
    }
}

void Simulator::onUsbMessage(Conn& c, const uint8_t* bytes, size_t length) {
    uint8_t answer[2] = {0, 0};
    size_t answerLength = 1;
    uint64_t id = c.id;
    uint32_t code = length >= 4 ? bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t{bytes[3]} << 24 : 0;
    if (code == kUsbWriteFrame) {
        std::vector<std::vector<uint8_t>> packets;
        c.frames.feed(bytes + 4, length - 4, packets);
        answer[0] = 1;
        for (const auto& p : packets) {
            if (!conns_.count(id)) return;  // dropped by a fault: no answer
            onRequest(c, p);
        }
        if (!conns_.count(id)) return;
    } else if (code == kUsbReadByte && !c.usbBytes.empty()) {
        answer[0] = 1;
        answer[1] = c.usbBytes.front();
        c.usbBytes.pop_front();
        answerLength = 2;
    }
    send(c.fd, answer, answerLength, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// ---- Requests and replies -----------------------------------------------------------

void Simulator::onRequest(Conn& c, const std::vector<uint8_t>& protectedPacket) {
    Packet request(protectedPacket.begin(), protectedPacket.end() - 2);
    if (request.size() < 3) return;
    Reader& reader = readers_[c.reader];
    reader.lastConn = c.id;
    std::optional<Fault> fault = faults_.take(request[2]);
    if (options_.verbose) trace("IN ", c, request, fault ? "fault " + describeFault(*fault) : "");
    if (fault && fault->kind == FaultKind::Disconnect && c.kind != Kind::Pty) {
        closeConn(c.id);
        return;
    }
    std::vector<Outgoing> outs;
    if (fault && fault->kind == FaultKind::Status)
        outs.push_back({ReaderModel::statusReply(request, static_cast<uint8_t>(fault->value)), Origin::Reply});
    else
        outs = reader.model->handle(request, monotonicMs());
    uint64_t id = c.id;
    for (const Outgoing& out : outs) {
        if (!conns_.count(id)) return;  // closed by a failed write
        sendPacket(c, out, fault ? &*fault : nullptr);
    }
}

std::vector<uint8_t> Simulator::wireBytes(const Conn& c, Packet packet, const Fault* fault) {
    if (fault && fault->kind == FaultKind::Code) packet[2] = static_cast<uint8_t>(packet[2] + 1);
    std::vector<uint8_t> protectedPacket(packet.size() + 2);
    zr::link::buildProtectedPacket(packet.data(), packet.size(), protectedPacket.data());
    if (fault && fault->kind == FaultKind::Crc) protectedPacket.back() ^= 0xA5;
    std::vector<uint8_t> wire;
    if (fault && fault->kind == FaultKind::Garbage) {
        for (int i = 0; i < fault->value; ++i) {
            garbageState_ = garbageState_ * 1103515245u + 12345u;
            wire.push_back(static_cast<uint8_t>(garbageState_ >> 16));
        }
    }
    if (!c.isFramed()) {
        wire.insert(wire.end(), protectedPacket.begin(), protectedPacket.end());
        return wire;
    }
    wire.push_back(zr::link::kStartByte);
    for (uint8_t b : protectedPacket) {
        uint8_t stuffed[2];
        size_t n = zr::link::stuffByte(b, stuffed);
        wire.insert(wire.end(), stuffed, stuffed + n);
    }
    return wire;
}

void Simulator::sendPacket(Conn& c, const Outgoing& out, const Fault* fault) {
    if (options_.verbose) {
        static const char* origins[] = {"reply", "report", "alarm", "message"};
        trace("OUT", c, out.packet,
              std::string(origins[static_cast<int>(out.origin)]) + (fault ? " fault " + describeFault(*fault) : ""));
    }
    if (fault && fault->kind == FaultKind::Drop) return;
    std::vector<uint8_t> wire = wireBytes(c, out.packet, fault);
    uint64_t id = c.id;  // c may be destroyed by a failed write below
    int64_t now = monotonicUs();
    if (fault && fault->kind == FaultKind::Delay) {
        schedule(id, wire, now + int64_t{fault->value} * 1000);
        return;
    }
    if (fault && fault->kind == FaultKind::Split) {
        size_t from = 0;
        int64_t at = now;
        std::vector<size_t> cuts = fault->offsets;
        cuts.push_back(wire.size());
        for (size_t cut : cuts) {
            cut = std::min(cut, wire.size());
            if (cut <= from) continue;
            schedule(id, std::vector<uint8_t>(wire.begin() + from, wire.begin() + cut), at);
            at += int64_t{fault->value} * 1000;
            from = cut;
        }
        return;
    }
    std::vector<uint8_t> copy = fault && fault->kind == FaultKind::Stale ? wireBytes(c, out.packet, nullptr)
                                                                          : std::vector<uint8_t>{};
    schedule(id, wire, now);
    if (!copy.empty()) schedule(id, copy, now);
}

void Simulator::schedule(uint64_t id, std::vector<uint8_t> bytes, int64_t atUs) {
    // Bytes never overtake bytes of the same connection still waiting (a
    // delayed or split reply holds back what follows it, as on one line).
    for (const Timer& t : timers_)
        if (t.conn == id) atUs = std::max(atUs, t.atUs);
    if (atUs <= monotonicUs()) deliver(id, bytes);
    else timers_.push_back({atUs, id, std::move(bytes)});
}

void Simulator::deliver(uint64_t id, const std::vector<uint8_t>& bytes) {
    auto it = conns_.find(id);
    if (it == conns_.end()) return;
    Conn& c = *it->second;
    if (c.kind == Kind::Usb) {
        c.usbBytes.insert(c.usbBytes.end(), bytes.begin(), bytes.end());
        return;
    }
    c.out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    flushOut(c);
}

void Simulator::flushOut(Conn& c) {
    while (!c.out.empty()) {
        ssize_t n = c.kind == Kind::Pty ? write(c.fd, c.out.data(), c.out.size())
                                        : send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.out.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (c.kind != Kind::Pty) closeConn(c.id);
            else c.out.clear();
            return;
        }
        break;
    }
    bool want = !c.out.empty();
    if (want != c.watchingOut) {
        epoll_event ev{};
        ev.events = EPOLLIN | (want ? uint32_t{EPOLLOUT} : 0u);
        ev.data.u64 = c.id;
        epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
        c.watchingOut = want;
    }
}

void Simulator::onWritable(Conn& c) { flushOut(c); }

void Simulator::runTimers(int64_t nowUs) {
    std::vector<Timer> due;
    auto split = std::stable_partition(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.atUs > nowUs; });
    due.assign(std::make_move_iterator(split), std::make_move_iterator(timers_.end()));
    timers_.erase(split, timers_.end());
    for (const Timer& t : due) deliver(t.conn, t.bytes);
}

void Simulator::tickReaders(int64_t nowMs) {
    for (Reader& r : readers_) {
        if (!conns_.count(r.lastConn)) continue;  // no host to send to: nothing is due
        auto outs = r.model->tick(nowMs);
        for (const Outgoing& out : outs) {
            auto it = conns_.find(r.lastConn);
            if (it == conns_.end()) break;
            sendPacket(*it->second, out, nullptr);
        }
    }
}

bool Simulator::sendListenMessage(size_t index) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    Reader& r = readers_.at(index);
    auto it = conns_.find(r.lastConn);
    if (it == conns_.end()) return false;
    sendPacket(*it->second, {r.model->listenMessage(monotonicMs()), Origin::Listen}, nullptr);
    return true;
}

size_t Simulator::clientCount() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return static_cast<size_t>(std::count_if(conns_.begin(), conns_.end(), [](const auto& e) {
        return e.second->kind == Kind::Tcp || e.second->kind == Kind::Usb;
    }));
}

// ---- Tracing ------------------------------------------------------------------------

void Simulator::logLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    if (options_.log) options_.log(line);
    else std::cerr << line << std::endl;
}

void Simulator::trace(const char* direction, const Conn& c, const Packet& packet, const std::string& note) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.6f", monotonicUs() / 1e6);
    std::ostringstream s;
    bool reply = direction[0] == 'O';
    s << stamp << ' ' << direction << ' ' << c.label << "  " << toHex(&packet[2], 1) << ' '
      << commandName(packet[2], reply ? 0 : packet.size());
    if (reply && packet.size() > 3 && packet[2] != 0xA1) s << "  status " << toHex(&packet[3], 1);
    s << "  L=" << (256 * packet[0] + packet[1]) << "  " << toHex(packet);
    if (!note.empty()) s << "  (" << note << ")";
    logLine(s.str());
}

// ---- Control channel ----------------------------------------------------------------

void Simulator::onControlLine(Conn& c, const std::string& line) {
    std::string answer = control(line);
    if (answer == "bye") {
        stopRequested_ = true;
        answer = "ok bye";
    }
    answer += "\n";
    if (c.kind == Kind::Stdin) {
        std::cout << answer << std::flush;
        return;
    }
    c.out += answer;
    flushOut(c);
}

std::string Simulator::control(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return "ok";
    const std::string& command = words[0];
    // An optional last word "reader=N" picks the reader.
    size_t index = 0;
    if (words.size() > 1 && words.back().rfind("reader=", 0) == 0) {
        try {
            index = std::stoul(words.back().substr(7));
        } catch (...) {
            return "error reader=N needs a number";
        }
        if (index >= readers_.size()) return "error no reader " + std::to_string(index);
        words.pop_back();
    }
    ReaderModel& model = *readers_[index].model;
    auto number = [&](size_t i, int base, long& out) {
        if (i >= words.size()) return false;
        try {
            size_t used;
            out = std::stol(words[i], &used, base);
            return used == words[i].size();
        } catch (...) {
            return false;
        }
    };
    long v = 0;
    if (command == "help") {
        return "commands: fault RULE | faults clear | random P SEED | listen | state | tags | rf on|off | "
               "inputs HEX | class N | alarm-interval MS | listen-interval MS | quit  (add reader=N)\nok";
    }
    if (command == "fault" && words.size() == 2) {
        FaultRule rule;
        std::string error;
        if (!parseFaultRule(words[1], rule, error)) return "error " + error;
        faults_.add(rule);
        return "ok";
    }
    if (command == "faults" && words.size() == 2 && words[1] == "clear") {
        faults_.clear();
        return "ok";
    }
    if (command == "random" && words.size() == 3) {
        double p;
        try {
            p = std::stod(words[1]);
        } catch (...) {
            return "error random P SEED";
        }
        if (p < 0 || p > 1 || !number(2, 10, v)) return "error random P SEED (0 <= P <= 1)";
        faults_.setRandom(p, static_cast<uint32_t>(v));
        return "ok";
    }
    if (command == "listen" && words.size() == 1) {
        return sendListenMessage(index) ? "ok" : "error no host has talked to this reader yet";
    }
    if (command == "state" && words.size() == 1) {
        return model.withState([&](ReaderState& s) {
            std::ostringstream o;
            o << "ok rf=" << (s.rfOn ? "on" : "off") << " power=" << toHex(s.power(), "") << " class="
              << int(s.deviceClass()) << " tags=" << s.tags.size() << " selected=" << s.selected
              << " alarm=" << (s.alarmRunning ? "on" : "off") << " outputs=" << toHex(&s.ioOutputs, 1)
              << " inputs=" << toHex(&s.ioInputs, 1) << " testmode=" << int(s.testMode)
              << " tagfilter=" << (s.tagFilter.active ? "on" : "off")
              << " timefilter=" << (s.timeFilterActive ? std::to_string(s.timeFilter) : "off")
              << " acks=" << s.acksAccepted << "/" << s.acksRejected << "/" << s.acksUnmatched;
            return o.str();
        });
    }
    if (command == "tags" && words.size() == 1) {
        return model.withState([&](ReaderState& s) {
            std::ostringstream o;
            for (size_t i = 0; i < s.tags.size(); ++i) {
                const Tag& t = s.tags[i];
                o << i << " id=" << toHex(t.id.data(), 8, "") << " epc=" << toHex(t.epc, "")
                  << (t.destroyed ? " destroyed" : "") << "\n";
            }
            o << "ok " << s.tags.size() << " tags";
            return o.str();
        });
    }
    if (command == "rf" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        model.withState([&](ReaderState& s) { s.rfOn = words[1] == "on"; });
        return "ok";
    }
    if (command == "inputs" && number(1, 16, v) && v >= 0 && v <= 255) {
        model.withState([&](ReaderState& s) { s.ioInputs = static_cast<uint8_t>(v); });
        return "ok";
    }
    if (command == "class" && number(1, 10, v) && v >= 1 && v <= 3) {
        model.withState([&](ReaderState& s) { s.systemParams[systemParamOffset(kParamDeviceClass)] = static_cast<uint8_t>(v); });
        return "ok";
    }
    if ((command == "alarm-interval" || command == "listen-interval") && number(1, 10, v) && v >= 0 && v <= 3600000) {
        model.withState([&](ReaderState& s) {
            if (command == "alarm-interval") s.alarmIntervalMs = static_cast<int>(std::max(1L, v));
            else {
                s.listenIntervalMs = static_cast<int>(v);
                s.nextListenMs = 0;
            }
        });
        return "ok";
    }
    if (command == "quit") return "bye";
    return "error unknown or malformed command (try help)";
}

}  // namespace zrsim
