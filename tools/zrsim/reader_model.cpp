#include "reader_model.h"

#include <algorithm>
#include <ctime>

namespace zrsim {

// ---- System parameter layout --------------------------------------------------

size_t systemParamSize(unsigned address) {
    switch (address) {
        case kParamPower: return 2;
        case kParamMac: return 6;
        case kParamNetwork: return 12;
        case kParamDeviceClass: return 4;
        default: return 1;
    }
}

size_t systemParamOffset(unsigned address) {
    size_t offset = address;
    for (unsigned wide : {kParamPower, kParamMac, kParamNetwork, kParamDeviceClass})
        if (wide < address) offset += systemParamSize(wide) - 1;
    return offset;
}

const char* commandName(uint8_t code, size_t requestLength) {
    switch (code) {
        case 0x49: return "long inventory";
        case 0x4A: return "user inventory";
        case 0x4B: return "set interference (class 1/2)";
        case 0x4C: return "get interference (class 1/2)";
        case 0x4D: return "close interference (class 1/2)";
        case 0x5F: return "code sending";
        case 0x60: return "power on";
        case 0x61: return "power off";
        case 0x62: return "system parameter query";
        case 0x63: return "system parameter set";
        case 0x64: return requestLength == 6 ? "read configuration" : "tag parameter query";
        case 0x65: return "tag parameter set";
        case 0x66: return "EU test";
        case 0x67: return "test mode";
        case 0x68: return "data return";
        case 0x6A: return "set interference";
        case 0x6B: return requestLength == 3 ? "upgrade" : "get interference";
        case 0x6C: return "reset / close interference";
        case 0x6D: return "EPC print power";
        case 0x70: return "select tag";
        case 0x71: return "inventory";
        case 0x72: return "tag read";
        case 0x73: return "tag write";
        case 0x74: return "tag lock";
        case 0x80: return "select EPC";
        case 0x81: return "EPC inventory";
        case 0x82: return "TID inventory";
        case 0x83: return "EPC write";
        case 0x84: return "EPC memory read";
        case 0x85: return "EPC memory write";
        case 0x88: return "access password";
        case 0x89: return "destroy password";
        case 0x8A: return "data lock";
        case 0x8B: return "destroy";
        case 0x8C: return "EAS flag";
        case 0x8D: return "EAS alarm";
        case 0x8E: return "tag filter";
        case 0x8F: return "time filter";
        case 0xA0: return "reader state";
        case 0xA1: return "reader message";
        case 0xA2: return "set clock";
        case 0xA3: return "set fixed number";
        case 0xA4: return "get fixed number";
        case 0xD0: return "direct read";
        case 0xD1: return "I/O set";
        case 0xD2: return "I/O query";
        default: return "unknown";
    }
}

// ---- Clock --------------------------------------------------------------------

namespace {

int64_t daysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int>(yoe + era * 400);
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool validClock(const uint8_t* t) {
    return t[1] >= 1 && t[1] <= 12 && t[2] >= 1 && t[2] <= 31 && t[3] < 24 && t[4] < 60 && t[5] < 60;
}

}  // namespace

std::array<uint8_t, 6> ReaderModel::clockAt(const ReaderState& s, int64_t nowMs) {
    const auto& c = s.clock;
    int64_t seconds = daysFromCivil(2000 + c[0], c[1], c[2]) * 86400 + c[3] * 3600 + c[4] * 60 + c[5];
    seconds += (nowMs - s.clockSetAtMs) / 1000;
    int64_t days = seconds / 86400, rest = seconds % 86400;
    int y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    return {static_cast<uint8_t>(y - 2000), static_cast<uint8_t>(m), static_cast<uint8_t>(d),
            static_cast<uint8_t>(rest / 3600), static_cast<uint8_t>(rest / 60 % 60), static_cast<uint8_t>(rest % 60)};
}

// ---- State --------------------------------------------------------------------

ReaderState::ReaderState() : systemParams(kSystemParamBytes, 0) {
    auto put = [&](uint8_t address, std::vector<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), systemParams.begin() + systemParamOffset(address));
    };
    put(kParamPower, {0x1E, 0x1E});
    put(kParamMac, {0x02, 0x5A, 0x52, 0x00, 0x00, 0x01});
    put(kParamNetwork, {192, 168, 1, 200, 255, 255, 255, 0, 192, 168, 1, 1});
    put(kParamDeviceClass, {3, 0, 0, 0});
    clock = {26, 1, 1, 0, 0, 0};
}

