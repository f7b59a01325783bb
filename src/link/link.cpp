#include "link/link.h"

#include "platform/platform.h"

namespace zr::link {

const char* linkKindName(LinkKind kind) {
    switch (kind) {
        case LinkKind::Serial:
            return "Serial";
        case LinkKind::Usb:
            return "USB";
        case LinkKind::Tcp:
            return "TCP";
    }
    return "TCP";
}

void Link::pause(int ms) { platform::sleepMs(ms); }

}  // namespace zr::link
