// The reader's side of a real link for tests; see reader_peer.h.
#include "support/reader_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "link/framing.h"
#include "link/tcp_connection.h"
#include "zrreader.h"

namespace zr::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string makeTempDir(const char* prefix) {
    std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    return name.data();
}

void removeTree(const std::string& dir) {
    if (dir.empty()) return;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") unlink((dir + "/" + name).c_str());
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

// Writes all of `bytes`, waiting while the descriptor is full.
void writeAll(int fd, const Bytes& bytes, bool socket) {
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (done < bytes.size() && Clock::now() < deadline) {
        ssize_t n = socket ? send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                           : write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p {fd, POLLOUT, 0};
            poll(&p, 1, 10);
        } else {
            return;
        }
    }
}

struct Client {
    int fd = -1;
    link::TcpPacketDecoder tcpDecoder;
};

}  // namespace

struct ReaderPeer::State {
    link::LinkKind kind;
    std::string host = "127.0.0.1";
    std::string devicePath;
    std::string usbDir;
    std::string tempDir;
    std::string configPath;
    bool hadUsbEnv = false;
    std::string oldUsbEnv;
    int port = ZR_CLOSED_HANDLE;

    int listener = -1;  // TCP and USB
    int master = -1;    // serial
    int slave = -1;     // serial: held so the master never sees a hang-up

    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<Client> clients;
    int accepted = 0;
    Bytes received;
    std::vector<Bytes> requests;
    link::LinkFrameDecoder frameDecoder;
    std::deque<Bytes> replies;       // wire bytes answering the next requests
    std::deque<uint8_t> usbBytes;    // USB: bytes for read-byte requests
    Bytes tcpPending;                // TCP: sent before any connection

    std::atomic<bool> stop {false};
    std::atomic<bool> hold {false};
    std::thread worker;

    // ---- set-up per link --------------------------------------------------

