// The field of virtual tags the simulated reader sees: loading it from a tag
// file and generating it from a seed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zrsim {

constexpr size_t kUserMemorySize = 256;
constexpr size_t kMaxEpcBytes = 62;

// Areas that the data lock command (0x8A) locks, by its selector byte.
enum LockArea : uint8_t {
    kLockAccessPassword = 0,
    kLockDestroyPassword = 1,
    kLockEpc = 2,
    kLockTid = 3,
    kLockUser = 4,
    kLockAll = 5,
};

struct Tag {
    std::array<uint8_t, 8> id{};
    std::vector<uint8_t> epc;                 // even length, at most kMaxEpcBytes
    std::vector<uint8_t> tid;
    std::vector<uint8_t> user = std::vector<uint8_t>(kUserMemorySize, 0);
    std::array<uint8_t, 4> accessPassword{};
    std::array<uint8_t, 4> destroyPassword{};
    uint8_t lockedAreas = 0;                  // bit per LockArea 0..4
    std::vector<bool> lockedUserBytes = std::vector<bool>(kUserMemorySize, false);  // by the tag lock command 0x74
    bool destroyable = true;
    bool destroyed = false;

    bool areaLocked(LockArea area) const { return (lockedAreas >> area) & 1; }
};

// Parses a tag file (format in docs/zrsim.md): one tag per line of
// key=hex fields. Returns false and sets `error` ("line N: ...") on a bad line.
bool parseTagFile(const std::string& text, std::vector<Tag>& tags, std::string& error);
bool loadTagFile(const std::string& path, std::vector<Tag>& tags, std::string& error);

// `count` tags drawn from a generator seeded with `seed`: the same seed gives
// the same field.
std::vector<Tag> generateTags(size_t count, uint32_t seed);

// Hex helpers shared by the tag file, the control channel and the trace.
bool parseHex(const std::string& text, std::vector<uint8_t>& out);
std::string toHex(const uint8_t* bytes, size_t length, const char* separator = " ");
inline std::string toHex(const std::vector<uint8_t>& bytes, const char* separator = " ") {
    return toHex(bytes.data(), bytes.size(), separator);
}

}  // namespace zrsim
