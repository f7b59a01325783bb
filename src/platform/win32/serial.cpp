// Serial ports: exclusive, binary, reads that never wait.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace zr::platform {
namespace {

// "COM10" and above open only through the device namespace ("\\.\COM10");
// the prefix does no harm to COM1-COM9, so every bare COMn gets it.
std::string devicePath(const std::string& name) {
    if (name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
        std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return "\\\\.\\" + name;
    return name;
}

// A serial port answers the comm-state query; a file or another device does
// not, and must never receive or give single raw bytes.
bool isSerialPort(HANDLE handle) {
    DCB dcb {};
    dcb.DCBlength = sizeof(dcb);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetCommState(handle, &dcb) != 0;
}

}  // namespace

int serialOpen(const std::string& device, uint32_t baud) {
    // No sharing: the port is ours alone until it is closed. Synchronous I/O.
    HANDLE handle = CreateFileA(devicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    DCB dcb {};
    dcb.DCBlength = sizeof(dcb);
    if (GetCommState(handle, &dcb) == 0) {  // not a serial port
        CloseHandle(handle);
        return -1;
    }
    // Speed, 8 data bits, no parity; stop bits and flow control stay as
    // they were. Binary mode is the only mode Windows supports.
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    // The set-up results are not checked: a speed the device refuses leaves
    // the port at its old speed.
    SetCommState(handle, &dcb);
    COMMTIMEOUTS timeouts {};
    GetCommTimeouts(handle, &timeouts);
    // A read returns at once with what has arrived; writes keep their time-outs.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    SetCommTimeouts(handle, &timeouts);
    return win32::toInt(handle);
}

int serialReadByte(int handle) {
    HANDLE h = win32::toHandle(handle);
    // Clears a pending line error, which would otherwise stop every read;
    // fails on anything that is not a serial port.
    DWORD errors = 0;
    if (handle < 0 || ClearCommError(h, &errors, nullptr) == 0) return -1;
    uint8_t byte = 0;
    DWORD count = 0;
    if (ReadFile(h, &byte, 1, &count, nullptr) == 0 || count != 1) return -1;
    return byte;
}

bool serialWriteByte(int handle, uint8_t byte) {
    HANDLE h = win32::toHandle(handle);
    if (handle < 0 || !isSerialPort(h)) return false;
    DWORD count = 0;
    return WriteFile(h, &byte, 1, &count, nullptr) != 0 && count == 1;
}

void serialFlush(int handle) {
    HANDLE h = win32::toHandle(handle);
    if (handle < 0 || !isSerialPort(h)) return;
    FlushFileBuffers(h);
}

std::vector<std::string> serialPorts() {
    // Every DOS device name; the serial ports are the COMn among them.
    std::vector<char> names(65536);
    DWORD length = 0;
    while ((length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 22))
        names.resize(names.size() * 2);
    std::vector<std::string> ports;
    for (const char* name = names.data(); length && *name && name < names.data() + length;
         name += std::strlen(name) + 1) {
        std::string text = name;
        if (devicePath(text) != text) ports.push_back(text);
    }
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return std::atoi(a.c_str() + 3) < std::atoi(b.c_str() + 3);
    });
    return ports;
}

bool handleClose(int handle) {
    // 0 and negative values are never kernel handles (-1 is the closed
    // handle, other negative values are the process's pseudo handles).
    if (handle <= 0) return false;
    return CloseHandle(win32::toHandle(handle)) != 0;
}

}  // namespace zr::platform
