// Reading the reader settings: value parsing, decimal conversion and the
// bounds of each key.
#include <dirent.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings.h"

namespace {

using zr::config::ReaderSettings;

// A configuration file in a temporary folder, removed at the end.
class ConfigFile {
public:
    explicit ConfigFile(const std::string& content) {
        char name[] = "/tmp/zr-config-XXXXXX";
        dir_ = mkdtemp(name);
        path_ = dir_ + "/reader.ini";
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~ConfigFile() {
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string dir_, path_;
};

ReaderSettings readFrom(const std::string& content) {
    ConfigFile file(content);
    ReaderSettings settings;
    zr::config::readNumericSettings(file.path(), "READER", settings);
    return settings;
}

TEST(ValueText, StopsAtCommentsAndDropsBlanks) {
    const struct {
        std::string raw;
        std::string expected;
    } cases[] = {
        {"COM3 ; the reader", "COM3"},
        {"192.168. 1.7", "192.168.1.7"},
        {"\t T C P \t", "TCP"},
        {";TCP", ""},
        {" \t ", ""},
        {"", ""},
        {std::string("ab\0cd", 5), "ab"},
        {std::string(300, 'x'), std::string(260, 'x')},
        {"a;b;c", "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(zr::config::parseValueText(c.raw), c.expected) << c.raw;
}

TEST(Decimal, ReadsAnOptionallySignedLeadingNumber) {
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"COM1", 0},           {"12ab", 12},          {"-1", -1},
        {"+7", 7},             {"", 0},               {"-", 0},
        {"+-3", 0},            {"007", 7},            {"2147483647", 2147483647},
        {"99999999999", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-99999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(zr::config::parseDecimal(c.text), c.expected) << c.text;
}

TEST(ReadSetting, MissingFileSectionOrKeyReadsAsZeroText) {
    ConfigFile file("[READER]\nZR_PORT_TYPE = TCP ; link\nZR_HOST_NAME=\n");
    EXPECT_EQ(zr::config::read_setting_text(file.path(), "READER", "ZR_PORT_TYPE"), "TCP");
    EXPECT_EQ(zr::config::read_setting_text(file.path(), "READER", "ZR_HOST_NAME"), "");
    EXPECT_EQ(zr::config::read_setting_text(file.path(), "READER", "ZR_COM_NUMBER"), "0");
    EXPECT_EQ(zr::config::read_setting_text(file.path(), "OTHER", "ZR_PORT_TYPE"), "0");
    EXPECT_EQ(zr::config::read_setting_text("/nonexistent/x.ini", "READER", "ZR_PORT_TYPE"), "0");
    EXPECT_EQ(zr::config::read_setting_number(file.path(), "READER", "ZR_PORT_TYPE"), 0);
}

// One key of the caller's section, the text written, the field read back.
struct BoundCase {
    const char* key;
    const char* value;
    uint32_t ReaderSettings::*wide;
    uint8_t ReaderSettings::*narrow;
    uint32_t expected;
};

TEST(NumericSettings, EveryKeyIsBoundedAsItsTableSays) {
    using S = ReaderSettings;
    const std::vector<BoundCase> cases = {
        {"ZR_READ_TRIES", "20", nullptr, &S::readTries, 20},
        {"ZR_READ_TRIES", "100", nullptr, &S::readTries, 100},
        {"ZR_READ_TRIES", "19", nullptr, &S::readTries, 25},
        {"ZR_READ_TRIES", "101", nullptr, &S::readTries, 25},
        {"ZR_READ_TRIES", "0", nullptr, &S::readTries, 25},
        {"ZR_READ_TRIES", "276", nullptr, &S::readTries, 20},
        {"ZR_WRITE_TRIES", "49", nullptr, &S::writeTries, 100},
        {"ZR_WRITE_TRIES", "50", nullptr, &S::writeTries, 50},
        {"ZR_WRITE_TRIES", "255", nullptr, &S::writeTries, 255},
        {"ZR_WRITE_TRIES", "256", nullptr, &S::writeTries, 100},
        {"ZR_WRITE_TRIES", "300", nullptr, &S::writeTries, 100},
        {"ZR_ANTENNAS", "0", nullptr, &S::antennas, 1},
        {"ZR_ANTENNAS", "256", nullptr, &S::antennas, 1},
        {"ZR_ANTENNAS", "4", nullptr, &S::antennas, 4},
        {"ZR_BaudRate", "9599", &S::baudRate, nullptr, 9600},
        {"ZR_BaudRate", "115200", &S::baudRate, nullptr, 115200},
        {"ZR_BaudRate", "-1", &S::baudRate, nullptr, 4294967295u},
        {"ZR_BaudRate", "COM1", &S::baudRate, nullptr, 9600},
        {"ZR_SCAN_TRIES", "258", nullptr, &S::scanTries, 2},
        {"ZR_ANTENNA_CONCTL", "-1", nullptr, &S::antennaControl, 255},
        {"ZR_REPEAT_DATAS", "7 ; seven", nullptr, &S::repeatDatas, 7},
        {"ZR_READ_TIMEOUT", "1 2", nullptr, &S::readTimeout, 12},
    };
    for (const BoundCase& c : cases) {
        ReaderSettings s = readFrom(std::string("[READER]\n") + c.key + "=" + c.value + "\n");
        uint32_t got = c.wide ? s.*c.wide : s.*c.narrow;
        EXPECT_EQ(got, c.expected) << c.key << "=" << c.value;
    }
}

TEST(NumericSettings, MissingKeysGiveTheDefaults) {
    ReaderSettings s = readFrom("[READER]\n");
    EXPECT_EQ(s.scanTries, 0);
    EXPECT_EQ(s.readTries, 25);
    EXPECT_EQ(s.writeTries, 100);
    EXPECT_EQ(s.antennas, 1);
    EXPECT_EQ(s.antennaControl, 0);
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.repeatDatas, 0);
    EXPECT_EQ(s.readTimeout, 0);
    EXPECT_EQ(s.especialAddress, 0);
    EXPECT_EQ(s.especialLength, 0);
    EXPECT_EQ(std::vector<uint8_t>(s.especialData, s.especialData + 8), std::vector<uint8_t>(8, 0));
}

struct EspecialCase {
    std::string file;
    uint8_t address;
    uint8_t length;
    std::vector<uint8_t> data;
};

TEST(NumericSettings, EspecialFlagSuppliesCountAndCharacters) {
    const std::vector<EspecialCase> cases = {
        {"[ESPECIAL FLAG]\nZR_ADDERIESS=3\nZR_LENGTH=4\n", 3, 4, {'4', 0, 0, 0, 0, 0, 0, 0}},
        {"[ESPECIAL FLAG]\nZR_LENGTH=0\n", 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"[ESPECIAL FLAG]\nZR_LENGTH=3abcdefgh\n", 0, 3, {'3', 'a', 'b', 0, 0, 0, 0, 0}},
        // Above 8: the count is kept, the data never goes past its 8 bytes.
        {"[ESPECIAL FLAG]\nZR_LENGTH=200abcdefghijkl\n", 0, 200, {'2', '0', '0', 'a', 'b', 'c', 'd', 'e'}},
        {"[ESPECIAL FLAG]\nZR_LENGTH=12\n", 0, 12, {'1', '2', 0, 0, 0, 0, 0, 0}},
        // In the caller's section the keys are not seen.
        {"[READER]\nZR_ADDERIESS=3\nZR_LENGTH=4\n", 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const EspecialCase& c : cases) {
        // Guard bytes on both sides of the settings catch a write past the field.
        struct Guarded {
            uint8_t before[16];
            ReaderSettings settings;
            uint8_t after[16];
        } g;
        std::memset(g.before, 0xA5, sizeof(g.before));
        std::memset(g.after, 0xA5, sizeof(g.after));
        std::memset(g.settings.especialData, 0xEE, sizeof(g.settings.especialData));
        ConfigFile file(c.file);
        zr::config::readNumericSettings(file.path(), "READER", g.settings);
        EXPECT_EQ(g.settings.especialAddress, c.address) << c.file;
        EXPECT_EQ(g.settings.especialLength, c.length) << c.file;
        EXPECT_EQ(std::vector<uint8_t>(g.settings.especialData, g.settings.especialData + 8), c.data) << c.file;
        EXPECT_EQ(std::vector<uint8_t>(g.after, g.after + 16), std::vector<uint8_t>(16, 0xA5));
        EXPECT_EQ(std::vector<uint8_t>(g.before, g.before + 16), std::vector<uint8_t>(16, 0xA5));
    }
}

TEST(WriteSetting, WritesTheTextsAsGivenAndReadsBack) {
    ConfigFile file("[READER]\nZR_PORT_TYPE=TCP\nZR_HOST_NAME=10.0.0.1\n");
    zr::config::write_setting(file.path(), "READER", "ZR_HOST_NAME", "10.0.0.2");
    zr::config::write_setting(file.path(), "READER", "ZR_SUBNET", "255.255.0.0");
    EXPECT_EQ(zr::config::read_setting_text(file.path(), "READER", "ZR_HOST_NAME"), "10.0.0.2");
    EXPECT_EQ(zr::config::read_setting_text(file.path(), "READER", "ZR_SUBNET"), "255.255.0.0");
    EXPECT_EQ(zr::config::read_setting_text(file.path(), "READER", "ZR_PORT_TYPE"), "TCP");
    // An unwritable place is not reported (and does not throw).
    zr::config::write_setting("/nonexistent/dir/x.ini", "READER", "ZR_GATE", "1.2.3.4");
}

}  // namespace
