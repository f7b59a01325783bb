// inventory.cpp - opens a reader, runs an inventory, prints every report,
// then reads 16 bytes of user memory of the first tag found.
//
//     inventory_cpp CONFIG_FILE SECTION
//
// The same program as inventory.c on the C++ interface zrreader.hpp: every
// failure is a zr::Error, and the reader closes when it goes out of scope.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include <zrreader.hpp>

namespace {

// Reports arrive a moment after the inventory starts; the inventory is over
// when none has come for this long.
constexpr std::chrono::milliseconds kQuiet(1000);

std::string hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " CONFIG_FILE SECTION\n";
        return 2;
    }
    try {
        zr::Reader reader(argv[1], argv[2]);
        reader.identify(0, 0);
        std::optional<zr::TagId> firstId;
        int reports = 0;
        using Clock = std::chrono::steady_clock;
        for (Clock::time_point last = Clock::now(); Clock::now() - last < kQuiet;) {
            std::optional<zr::Bytes> report = reader.report();  // status byte and data
            if (!report) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            last = Clock::now();
            ++reports;
            std::cout << "report: " << hex(report->data(), report->size()) << "\n";
            if (!firstId && report->size() >= 9) {
                firstId.emplace();
                std::copy(report->begin() + 1, report->begin() + 9, firstId->begin());
            }
        }
        std::cout << reports << " reports\n";
        if (firstId) {
            zr::Bytes memory = reader.readUserData(0, 0, 16, *firstId);
            std::cout << "user memory of " << hex(firstId->data(), 8) << ": " << hex(memory.data(), memory.size())
                      << "\n";
        }
        reader.close();
    } catch (const zr::Error& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
