// Reading the reader settings from the configuration file.
#include "config/settings.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace zr::config {
namespace {

// The section that holds the user inventory's especial address and length.
constexpr const char* kEspecialSection = "ESPECIAL FLAG";

// Value texts are at most this long (the profile reader's 260-byte buffer).
constexpr size_t kValueTextLimit = 260;

uint8_t lowByte(int32_t value) { return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFF); }

}  // namespace

std::string parseValueText(const std::string& raw) {
    std::string value;
    const size_t limit = std::min(raw.size(), kValueTextLimit);
    for (size_t i = 0; i < limit; ++i) {
        char c = raw[i];
        if (c == '\0' || c == ';') break;  // the rest of the line is a comment
        if (c == ' ' || c == '\t') continue;
        value += c;
    }
    return value;
}

int32_t parseDecimal(const std::string& valueText) {
    size_t i = 0;
    bool negative = false;
    if (i < valueText.size() && (valueText[i] == '+' || valueText[i] == '-')) negative = valueText[i++] == '-';
    // Accumulate in 64 bits and saturate, so an overlong number cannot
    // overflow; it ends at the 32-bit limit like the C library's conversion.
    int64_t magnitude = 0;
    for (; i < valueText.size() && valueText[i] >= '0' && valueText[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (valueText[i] - '0');
        if (magnitude > 2147483648LL) magnitude = 2147483648LL;
    }
    int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

std::string read_setting_text(const std::string& path, const std::string& section, const std::string& key) {
    return parseValueText(platform::profileRead(path, section, key, "0"));
}

int32_t read_setting_number(const std::string& path, const std::string& section, const std::string& key) {
    return parseDecimal(read_setting_text(path, section, key));
}

void write_setting(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
    // A failed write is not reported to the caller.
    (void)platform::profileWrite(path, section, key, value);
}

void readNumericSettings(const std::string& path, const std::string& section, ReaderSettings& s) {
    auto byteKey = [&](const char* key) { return lowByte(read_setting_number(path, section, key)); };

    s.scanTries = byteKey("ZR_SCAN_TRIES");
    s.readTries = byteKey("ZR_READ_TRIES");
    if (s.readTries < 20 || s.readTries > 100) s.readTries = 25;
    s.writeTries = byteKey("ZR_WRITE_TRIES");
    if (s.writeTries < 50) s.writeTries = 100;
    s.antennas = byteKey("ZR_ANTENNAS");
    if (s.antennas == 0) s.antennas = 1;
    s.antennaControl = byteKey("ZR_ANTENNA_CONCTL");
    s.baudRate = static_cast<uint32_t>(read_setting_number(path, section, "ZR_BaudRate"));
    if (s.baudRate < 9600) s.baudRate = 9600;
    s.repeatDatas = byteKey("ZR_REPEAT_DATAS");
    s.readTimeout = byteKey("ZR_READ_TIMEOUT");

    s.especialAddress = lowByte(read_setting_number(path, kEspecialSection, "ZR_ADDERIESS"));
    s.especialLength = lowByte(read_setting_number(path, kEspecialSection, "ZR_LENGTH"));
    // The same value supplies the characters of the especial data; never
    // more than the 8 bytes the field holds, whatever the length says.
    const std::string text = read_setting_text(path, kEspecialSection, "ZR_LENGTH");
    std::memset(s.especialData, 0, sizeof(s.especialData));
    const size_t count = std::min<size_t>(s.especialLength, sizeof(s.especialData));
    for (size_t i = 0; i < count && i < text.size(); ++i) s.especialData[i] = static_cast<uint8_t>(text[i]);
}

}  // namespace zr::config
