// IPv4 TCP sockets for the reader's port 7086, on Windows Sockets 1.1.
//
// The socket layer is started when the library is loaded, by the static
// object below (its constructor runs before DllMain sees the load, its
// destructor at unload). DllMain (dllmain.cpp) refuses the load when the
// start failed.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <winsock2.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>

namespace zr::platform {
namespace {

class SocketLayer {
public:
    SocketLayer() {
        WSADATA data {};
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return;
        if (data.wVersion != MAKEWORD(1, 1)) {  // granted another version
            WSACleanup();
            return;
        }
        started_ = true;
    }
    ~SocketLayer() {
        if (started_) WSACleanup();
    }
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;
    bool started() const { return started_; }

private:
    bool started_ = false;
};

const SocketLayer socketLayer;

// Sockets whose connect could not even be started: an address text that is
// not dotted IPv4 never connects (a wait on it runs out), and a connect
// that failed at once is an error.
enum class Unstarted { NeverConnects, Failed };
std::mutex unstartedLock;
std::map<int, Unstarted> unstarted;

void setUnstarted(int socket, bool mark, Unstarted how = Unstarted::Failed) {
    std::lock_guard<std::mutex> guard(unstartedLock);
    if (mark)
        unstarted[socket] = how;
    else
        unstarted.erase(socket);
}

bool findUnstarted(int socket, Unstarted& how) {
    std::lock_guard<std::mutex> guard(unstartedLock);
    auto it = unstarted.find(socket);
    if (it == unstarted.end()) return false;
    how = it->second;
    return true;
}

// Socket handles are kernel handles: see win32.h for the int conversion.
SOCKET toSocket(int socket) { return static_cast<SOCKET>(static_cast<intptr_t>(socket)); }

timeval microsTimeout(int64_t us) {
    if (us < 0) us = 0;
    return timeval {static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
}

}  // namespace

namespace win32 {
bool socketsStarted() { return socketLayer.started(); }
}  // namespace win32

int socketCreate() {
    // The protocol number is given directly: no protocol database lookup.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        closesocket(s);
        return -1;
    }
    return static_cast<int>(static_cast<intptr_t>(s));
}

void socketConnectStart(int socket, const std::string& host, uint16_t port) {
    setUnstarted(socket, false);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Dotted forms only; names are never looked up. INADDR_NONE is also the
    // value of the one valid text "255.255.255.255".
    address.sin_addr.s_addr = inet_addr(host.c_str());
    if (host.empty() || (address.sin_addr.s_addr == INADDR_NONE && host != "255.255.255.255")) {
        setUnstarted(socket, true, Unstarted::NeverConnects);
        return;
    }
    if (connect(toSocket(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS && error != WSAEALREADY)
        setUnstarted(socket, true, Unstarted::Failed);
}

int socketWaitWritable(int socket, int ms) {
    if (ms < 0) ms = 0;
    Unstarted how;
    if (findUnstarted(socket, how)) {
        if (how == Unstarted::Failed) return kWaitError;
        sleepMs(ms);
        return kWaitTimeout;
    }
    // Windows reports a failed connect in the exception set, never as
    // writable: without that set a refused connect would wait out the time.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(toSocket(socket), &writable);
    FD_SET(toSocket(socket), &failed);
    timeval timeout = microsTimeout(static_cast<int64_t>(ms) * 1000);
    int r = select(0, nullptr, &writable, &failed, &timeout);
    if (r == SOCKET_ERROR) return kWaitError;
    if (r == 0) return kWaitTimeout;
    if (FD_ISSET(toSocket(socket), &failed) || !FD_ISSET(toSocket(socket), &writable)) return kWaitError;
    return kWaitReady;
}

int socketWaitReadable(int socket, int us) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(toSocket(socket), &readable);
    timeval timeout = microsTimeout(us);
    int r = select(0, &readable, nullptr, nullptr, &timeout);
    if (r == SOCKET_ERROR) return kWaitError;
    return r == 0 ? kWaitTimeout : kWaitReady;
}

long socketSend(int socket, const uint8_t* bytes, size_t length) {
    // Windows raises no signal on a broken connection.
    int n = send(toSocket(socket), reinterpret_cast<const char*>(bytes), static_cast<int>(std::min<size_t>(length, INT_MAX)),
                 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long socketRecv(int socket, uint8_t* buffer, size_t length) {
    int n = recv(toSocket(socket), reinterpret_cast<char*>(buffer), static_cast<int>(std::min<size_t>(length, INT_MAX)),
                 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int socketClose(int socket) {
    setUnstarted(socket, false);
    if (socket < 0) return -1;
    return closesocket(toSocket(socket)) == 0 ? 0 : -1;
}

}  // namespace zr::platform
