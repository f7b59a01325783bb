#include "faults.h"

#include <sstream>

namespace zrsim {

namespace {

bool parseNumber(const std::string& text, int base, int& out) {
    if (text.empty()) return false;
    try {
        size_t used = 0;
        long v = std::stol(text, &used, base);
        if (used != text.size() || v < 0 || v > 1000000) return false;
        out = static_cast<int>(v);
        return true;
    } catch (...) {
        return false;
    }
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

bool parseKind(const std::string& text, Fault& fault, std::string& error) {
    auto eq = text.find('=');
    std::string name = text.substr(0, eq), arg = eq == std::string::npos ? "" : text.substr(eq + 1);
    auto needArg = [&](int base) {
        if (!parseNumber(arg, base, fault.value)) {
            error = name + " needs a number";
            return false;
        }
        return true;
    };
    if (name == "drop") fault.kind = FaultKind::Drop;
    else if (name == "crc") fault.kind = FaultKind::Crc;
    else if (name == "code") fault.kind = FaultKind::Code;
    else if (name == "stale") fault.kind = FaultKind::Stale;
    else if (name == "disconnect") fault.kind = FaultKind::Disconnect;
    else if (name == "delay") return fault.kind = FaultKind::Delay, needArg(10);
    else if (name == "garbage") return fault.kind = FaultKind::Garbage, needArg(10);
    else if (name == "status") {
        fault.kind = FaultKind::Status;
        if (!needArg(16)) return false;
        if (fault.value > 255) return error = "status is one byte", false;
        return true;
    } else if (name == "split") {
        fault.kind = FaultKind::Split;
        fault.value = 5;
        for (const auto& o : split(arg, ',')) {
            int v;
            if (!parseNumber(o, 10, v) || v == 0) return error = "split needs offsets above 0", false;
            fault.offsets.push_back(static_cast<size_t>(v));
        }
        if (fault.offsets.empty()) return error = "split needs offsets", false;
        return true;
    } else {
        error = "unknown fault '" + name + "'";
        return false;
    }
    if (!arg.empty()) return error = name + " takes no argument", false;
    return true;
}

}  // namespace

bool parseFaultRule(const std::string& text, FaultRule& rule, std::string& error) {
    auto parts = split(text, ':');
    if (parts.size() < 2 || parts.size() > 3) {
        error = "fault rule is <code|*>:<kind>[=arg][:times=N]";
        return false;
    }
    rule = FaultRule{};
    if (parts[0] != "*") {
        std::string code = parts[0];
        if (code.rfind("0x", 0) == 0 || code.rfind("0X", 0) == 0) code = code.substr(2);
        if (!parseNumber(code, 16, rule.code) || rule.code > 255) {
            error = "command code is a hex byte or *";
            return false;
        }
    }
    if (!parseKind(parts[1], rule.fault, error)) return false;
    if (parts.size() == 3) {
        if (parts[2].rfind("times=", 0) != 0 || !parseNumber(parts[2].substr(6), 10, rule.remaining) ||
            rule.remaining == 0) {
            error = "the third field is times=N (N above 0)";
            return false;
        }
    }
    return true;
}

std::string describeFault(const Fault& f) {
    switch (f.kind) {
        case FaultKind::Drop: return "drop";
        case FaultKind::Delay: return "delay=" + std::to_string(f.value);
        case FaultKind::Crc: return "crc";
        case FaultKind::Code: return "code";
        case FaultKind::Stale: return "stale";
        case FaultKind::Garbage: return "garbage=" + std::to_string(f.value);
        case FaultKind::Disconnect: return "disconnect";
        case FaultKind::Status: return "status=" + std::to_string(f.value);
        case FaultKind::Split: {
            std::string s = "split=";
            for (size_t i = 0; i < f.offsets.size(); ++i) s += (i ? "," : "") + std::to_string(f.offsets[i]);
            return s;
        }
    }
    return "?";
}

void FaultPlan::add(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(rule);
}

void FaultPlan::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
    probability_ = 0;
}

void FaultPlan::setRandom(double probability, uint32_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    probability_ = probability;
    rng_.seed(seed);
}

size_t FaultPlan::ruleCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rules_.size();
}

std::optional<Fault> FaultPlan::take(uint8_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (it->code >= 0 && it->code != code) continue;
        Fault f = it->fault;
        if (it->remaining > 0 && --it->remaining == 0) rules_.erase(it);
        return f;
    }
    if (probability_ > 0 && std::uniform_real_distribution<double>(0, 1)(rng_) < probability_) {
        static const FaultKind kinds[] = {FaultKind::Drop, FaultKind::Delay, FaultKind::Crc,
                                          FaultKind::Code, FaultKind::Stale, FaultKind::Garbage};
        Fault f;
        f.kind = kinds[rng_() % (sizeof kinds / sizeof kinds[0])];
        f.value = f.kind == FaultKind::Delay ? 200 : f.kind == FaultKind::Garbage ? 7 : 0;
        return f;
    }
    return std::nullopt;
}

}  // namespace zrsim