    void startTcp() {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        const int first = 2 + static_cast<int>(getpid() % 200);
        for (int i = 0; i < 250; ++i) {
            int n = 2 + (first - 2 + i) % 252;
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_port = htons(link::kReaderTcpPort);
            address.sin_addr.s_addr = htonl(0x7F000000u | static_cast<uint32_t>(n));
            if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
                host = "127.0.0." + std::to_string(n);
                if (listen(listener, 8) != 0) break;
                return;
            }
        }
        throw std::runtime_error("no free loopback address for port 7086");
    }

    void startSerial() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pty");
        char name[128] = {};
        if (ptsname_r(master, name, sizeof(name)) != 0) throw std::runtime_error("ptsname failed");
        devicePath = name;
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio {};
        if (slave < 0 || tcgetattr(slave, &tio) != 0) throw std::runtime_error("pty slave");
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }

    void startUsb() {
        usbDir = makeTempDir("zrpeer-usb");
        devicePath = usbDir + "/reader0";
        listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, devicePath.c_str(), sizeof(address.sun_path) - 1);
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 8) != 0)
            throw std::runtime_error("usb stand-in socket");
        if (const char* old = std::getenv("ZR_USB_DIR")) {
            hadUsbEnv = true;
            oldUsbEnv = old;
        }
        setenv("ZR_USB_DIR", usbDir.c_str(), 1);
    }

    // ---- the worker ---------------------------------------------------------

    // Called with the lock held for every decoded request.
    void onRequest(const Bytes& packet, int clientFd) {
        requests.push_back(packet);
        if (!replies.empty()) {
            Bytes wire = std::move(replies.front());
            replies.pop_front();
            deliver(wire, clientFd);
        }
        changed.notify_all();
    }

    // Puts wire bytes on the link (lock held).
    void deliver(const Bytes& wire, int clientFd = -1) {
        switch (kind) {
            case link::LinkKind::Serial:
                writeAll(master, wire, false);
                break;
            case link::LinkKind::Usb:
                usbBytes.insert(usbBytes.end(), wire.begin(), wire.end());
                break;
            case link::LinkKind::Tcp:
                if (clientFd < 0 && !clients.empty()) clientFd = clients.back().fd;
                if (clientFd < 0)
                    tcpPending.insert(tcpPending.end(), wire.begin(), wire.end());
                else
                    writeAll(clientFd, wire, true);
                break;
        }
    }

    void record(const uint8_t* bytes, size_t n, Client* client) {
        received.insert(received.end(), bytes, bytes + n);
        std::vector<Bytes> packets;
        if (client && kind == link::LinkKind::Tcp)
            client->tcpDecoder.feed(bytes, n, packets);
        else
            frameDecoder.feed(bytes, n, packets);
        for (const Bytes& p : packets) onRequest(p, client ? client->fd : -1);
        changed.notify_all();
    }

    void serveUsbMessage(Client& client, const uint8_t* msg, size_t n) {
        uint32_t code = 0;
        for (size_t i = 0; i < 4 && i < n; ++i) code |= static_cast<uint32_t>(msg[i]) << (8 * i);
        Bytes answer {0};
        if (n >= 4 && code == 0x220000) {
            record(msg + 4, n - 4, &client);
            answer = {1};
        } else if (n >= 4 && code == 0x220004 && !usbBytes.empty()) {
            answer = {1, usbBytes.front()};
            usbBytes.pop_front();
        }
        send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }

    void acceptClient() {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        std::lock_guard<std::mutex> guard(lock);
        clients.push_back(Client{fd, link::TcpPacketDecoder()});
        ++accepted;
        if (kind == link::LinkKind::Tcp && !tcpPending.empty()) {
            writeAll(fd, tcpPending, true);
            tcpPending.clear();
        }
        changed.notify_all();
    }

    void run() {
        std::vector<uint8_t> buffer(65536);
        while (!stop) {
            std::vector<pollfd> fds;
            if (listener >= 0) fds.push_back({listener, POLLIN, 0});
            if (master >= 0 && !hold) fds.push_back({master, POLLIN, 0});
            if (!hold) {
                std::lock_guard<std::mutex> guard(lock);
                for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 20) <= 0) continue;
            for (const pollfd& p : fds) {
                if (!p.revents) continue;
                if (p.fd == listener) {
                    acceptClient();
                } else if (p.fd == master) {
                    ssize_t n = read(master, buffer.data(), buffer.size());
                    std::lock_guard<std::mutex> guard(lock);
                    if (n > 0) record(buffer.data(), static_cast<size_t>(n), nullptr);
                } else {
                    ssize_t n = recv(p.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                    std::lock_guard<std::mutex> guard(lock);
                    for (size_t i = 0; i < clients.size(); ++i) {
                        if (clients[i].fd != p.fd) continue;
                        if (n <= 0) {
                            ::close(p.fd);
                            clients.erase(clients.begin() + static_cast<long>(i));
                            changed.notify_all();
                        } else if (kind == link::LinkKind::Usb) {
                            serveUsbMessage(clients[i], buffer.data(), static_cast<size_t>(n));
                        } else {
                            record(buffer.data(), static_cast<size_t>(n), &clients[i]);
                        }
                        break;
                    }
                }
            }
        }
    }
};

ReaderPeer::ReaderPeer(link::LinkKind kind) : s_(std::make_unique<State>()) {
    s_->kind = kind;
    s_->tempDir = makeTempDir("zrpeer-cfg");
    s_->configPath = s_->tempDir + "/reader.ini";
    switch (kind) {
        case link::LinkKind::Tcp: s_->startTcp(); break;
        case link::LinkKind::Serial: s_->startSerial(); break;
        case link::LinkKind::Usb: s_->startUsb(); break;
    }
    s_->worker = std::thread([this] { s_->run(); });
}

ReaderPeer::~ReaderPeer() {
    if (s_->port != ZR_CLOSED_HANDLE) ZRClose(&s_->port);
    s_->stop = true;
    if (s_->worker.joinable()) s_->worker.join();
    for (const Client& c : s_->clients) ::close(c.fd);
    for (int fd : {s_->listener, s_->master, s_->slave})
        if (fd >= 0) ::close(fd);
    if (s_->kind == link::LinkKind::Usb) {
        if (s_->hadUsbEnv)
            setenv("ZR_USB_DIR", s_->oldUsbEnv.c_str(), 1);
        else
            unsetenv("ZR_USB_DIR");
        removeTree(s_->usbDir);
    }
    removeTree(s_->tempDir);
}

