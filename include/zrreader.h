/*
 * zrreader.h - C interface of the RFID tag reader library.
 *
 * Every export runs one complete conversation with the reader on the
 * caller's thread and returns an int result code (see ZR_* below).
 *
 * Conventions
 *   - A "byte" argument is an int of which only the low 8 bits are used.
 *   - Buffers are caller-owned; outputs are written only when the result is 1.
 *   - A pointer the call would read or write through may not be NULL; such a
 *     call is refused with ZR_ERR_ARGUMENT (-5) before anything is sent,
 *     unless the export's comment names another code.
 *
 * Port handles
 *   The port handle is an int the caller owns. Set it to -1 (ZR_CLOSED_HANDLE)
 *   before the first ZROpen. ZROpen stores the handle of the opened link in
 *   it: the file descriptor (Windows: the handle) of the serial device or USB
 *   device, or the socket of the TCP connection. The library keeps a registry of the
 *   handles it opened and the link each was opened on. Every export refuses
 *   with ZR_CLOSED (-1), touching no descriptor, a handle that the library
 *   did not open, one it has closed, or one opened on another link than the
 *   port type of the latest ZROpen selects.
 *
 * Threads
 *   Calls on one port handle are serialised: a second caller waits until the
 *   first has finished. Calls on different handles may run at the same time.
 *   ZROpen, ZRClose and ZRSetDeviceClass are safe against calls on other
 *   threads. The reader settings (port type, tries, ...) and the device class
 *   are process-wide: the latest ZROpen and ZRSetDeviceClass govern every
 *   handle.
 */
#ifndef ZRREADER_H
#define ZRREADER_H

#if defined(_WIN32)
#  define ZR_CALL __stdcall
#  if defined(ZRREADER_BUILDING)
#    define ZR_API __declspec(dllexport)
#  else
#    define ZR_API __declspec(dllimport)
#  endif
#else
#  define ZR_CALL
#  if defined(ZRREADER_BUILDING)
#    define ZR_API __attribute__((visibility("default")))
#  else
#    define ZR_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */

#define ZR_OK                   1    /* success */
#define ZR_NOTHING              0    /* nothing received, nothing sent, or unknown port type */
#define ZR_CLOSED              (-1)  /* port handle closed (-1) or not one the library opened */
#define ZR_ERR_RANGE           (-2)  /* tag memory range not allowed, or no valid reply to ZRLockUserData */
#define ZR_ERR_EPC_LENGTH      (-3)  /* EPC length argument not allowed */
#define ZR_ERR_NO_REPLY        (-4)  /* no valid reply within the tries */
#define ZR_ERR_ARGUMENT        (-5)  /* argument outside its allowed values; reader status 0x3F (classes 1, 2) */
#define ZR_ERR_STATUS_3A       (-7)  /* reader status 0x3A (device classes 1, 2) */
#define ZR_ERR_REPORT_STATUS   (-8)  /* a long or user inventory report carried a non-zero status */
#define ZR_ERR_FAMILY          (-9)  /* unknown family code (ZRSetDeviceClass) */
#define ZR_ERR_ALREADY_OPEN   (-10)  /* ZROpen: port handle was not -1 */
#define ZR_ERR_CONFIG         (-11)  /* ZROpen: port type, serial device or host address empty */
#define ZR_ERR_CONNECT_TIMEOUT (-12) /* ZROpen: TCP connection not writable within 10 s */
#define ZR_ERR_OPEN           (-13)  /* ZROpen: the link could not be opened */
#define ZR_ERR_LENGTH         (-15)  /* a length argument out of range */
#define ZR_ERR_UNKNOWN_STATUS (-20)  /* unknown reader status, or a reply to another command */
#define ZR_ERR_CLOSE          242    /* ZRClose: the link could not be closed */
/* 1001-1015 and 2001-2007: reader statuses of every device class;
 * 3001-3010: reader statuses of device class 3;
 * 4001-4013: reader statuses of device classes 1 and 2. */

#define ZR_CLOSED_HANDLE      (-1)   /* value of a closed port handle */

/* ---- Opening and closing ----------------------------------------------- */

