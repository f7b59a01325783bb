// What a zrtool command reports: an ordered tree of named values, printed as
// readable text by default and as one JSON object with --json.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace zrtool {

class Value {
public:
    enum class Kind { Null, Bool, Int, Real, String, Bytes, Array, Object };

    Value() = default;
    static Value boolean(bool b);
    static Value integer(int64_t n);
    static Value real(double x);
    static Value string(std::string s);
    static Value bytes(const uint8_t* data, size_t size);
    static Value bytes(const std::vector<uint8_t>& data) { return bytes(data.data(), data.size()); }
    static Value array();
    static Value object();

    Kind kind() const { return kind_; }

    // Objects: sets `key` (replacing an earlier value of that key, keeping its place).
    Value& set(const std::string& key, Value value);
    Value& set(const std::string& key, const char* s) { return set(key, string(s)); }
    Value& set(const std::string& key, const std::string& s) { return set(key, string(s)); }
    Value& set(const std::string& key, int64_t n) { return set(key, integer(n)); }
    Value& set(const std::string& key, int n) { return set(key, integer(n)); }
    Value& set(const std::string& key, bool b) { return set(key, boolean(b)); }
    const Value* find(const std::string& key) const;
    // Arrays: appends.
    Value& push(Value value);

    const std::vector<std::pair<std::string, Value>>& members() const { return members_; }
    const std::vector<Value>& items() const { return items_; }
    bool asBool() const { return b_; }
    int64_t asInt() const { return n_; }
    double asReal() const { return x_; }
    const std::string& asString() const { return s_; }
    const std::vector<uint8_t>& asBytes() const { return bytes_; }

private:
    Kind kind_ = Kind::Null;
    bool b_ = false;
    int64_t n_ = 0;
    double x_ = 0;
    std::string s_;
    std::vector<uint8_t> bytes_;
    std::vector<Value> items_;
    std::vector<std::pair<std::string, Value>> members_;
};

// Bytes as hex: "00 AA BB" with the default separator, "00AABB" with "".
std::string hexText(const uint8_t* data, size_t size, const char* separator = " ");
inline std::string hexText(const std::vector<uint8_t>& data, const char* separator = " ") {
    return hexText(data.data(), data.size(), separator);
}

// JSON text of a value on one line (bytes as contiguous hex strings).
std::string toJson(const Value& value);
// Readable text: one "key: value" line per member, nested members indented,
// arrays of objects one line per object.
void printText(std::ostream& out, const Value& object);

}  // namespace zrtool
