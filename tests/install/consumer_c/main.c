/* A C host program built against the installed library only. */
#include <stdio.h>
#include <string.h>
#include <zrreader.h>

int main(void) {
    int port = ZR_CLOSED_HANDLE;
    /* No such configuration file: port type "0", so the open returns 0. */
    int opened = ZROpen(&port, "/nonexistent/zrreader.ini", "reader");
    if (opened != ZR_NOTHING || port != ZR_CLOSED_HANDLE) {
        fprintf(stderr, "ZROpen: %d port %d\n", opened, port);
        return 1;
    }
    if (ZRSetDeviceClass(port, 800) != ZR_OK || ZRReset(port) != ZR_CLOSED) return 2;
    if (strlen(ZRResultText(ZR_ERR_NO_REPLY)) == 0) return 3;
    printf("c consumer ok\n");
    return 0;
}
