#include "support/fake_link.h"

#include <atomic>
#include <cstdio>

#include "connection/process_state.h"
#include "link/framing.h"

namespace zr::test {
namespace {

// Fake handles never collide with descriptors the tests open.
std::atomic<int> nextFakeHandle{1'000'000};

class FakeLink : public link::Link {
public:
    FakeLink(link::LinkKind kind, int handle, std::shared_ptr<FakeLog> log, std::shared_ptr<FakeScript> script)
        : kind_(kind), handle_(handle), log_(std::move(log)), script_(std::move(script)) {}

    link::LinkKind kind() const override { return kind_; }
    int handle() const override { return handle_; }

    int send(const uint8_t* packet, int length) override {
        log_->sent.emplace_back(packet, packet + length);
        log_->events.push_back("send");
        if (script_->sendResult >= 0) return script_->sendResult;
        return kind_ == link::LinkKind::Serial ? length : length + 2;
    }

    int receive(uint8_t* buffer, int minimum, uint8_t expectedCode) override {
        ++log_->receives;
        log_->events.push_back("receive");
        if (script_->steps.empty()) return 0;
        std::vector<Bytes> arrived = std::move(script_->steps.front());
        script_->steps.pop_front();
        for (const Bytes& p : arrived) {
            const bool crcGood = link::protectedPacketValid(p.data(), p.size());
            if (kind_ == link::LinkKind::Tcp) {
                // The TCP receive takes the next packet whatever its code.
                if (p.size() < static_cast<size_t>(minimum) + 2 || p.size() > 100 || !crcGood) return 0;
                std::copy(p.begin(), p.end(), buffer);
                return static_cast<int>(p.size());
            }
            // Serial and USB skip bad frames and frames with another code.
            if (!crcGood || p.size() > 256 || p.size() < 3) continue;
            if (expectedCode != 0 && p[2] != expectedCode) continue;
            std::copy(p.begin(), p.end(), buffer);
            return static_cast<int>(p.size());
        }
        return 0;
    }

    void flush() override {
        ++log_->flushes;
        log_->events.push_back("flush");
    }

    void pause(int ms) override {
        log_->pauses.push_back(ms);
        log_->events.push_back("pause " + std::to_string(ms));
    }

    int close() override { return 1; }

private:
    link::LinkKind kind_;
    int handle_;
    std::shared_ptr<FakeLog> log_;
    std::shared_ptr<FakeScript> script_;
};

const char* portTypeOf(link::LinkKind kind) {
    switch (kind) {
        case link::LinkKind::Serial: return "COM";
        case link::LinkKind::Usb: return "USB";
        default: return "TCP";
    }
}

}  // namespace

FakeReader::FakeReader(link::LinkKind kind, int readTries, int writeTries)
    : kind_(kind), log_(std::make_shared<FakeLog>()), script_(std::make_shared<FakeScript>()) {
    const int handle = nextFakeHandle++;
    port_ = registerHandle(std::make_unique<FakeLink>(kind, handle, log_, script_));
    config::ReaderSettings s;
    s.portType = portTypeOf(kind);
    s.serialDevice = "fake";
    s.hostAddress = "127.0.0.1";
    s.readTries = static_cast<uint8_t>(readTries);
    s.writeTries = static_cast<uint8_t>(writeTries);
    applySettings(s);
}

FakeReader::~FakeReader() { unregisterHandle(port_); }

FakeReader& FakeReader::reply(const Bytes& packet) { return replyRaw(withCrc(packet)); }

Bytes withCrc(const Bytes& packet) {
    Bytes out(packet.size() + 2);
    link::buildProtectedPacket(packet.data(), packet.size(), out.data());
    return out;
}

FakeReader& FakeReader::replyRaw(const Bytes& protectedPacket) {
    script_->steps.push_back({protectedPacket});
    return *this;
}

FakeReader& FakeReader::silence(int receives) {
    for (int i = 0; i < receives; ++i) script_->steps.push_back({});
    return *this;
}

void FakeReader::setSendResult(int count) { script_->sendResult = count; }

std::vector<std::string> FakeReader::sentHex() const {
    std::vector<std::string> out;
    for (const Bytes& p : log_->sent) out.push_back(hex(p));
    return out;
}

config::ReaderSettings FakeReader::settings() {
    auto current = currentSettings();
    return current ? *current : config::ReaderSettings{};
}

void FakeReader::applySettings(const config::ReaderSettings& s) {
    replaceSettings(std::make_shared<const config::ReaderSettings>(s));
}

std::string hex(const uint8_t* bytes, size_t length) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

std::string hex(const Bytes& bytes) { return hex(bytes.data(), bytes.size()); }

Bytes unhex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

}  // namespace zr::test
