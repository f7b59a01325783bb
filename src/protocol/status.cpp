#include "protocol/status.h"

#include "connection/process_state.h"
#include "zrreader.h"

namespace zr {

int mapStatus(uint8_t status, uint8_t deviceClass) {
    struct Range {
        uint8_t first, last;
        int base;  // result of `first`
    };
    static constexpr Range kCommon[] = {{0x01, 0x09, 1001}, {0x11, 0x16, 1010}, {0x20, 0x26, 2001}};
    if (status == 0x00) return ZR_OK;
    for (const Range& r : kCommon)
        if (status >= r.first && status <= r.last) return r.base + (status - r.first);
    if (deviceClass == 3) {
        if (status >= 0x60 && status <= 0x69) return 3001 + (status - 0x60);
        return ZR_ERR_UNKNOWN_STATUS;
    }
    if (status >= 0x90 && status <= 0x9C) return 4001 + (status - 0x90);
    if (status == 0x3A) return ZR_ERR_STATUS_3A;
    if (status == 0x3F) return ZR_ERR_ARGUMENT;
    return ZR_ERR_UNKNOWN_STATUS;
}

int mapStatus(uint8_t status) { return mapStatus(status, deviceClass()); }

}  // namespace zr
