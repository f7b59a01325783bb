#include "output.h"

#include <cmath>
#include <cstdio>

namespace zrtool {

Value Value::boolean(bool b) {
    Value v;
    v.kind_ = Kind::Bool;
    v.b_ = b;
    return v;
}

Value Value::integer(int64_t n) {
    Value v;
    v.kind_ = Kind::Int;
    v.n_ = n;
    return v;
}

Value Value::real(double x) {
    Value v;
    v.kind_ = Kind::Real;
    v.x_ = x;
    return v;
}

Value Value::string(std::string s) {
    Value v;
    v.kind_ = Kind::String;
    v.s_ = std::move(s);
    return v;
}

Value Value::bytes(const uint8_t* data, size_t size) {
    Value v;
    v.kind_ = Kind::Bytes;
    v.bytes_.assign(data, data + size);
    return v;
}

Value Value::array() {
    Value v;
    v.kind_ = Kind::Array;
    return v;
}

Value Value::object() {
    Value v;
    v.kind_ = Kind::Object;
    return v;
}

Value& Value::set(const std::string& key, Value value) {
    kind_ = Kind::Object;
    for (auto& member : members_)
        if (member.first == key) return member.second = std::move(value);
    members_.emplace_back(key, std::move(value));
    return members_.back().second;
}

const Value* Value::find(const std::string& key) const {
    for (const auto& member : members_)
        if (member.first == key) return &member.second;
    return nullptr;
}

Value& Value::push(Value value) {
    kind_ = Kind::Array;
    items_.push_back(std::move(value));
    return items_.back();
}

std::string hexText(const uint8_t* data, size_t size, const char* separator) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if (i > 0) text += separator;
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

namespace {

void jsonString(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

std::string realText(double x) {
    if (!std::isfinite(x)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", x);
    return text;
}

void json(std::string& out, const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: out += "null"; break;
        case Value::Kind::Bool: out += v.asBool() ? "true" : "false"; break;
        case Value::Kind::Int: out += std::to_string(v.asInt()); break;
        case Value::Kind::Real: out += realText(v.asReal()); break;
        case Value::Kind::String: jsonString(out, v.asString()); break;
        case Value::Kind::Bytes: jsonString(out, hexText(v.asBytes(), "")); break;
        case Value::Kind::Array: {
            out += '[';
            bool first = true;
            for (const Value& item : v.items()) {
                if (!first) out += ',';
                first = false;
                json(out, item);
            }
            out += ']';
            break;
        }
        case Value::Kind::Object: {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : v.members()) {
                if (!first) out += ',';
                first = false;
                jsonString(out, key);
                out += ':';
                json(out, member);
            }
            out += '}';
            break;
        }
    }
}

// A scalar on one line; objects and arrays as "k=v" pairs (for array items).
std::string inlineText(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: return "-";
        case Value::Kind::Bool: return v.asBool() ? "yes" : "no";
        case Value::Kind::Int: return std::to_string(v.asInt());
        case Value::Kind::Real: return realText(v.asReal());
        case Value::Kind::String: return v.asString();
        case Value::Kind::Bytes: return v.asBytes().empty() ? "(none)" : hexText(v.asBytes());
        case Value::Kind::Array: {
            std::string text;
            for (const Value& item : v.items()) text += (text.empty() ? "" : ", ") + inlineText(item);
            return text;
        }
        case Value::Kind::Object: {
            std::string text;
            for (const auto& [key, member] : v.members())
                text += (text.empty() ? "" : "  ") + key + "=" + inlineText(member);
            return text;
        }
    }
    return {};
}

void text(std::ostream& out, const Value& object, const std::string& indent) {
    for (const auto& [key, v] : object.members()) {
        if (v.kind() == Value::Kind::Object) {
            out << indent << key << ":\n";
            text(out, v, indent + "  ");
        } else if (v.kind() == Value::Kind::Array) {
            out << indent << key << ":" << (v.items().empty() ? " (none)" : "") << "\n";
            for (const Value& item : v.items()) out << indent << "  " << inlineText(item) << "\n";
        } else {
            out << indent << key << ": " << inlineText(v) << "\n";
        }
    }
}

}  // namespace

std::string toJson(const Value& value) {
    std::string out;
    json(out, value);
    return out;
}

void printText(std::ostream& out, const Value& object) { text(out, object, ""); }

}  // namespace zrtool
