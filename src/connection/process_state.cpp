// Process-wide state: settings snapshot, device class, open handles.
#include "connection/process_state.h"

#include <atomic>
#include <map>
#include <vector>

namespace zr {
namespace {

std::mutex settingsLock;
std::shared_ptr<const config::ReaderSettings>& settingsSlot() {
    // The settings of no ZROpen yet: the at-load values.
    static std::shared_ptr<const config::ReaderSettings> slot = std::make_shared<const config::ReaderSettings>();
    return slot;
}

std::atomic<uint8_t> currentDeviceClass {3};

std::mutex registryLock;
std::map<int, std::shared_ptr<OpenHandle>>& registry() {
    static std::map<int, std::shared_ptr<OpenHandle>> handles;
    return handles;
}

}  // namespace

std::shared_ptr<const config::ReaderSettings> currentSettings() {
    std::lock_guard<std::mutex> guard(settingsLock);
    return settingsSlot();
}

void replaceSettings(std::shared_ptr<const config::ReaderSettings> settings) {
    std::lock_guard<std::mutex> guard(settingsLock);
    settingsSlot() = std::move(settings);
}

uint8_t deviceClass() { return currentDeviceClass.load(); }

void setDeviceClass(uint8_t value) { currentDeviceClass.store(value); }

link::LinkKind selectedLinkKind(const config::ReaderSettings& settings) {
    if (settings.portType == "COM") return link::LinkKind::Serial;
    if (settings.portType == "USB") return link::LinkKind::Usb;
    return link::LinkKind::Tcp;
}

int registerHandle(std::unique_ptr<link::Link> link) {
    auto entry = std::make_shared<OpenHandle>();
    const int port = link->handle();
    entry->link = std::move(link);
    std::lock_guard<std::mutex> guard(registryLock);
    auto& slot = registry()[port];
    if (slot) {
        // The descriptor of an older entry was closed behind the library's
        // back and its number handed to this open. Destroying the old link
        // would close the new descriptor, so it is kept, never used again.
        static std::vector<std::shared_ptr<OpenHandle>> orphans;
        orphans.push_back(std::move(slot));
    }
    slot = std::move(entry);
    return port;
}

std::shared_ptr<OpenHandle> findHandle(int port) {
    std::lock_guard<std::mutex> guard(registryLock);
    auto it = registry().find(port);
    return it == registry().end() ? nullptr : it->second;
}

void unregisterHandle(int port) {
    std::lock_guard<std::mutex> guard(registryLock);
    registry().erase(port);
}

void unregisterHandle(int port, const OpenHandle* entry) {
    std::lock_guard<std::mutex> guard(registryLock);
    auto it = registry().find(port);
    if (it != registry().end() && it->second.get() == entry) registry().erase(it);
}

}  // namespace zr
