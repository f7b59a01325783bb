// Serial ports: exclusive, raw, binary-transparent, reads that never wait.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/wait.h"

namespace zr::platform {
namespace {

bool speedFor(uint32_t baud, speed_t& speed) {
    static const struct {
        uint32_t baud;
        speed_t speed;
    } table[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
                 {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
                 {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& entry : table) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

// Serial devices are terminals; anything else (a USB stand-in socket, a
// file) must never receive or give single raw bytes.
bool isTerminal(int handle) { return handle >= 0 && isatty(handle) == 1; }

}  // namespace

int serialOpen(const std::string& device, uint32_t baud) {
    int fd;
    do {
        // O_NONBLOCK only so that the open does not wait for a carrier.
        fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    fd = posix::aboveStandardStreams(fd);
    if (fd < 0) return -1;
    termios tio {};
    // Exclusive use: an advisory lock (holds against every process, root
    // included) and the terminal's own exclusive mode.
    if (!isTerminal(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 ||
        tcgetattr(fd, &tio) != 0) {
        close(fd);
        return -1;
    }
    // Raw mode: no canonical input, echo, signals, translation or software
    // flow control. 8 data bits, no parity; stop bits and hardware flow
    // control stay as they were.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;  // a read returns at once with what has arrived
    tio.c_cc[VTIME] = 0;
    speed_t speed;
    if (speedFor(baud, speed)) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    // As on Windows, the set-up results are not checked: a
    // speed the device refuses leaves the port at its old speed.
    tcsetattr(fd, TCSANOW, &tio);
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int serialReadByte(int handle) {
    if (!isTerminal(handle)) return -1;
    uint8_t byte = 0;
    ssize_t n;
    do {
        n = read(handle, &byte, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 ? byte : -1;
}

bool serialWriteByte(int handle, uint8_t byte) {
    if (!isTerminal(handle)) return false;
    ssize_t n;
    do {
        n = write(handle, &byte, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1;
}

void serialFlush(int handle) {
    if (!isTerminal(handle)) return;
    while (tcdrain(handle) != 0 && errno == EINTR) {
    }
}

std::vector<std::string> serialPorts() {
    std::vector<std::string> ports;
    DIR* dir = opendir("/dev");
    if (!dir) return ports;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"}) {
            if (name.rfind(prefix, 0) == 0 && name.size() > std::string(prefix).size()) {
                ports.push_back("/dev/" + name);
                break;
            }
        }
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end());
    return ports;
}

bool handleClose(int handle) {
    if (handle < 0) return false;
    // Give up the terminal's exclusive mode so the port can be opened again.
    if (isTerminal(handle)) ioctl(handle, TIOCNXCL);
    // On Linux the descriptor is released even when close is interrupted.
    return close(handle) == 0 || errno == EINTR;
}

}  // namespace zr::platform
