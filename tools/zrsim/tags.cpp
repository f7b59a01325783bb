#include "tags.h"

#include <cctype>
#include <fstream>
#include <random>
#include <sstream>

namespace zrsim {

bool parseHex(const std::string& text, std::vector<uint8_t>& out) {
    out.clear();
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-' || c == '_') continue;
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else return false;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return high < 0;
}

std::string toHex(const uint8_t* bytes, size_t length, const char* separator) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) s += separator;
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

namespace {

template <size_t N>
bool parseFixed(const std::string& value, std::array<uint8_t, N>& out) {
    std::vector<uint8_t> bytes;
    if (!parseHex(value, bytes) || bytes.size() != N) return false;
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return true;
}

bool parseLockList(const std::string& value, uint8_t& areas) {
    std::stringstream in(value);
    std::string name;
    areas = 0;
    while (std::getline(in, name, ',')) {
        if (name == "access") areas |= 1 << kLockAccessPassword;
        else if (name == "destroy") areas |= 1 << kLockDestroyPassword;
        else if (name == "epc") areas |= 1 << kLockEpc;
        else if (name == "tid") areas |= 1 << kLockTid;
        else if (name == "user") areas |= 1 << kLockUser;
        else if (name == "none" || name.empty()) continue;
        else return false;
    }
    return true;
}

// One `key=value` field of a tag line; false with `error` set when bad.
bool applyField(const std::string& key, const std::string& value, Tag& tag, std::string& error) {
    std::vector<uint8_t> bytes;
    if (key == "id") {
        if (!parseFixed(value, tag.id)) error = "id needs 8 hex bytes";
    } else if (key == "epc") {
        if (!parseHex(value, bytes) || bytes.size() % 2 != 0 || bytes.size() > kMaxEpcBytes)
            error = "epc needs an even number of hex bytes, at most 62";
        else tag.epc = bytes;
    } else if (key == "tid") {
        if (!parseHex(value, bytes) || bytes.size() > 32) error = "tid needs at most 32 hex bytes";
        else tag.tid = bytes;
    } else if (key == "user") {
        if (!parseHex(value, bytes) || bytes.size() > kUserMemorySize) error = "user needs at most 256 hex bytes";
        else std::copy(bytes.begin(), bytes.end(), tag.user.begin());
    } else if (key == "access") {
        if (!parseFixed(value, tag.accessPassword)) error = "access needs 4 hex bytes";
    } else if (key == "destroy") {
        if (!parseFixed(value, tag.destroyPassword)) error = "destroy needs 4 hex bytes";
    } else if (key == "locked") {
        if (!parseLockList(value, tag.lockedAreas)) error = "locked takes access,destroy,epc,tid,user or none";
    } else if (key == "destroyable") {
        if (value != "0" && value != "1") error = "destroyable takes 0 or 1";
        else tag.destroyable = value == "1";
    } else {
        error = "unknown field '" + key + "'";
    }
    return error.empty();
}

}  // namespace

bool parseTagFile(const std::string& text, std::vector<Tag>& tags, std::string& error) {
    std::stringstream lines(text);
    std::string line;
    int number = 0;
    std::vector<Tag> parsed;
    while (std::getline(lines, line)) {
        ++number;
        auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::stringstream words(line);
        std::string word;
        Tag tag;
        bool any = false, hasId = false;
        while (words >> word) {
            auto eq = word.find('=');
            if (eq == std::string::npos) {
                error = "line " + std::to_string(number) + ": '" + word + "' is not key=value";
                return false;
            }
            std::string key = word.substr(0, eq), fieldError;
            if (!applyField(key, word.substr(eq + 1), tag, fieldError)) {
                error = "line " + std::to_string(number) + ": " + fieldError;
                return false;
            }
            any = true;
            hasId |= key == "id";
        }
        if (!any) continue;
        if (!hasId) {
            error = "line " + std::to_string(number) + ": a tag needs its id";
            return false;
        }
        parsed.push_back(tag);
    }
    tags = std::move(parsed);
    return true;
}

bool loadTagFile(const std::string& path, std::vector<Tag>& tags, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return parseTagFile(text.str(), tags, error);
}

std::vector<Tag> generateTags(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    auto byte = [&] { return static_cast<uint8_t>(rng() & 0xFF); };
    std::vector<Tag> tags(count);
    for (size_t i = 0; i < count; ++i) {
        Tag& t = tags[i];
        for (auto& b : t.id) b = byte();
        t.id[7] = static_cast<uint8_t>(i);  // distinct IDs whatever the seed
        t.id[6] = static_cast<uint8_t>(i >> 8);
        t.epc.resize(12);
        for (auto& b : t.epc) b = byte();
        t.tid = {0xE2, 0x00, 0x34, 0x12};
        for (int k = 0; k < 8; ++k) t.tid.push_back(byte());
        for (auto& b : t.user) b = byte();
        for (auto& b : t.destroyPassword) b = byte();
        t.destroyPassword[3] |= 1;  // never all zero: generated tags can be destroyed
    }
    return tags;
}

}  // namespace zrsim