/* Reads the section of the configuration file and opens its link; 1, or -10, -11, -12, -13, 0.
 * NULL port returns -5; NULL configPath or section returns -11 with nothing opened. */
ZR_API int ZR_CALL ZROpen(int *port, const char *configPath, const char *section);
/* Closes the link and sets *port to -1; 1, -1 (already closed), 242 or 0. NULL port returns -5. */
ZR_API int ZR_CALL ZRClose(int *port);
/* Selects the status mapping: family code 500, 600 or 800; 1, or -9 for any other code. */
ZR_API int ZR_CALL ZRSetDeviceClass(int port, int familyCode);

/* ---- Basic commands ---------------------------------------------------- */

/* Sends the reset command; the send count (3 serial, 5 USB/TCP), 0 or -1. */
ZR_API int ZR_CALL ZRReset(int port);
/* Starts an inventory; the send count, 0 or -1. */
ZR_API int ZR_CALL ZRIdentify(int port, int param1, int param2);
/* Collects one inventory report (status byte and data, at most 251 bytes) into out; 1, 0 (none), -4 or a status. */
ZR_API int ZR_CALL ZRReport(int port, unsigned char *out);
/* Starts a direct read; the send count, 0 or -1. */
ZR_API int ZR_CALL ZRDirectRead(int port, int param1, int param2);
/* Collects one direct-read report into out; 1, 0 (none), -4 or a status. */
ZR_API int ZR_CALL ZRDirectReport(int port, unsigned char *out);

/* ---- Extended inventories ---------------------------------------------- */

/* Starts a long inventory (param2 goes out before param1); the send count, 0 or -1. */
ZR_API int ZR_CALL ZRLongIdentify(int port, int param1, int param2, int param3);
/* Collects one long-inventory report (status byte and data, at most 251 bytes) into out;
 * 1, 0 (none), -4 or -8 (any non-zero status). */
ZR_API int ZR_CALL ZRLongReport(int port, unsigned char *out);
/* Starts a user inventory (param2 before param1, then the reader settings of the latest ZROpen);
 * the send count, 0 or -1. */
ZR_API int ZR_CALL ZRUserIdentify(int port, int param1, int param2, int param3, int param4, int param5,
                                  int param6);
/* Collects one user-inventory report (status byte and data, at most 251 bytes) into out;
 * 1, 0 (none), -4 or -8 (any non-zero status). */
ZR_API int ZR_CALL ZRUserReport(int port, unsigned char *out);
/* Starts an EPC inventory; the send count, 0 or -1. */
ZR_API int ZR_CALL ZRIdentifyEpcCode(int port, int param1, int param2, int param3);
/* Collects one EPC-inventory report (whole packet without CRC, at most 254 bytes) into out;
 * 1, 0 (none), -4, -20 (another command's reply) or a status. */
ZR_API int ZR_CALL ZREpcCodeReport(int port, unsigned char *out);
/* Starts a TID inventory with four extra bytes; the send count, 0, -1 or -5 (extra4 NULL). */
ZR_API int ZR_CALL ZRIdentifyTIDCode(int port, int param1, int param2, int param3, const unsigned char *extra4);
/* Collects one TID-inventory report (whole packet without CRC, at most 254 bytes) into out;
 * 1, 0 (none), -4, -20 (another command's reply) or a status. */
ZR_API int ZR_CALL ZRTIDCodeReport(int port, unsigned char *out);

/* ---- Tag memory -------------------------------------------------------- */

/* Reads count bytes of tag memory in 64-byte pieces, addresses wrapping at 255; 1, -4 or a status. */
ZR_API int ZR_CALL ZRReadUserData(int port, int lead, int address, int count, const unsigned char *tagId,
                                  unsigned char *out);
/* Reads count bytes of user memory in one command; 1, -4 or a status. */
ZR_API int ZR_CALL ZRReadUserDataOnce(int port, int lead, int address, int count, const unsigned char *tagId,
                                      unsigned char *out);
/* Writes count bytes of user memory in 32-byte pieces; 1, -2 (area outside 8..224), -4 or a status. */
ZR_API int ZR_CALL ZRWriteUserData(int port, int lead, int address, const unsigned char *tagId,
                                   const unsigned char *data, int count);