std::vector<uint8_t> ReaderState::power() const {
    auto at = systemParams.begin() + systemParamOffset(kParamPower);
    return {at, at + 2};
}

ReaderModel::ReaderModel(std::vector<Tag> tags) { state_.tags = std::move(tags); }

Packet makeReply(uint8_t code, uint8_t st, const std::vector<uint8_t>& data) {
    size_t length = 2 + data.size();
    Packet p{static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF), code, st};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

namespace {

uint8_t requestCode(const Packet& r) { return r[2]; }
size_t requestLength(const Packet& r) { return 256u * r[0] + r[1]; }

// The smallest length field a reply to `request` may have so that the
// export's receive takes it (over TCP some exports ask for more than a
// bare status).
size_t minimumReplyLength(const Packet& request) {
    size_t length = requestLength(request);
    switch (requestCode(request)) {
        case 0x49: case 0x4A: case 0x4B: case 0x4D: case 0x5F: case 0x68: case 0x6A: case 0x6C:
            return 4;
        case 0x64: return length == 4 ? 5 : (request.size() > 4 ? request[4] + 2u : 2u);
        case 0x6B: case 0x4C: return 7;
        case 0x6D: case 0xA0: case 0xA2: case 0xA3: case 0xA4: return 7;
        case 0x66: return 54;
        default: return 2;
    }
}

// Fills `data` with zeros up to a reply length field of `length`.
std::vector<uint8_t> padded(std::vector<uint8_t> data, size_t length) {
    if (data.size() + 2 < length) data.resize(length - 2, 0);
    return data;
}

class Handler {
public:
    Handler(ReaderState& s, const Packet& r, int64_t now) : s_(s), r_(r), now_(now), code_(r[2]) {}

    std::vector<Outgoing> run();

private:
    ReaderState& s_;
    const Packet& r_;
    int64_t now_;
    uint8_t code_;
    std::vector<Outgoing> out_;

    size_t length() const { return requestLength(r_); }
    uint8_t p(size_t i) const { return 3 + i < r_.size() ? r_[3 + i] : 0; }
    const uint8_t* params(size_t i) const { return r_.data() + 3 + i; }

    void reply(uint8_t st, std::vector<uint8_t> data = {}) {
        if (st != status::kOk) {
            out_.push_back({ReaderModel::statusReply(r_, st), Origin::Reply});
            return;
        }
        out_.push_back({makeReply(code_, st, padded(std::move(data), minimumReplyLength(r_))), Origin::Reply});
    }
    bool expectLength(size_t n) {
        if (length() == n) return true;
        reply(status::kBadLength);
        return false;
    }

    int findTag(const uint8_t* id) const {
        for (size_t i = 0; i < s_.tags.size(); ++i)
            if (!s_.tags[i].destroyed && std::equal(s_.tags[i].id.begin(), s_.tags[i].id.end(), id))
                return static_cast<int>(i);
        return -1;
    }
    // The tag that password commands act on: the selected one, else the
    // first live tag of the field.
    int targetTag() const {
        if (s_.selected >= 0 && s_.selected < static_cast<int>(s_.tags.size()) && !s_.tags[s_.selected].destroyed)
            return s_.selected;
        for (size_t i = 0; i < s_.tags.size(); ++i)
            if (!s_.tags[i].destroyed) return static_cast<int>(i);
        return -1;
    }
    static bool passwordIs(const uint8_t* given, const std::array<uint8_t, 4>& expected) {
        return std::equal(expected.begin(), expected.end(), given);
    }
    static bool userRangeLocked(const Tag& t, size_t from, size_t count) {
        if (t.areaLocked(kLockUser)) return true;
        for (size_t i = from; i < from + count; ++i)
            if (t.lockedUserBytes[i]) return true;
        return false;
    }
    // Common entry of the tag commands: RF must be on. Returns false after replying.
    bool rfReady() {
        if (s_.rfOn) return true;
        reply(status::kRfOff);
        return false;
    }
    // The password-addressed tag with its access password checked, or -1 after replying.
    int passwordTag(const uint8_t* password) {
        if (!rfReady()) return -1;
        int index = targetTag();
        if (index < 0) {
            reply(status::kNoTag);
            return -1;
        }
        if (!passwordIs(password, s_.tags[index].accessPassword)) {
            reply(status::kWrongPassword);
            return -1;
        }
        return index;
    }

