// Helpers shared by the Windows implementation files (not part of the
// platform interface).
//
// Handles are ints in the library. A Windows kernel handle (file, device,
// socket) only ever uses its low 32 bits, also in 64-bit processes, so that
// 32-bit and 64-bit processes can hand handles to each other: the value is
// stored sign-extended into an int and widened back the same way
// (HandleToLong / LongToHandle). INVALID_HANDLE_VALUE becomes -1, the
// library's closed handle; INVALID_SOCKET likewise.
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: CancelIoEx
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace zr::platform::win32 {

inline int toInt(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(HandleToLong(handle)); }

inline HANDLE toHandle(int handle) { return LongToHandle(handle); }

// True while the socket layer is started (from library load to unload).
bool socketsStarted();

}  // namespace zr::platform::win32
