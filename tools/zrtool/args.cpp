#include "args.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace zrtool {

std::optional<std::vector<uint8_t>> parseHex(const std::string& text) {
    size_t start = 0;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) start = 2;
    std::vector<uint8_t> out;
    int high = -1;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == ':' || c == '-' || c == ',' || c == '.' || c == '\t') {
            if (high >= 0) return std::nullopt;  // a separator inside a byte
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return out;
}

CLI::Validator hexBytes(size_t size, size_t maximum) {
    std::string description = size ? "HEX" + std::to_string(size) : "HEX";
    return CLI::Validator(
        [size, maximum](std::string& text) -> std::string {
            const auto bytes = parseHex(text);
            if (!bytes) return "not a hex byte text (pairs of hex digits, e.g. 01AB or \"01 AB\"): " + text;
            if (size && bytes->size() != size)
                return "needs exactly " + std::to_string(size) + " bytes, got " + std::to_string(bytes->size());
            if (maximum && bytes->size() > maximum)
                return "takes at most " + std::to_string(maximum) + " bytes, got " + std::to_string(bytes->size());
            return {};
        },
        description);
}

std::vector<uint8_t> hexOf(const std::string& text) { return parseHex(text).value_or(std::vector<uint8_t>{}); }

namespace {

bool validClock(int year, int month, int day, int hour, int minute, int second) {
    return year >= 2000 && year <= 2255 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 &&
           hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

}  // namespace

std::optional<std::array<uint8_t, 6>> parseClock(const std::string& text) {
    int year, month, day, hour, minute, second;
    if (text == "now") {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        year = local.tm_year + 1900, month = local.tm_mon + 1, day = local.tm_mday;
        hour = local.tm_hour, minute = local.tm_min, second = local.tm_sec;
    } else {
        char separator = 0;
        int used = 0;
        if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day, &separator, &hour, &minute,
                        &second, &used) != 7 ||
            static_cast<size_t>(used) != text.size() || (separator != 'T' && separator != ' '))
            return std::nullopt;
    }
    if (!validClock(year, month, day, hour, minute, second)) return std::nullopt;
    return std::array<uint8_t, 6>{static_cast<uint8_t>(year - 2000), static_cast<uint8_t>(month),
                                  static_cast<uint8_t>(day),          static_cast<uint8_t>(hour),
                                  static_cast<uint8_t>(minute),       static_cast<uint8_t>(second)};
}

std::string clockText(const std::array<uint8_t, 6>& c) {
    if (!validClock(2000 + c[0], c[1], c[2], c[3], c[4], c[5])) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + c[0], c[1], c[2], c[3], c[4], c[5]);
    return text;
}

CLI::Validator clockArgument() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return parseClock(text) ? std::string() : "not a time (now, or YYYY-MM-DDThh:mm:ss from 2000): " + text;
        },
        "TIME");
}

}  // namespace zrtool