link::LinkKind ReaderPeer::kind() const { return s_->kind; }
std::string ReaderPeer::host() const { return s_->host; }
std::string ReaderPeer::devicePath() const { return s_->devicePath; }
std::string ReaderPeer::tempDir() const { return s_->tempDir; }
std::string ReaderPeer::configPath() const { return s_->configPath; }
int ReaderPeer::port() const { return s_->port; }
int* ReaderPeer::portPointer() { return &s_->port; }

std::string ReaderPeer::writeConfig(const std::vector<std::pair<std::string, std::string>>& keys,
                                    const std::string& extraText) {
    const char* type = s_->kind == link::LinkKind::Tcp ? "TCP" : s_->kind == link::LinkKind::Serial ? "COM" : "USB";
    std::vector<std::pair<std::string, std::string>> lines = {
        {"ZR_PORT_TYPE", type},
        {"ZR_COM_NUMBER", s_->kind == link::LinkKind::Serial ? s_->devicePath : "COM1"},
        {"ZR_HOST_NAME", s_->host}};
    for (const auto& kv : keys) {
        bool replaced = false;
        for (auto& line : lines) {
            if (line.first == kv.first && !replaced) {
                line.second = kv.second;
                replaced = true;
            }
        }
        if (!replaced) lines.push_back(kv);
    }
    std::ofstream out(s_->configPath, std::ios::binary | std::ios::trunc);
    out << "[" << kSection << "]\n";
    for (const auto& kv : lines) out << kv.first << "=" << kv.second << "\n";
    out << extraText;
    return s_->configPath;
}

int ReaderPeer::open() {
    if (access(s_->configPath.c_str(), F_OK) != 0) writeConfig();
    return ZROpen(&s_->port, s_->configPath.c_str(), kSection);
}

int ReaderPeer::close() { return ZRClose(&s_->port); }

void ReaderPeer::replyNext(const Bytes& packet) {
    replyNextRaw(s_->kind == link::LinkKind::Tcp ? withCrc(packet) : link::linkFrameOf(packet));
}

void ReaderPeer::replyNextRaw(const Bytes& wireBytes) {
    std::lock_guard<std::mutex> guard(s_->lock);
    s_->replies.push_back(wireBytes);
}

void ReaderPeer::sendNow(const Bytes& packet) {
    sendRaw(s_->kind == link::LinkKind::Tcp ? withCrc(packet) : link::linkFrameOf(packet));
}

void ReaderPeer::sendRaw(const Bytes& wireBytes) {
    std::lock_guard<std::mutex> guard(s_->lock);
    s_->deliver(wireBytes);
}

Bytes ReaderPeer::received() const {
    std::lock_guard<std::mutex> guard(s_->lock);
    return s_->received;
}

std::vector<std::string> ReaderPeer::requestsHex() const {
    std::vector<std::string> out;
    for (const Bytes& r : requests()) out.push_back(hex(Bytes(r.begin(), r.end() - 2)));
    return out;
}

std::vector<Bytes> ReaderPeer::requests() const {
    std::lock_guard<std::mutex> guard(s_->lock);
    return s_->requests;
}

bool ReaderPeer::waitForRequests(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(s_->lock);
    return s_->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return s_->requests.size() >= count; });
}

void ReaderPeer::clearReceived() {
    std::lock_guard<std::mutex> guard(s_->lock);
    s_->received.clear();
    s_->requests.clear();
}

size_t ReaderPeer::pendingUsbBytes() const {
    std::lock_guard<std::mutex> guard(s_->lock);
    return s_->usbBytes.size();
}

void ReaderPeer::holdReading(bool hold) { s_->hold = hold; }

int ReaderPeer::connectionsAccepted() const {
    std::lock_guard<std::mutex> guard(s_->lock);
    return s_->accepted;
}

bool ReaderPeer::waitForConnections(int count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(s_->lock);
    return s_->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return s_->accepted >= count; });
}

bool ReaderPeer::waitUntilDisconnected(int timeoutMs) {
    if (s_->kind == link::LinkKind::Serial) {
        // The library holds the device's lock while it has it open.
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            int fd = ::open(s_->devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (fd >= 0) ::close(fd);
            if (free) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (Clock::now() < deadline);
        return false;
    }
    std::unique_lock<std::mutex> guard(s_->lock);
    return s_->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return s_->clients.empty(); });
}

}  // namespace zr::test
