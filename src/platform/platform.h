// Operating-system services of the reader library.
//
// This header is the only door to the operating system: every other folder
// of the library calls these functions and nothing else of the platform.
// posix/ implements them for Linux; a Windows implementation provides the
// same functions with the platform's own calls.
//
// Handles are plain ints: on Linux a file descriptor (serial device, USB
// device) or a socket descriptor; on Windows a HANDLE or SOCKET, whose low
// 32 bits are significant, kept sign-extended. -1 is never a valid handle.
//
// Every wait and read here survives interrupted system calls: it is resumed
// for the time that is left, neither shortened nor lengthened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zr::platform {

// ---- Profile (INI) files ----------------------------------------------------

// The value text of `key` in `section` of the file at `path`, as the private
// profile reader returns it: section and key matched case-insensitively with
// surrounding blanks and tabs trimmed, the value trimmed of surrounding blanks
// and tabs and of one pair of matching quotes, at most 259 characters. The
// first of duplicated keys wins. `fallback` when the file, section or key is
// missing; "" for a key present with an empty value.
std::string profileRead(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& fallback);

// Sets `key` in `section` to `value`: replaces an existing key's value, adds
// the key at the end of its section, or adds the section at the end of the
// file. Every other line stays byte for byte. The file is replaced
// atomically on Linux (temporary file in the same folder, then rename; on
// Windows the platform's profile writer updates it in place). False when
// the file could not be written.
bool profileWrite(const std::string& path, const std::string& section, const std::string& key,
                  const std::string& value);

// ---- Serial ports ------------------------------------------------------------

// Opens a serial device by path for exclusive use in raw, binary-transparent
// mode at `baud`, 8 data bits, no parity, reads returning at once. -1 on
// failure (missing device, busy, not a terminal).
int serialOpen(const std::string& device, uint32_t baud);

// Reads one byte if the input queue holds one: 0..255, or -1 when none has
// arrived (or the handle is not a serial device).
int serialReadByte(int handle);

// Writes one byte; true when exactly one byte was written. False on a handle
// that is not a serial device (nothing is written then).
bool serialWriteByte(int handle, uint8_t byte);

// Waits until every byte written so far has been transmitted. Does nothing on
// a handle that is not a serial device.
void serialFlush(int handle);

// Names of the serial devices present (for listing ports in tools).
std::vector<std::string> serialPorts();

// ---- USB devices (the reader's driver interface) -----------------------------

// Control codes of the reader's USB driver.
constexpr uint32_t kUsbWriteFrame = 0x220000;  // input: one whole Link frame
constexpr uint32_t kUsbReadByte = 0x220004;    // output: one received byte

// Folder that stands for the reader's device-interface class: $ZR_USB_DIR if
// set and non-empty, else /run/zrreader/{48C602D4-C77E-45B9-8133-20C9683BD1A6}.
std::string usbClassFolder();

// Device interfaces present in the class folder, in ascending byte order of
// their names (full paths).
std::vector<std::string> usbDevices();

// Opens one device interface for shared read and write. -1 on failure.
int usbOpen(const std::string& devicePath);

// One control request: sends the code and input, receives the answer.
// True on success, with up to `outCapacity` output bytes stored in `out` and
// their number in `*outCount`.
bool usbControl(int handle, uint32_t code, const uint8_t* in, size_t inLength, uint8_t* out, size_t outCapacity,
                size_t* outCount);

// The flush request issued before each frame write. Sends nothing.
void usbFlush(int handle);

// ---- Sockets ------------------------------------------------------------------

// Results of socketWait*: as the TCP link names them.
constexpr int kWaitError = 1;
constexpr int kWaitReady = 2;
constexpr int kWaitTimeout = 3;

// A non-blocking IPv4 TCP socket; -1 on failure.
int socketCreate();

// Starts a non-blocking connect to the dotted IPv4 address `host` (never
// looked up as a name), `port`. The immediate result is not reported: an
// address that is not dotted decimal, or is 0.0.0.0, yields a connect that
// never completes.
void socketConnectStart(int socket, const std::string& host, uint16_t port);

// Waits up to `ms` for the socket to become writable, which here means
// connected: a connect that failed is an error, never writable.
// kWaitReady, kWaitTimeout or kWaitError.
int socketWaitWritable(int socket, int ms);

// Waits up to `us` microseconds for the socket to become readable (data or
// peer closed). kWaitReady, kWaitTimeout or kWaitError.
int socketWaitReadable(int socket, int us);

// One send of up to `length` bytes, never raising SIGPIPE: bytes sent, or -1.
long socketSend(int socket, const uint8_t* bytes, size_t length);

// One receive of up to `length` bytes: bytes received, 0 when the peer has
// closed, -1 on error (including "nothing there" on a non-blocking socket).
long socketRecv(int socket, uint8_t* buffer, size_t length);

// Closes a socket; 0 on success.
int socketClose(int socket);

// ---- Handles and time --------------------------------------------------------

// Closes the handle of a serial or USB device; true on success.
bool handleClose(int handle);

// Sleeps `ms` milliseconds, resuming after interrupted sleeps.
void sleepMs(int ms);

// Monotonic clock in microseconds (for tracing and tests).
int64_t monotonicMicros();

}  // namespace zr::platform
