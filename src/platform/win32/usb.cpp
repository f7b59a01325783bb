// The reader's USB driver interface: device-interface enumeration of the
// driver's class and its two control codes.
#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <setupapi.h>

namespace zr::platform {
namespace {

// {48C602D4-C77E-45B9-8133-20C9683BD1A6}
constexpr GUID kReaderInterfaceClass = {0x48C602D4, 0xC77E, 0x45B9, {0x81, 0x33, 0x20, 0xC9, 0x68, 0x3B, 0xD1, 0xA6}};

// How long a control request waits for the driver's answer.
constexpr DWORD kControlAnswerMs = 1000;

// The device path of the interface at `index`; false when the set has no
// interface there. `path` stays empty when its details cannot be fetched.
bool interfacePath(HDEVINFO set, DWORD index, std::string& path) {
    SP_DEVICE_INTERFACE_DATA data {};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kReaderInterfaceClass, index, &data)) return false;
    path.clear();
    DWORD size = 0;
    // Asks for the size only; the call fails by design.
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return true;
    // DWORD-aligned storage for the record and its path.
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    // The size field holds the fixed header size of the record (5 in 32-bit
    // processes, 8 in 64-bit ones), not the size of the whole buffer.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) path = detail->DevicePath;
    return true;
}

}  // namespace

std::string usbClassFolder() {
    // Windows has no folder for it: the interface class itself.
    return "{48C602D4-C77E-45B9-8133-20C9683BD1A6}";
}

std::vector<std::string> usbDevices() {
    std::vector<std::string> devices;
    HDEVINFO set = SetupDiGetClassDevsA(&kReaderInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return devices;
    std::string path;
    for (DWORD index = 0; interfacePath(set, index, path); ++index) {
        // An interface whose details could not be fetched is kept as an
        // empty path: it counts as present, and opening it fails.
        devices.push_back(path);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

int usbOpen(const std::string& devicePath) {
    if (devicePath.empty()) return -1;
    // Shared with other programs; overlapped, as the driver expects.
    HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return win32::toInt(handle);
}

bool usbControl(int handle, uint32_t code, const uint8_t* in, size_t inLength, uint8_t* out, size_t outCapacity,
                size_t* outCount) {
    if (outCount) *outCount = 0;
    if (handle < 0 || inLength > MAXDWORD || outCapacity > MAXDWORD) return false;
    HANDLE device = win32::toHandle(handle);
    // The device is opened for overlapped I/O, so every request carries an
    // OVERLAPPED record and is waited for here: the buffers must outlive the
    // driver's work on them.
    OVERLAPPED overlapped {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) return false;
    DWORD count = 0;
    BOOL ok = DeviceIoControl(device, code, const_cast<uint8_t*>(in), static_cast<DWORD>(inLength), out,
                              static_cast<DWORD>(outCapacity), &count, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, kControlAnswerMs) != WAIT_OBJECT_0) CancelIoEx(device, &overlapped);
        // Waits for the request to finish, cancelled or not.
        ok = GetOverlappedResult(device, &overlapped, &count, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    if (!ok) return false;
    if (outCount) *outCount = std::min<size_t>(count, outCapacity);
    return true;
}

void usbFlush(int handle) {
    // The flush request the driver is sent before each frame.
    if (handle >= 0) FlushFileBuffers(win32::toHandle(handle));
}

}  // namespace zr::platform
