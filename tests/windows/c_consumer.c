/* A C host of the DLL, linked through the import library: it must compile as
 * C against the header and link against the decorated __stdcall symbols of
 * the 32-bit import library. Exits 0 when the calls give the documented
 * results for a closed handle and a missing configuration file. */
#include <stdio.h>

#include "zrreader.h"

int main(void) {
    int port = ZR_CLOSED_HANDLE;
    int failures = 0;
    if (ZRClose(&port) != ZR_CLOSED) {
        puts("ZRClose of a closed handle did not give -1");
        ++failures;
    }
    /* A missing file reads as port type "0": no link, result 0. */
    if (ZROpen(&port, "zr-no-such-file.ini", "READER") != ZR_NOTHING || port != ZR_CLOSED_HANDLE) {
        puts("ZROpen with a missing configuration file did not give 0");
        ++failures;
    }
    if (ZRPowerOff(port) != ZR_CLOSED) {
        puts("ZRPowerOff on a closed handle did not give -1");
        ++failures;
    }
    printf("c consumer: %d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
