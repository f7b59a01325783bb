// Configuration parsing over fuzz bytes taken as a whole configuration
// file: reading every key of a section and the ESPECIAL FLAG section, the
// value and number parsing, and the write-back of ZRNetAddrSet (one key
// replaced) must never crash, and the write must leave every other key
// reading as before and the written key reading as written.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/settings.h"

using namespace zr::config;

namespace {

const char* const kKeys[] = {"ZR_PORT_TYPE", "ZR_COM_NUMBER", "ZR_HOST_NAME", "ZR_SUBNET", "ZR_GATE",
                             "ZR_READ_TRIES", "ZR_BaudRate", "KEY"};

// The file lives on a memory file system where there is one: the write-back
// syncs the file, which would dominate on a disk.
std::string scratchPath() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/zr-fuzz-config-" + std::to_string(getpid()) + ".ini";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = scratchPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)parseDecimal(parseValueText(text));

    ReaderSettings settings;
    readNumericSettings(path, "READER", settings);
    std::string before[sizeof kKeys / sizeof *kKeys];
    for (size_t k = 0; k < sizeof kKeys / sizeof *kKeys; ++k) {
        before[k] = read_setting_text(path, "READER", kKeys[k]);
        (void)read_setting_number(path, "READER", kKeys[k]);
    }

    write_setting(path, "READER", "ZR_HOST_NAME", "10.1.2.3");
    if (read_setting_text(path, "READER", "ZR_HOST_NAME") != "10.1.2.3") abort();
    for (size_t k = 0; k < sizeof kKeys / sizeof *kKeys; ++k) {
        if (std::string(kKeys[k]) == "ZR_HOST_NAME") continue;
        if (read_setting_text(path, "READER", kKeys[k]) != before[k]) abort();
    }
    std::remove(path.c_str());
    return 0;
}