/* Writes count bytes of user memory in one command; 1, -4, -15 (count above 242) or a status. */
ZR_API int ZR_CALL ZRWriteUserDataOnce(int port, int lead, int address, const unsigned char *tagId,
                                       const unsigned char *data, int count);
/* Locks count bytes of user memory; 1, 0 (not sent), -2 (address + count above 224, or no valid
 * reply) or a status. */
ZR_API int ZR_CALL ZRLockUserData(int port, int address, int lead, const unsigned char *tagId, int count);
/* Reads words 16-bit words of tag memory with a password; out gets 2*words+5 bytes (the reply
 * without CRC); 1, 0 (no reply), -4 or a status. */
ZR_API int ZR_CALL ZRReadUserDataEPC(int port, const unsigned char *password, int address, int words, int lead,
                                     unsigned char *out);

/* ---- EPC code and use data --------------------------------------------- */

/* Writes a tag's EPC code (epcLength even, at most 12; words at most 123); 1, -3, -4, -15, -20 or a status. */
ZR_API int ZR_CALL ZRSetEpcCode(int port, int lead, const unsigned char *password, int epcLength, int words,
                                const unsigned char *epc);
/* Starts a use-data read; the send count, 0 or -1. */
ZR_API int ZR_CALL ZRGetUseData(int port, const unsigned char *password, int address, int words, int lead);
/* Collects the use-data reply into out (the whole packet without CRC, at most 254 bytes); 1, -4 or a status. */
ZR_API int ZR_CALL ZRGetUseDataReport(int port, unsigned char *out);
/* Writes use data (words at most 123); 1, -4, -15 or a status. */
ZR_API int ZR_CALL ZRSetUseData(int port, int lead, const unsigned char *password, int address, int words,
                                const unsigned char *data);

/* ---- Passwords, locking and destruction -------------------------------- */

/* Sets a tag's access password; 1, -4 or a status. */
ZR_API int ZR_CALL ZRSetVisitPWD(int port, int lead, const unsigned char *password,
                                 const unsigned char *newPassword);
/* Sets a tag's destroy password; 1, -4 or a status. */
ZR_API int ZR_CALL ZRSetDestroyPWD(int port, int lead, const unsigned char *password,
                                   const unsigned char *newPassword);
/* Locks or unlocks a tag memory area (lockFlag 0 or 1, lockSelector 0..5); 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRSetDataLocked(int port, int lead, const unsigned char *password, int lockFlag,
                                   int lockSelector);
/* Destroys a tag (words at most 124); 1, -4, -15 or a status. */
ZR_API int ZR_CALL ZRSetDestroyTag(int port, int lead, const unsigned char *password, int words,
                                   const unsigned char *data);

/* ---- Selection and data return ----------------------------------------- */

/* Sets the data-return value (0..4); 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRDataReturn(int port, int lead, int value);
/* Selects a tag by its tag ID; 1, -4 or a status. */
ZR_API int ZR_CALL ZRSelectTag(int port, int lead, int param1, int param2, const unsigned char *tagId);
/* Selects a tag by its EPC (epcBytes at most 250); 1, -4, -15 or a status. */
ZR_API int ZR_CALL ZRSelectTagEPC(int port, int lead, int param1, int param2, const unsigned char *epc,
                                  int epcBytes);

/* ---- Power, RF and frequency ------------------------------------------- */

/* Switches RF power on; 1, -4 or a status. */
ZR_API int ZR_CALL ZRPowerOn(int port, int value);
/* Switches RF power off; 1, -4 or a status. */
ZR_API int ZR_CALL ZRPowerOff(int port);
/* Reads a block of system parameters; out gets the first 54 reply bytes; 1, -4, -5, -15 (low byte of len > 52) or a status. */
ZR_API int ZR_CALL ZRFreqQuery(int port, int address, int len, unsigned char *out);
/* Sets the two power bytes; 1, -4, -15 (len > 52) or a status. */
ZR_API int ZR_CALL ZRPowerSet(int port, int ignored, int len, int byte1, int byte2);
/* Reads the power setting; out gets len bytes; 1, -4, -5, -15 (len > 52) or a status. */
ZR_API int ZR_CALL ZRPowerQuery(int port, int ignored, int len, unsigned char *out);

