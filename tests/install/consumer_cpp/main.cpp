// A C++ host program found through find_package(zrreader).
#include <cstdio>
#include <string>

#include <zrreader.h>

int main() {
    int port = ZR_CLOSED_HANDLE;
    if (ZRClose(&port) != ZR_CLOSED) return 1;
    if (ZRSetDeviceClass(port, 700) != ZR_ERR_FAMILY) return 2;
    std::string text = ZRResultText(ZR_ERR_LENGTH);
    if (text.empty()) return 3;
    std::printf("c++ consumer ok\n");
    return 0;
}
