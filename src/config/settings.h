// The reader settings: what ZROpen reads from the configuration file and
// every export consults (which link, how often to poll, the bytes the user
// inventory sends).
#pragma once

#include <cstdint>
#include <string>

namespace zr::config {

struct ReaderSettings {
    std::string configPath;     // the file ZRNetAddrSet writes into
    std::string portType;       // "COM", "USB" or "TCP" (case-sensitive)
    std::string serialDevice;   // ZR_COM_NUMBER
    std::string hostAddress;    // ZR_HOST_NAME, dotted IPv4
    uint8_t scanTries = 0;
    uint8_t readTries = 0;
    uint8_t writeTries = 0;
    uint8_t antennas = 0;
    uint8_t antennaControl = 0;
    uint32_t baudRate = 19200;
    uint8_t repeatDatas = 0;
    uint8_t readTimeout = 0;
    uint8_t especialAddress = 0;
    uint8_t especialLength = 0;
    uint8_t especialData[8] = {};
};

// Value parsing of a profile text: up to the first ';' (the rest is a
// comment), blanks and tabs removed.
std::string parseValueText(const std::string& raw);

// Decimal conversion: optional sign, digits up to the first non-digit; 0 when
// there are no leading digits.
int32_t parseDecimal(const std::string& valueText);

// The three reading operations, on the profile file at `path`.
std::string read_setting_text(const std::string& path, const std::string& section, const std::string& key);
int32_t read_setting_number(const std::string& path, const std::string& section, const std::string& key);
void write_setting(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value);

// Reads keys 4..14 (numbers and the ESPECIAL FLAG section) into `settings`,
// applying their bounds. Keys 1..3 are read by ZROpen itself, which checks
// them for emptiness first.
void readNumericSettings(const std::string& path, const std::string& section, ReaderSettings& settings);

}  // namespace zr::config