/* ---- System and tag parameters ----------------------------------------- */

/* Reads len (low byte) system parameter bytes at address; 1, -4, -5, -15 (above 52) or a status. */
ZR_API int ZR_CALL ZRSysQuery(int port, int address, int len, unsigned char *out);
/* Reads len (low byte) tag parameter bytes at address; 1, -4, -5, -15 (above 252) or a status. */
ZR_API int ZR_CALL ZRTagQuery(int port, int address, int len, unsigned char *out);
/* Writes system parameters one byte per command over the serial routines; 1, the first failing byte's
 * -4 or status, 0 (TCP, or len <= 0), -5 or -15 (len > 52). */
ZR_API int ZR_CALL ZRSysSet(int port, int address, int len, const unsigned char *data);
/* Writes len system parameter bytes in one command; 1, -4, -5, -15 (len outside 0..52) or a status. */
ZR_API int ZR_CALL ZRSysFastSet(int port, int address, int len, const unsigned char *data);
/* Writes len tag parameter bytes in one command; 1, -4, -5, -15 (len outside 0..251) or a status. */
ZR_API int ZR_CALL ZRTagFastSet(int port, int address, int len, const unsigned char *data);

/* ---- I/O, MAC and network address -------------------------------------- */

/* Sets an I/O output; 1, -4 or a status. */
ZR_API int ZR_CALL ZRIOControlSet(int port, int value, int value2);
/* Reads one I/O control byte into out; 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRIOControlQuery(int port, int value, unsigned char *out);
/* Sets the reader's MAC address (len bytes); 1, -4, -5, -15 (len outside 0..52) or a status. */
ZR_API int ZR_CALL ZRMACSet(int port, int ignored, int len, const unsigned char *data);
/* Sets the reader's network address and writes it into the configuration file; 1, or 0 for every
 * failure (closed handle, malformed address, reader status, no reply). */
ZR_API int ZR_CALL ZRNetAddrSet(int port, int ignored, const char *section, const char *host, const char *subnet,
                                const char *gate);
/* Sends len (1..253) code bytes three times; the third attempt decides: 1, 0 (no reply) or a status.
 * 0 also for a closed handle, a len outside 1..253 or NULL data. */
ZR_API int ZR_CALL ZRCodeSending(int port, int len, int ignored, const unsigned char *data);

/* ---- Device class, test mode, read configuration, interference ---------- */

/* Reads the reader's device class bytes (4) into out; 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRGetDeviceClass(int port, int *out);
/* Sets the reader's test mode (0..4); 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRTestModeSet(int port, int value);
/* Sets the read configuration (value 1..4, value2 1..2); 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRSetReadCfg(int port, int value, int value2);
/* Sets the interference setting; 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRSetInterfere(int port, const unsigned char *data);
/* Reads the interference setting (2 bytes) into out; 1, -4, -5 or a status. */
ZR_API int ZR_CALL ZRGetInterfere(int port, unsigned char *out);
/* Switches the interference setting off; 1, -4 or a status. */
ZR_API int ZR_CALL ZRCloseInterfere(int port);

/* ---- Reader state, clock, fixed number, upgrade, listening ------------- */

/* Sends the one-byte 0x6D setting (EPC print power); 1, -4 or a status. */
ZR_API int ZR_CALL ZREpcPrintPowerOs(int port, int value);
/* Queries the reader state; on 1 state gets 6 bytes; 1, -4 or a status. */
ZR_API int ZR_CALL ZRGetReaderState(int port, int value, unsigned char *state);
/* Sets the reader's clock from 6 time bytes (sent in the caller's order) and extra; 1, -4 or a status. */
ZR_API int ZR_CALL ZRSetReaderTime(int port, int extra, const unsigned char *time);
/* Sets the reader's fixed number (a byte); 1, -4 or a status. */
ZR_API int ZR_CALL ZRSetReaderfixNO(int port, int number);
/* Queries the reader's fixed number, returning only the result (second is not read;
 * ZRGetReaderfixNOEx delivers the number); 1, -4 or a status. */
