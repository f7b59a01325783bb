// Process-wide state of the library, all in one place:
//   - the reader settings of the latest ZROpen,
//   - the device class chosen by ZRSetDeviceClass (selects the status mapping),
//   - the registry of open port handles and the link each was opened on.
//
// Every export resolves its port handle here at the start of a call and holds
// the handle's call lock until it returns, so calls on one handle are
// serialised while calls on different handles run side by side.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "config/settings.h"
#include "link/link.h"

namespace zr {

// One open port handle.
struct OpenHandle {
    std::unique_ptr<link::Link> link;
    std::mutex callLock;   // held for the whole of each call on this handle
    bool closed = false;   // set by ZRClose under callLock
    // ZRClose calls waiting for callLock. New calls are refused meanwhile, so
    // callers hammering the handle cannot keep a close waiting.
    std::atomic<int> closing{0};
};

// A snapshot of the reader settings (cheap to copy: shared, immutable).
std::shared_ptr<const config::ReaderSettings> currentSettings();
void replaceSettings(std::shared_ptr<const config::ReaderSettings> settings);

// Device class: 3 at load; 1, 2 or 3.
uint8_t deviceClass();
void setDeviceClass(uint8_t value);

// The link kind that the configured port type selects for sends and
// receives: "COM" serial, "USB" USB, anything else TCP.
link::LinkKind selectedLinkKind(const config::ReaderSettings& settings);

// Registers an open link and returns its port handle (the link's handle).
int registerHandle(std::unique_ptr<link::Link> link);

// The open handle registered under `port`, or null.
std::shared_ptr<OpenHandle> findHandle(int port);

// Removes `port` from the registry (after a successful close).
void unregisterHandle(int port);

// Removes `port` only while it still names `entry`: after a close, the same
// descriptor number may already have been handed to a newer open.
void unregisterHandle(int port, const OpenHandle* entry);

}  // namespace zr
