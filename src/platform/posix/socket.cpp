// IPv4 TCP sockets for the reader's port 7086.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/wait.h"

namespace zr::platform {
namespace {

// Sockets whose connect could not even be started: an address text that is
// not dotted IPv4 never connects (a wait on it runs out), and a connect
// that failed at once is an error. Linux would report both sockets as
// writable, which here must mean connected.
enum class Unstarted { NeverConnects, Failed };
std::mutex unstartedLock;
std::map<int, Unstarted> unstarted;

void markUnstarted(int socket, Unstarted how) {
    std::lock_guard<std::mutex> guard(unstartedLock);
    unstarted[socket] = how;
}

bool findUnstarted(int socket, Unstarted& how) {
    std::lock_guard<std::mutex> guard(unstartedLock);
    auto it = unstarted.find(socket);
    if (it == unstarted.end()) return false;
    how = it->second;
    return true;
}

}  // namespace

int socketCreate() {
    // The protocol number is given directly: no /etc/protocols lookup.
    return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
}

void socketConnectStart(int socket, const std::string& host, uint16_t port) {
    {
        std::lock_guard<std::mutex> guard(unstartedLock);
        unstarted.erase(socket);
    }
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Dotted forms only (inet_aton accepts the same forms as inet_addr);
    // names are never looked up. The unspecified address 0.0.0.0 ("0" is
    // what a missing host key reads as) is no reader: Linux would connect
    // it to whatever listens on this machine.
    if (inet_aton(host.c_str(), &address.sin_addr) == 0 || address.sin_addr.s_addr == htonl(INADDR_ANY)) {
        markUnstarted(socket, Unstarted::NeverConnects);
        return;
    }
    int r = connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    // EINTR: the connect goes on in the background, like EINPROGRESS.
    if (r != 0 && errno != EINPROGRESS && errno != EINTR && errno != EALREADY)
        markUnstarted(socket, Unstarted::Failed);
}

int socketWaitWritable(int socket, int ms) {
    if (ms < 0) ms = 0;
    Unstarted how;
    if (findUnstarted(socket, how)) {
        if (how == Unstarted::Failed) return kWaitError;
        sleepMs(ms);
        return kWaitTimeout;
    }
    short revents = 0;
    int r = posix::pollFor(socket, POLLOUT, static_cast<int64_t>(ms) * 1000, &revents);
    if (r < 0) return kWaitError;
    if (r == 0) return kWaitTimeout;
    int error = 0;
    socklen_t size = sizeof(error);
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return kWaitError;
    // Writable and connected: a socket whose connect failed earlier (its
    // error already collected) polls as writable but has no peer.
    sockaddr_in peer {};
    socklen_t peerSize = sizeof(peer);
    if (!(revents & POLLOUT) || getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
        return kWaitError;
    return kWaitReady;
}

int socketWaitReadable(int socket, int us) {
    short revents = 0;
    int r = posix::pollFor(socket, POLLIN, us < 0 ? 0 : us, &revents);
    if (r < 0 || (revents & POLLNVAL)) return kWaitError;
    return r == 0 ? kWaitTimeout : kWaitReady;
}

long socketSend(int socket, const uint8_t* bytes, size_t length) {
    ssize_t n;
    do {
        n = send(socket, bytes, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

long socketRecv(int socket, uint8_t* buffer, size_t length) {
    ssize_t n;
    do {
        n = recv(socket, buffer, length, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
}

int socketClose(int socket) {
    {
        std::lock_guard<std::mutex> guard(unstartedLock);
        unstarted.erase(socket);
    }
    if (socket < 0) return -1;
    return (close(socket) == 0 || errno == EINTR) ? 0 : -1;
}

}  // namespace zr::platform
