/*
 * inventory.c - opens a reader, runs an inventory, prints every report, then
 * reads 16 bytes of user memory of the first tag found.
 *
 *     inventory CONFIG_FILE SECTION
 *
 * CONFIG_FILE is a reader configuration file (see docs/configuration.md) and
 * SECTION the section that describes the reader. Output:
 *
 *     report: 00e200341201020304          status byte, then the tag ID
 *     3 reports
 *     user memory of e200341201020304: 000102...0f
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include <stdio.h>
#include <time.h>

#include <zrreader.h>

/* Reports arrive a moment after the inventory starts; the inventory is
 * over when none has come for this long. */
#define QUIET_MS 1000

static void sleep_ms(long ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

static long long now_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static void print_hex(const unsigned char *bytes, int count) {
    for (int i = 0; i < count; ++i) printf("%02x", bytes[i]);
}

static int fail(const char *what, int result) {
    fprintf(stderr, "%s failed: %d (%s)\n", what, result, ZRResultText(result));
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s CONFIG_FILE SECTION\n", argv[0]);
        return 2;
    }
    int port = ZR_CLOSED_HANDLE;
    int result = ZROpen(&port, argv[1], argv[2]);
    if (result != ZR_OK) return fail("ZROpen", result);

    int status = 0;
    unsigned char first_id[8];
    int reports = 0;
    /* ZRIdentify returns the number of bytes sent; 0 means nothing went out. */
    result = ZRIdentify(port, 0, 0);
    if (result <= 0) {
        status = fail("ZRIdentify", result);
        goto close;
    }
    for (long long last = now_ms(); now_ms() - last < QUIET_MS;) {
        unsigned char report[251];
        result = ZRReport(port, report);
        if (result == ZR_NOTHING) { /* no report waiting yet */
            sleep_ms(5);
            continue;
        }
        if (result != ZR_OK) {
            status = fail("ZRReport", result);
            goto close;
        }
        last = now_ms();
        /* The report is the status byte and data: the reply length - 1 bytes. */
        int length = ZRLastReplyLength() - 1;
        printf("report: ");
        print_hex(report, length);
        printf("\n");
        if (reports++ == 0) {
            for (int i = 0; i < 8; ++i) first_id[i] = report[1 + i];
        }
    }
    printf("%d reports\n", reports);

    if (reports > 0) {
        unsigned char memory[16];
        result = ZRReadUserData(port, 0, 0, (int)sizeof memory, first_id, memory);
        if (result != ZR_OK) {
            status = fail("ZRReadUserData", result);
            goto close;
        }
        printf("user memory of ");
        print_hex(first_id, 8);
        printf(": ");
        print_hex(memory, (int)sizeof memory);
        printf("\n");
    }

close:
    result = ZRClose(&port);
    if (result != ZR_OK && status == 0) status = fail("ZRClose", result);
    return status;
}