    void inventory();
    bool passesFilters(size_t index) const;
    std::vector<uint8_t> reportData(const Tag& t) const;

    void tagRead();
    void tagWrite();
    void tagLock();
    void useDataRead();
    void useDataWrite();
    void epcWrite();
    void setPassword(bool destroyPassword);
    void dataLock();
    void destroy();
    void selectTag();
    void selectEpc();
    void systemQuery();
    void systemSet();
    void tagParams();
    void easAlarm();
    void euTest();
    void filter();
    void readerState();
    void acknowledgement();
};

bool Handler::passesFilters(size_t index) const {
    const Tag& t = s_.tags[index];
    if (t.destroyed) return false;
    if (s_.tagFilter.active) {
        for (size_t i = 0; i < 12; ++i) {
            uint8_t e = i < t.epc.size() ? t.epc[i] : 0;
            if ((e & s_.tagFilter.mask[i]) != (s_.tagFilter.value[i] & s_.tagFilter.mask[i])) return false;
        }
    }
    if (s_.timeFilterActive) {
        auto last = s_.lastReportedMs.find(index);
        if (last != s_.lastReportedMs.end() && now_ - last->second < int64_t{s_.timeFilter} * 100) return false;
    }
    return true;
}

std::vector<uint8_t> Handler::reportData(const Tag& t) const {
    std::vector<uint8_t> d;
    auto appendId = [&] { d.insert(d.end(), t.id.begin(), t.id.end()); };
    auto appendUser = [&](size_t address, size_t count) {
        for (size_t i = 0; i < std::min<size_t>(count, 64); ++i) d.push_back(t.user[(address + i) % kUserMemorySize]);
    };
    switch (code_) {
        case 0x71: appendId(); break;
        case 0xD0: appendId(); appendUser(p(0), p(1)); break;
        case 0x49:
            appendId();
            d.push_back(static_cast<uint8_t>(t.epc.size()));
            d.insert(d.end(), t.epc.begin(), t.epc.end());
            break;
        case 0x4A: appendId(); appendUser(p(5), p(6)); break;  // especial address, especial length
        case 0x81:
            d.push_back(static_cast<uint8_t>(t.epc.size()));
            d.insert(d.end(), t.epc.begin(), t.epc.end());
            break;
        case 0x82:
            d.push_back(static_cast<uint8_t>(t.tid.size()));
            d.insert(d.end(), t.tid.begin(), t.tid.end());
            break;
    }
    return d;
}

void Handler::inventory() {
    static const std::map<uint8_t, size_t> lengths = {{0x71, 3}, {0xD0, 3}, {0x49, 4}, {0x4A, 20}, {0x81, 4}, {0x82, 8}};
    if (length() != lengths.at(code_)) return;  // a start command gets no reply of its own
    if (!s_.rfOn) return;
    for (size_t i = 0; i < s_.tags.size(); ++i) {
        if (!passesFilters(i)) continue;
        s_.lastReportedMs[i] = now_;
        out_.push_back({makeReply(code_, status::kOk, padded(reportData(s_.tags[i]), minimumReplyLength(r_))),
                        Origin::Report});
    }
}

void Handler::tagRead() {
    if (!expectLength(12) || !rfReady()) return;
    int index = findTag(params(1));
    if (index < 0) return reply(status::kNoTag);
    size_t address = p(9), count = p(10);
    if (address + count > kUserMemorySize) return reply(status::kOutOfRange);
    const Tag& t = s_.tags[index];
    std::vector<uint8_t> data{p(0)};
    data.insert(data.end(), t.user.begin() + address, t.user.begin() + address + count);
    reply(status::kOk, data);
}

void Handler::tagWrite() {
    size_t count = p(10);
    if (length() < 12 || !expectLength(count + 12) || !rfReady()) return;
    int index = findTag(params(1));
    if (index < 0) return reply(status::kNoTag);
    size_t address = p(9);
    Tag& t = s_.tags[index];
    if (address + count > kUserMemorySize) return reply(status::kOutOfRange);
    if (userRangeLocked(t, address, count)) return reply(status::kLocked);
    std::copy(params(11), params(11) + count, t.user.begin() + address);
    reply(status::kOk);
}

void Handler::tagLock() {
    if (!expectLength(12) || !rfReady()) return;
    int index = findTag(params(1));
    if (index < 0) return reply(status::kNoTag);
    size_t address = p(9), count = p(10);
    if (address + count > kUserMemorySize) return reply(status::kOutOfRange);
    for (size_t i = address; i < address + count; ++i) s_.tags[index].lockedUserBytes[i] = true;
    reply(status::kOk);
}

void Handler::useDataRead() {
    if (!expectLength(8)) return;
    int index = passwordTag(params(1));
    if (index < 0) return;
    size_t from = 2u * p(5), count = 2u * p(6);
    if (from + count > kUserMemorySize) return reply(status::kOutOfRange);
    const Tag& t = s_.tags[index];
    std::vector<uint8_t> data{p(0)};
    data.insert(data.end(), t.user.begin() + from, t.user.begin() + from + count);
    reply(status::kOk, data);
}

void Handler::useDataWrite() {
    size_t words = p(6);
    if (length() < 8 || !expectLength(2 * words + 8)) return;
    int index = passwordTag(params(1));
    if (index < 0) return;
    size_t from = 2u * p(5), count = 2 * words;
    Tag& t = s_.tags[index];
    if (from + count > kUserMemorySize) return reply(status::kOutOfRange);
    if (userRangeLocked(t, from, count)) return reply(status::kLocked);
    std::copy(params(7), params(7) + count, t.user.begin() + from);
    reply(status::kOk);
}

void Handler::epcWrite() {
    size_t words = p(5);
    if (length() < 7 || !expectLength(2 * words + 7)) return;
    int index = passwordTag(params(1));
    if (index < 0) return;
    Tag& t = s_.tags[index];
    if (2 * words > kMaxEpcBytes) return reply(status::kOutOfRange);
    if (t.areaLocked(kLockEpc)) return reply(status::kLocked);
    t.epc.assign(params(6), params(6) + 2 * words);
    reply(status::kOk);
}

void Handler::setPassword(bool destroyPassword) {
    if (!expectLength(10)) return;
    int index = passwordTag(params(1));
    if (index < 0) return;
    Tag& t = s_.tags[index];
    if (t.areaLocked(destroyPassword ? kLockDestroyPassword : kLockAccessPassword)) return reply(status::kLocked);
    auto& target = destroyPassword ? t.destroyPassword : t.accessPassword;
    std::copy(params(5), params(5) + 4, target.begin());
    reply(status::kOk);
}

void Handler::dataLock() {
    if (!expectLength(8)) return;
    int index = passwordTag(params(1));
    if (index < 0) return;
    uint8_t flag = p(5), selector = p(6);
    if (flag > 1 || selector > kLockAll) return reply(status::kBadValue);
    Tag& t = s_.tags[index];
    uint8_t bits = selector == kLockAll ? 0x1F : static_cast<uint8_t>(1u << selector);
    if (flag) {
        t.lockedAreas |= bits;
    } else {
        t.lockedAreas &= static_cast<uint8_t>(~bits);
        if (bits & (1u << kLockUser)) std::fill(t.lockedUserBytes.begin(), t.lockedUserBytes.end(), false);
    }
    reply(status::kOk);
}

void Handler::destroy() {
    if (length() < 6 || length() % 2 != 0) return reply(status::kBadLength);
    if (!rfReady()) return;
    int index = targetTag();
    if (index < 0) return reply(status::kNoTag);
    Tag& t = s_.tags[index];
    const std::array<uint8_t, 4> zero{};
    if (!t.destroyable || t.destroyPassword == zero) return reply(status::kNotDestroyable);
    if (!passwordIs(params(1), t.destroyPassword)) return reply(status::kWrongPassword);
    t.destroyed = true;
    if (s_.selected == index) s_.selected = -1;
    reply(status::kOk);
}

void Handler::selectTag() {
    if (!expectLength(12) || !rfReady()) return;
    int index = findTag(params(3));
    if (index < 0) return reply(status::kNoTag);
    s_.selected = index;
    reply(status::kOk);
}

void Handler::selectEpc() {
    if (length() < 4) return reply(status::kBadLength);
    if (!rfReady()) return;
    size_t n = length() - 4;
    if (n == 0) {
        s_.selected = -1;
        return reply(status::kOk);
    }
    for (size_t i = 0; i < s_.tags.size(); ++i) {
        const Tag& t = s_.tags[i];
        if (!t.destroyed && t.epc.size() >= n && std::equal(t.epc.begin(), t.epc.begin() + n, params(3))) {
            s_.selected = static_cast<int>(i);
            return reply(status::kOk);
        }
    }
    reply(status::kNoTag);
}

void Handler::systemQuery() {
    if (!expectLength(3)) return;
    size_t offset = systemParamOffset(p(0)), count = p(1);
    if (count == 0) count = std::min(kQueryAllCount, kSystemParamBytes - offset);
    if (offset + count > kSystemParamBytes) return reply(status::kOutOfRange);
    reply(status::kOk, {s_.systemParams.begin() + offset, s_.systemParams.begin() + offset + count});
}

void Handler::systemSet() {
    if (length() < 4) return reply(status::kBadLength);
    size_t offset, count;
    const uint8_t* data;
    if (length() == 4 && (p(0) == 0 || p(1) != 1)) {
        // Byte-wise form: 16-bit address, one byte. (A block set of one byte
        // at address 0 has the same bytes and is taken as this form.)
        unsigned address = 256u * p(0) + p(1);
        if (address > 255) return reply(status::kOutOfRange);
        offset = systemParamOffset(address);
        count = 1;
        data = params(2);
    } else {
        count = p(1);
        if (!expectLength(count + 3)) return;
        offset = systemParamOffset(p(0));
        data = params(2);
    }
    if (offset + count > kSystemParamBytes) return reply(status::kOutOfRange);
    std::copy(data, data + count, s_.systemParams.begin() + offset);
    reply(status::kOk);
}

void Handler::tagParams() {
    if (code_ == 0x64) {  // tag parameter query
        if (!expectLength(3)) return;
        size_t address = p(0), count = p(1);
        if (address + count > s_.tagParams.size()) return reply(status::kOutOfRange);
        return reply(status::kOk, {s_.tagParams.begin() + address, s_.tagParams.begin() + address + count});
    }
    size_t address = p(0), count = p(1);
    if (length() < 3 || !expectLength(count + 3)) return;
    if (address + count > s_.tagParams.size()) return reply(status::kOutOfRange);
    std::copy(params(2), params(2) + count, s_.tagParams.begin() + address);
    reply(status::kOk);
}

void Handler::easAlarm() {
    if (!expectLength(4)) return;
    if (p(1) == 1) {
        s_.alarmRunning = true;
        s_.alarmValue = p(0);
        s_.nextAlarmMs = now_ + s_.alarmIntervalMs;
        return reply(status::kOk);
    }
    if (p(1) == 0) {
        s_.alarmRunning = false;
        return reply(status::kOk, {p(0), 1});  // byte 5: the alarm-end flag
    }
    reply(status::kBadValue);
}

void Handler::euTest() {
    if (length() < 2) return reply(status::kBadLength);
    // A request of length 3 is the door test (value, mode); the frequency
    // test carries its data after the value byte.
    if (length() != 3) s_.euTestData.assign(params(1), params(1) + (length() - 2));
    std::vector<uint8_t> data = s_.euTestData;
    data.resize(52, 0);
    reply(status::kOk, data);
}

void Handler::filter() {
    uint8_t op = p(0);
    bool tagFilter = code_ == 0x8E;
    if (op == 1) {
        if (!expectLength(2)) return;
        if (tagFilter) s_.tagFilter.active = false;
        else s_.timeFilterActive = false;
        return reply(status::kOk, {op});
    }
    if (op != 0) return reply(status::kBadValue);
    if (!expectLength(tagFilter ? 26 : 4)) return;
    if (tagFilter) {
        std::copy(params(1), params(13), s_.tagFilter.value.begin());
        std::copy(params(13), params(25), s_.tagFilter.mask.begin());
        s_.tagFilter.active = true;
    } else {
        s_.timeFilter = static_cast<uint16_t>(256u * p(1) + p(2));
        s_.timeFilterActive = true;
    }
    reply(status::kOk, {op});
}

void Handler::readerState() {
    if (!expectLength(2)) return;
    std::vector<uint8_t> data{p(0)};
    if (p(0) == 0) {
        auto c = ReaderModel::clockAt(s_, now_);
        data.insert(data.end(), c.begin(), c.end());
    } else if (p(0) == 1) {
        uint8_t live = 0;
        for (const Tag& t : s_.tags) live += !t.destroyed;
        data.insert(data.end(), {static_cast<uint8_t>(s_.rfOn), s_.testMode, s_.deviceClass(),
                                 static_cast<uint8_t>(s_.alarmRunning), static_cast<uint8_t>(s_.interferenceOn), live});
    } else {
        return reply(status::kBadValue);
    }
    reply(status::kOk, data);
}

void Handler::acknowledgement() {
    if (length() != 11) return;  // acknowledgements get no reply in any case
    ListenMessage ack;
    std::copy(params(1), params(9), ack.first8.begin());
    ack.byte12 = p(9);
    if (p(0) == 0x3F) {
        ++s_.acksRejected;
        return;
    }
    auto match = std::find_if(s_.unacknowledged.begin(), s_.unacknowledged.end(), [&](const ListenMessage& m) {
        return m.first8 == ack.first8 && m.byte12 == ack.byte12;
    });
    if (p(0) != 0 || match == s_.unacknowledged.end()) {
        ++s_.acksUnmatched;
        return;
    }
    s_.unacknowledged.erase(match);
    ++s_.acksAccepted;
}

std::vector<Outgoing> Handler::run() {
    ++s_.requestsByCode[code_];
    switch (code_) {
        case 0x71: case 0xD0: case 0x49: case 0x4A: case 0x81: case 0x82: inventory(); break;
        case 0x72: tagRead(); break;
        case 0x73: tagWrite(); break;
        case 0x74: tagLock(); break;
        case 0x84: useDataRead(); break;
        case 0x85: useDataWrite(); break;
        case 0x83: epcWrite(); break;
        case 0x88: setPassword(false); break;
        case 0x89: setPassword(true); break;
        case 0x8A: dataLock(); break;
        case 0x8B: destroy(); break;
        case 0x70: selectTag(); break;
        case 0x80: selectEpc(); break;
        case 0x68:
            if (!expectLength(3)) break;
            if (p(1) > 4) { reply(status::kBadValue); break; }
            s_.dataReturn[0] = p(0);
            s_.dataReturn[1] = p(1);
            reply(status::kOk, {p(0), p(1)});
            break;
        case 0x60:
            if (!expectLength(2)) break;
            s_.rfOn = true;
            s_.powerOnValue = p(0);
            reply(status::kOk);
            break;
        case 0x61:
            if (!expectLength(1)) break;
            s_.rfOn = false;
            reply(status::kOk);
            break;
        case 0x62: systemQuery(); break;
        case 0x63: systemSet(); break;
        case 0x64:
            if (length() == 4) {  // read configuration: antenna control, value, value2
                if (p(1) < 1 || p(1) > 4 || p(2) < 1 || p(2) > 2) { reply(status::kBadValue); break; }
                s_.readConfig = {p(0), p(1), p(2)};
                reply(status::kOk, {p(0), p(1), p(2)});
                break;
            }
            tagParams();
            break;
        case 0x65: tagParams(); break;
        case 0xD1:
            if (!expectLength(3)) break;
            if (p(0) > 7) { reply(status::kOutOfRange); break; }
            if (p(1)) s_.ioOutputs |= static_cast<uint8_t>(1u << p(0));
            else s_.ioOutputs &= static_cast<uint8_t>(~(1u << p(0)));
            reply(status::kOk);
            break;
        case 0xD2:
            if (!expectLength(2)) break;
            if (p(0) > 1) { reply(status::kOutOfRange); break; }
            reply(status::kOk, {p(0) == 0 ? s_.ioOutputs : s_.ioInputs});
            break;
        case 0x5F:
            s_.codeBytes.assign(r_.begin() + 3, r_.end());
            ++s_.codeSendings;
            reply(status::kOk, {static_cast<uint8_t>(s_.codeBytes.size() >> 8), static_cast<uint8_t>(s_.codeBytes.size())});
            break;
        case 0x67:
            if (!expectLength(2)) break;
            if (p(0) > 4) { reply(status::kBadValue); break; }
            s_.testMode = p(0);
            reply(status::kOk);
            break;
        case 0x6A: case 0x4B:
            if (!expectLength(4)) break;
            s_.interference = {p(0), p(1)};
            s_.interferenceOn = true;
            reply(status::kOk, {p(0), p(1)});
            break;
        case 0x6B:
            if (length() == 1) {  // upgrade: no answer
                ++s_.upgrades;
                break;
            }
            [[fallthrough]];
        case 0x4C:
            if (!expectLength(2)) break;
            reply(status::kOk, {static_cast<uint8_t>(s_.interferenceOn), s_.interference[0], s_.interference[1]});
            break;
        case 0x6C: case 0x4D:
            if (!expectLength(1)) break;
            s_.interferenceOn = false;
            if (code_ == 0x6C) {  // also the reset command
                ++s_.resets;
                s_.alarmRunning = false;
                s_.selected = -1;
            }
            reply(status::kOk);
            break;
        case 0x6D:
            if (!expectLength(2)) break;
            s_.epcPrintPower = p(0);
            reply(status::kOk, {p(0)});
            break;
        case 0xA0: readerState(); break;
        case 0xA2:
            if (!expectLength(8)) break;
            if (!validClock(params(0))) { reply(status::kBadValue); break; }
            std::copy(params(0), params(6), s_.clock.begin());
            s_.clockSetAtMs = now_;
            s_.clockExtra = p(6);
            reply(status::kOk, {p(6)});
            break;
        case 0xA3:
            if (!expectLength(2)) break;
            s_.fixedNumber = p(0);
            reply(status::kOk, {p(0)});
            break;
        case 0xA4:
            if (!expectLength(1)) break;
            reply(status::kOk, {s_.fixedNumber});
            break;
        case 0xA1: acknowledgement(); break;
        case 0x8C:
            if (!expectLength(7)) break;
            s_.easValue = p(0);
            std::copy(params(1), params(5), s_.easFlag.begin());
            s_.easTail = p(5);
            reply(status::kOk);
            break;
        case 0x8D: easAlarm(); break;
        case 0x66: euTest(); break;
        case 0x8E: case 0x8F: filter(); break;
        default: reply(status::kUnknownCommand); break;
    }
    return std::move(out_);
}

}  // namespace

