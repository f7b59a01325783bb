// Argument helpers of zrtool: hex byte texts, fixed-size byte arguments and
// the CLI11 validators that refuse malformed ones before anything is sent.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace zrtool {

// Bytes of a hex text: pairs of hex digits, optionally separated by blanks,
// ':', '-', ',' or '.', with an optional leading "0x". Nullopt when the text
// has an odd number of digits or another character.
std::optional<std::vector<uint8_t>> parseHex(const std::string& text);

// A CLI11 check: a hex text of exactly `size` bytes (any count when 0, at
// most `maximum` bytes when given).
CLI::Validator hexBytes(size_t size = 0, size_t maximum = 0);

// The bytes of an already validated hex text.
std::vector<uint8_t> hexOf(const std::string& text);
template <size_t N>
std::array<uint8_t, N> hexArray(const std::string& text) {
    std::array<uint8_t, N> out{};
    const std::vector<uint8_t> bytes = hexOf(text);
    for (size_t i = 0; i < N && i < bytes.size(); ++i) out[i] = bytes[i];
    return out;
}

// A clock argument: "now" (local time), "YYYY-MM-DD hh:mm:ss" or
// "YYYY-MM-DDThh:mm:ss" (years 2000..2255), as the six bytes
// YY MM DD hh mm ss (YY = year - 2000). Nullopt for any other text.
std::optional<std::array<uint8_t, 6>> parseClock(const std::string& text);
// "20YY-MM-DD hh:mm:ss" of six clock bytes, or "" when they are no valid time.
std::string clockText(const std::array<uint8_t, 6>& clock);

CLI::Validator clockArgument();

}  // namespace zrtool
