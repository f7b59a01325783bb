// Every export that takes a port handle by value, callable with just the
// handle: small valid arguments, buffers large enough for any output. Shared
// by the reliability tests (foreign handles, faults) and the fuzz target of
// the report exports.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "zrreader.h"

namespace zr::reliability {

struct ExportCall {
    const char* name;
    int (*call)(int port);
    // What the export returns for a handle it refuses: -1, except the two
    // exports that report every failure as 0.
    int refusedResult = ZR_CLOSED;
};

// Caller buffers: generous, never read by the tests.
struct Buffers {
    unsigned char out[1024];
    unsigned char in[256];
    unsigned char a[8], b[8], c[8];
};
inline Buffers& buffers() {
    static thread_local Buffers b{};
    return b;
}

#define ZR_EXPORT_CALL(name, ...) ExportCall{#name, [](int p) { auto& k = buffers(); (void)k; return name(__VA_ARGS__); }}
#define ZR_EXPORT_CALL_RESULT(name, refused, ...) \
    ExportCall{#name, [](int p) { auto& k = buffers(); (void)k; return name(__VA_ARGS__); }, refused}

inline const std::vector<ExportCall>& allExports() {
    static const std::vector<ExportCall> table = {
        ZR_EXPORT_CALL(ZRReset, p),
        ZR_EXPORT_CALL(ZRIdentify, p, 0, 0),
        ZR_EXPORT_CALL(ZRReport, p, k.out),
        ZR_EXPORT_CALL(ZRDirectRead, p, 0, 0),
        ZR_EXPORT_CALL(ZRDirectReport, p, k.out),
        ZR_EXPORT_CALL(ZRLongIdentify, p, 0, 0, 0),
        ZR_EXPORT_CALL(ZRLongReport, p, k.out),
        ZR_EXPORT_CALL(ZRUserIdentify, p, 0, 0, 0, 0, 0, 0),
        ZR_EXPORT_CALL(ZRUserReport, p, k.out),
        ZR_EXPORT_CALL(ZRIdentifyEpcCode, p, 0, 0, 0),
        ZR_EXPORT_CALL(ZREpcCodeReport, p, k.out),
        ZR_EXPORT_CALL(ZRIdentifyTIDCode, p, 0, 0, 0, k.in),
        ZR_EXPORT_CALL(ZRTIDCodeReport, p, k.out),
        ZR_EXPORT_CALL(ZRReadUserData, p, 0, 8, 16, k.in, k.out),
        ZR_EXPORT_CALL(ZRReadUserDataOnce, p, 0, 8, 16, k.in, k.out),
        ZR_EXPORT_CALL(ZRWriteUserData, p, 0, 8, k.in, k.in, 4),
        ZR_EXPORT_CALL(ZRWriteUserDataOnce, p, 0, 8, k.in, k.in, 4),
        ZR_EXPORT_CALL(ZRLockUserData, p, 8, 0, k.in, 4),
        ZR_EXPORT_CALL(ZRReadUserDataEPC, p, k.a, 0, 2, 0, k.out),
        ZR_EXPORT_CALL(ZRSetEpcCode, p, 0, k.a, 4, 2, k.in),
        ZR_EXPORT_CALL(ZRGetUseData, p, k.a, 0, 2, 0),
        ZR_EXPORT_CALL(ZRGetUseDataReport, p, k.out),
        ZR_EXPORT_CALL(ZRSetUseData, p, 0, k.a, 0, 2, k.in),
        ZR_EXPORT_CALL(ZRSetVisitPWD, p, 0, k.a, k.b),
        ZR_EXPORT_CALL(ZRSetDestroyPWD, p, 0, k.a, k.b),
        ZR_EXPORT_CALL(ZRSetDataLocked, p, 0, k.a, 1, 2),
        ZR_EXPORT_CALL(ZRSetDestroyTag, p, 0, k.a, 2, k.in),
        ZR_EXPORT_CALL(ZRDataReturn, p, 0, 1),
        ZR_EXPORT_CALL(ZRSelectTag, p, 0, 0, 0, k.in),
        ZR_EXPORT_CALL(ZRSelectTagEPC, p, 0, 0, 0, k.in, 12),
        ZR_EXPORT_CALL(ZRPowerOn, p, 1),
        ZR_EXPORT_CALL(ZRPowerOff, p),
        ZR_EXPORT_CALL(ZRFreqQuery, p, 0, 4, k.out),
        ZR_EXPORT_CALL(ZRPowerSet, p, 0, 2, 1, 2),
        ZR_EXPORT_CALL(ZRPowerQuery, p, 0, 2, k.out),
        ZR_EXPORT_CALL(ZRSysQuery, p, 0, 4, k.out),
        ZR_EXPORT_CALL(ZRTagQuery, p, 0, 4, k.out),
        ZR_EXPORT_CALL(ZRSysSet, p, 0x40, 2, k.in),
        ZR_EXPORT_CALL(ZRSysFastSet, p, 0x40, 2, k.in),
        ZR_EXPORT_CALL(ZRTagFastSet, p, 0, 2, k.in),
        ZR_EXPORT_CALL(ZRIOControlSet, p, 1, 0),
        ZR_EXPORT_CALL(ZRIOControlQuery, p, 0, k.out),
        ZR_EXPORT_CALL(ZRMACSet, p, 0, 6, k.in),
        ZR_EXPORT_CALL_RESULT(ZRNetAddrSet, ZR_NOTHING, p, 0, "READER", "127.0.0.9", "255.0.0.0", "127.0.0.1"),
        ZR_EXPORT_CALL_RESULT(ZRCodeSending, ZR_NOTHING, p, 4, 0, k.in),
        ExportCall{"ZRGetDeviceClass", [](int p) { int v[4]; return ZRGetDeviceClass(p, v); }},
        ZR_EXPORT_CALL(ZRTestModeSet, p, 1),
        ZR_EXPORT_CALL(ZRSetReadCfg, p, 1, 1),
        ZR_EXPORT_CALL(ZRSetInterfere, p, k.in),
        ZR_EXPORT_CALL(ZRGetInterfere, p, k.out),
        ZR_EXPORT_CALL(ZRCloseInterfere, p),
        ZR_EXPORT_CALL(ZREpcPrintPowerOs, p, 1),
        ZR_EXPORT_CALL(ZRGetReaderState, p, 0, k.out),
        ZR_EXPORT_CALL(ZRSetReaderTime, p, 0, k.in),
        ZR_EXPORT_CALL(ZRSetReaderfixNO, p, 7),
        ZR_EXPORT_CALL(ZRGetReaderfixNO, p, 0),
        ZR_EXPORT_CALL(ZRUpGrade, p),
        ZR_EXPORT_CALL(ZRListenReader, p, 0, k.out, k.out + 16, k.out + 32),
        ZR_EXPORT_CALL(ZRConfigEASflag, p, 1, k.a, 0),
        ZR_EXPORT_CALL(ZRStartEASAlarm, p, 1),
        ZR_EXPORT_CALL(ZREASAlarmReport, p),
        ZR_EXPORT_CALL(ZREndEASAlarm, p, 1),
        ZR_EXPORT_CALL(ZREUDoorTest, p, 0, 4, 0, k.out),
        ZR_EXPORT_CALL(ZREUFreqTest, p, 0, 4, k.in),
        ZR_EXPORT_CALL(ZRSetTagFilter, p, k.in, k.in + 12),
        ZR_EXPORT_CALL(ZRCancelTagFilter, p),
        ZR_EXPORT_CALL(ZRSetTimeFilter, p, k.in),
        ZR_EXPORT_CALL(ZRCancelTimeFilter, p),
        ExportCall{"ZRGetReaderfixNOEx", [](int p) { int n = 0; return ZRGetReaderfixNOEx(p, buffers().out, 64, &n); }},
    };
    return table;
}

#undef ZR_EXPORT_CALL
#undef ZR_EXPORT_CALL_RESULT

}  // namespace zr::reliability
