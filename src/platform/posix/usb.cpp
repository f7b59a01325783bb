// The reader's USB driver interface, Linux stand-in.
//
// The device-interface class is a folder; each SOCK_SEQPACKET Unix-domain
// socket in it is one device interface. A control request is one message
// (code, 4 bytes little-endian, then the input) answered by one message
// (status byte 1 or 0, then the output). See docs/usb-driver-interface.md.
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/wait.h"

namespace zr::platform {
namespace {

constexpr const char* kDefaultClassFolder = "/run/zrreader/{48C602D4-C77E-45B9-8133-20C9683BD1A6}";

// How long a control request waits for the driver's answer.
constexpr int64_t kControlAnswerMicros = 1000000;

// Largest answer accepted (status byte and output).
constexpr size_t kMaxAnswer = 4096;

// A connected SOCK_SEQPACKET socket to `path`; -1 with errno on failure.
int connectDevice(const std::string& path) {
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int r = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    if (r != 0 && errno == EINTR) {
        // The connect goes on in the background; wait for its outcome.
        short revents = 0;
        int error = 0;
        socklen_t size = sizeof(error);
        if (posix::pollFor(fd, POLLOUT, kControlAnswerMicros, &revents) == 1 &&
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
            r = 0;
        else
            errno = error ? error : ETIMEDOUT;
    }
    if (r != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

}  // namespace

std::string usbClassFolder() {
    const char* dir = std::getenv("ZR_USB_DIR");
    return (dir && *dir) ? std::string(dir) : std::string(kDefaultClassFolder);
}

std::vector<std::string> usbDevices() {
    std::vector<std::string> devices;
    const std::string folder = usbClassFolder();
    DIR* dir = opendir(folder.c_str());
    if (!dir) return devices;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());  // ascending byte order
    for (const std::string& name : names) {
        std::string path = folder + "/" + name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        // A socket of another type refuses a SOCK_SEQPACKET connect with
        // EPROTOTYPE and is no device interface. Any other outcome (a live
        // device, or a stale one nobody serves) keeps it in the list.
        int probe = connectDevice(path);
        if (probe >= 0)
            close(probe);
        else if (errno == EPROTOTYPE)
            continue;
        devices.push_back(path);
    }
    return devices;
}

int usbOpen(const std::string& devicePath) { return posix::aboveStandardStreams(connectDevice(devicePath)); }

bool usbControl(int handle, uint32_t code, const uint8_t* in, size_t inLength, uint8_t* out, size_t outCapacity,
                size_t* outCount) {
    if (outCount) *outCount = 0;
    if (handle < 0) return false;
    std::vector<uint8_t> request(4 + inLength);
    for (int i = 0; i < 4; ++i) request[i] = static_cast<uint8_t>(code >> (8 * i));
    if (inLength) std::memcpy(request.data() + 4, in, inLength);
    ssize_t sent;
    do {
        sent = send(handle, request.data(), request.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(request.size())) return false;

    short revents = 0;
    if (posix::pollFor(handle, POLLIN, kControlAnswerMicros, &revents) != 1) return false;
    std::vector<uint8_t> answer(kMaxAnswer);
    ssize_t got;
    do {
        got = recv(handle, answer.data(), answer.size(), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 1 || answer[0] != 1) return false;
    size_t count = std::min(static_cast<size_t>(got) - 1, outCapacity);
    if (count && out) std::memcpy(out, answer.data() + 1, count);
    if (outCount) *outCount = count;
    return true;
}

void usbFlush(int) {
    // The driver keeps no output queue: nothing to flush.
}

}  // namespace zr::platform
