// ZRResultText: a descriptive text for every result code.
#include "zrreader.h"

namespace {

struct Text {
    int code;
    const char* text;
};

constexpr Text kTexts[] = {
    {ZR_OK, "success"},
    {ZR_NOTHING, "nothing received or nothing sent (no report waiting, send failed, no USB device, or unknown port type)"},
    {ZR_CLOSED, "the port handle is closed or was not opened by this library"},
    {ZR_ERR_RANGE, "tag memory range not allowed, or no valid reply to the lock command"},
    {ZR_ERR_EPC_LENGTH, "EPC length argument not allowed"},
    {ZR_ERR_NO_REPLY, "no valid reply from the reader within the tries"},
    {ZR_ERR_ARGUMENT, "an argument outside its allowed values, or the reader refused the parameter (status 0x3F)"},
    {ZR_ERR_STATUS_3A, "the reader answered with status 0x3A"},
    {ZR_ERR_REPORT_STATUS, "the inventory report carried a non-zero status"},
    {ZR_ERR_FAMILY, "unknown reader family code"},
    {ZR_ERR_ALREADY_OPEN, "the port handle is already open (set it to -1 before opening)"},
    {ZR_ERR_CONFIG, "port type, serial device or host address missing in the configuration"},
    {ZR_ERR_CONNECT_TIMEOUT, "the TCP connection to the reader was refused or not established within 10 seconds"},
    {ZR_ERR_OPEN, "the link could not be opened (device missing or busy, or socket set-up failed)"},
    {ZR_ERR_LENGTH, "a length argument out of range"},
    {ZR_ERR_UNKNOWN_STATUS, "the reader answered with an unknown status, or the reply belongs to another command"},
    {ZR_ERR_CLOSE, "the link could not be closed"},
};

}  // namespace

extern "C" ZR_API const char* ZR_CALL ZRResultText(int result) {
    for (const Text& t : kTexts)
        if (t.code == result) return t.text;
    if (result >= 1001 && result <= 1009) return "reader status 0x01-0x09 (command or tag operation failed)";
    if (result >= 1010 && result <= 1015) return "reader status 0x11-0x16 (tag access failed)";
    if (result >= 2001 && result <= 2007) return "reader status 0x20-0x26 (parameter or memory operation refused)";
    if (result >= 3001 && result <= 3010) return "reader status 0x60-0x69 (device class 3 reader error)";
    if (result >= 4001 && result <= 4013) return "reader status 0x90-0x9C (device class 1 or 2 reader error)";
    if (result > 1 && result <= 260) return "send count: the number of bytes the link reported sent";
    return "unknown result code";
}
