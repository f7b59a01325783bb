// Faults the simulated reader can inject into its replies: per command code
// (optionally a number of times) or at random with a seeded generator.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zrsim {

enum class FaultKind {
    Drop,        // no reply at all
    Delay,       // reply after `value` ms
    Crc,         // reply with its CRC corrupted
    Code,        // reply under another command code (code + 1)
    Split,       // TCP: reply written in pieces cut at `offsets`, `value` ms apart
    Stale,       // reply followed by a second, stale copy of itself
    Garbage,     // `value` random bytes before the reply
    Disconnect,  // connection closed instead of replying (TCP, USB)
    Status,      // reply with Status byte `value`, the command not carried out
};

struct Fault {
    FaultKind kind = FaultKind::Drop;
    int value = 0;
    std::vector<size_t> offsets;
};

struct FaultRule {
    int code = -1;       // command code, -1 for every command
    Fault fault;
    int remaining = -1;  // applications left, -1 for ever
};

// Text form of a rule: "<code|*>:<kind>[=arg][:times=N]" where kind is one of
// drop, delay=MS, crc, code, split=O1,O2[,...], stale, garbage=N, disconnect,
// status=XX (hex). Examples: "0x72:crc", "*:delay=300:times=1", "62:split=1,3".
bool parseFaultRule(const std::string& text, FaultRule& rule, std::string& error);
std::string describeFault(const Fault& fault);

class FaultPlan {
public:
    void add(const FaultRule& rule);
    void clear();
    // Random faults: each request faults with `probability`, the kind drawn
    // from the kinds that need no argument and delay/garbage with fixed values.
    void setRandom(double probability, uint32_t seed);
    // The fault to apply to the reply of a request with `code`, if any.
    std::optional<Fault> take(uint8_t code);
    size_t ruleCount();

private:
    std::mutex mutex_;
    std::vector<FaultRule> rules_;
    double probability_ = 0;
    std::mt19937 rng_{1};
};

}  // namespace zrsim