Packet ReaderModel::statusReply(const Packet& request, uint8_t st) {
    return makeReply(request[2], st, std::vector<uint8_t>(minimumReplyLength(request) - 2, 0));
}

std::vector<Outgoing> ReaderModel::handle(const Packet& request, int64_t nowMs) {
    if (request.size() < 3) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    return Handler(state_, request, nowMs).run();
}

namespace {

Packet buildListenMessage(ReaderState& s, int64_t nowMs) {
    ListenMessage m;
    m.first8[0] = s.fixedNumber;
    m.first8[1] = ++s.listenSequence;
    for (const Tag& t : s.tags) {
        if (t.destroyed) continue;
        std::copy(t.id.begin(), t.id.begin() + 6, m.first8.begin() + 2);
        break;
    }
    m.byte12 = s.listenSequence;
    std::vector<uint8_t> bytes(m.first8.begin(), m.first8.end());  // bytes 3..10
    bytes.push_back(s.deviceClass());                               // byte 11
    bytes.push_back(m.byte12);                                      // byte 12
    auto c = ReaderModel::clockAt(s, nowMs);                        // bytes 13..18
    bytes.insert(bytes.end(), c.begin(), c.end());
    bytes.resize(23, 0);                                            // up to byte 25: length field 24
    s.unacknowledged.push_back(m);
    bytes.insert(bytes.begin(), {0, 24, 0xA1});
    return bytes;
}

}  // namespace

Packet ReaderModel::listenMessage(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    return buildListenMessage(state_, nowMs);
}

std::vector<Outgoing> ReaderModel::tick(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Outgoing> out;
    ReaderState& s = state_;
    if (s.alarmRunning && nowMs >= s.nextAlarmMs) {
        out.push_back({makeReply(0x8D, status::kOk, {s.alarmValue, ++s.alarmSequence, s.easValue}), Origin::Alarm});
        s.nextAlarmMs = std::max(s.nextAlarmMs + s.alarmIntervalMs, nowMs + 1);
    }
    if (s.listenIntervalMs > 0) {
        if (s.nextListenMs == 0) s.nextListenMs = nowMs + s.listenIntervalMs;
        if (nowMs >= s.nextListenMs) {
            out.push_back({buildListenMessage(s, nowMs), Origin::Listen});
            s.nextListenMs = nowMs + s.listenIntervalMs;
        }
    }
    return out;
}

}  // namespace zrsim
