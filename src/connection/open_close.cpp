// ZROpen and ZRClose: reading a reader's configuration, opening the link its
// port type names, and closing a handle by the link it was opened on.
#include <memory>
#include <string>

#include "config/settings.h"
#include "connection/process_state.h"
#include "link/link.h"
#include "link/tcp_connection.h"
#include "platform/platform.h"
#include "zrreader.h"

namespace zr {
namespace {

// How long a new TCP connection may take to become writable.
constexpr int kConnectWaitMs = 10000;

int openTcp(const config::ReaderSettings& settings, int* port) {
    std::unique_ptr<link::TcpConnection> connection = link::TcpConnect(settings.hostAddress);
    if (!connection) return ZR_ERR_OPEN;
    if (link::TcpWaitWritable(*connection, kConnectWaitMs) != platform::kWaitReady) {
        // Closed at once, whatever state it is in: a connection that never
        // became writable must not stay behind without a handle.
        link::TcpClose(std::move(connection));
        return ZR_ERR_CONNECT_TIMEOUT;
    }
    *port = registerHandle(link::makeTcpLink(std::move(connection)));
    return ZR_OK;
}

int openSerial(const config::ReaderSettings& settings, int* port) {
    int fd = platform::serialOpen(settings.serialDevice, settings.baudRate);
    if (fd < 0) return ZR_ERR_OPEN;
    *port = registerHandle(link::makeSerialLink(fd));
    return ZR_OK;
}

// USB discovery: the first device interface of the class that opens.
// 1 opened; -13 interfaces present but none opened; 0 none present.
int openUsb(int* port) {
    int result = ZR_NOTHING;
    for (const std::string& device : platform::usbDevices()) {
        int fd = platform::usbOpen(device);
        if (fd >= 0) {
            *port = registerHandle(link::makeUsbLink(fd));
            return ZR_OK;
        }
        result = ZR_ERR_OPEN;
    }
    return result;
}

bool knownPortType(const std::string& type) { return type == "TCP" || type == "COM" || type == "USB"; }

}  // namespace
}  // namespace zr

using namespace zr;

extern "C" ZR_API int ZR_CALL ZROpen(int* port, const char* configPath, const char* section) {
    if (!port) return ZR_ERR_ARGUMENT;
    if (*port != ZR_CLOSED_HANDLE) return ZR_ERR_ALREADY_OPEN;
    if (!configPath || !section) return ZR_ERR_CONFIG;

    auto settings = std::make_shared<config::ReaderSettings>(*currentSettings());
    settings->configPath = configPath;
    settings->portType = config::read_setting_text(configPath, section, "ZR_PORT_TYPE");
    settings->serialDevice = config::read_setting_text(configPath, section, "ZR_COM_NUMBER");
    settings->hostAddress = config::read_setting_text(configPath, section, "ZR_HOST_NAME");
    if (settings->portType.empty() || settings->serialDevice.empty() || settings->hostAddress.empty()) {
        replaceSettings(settings);
        return ZR_ERR_CONFIG;
    }
    config::readNumericSettings(configPath, section, *settings);
    replaceSettings(settings);

    int result = ZR_NOTHING;
    if (settings->portType == "TCP")
        result = openTcp(*settings, port);
    else if (settings->portType == "COM")
        result = openSerial(*settings, port);
    else if (settings->portType == "USB")
        result = openUsb(port);
    if (result != ZR_OK) *port = ZR_CLOSED_HANDLE;
    return result;
}

extern "C" ZR_API int ZR_CALL ZRClose(int* port) {
    if (!port) return ZR_ERR_ARGUMENT;
    const int value = *port;
    if (value == ZR_CLOSED_HANDLE) return ZR_CLOSED;
    // A handle the library did not open is refused; its descriptor is not
    // touched.
    std::shared_ptr<OpenHandle> entry = findHandle(value);
    if (!entry) return ZR_CLOSED;
    if (!knownPortType(currentSettings()->portType)) return ZR_NOTHING;

    struct Closing {
        OpenHandle& entry;
        explicit Closing(OpenHandle& e) : entry(e) { ++entry.closing; }
        ~Closing() { --entry.closing; }
    } closing(*entry);
    std::lock_guard<std::mutex> guard(entry->callLock);
    if (entry->closed) return ZR_CLOSED;
    // Closed by the link it was opened on, whatever the latest port type.
    if (entry->link->close() != ZR_OK) return ZR_ERR_CLOSE;
    entry->closed = true;
    unregisterHandle(value, entry.get());
    *port = ZR_CLOSED_HANDLE;
    return ZR_OK;
}