ZR_API int ZR_CALL ZRGetReaderfixNO(int port, int second);
/* Sends the upgrade command, reading no reply; the send count (3 serial, 5 USB/TCP), 0 or -1. */
ZR_API int ZR_CALL ZRUpGrade(int port);
/* Zeroes the three outputs, takes one message the reader sent on its own (code 0xA1) and answers it
 * (ignored is not read); 1 taken (answered with status 0x00), 0 none acceptable (answered with 0x3F),
 * -4 length field not below the count (not answered). */
ZR_API int ZR_CALL ZRListenReader(int port, int ignored, unsigned char *info6, unsigned char *first8,
                                  unsigned char *second8);

/* ---- EAS alarm and EU tests -------------------------------------------- */

/* Configures the EAS flag; 1, -4 or a status. */
ZR_API int ZR_CALL ZRConfigEASflag(int port, int value, const unsigned char *flag4, int tail);
/* Starts the EAS alarm; 1, 0 (no 0x8D reply), the send count (reply without status), -4 or a status. */
ZR_API int ZR_CALL ZRStartEASAlarm(int port, int value);
/* Collects one EAS alarm message without sending; 1, 0 (none), -4 or a status. */
ZR_API int ZR_CALL ZREASAlarmReport(int port);
/* Ends the EAS alarm, polling up to 10 x read tries; 1, -4, -5 (status 0 without the end flag) or a status. */
ZR_API int ZR_CALL ZREndEASAlarm(int port, int value);
/* Runs the EU door test; on 1 out gets len (0..52) reply data bytes, zeros past the reply;
 * 1, -4, -15 (len outside 0..52) or a status. */
ZR_API int ZR_CALL ZREUDoorTest(int port, int value, int len, int mode, unsigned char *out);
/* Runs the EU frequency test with len (0..52) data bytes; 1, -4, -15 (len outside 0..52) or a status. */
ZR_API int ZR_CALL ZREUFreqTest(int port, int value, int len, const unsigned char *data);

/* ---- Tag and time filters ---------------------------------------------- */

/* Sets the tag filter from two 12-byte fields; 1, -4 or a status. */
ZR_API int ZR_CALL ZRSetTagFilter(int port, const unsigned char *first12, const unsigned char *second12);
/* Cancels the tag filter; 1, -4 or a status. */
ZR_API int ZR_CALL ZRCancelTagFilter(int port);
/* Sets the time filter from 2 bytes; 1, -4 or a status. */
ZR_API int ZR_CALL ZRSetTimeFilter(int port, const unsigned char *time2);
/* Cancels the time filter; 1, -4 or a status. */
ZR_API int ZR_CALL ZRCancelTimeFilter(int port);

/* ---- Extensions: beside the 71 reader exports --------------------------- */

/* A static, descriptive English text for any result code (never NULL). */
ZR_API const char *ZR_CALL ZRResultText(int result);

/* Receives every protected packet sent (direction 0) and received
 * (direction 1) on every link: link is "Serial", "USB" or "TCP". */
typedef void (ZR_CALL *ZRTraceCallback)(void *user, int direction, const char *link, const unsigned char *bytes,
                                        int length);
/* Registers a trace callback with a user pointer (NULL turns it off); returns 1.
 * The environment variable ZR_TRACE=stderr or ZR_TRACE=/path/file traces to a
 * text stream instead, one line per packet. */
ZR_API int ZR_CALL ZRSetTraceCallback(ZRTraceCallback callback, void *user);

/* Queries the reader's fixed number as ZRGetReaderfixNO does and, on 1, copies its bytes (the
 * reply's data after the status byte, at most 250) to out and their count to *length (length
 * may be NULL); 1, -4, -5 (capacity < 0, or out NULL with capacity > 0), -15 (the number is
 * longer than capacity; nothing is written) or a status. */
ZR_API int ZR_CALL ZRGetReaderfixNOEx(int port, unsigned char *out, int capacity, int *length);

/* The length field of the latest Response packet that an export called on this thread received
 * (the bytes after the length field: command code, Status byte and data), or -1 when that export
 * received none. After ZRReport, ZRDirectReport, ZRLongReport or ZRUserReport returned 1 it gives
 * the number of bytes written to out: the value - 1. */
ZR_API int ZR_CALL ZRLastReplyLength(void);

#ifdef __cplusplus
}
#endif

#endif /* ZRREADER_H */
