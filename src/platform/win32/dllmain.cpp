// Load and unload of the DLL.
//
// The socket layer is started by a static object of socket.cpp, whose
// constructor the runtime runs before this function sees the load and whose
// destructor it runs at unload (releasing the layer). A library without a
// socket layer must not load: the user is told, and the loader is told.
#include "platform/win32/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH && !zr::platform::win32::socketsStarted()) {
        MessageBoxA(nullptr, "The Windows Sockets 1.1 layer could not be started. The reader library cannot be loaded.",
                    "Reader library", MB_OK | MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}
