// ZRSetDeviceClass: chooses the status mapping (and some command codes) by
// the reader family.
#include "connection/process_state.h"
#include "zrreader.h"

extern "C" ZR_API int ZR_CALL ZRSetDeviceClass(int /*port: not used*/, int familyCode) {
    switch (familyCode) {
        case 500: zr::setDeviceClass(1); return ZR_OK;
        case 600: zr::setDeviceClass(2); return ZR_OK;
        case 800: zr::setDeviceClass(3); return ZR_OK;
        default: return ZR_ERR_FAMILY;
    }
}
