// The simulated reader: its model driven packet by packet, its fault rules
// and tag files, and its servers on a pseudo-terminal, TCP and the USB
// stand-in socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "link/framing.h"
#include "zrsim/reader_model.h"
#include "zrsim/simulator.h"

namespace {

using zrsim::Packet;
using zrsim::ReaderModel;
using zrsim::ReaderState;

// Two tags: the first with a zero access password and a destroy password,
// the second with an access password, a locked EPC and no destroy password.
const char kTagText[] =
    "# test field\n"
    "id=0102030405060708 epc=300011112222333344445555 tid=E2003412AABBCCDD destroy=0BADBEEF user=A0A1A2A3A4A5A6A7\n"
    "id=1112131415161718 epc=300099998888777766665555 tid=E2003412CAFEF00D access=11223344 locked=epc\n";

std::vector<zrsim::Tag> testTags() {
    std::vector<zrsim::Tag> tags;
    std::string error;
    EXPECT_TRUE(zrsim::parseTagFile(kTagText, tags, error)) << error;
    return tags;
}

Packet hex(const std::string& text) {
    Packet p;
    EXPECT_TRUE(zrsim::parseHex(text, p)) << text;
    return p;
}

std::string show(const Packet& p) { return zrsim::toHex(p); }

// The replies (all packets sent back) of one request, as hex lines.
std::vector<std::string> exchange(ReaderModel& model, const std::string& request, int64_t nowMs = 1000) {
    std::vector<std::string> lines;
    for (const auto& out : model.handle(hex(request), nowMs)) lines.push_back(show(out.packet));
    return lines;
}

std::string single(ReaderModel& model, const std::string& request, int64_t nowMs = 1000) {
    auto lines = exchange(model, request, nowMs);
    EXPECT_EQ(lines.size(), 1u) << request;
    return lines.empty() ? "" : lines[0];
}

// ---- One request, one reply -------------------------------------------------------

struct ReplyCase {
    const char* what;
    const char* request;
    const char* reply;  // "" for no reply at all
};

class ModelReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(ModelReply, AnswersWithTheExpectedPacket) {
    ReaderModel model(testTags());
    auto lines = exchange(model, GetParam().request);
    std::string reply = GetParam().reply;
    if (reply.empty()) {
        EXPECT_TRUE(lines.empty()) << GetParam().what;
    } else {
        ASSERT_EQ(lines.size(), 1u) << GetParam().what;
        EXPECT_EQ(lines[0], show(hex(reply))) << GetParam().what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ModelReply,
    testing::Values(
        ReplyCase{"tag read", "00 0C 72 01 0102030405060708 02 03", "00 06 72 00 01 A2 A3 A4"},
        ReplyCase{"tag read of zero bytes", "00 0C 72 09 0102030405060708 10 00", "00 03 72 00 09"},
        ReplyCase{"tag read, unknown tag", "00 0C 72 01 0102030405060709 02 03", "00 02 72 11"},
        ReplyCase{"tag read past the memory", "00 0C 72 01 0102030405060708 FE 03", "00 02 72 14"},
        ReplyCase{"tag read, short request", "00 03 72 01 02", "00 02 72 01"},
        ReplyCase{"tag write, count disagrees with length", "00 0E 73 00 0102030405060708 10 03 AA BB", "00 02 73 01"},
        ReplyCase{"use data read", "00 08 84 07 00000000 01 01", "00 05 84 00 07 A2 A3"},
        ReplyCase{"use data read, wrong password", "00 08 84 07 00000001 01 01", "00 02 84 12"},
        ReplyCase{"use data read past the memory", "00 08 84 07 00000000 7F 02", "00 02 84 14"},
        ReplyCase{"EPC write on the first tag", "00 09 83 00 00000000 01 AB CD", "00 02 83 00"},
        ReplyCase{"destroy password, wrong access password", "00 0A 89 00 99999999 01020304", "00 02 89 12"},
        ReplyCase{"data lock selector 6", "00 08 8A 00 00000000 01 06", "00 02 8A 15"},
        ReplyCase{"destroy, wrong destroy password", "00 06 8B 00 0BADBEEE", "00 02 8B 12"},
        ReplyCase{"select tag", "00 0C 70 01 02 03 1112131415161718", "00 02 70 00"},
        ReplyCase{"select tag, unknown", "00 0C 70 01 02 03 2112131415161718", "00 02 70 11"},
        ReplyCase{"select EPC by prefix", "00 06 80 00 00 00 30 00", "00 02 80 00"},
        ReplyCase{"select EPC, no match", "00 06 80 00 00 00 31 00", "00 02 80 11"},
        ReplyCase{"data return", "00 03 68 01 04", "00 04 68 00 01 04"},
        ReplyCase{"data return value 5", "00 03 68 01 05", "00 04 68 15 00 00"},
        ReplyCase{"power on", "00 02 60 01", "00 02 60 00"},
        ReplyCase{"power off", "00 01 61", "00 02 61 00"},
        ReplyCase{"power query", "00 03 62 03 02", "00 04 62 00 1E 1E"},
        ReplyCase{"MAC query", "00 03 62 05 06", "00 08 62 00 02 5A 52 00 00 01"},
        ReplyCase{"network query", "00 03 62 06 0C", "00 0E 62 00 C0 A8 01 C8 FF FF FF 00 C0 A8 01 01"},
        ReplyCase{"device class query", "00 03 62 21 04", "00 06 62 00 03 00 00 00"},
        ReplyCase{"system query past the table", "00 03 62 FF 10", "00 02 62 14"},
        ReplyCase{"system set, 16-bit address above 255", "00 04 63 01 FF 01", "00 02 63 14"},
        ReplyCase{"system set, count disagrees with length", "00 06 63 10 04 01 02 03", "00 02 63 01"},
        ReplyCase{"tag parameter query", "00 03 64 10 02", "00 04 64 00 00 00"},
        ReplyCase{"tag parameter query past the table", "00 03 64 FF 02", "00 04 64 14 00 00"},
        ReplyCase{"tag parameter set", "00 05 65 10 02 AA BB", "00 02 65 00"},
        ReplyCase{"I/O set", "00 03 D1 02 01", "00 02 D1 00"},
        ReplyCase{"I/O set, output 8", "00 03 D1 08 01", "00 02 D1 14"},
        ReplyCase{"I/O query of the inputs", "00 02 D2 01", "00 03 D2 00 00"},
        ReplyCase{"code sending", "00 03 5F 12 34", "00 04 5F 00 00 02"},
        ReplyCase{"test mode 4", "00 02 67 04", "00 02 67 00"},
        ReplyCase{"test mode 5", "00 02 67 05", "00 02 67 15"},
        ReplyCase{"read configuration", "00 04 64 01 02 01", "00 05 64 00 01 02 01"},
        ReplyCase{"read configuration value 0", "00 04 64 01 00 01", "00 05 64 15 00 00 00"},
        ReplyCase{"set interference, class 3 code", "00 04 6A 10 20 00", "00 04 6A 00 10 20"},
        ReplyCase{"set interference, class 1/2 code", "00 04 4B 10 20 00", "00 04 4B 00 10 20"},
        ReplyCase{"get interference, class 3 code", "00 02 6B 00", "00 07 6B 00 00 00 00 00 00"},
        ReplyCase{"get interference, class 1/2 code", "00 02 4C 00", "00 07 4C 00 00 00 00 00 00"},
        ReplyCase{"close interference / reset", "00 01 6C", "00 04 6C 00 00 00"},
        ReplyCase{"close interference, class 1/2 code", "00 01 4D", "00 04 4D 00 00 00"},
        ReplyCase{"upgrade", "00 01 6B", ""},
        ReplyCase{"EPC print power", "00 02 6D 05", "00 07 6D 00 05 00 00 00 00"},
        ReplyCase{"reader state 2", "00 02 A0 02", "00 07 A0 15 00 00 00 00 00"},
        ReplyCase{"set clock, month 13", "00 08 A2 1A 0D 01 00 00 00 00", "00 07 A2 15 00 00 00 00 00"},
        ReplyCase{"set fixed number", "00 02 A3 2A", "00 07 A3 00 2A 00 00 00 00"},
        ReplyCase{"get fixed number", "00 01 A4", "00 07 A4 00 00 00 00 00 00"},
        ReplyCase{"acknowledgement", "00 0B A1 00 0000000000000000 00", ""},
        ReplyCase{"EAS flag", "00 07 8C 01 01020304 05", "00 02 8C 00"},
        ReplyCase{"EAS alarm start", "00 04 8D 07 01", "00 02 8D 00"},
        ReplyCase{"EAS alarm end", "00 04 8D 07 00", "00 04 8D 00 07 01"},
        ReplyCase{"EAS alarm, operation 2", "00 04 8D 07 02", "00 02 8D 15"},
        ReplyCase{"tag filter cancel", "00 02 8E 01", "00 03 8E 00 01"},
        ReplyCase{"tag filter, short set", "00 04 8E 00 01 02", "00 02 8E 01"},
        ReplyCase{"time filter set", "00 04 8F 00 00 0A", "00 03 8F 00 00"},
        ReplyCase{"time filter cancel", "00 02 8F 01", "00 03 8F 00 01"},
        ReplyCase{"unknown command", "00 01 99", "00 02 99 02"},
        ReplyCase{"inventory of the wrong length", "00 02 71 00", ""}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return "case" + std::to_string(info.index); });

TEST(ModelReply, EuTestsAnswerFiftyTwoBytesAndTheDoorTestReturnsTheFrequencyData) {
    ReaderModel model(testTags());
    std::string freq = single(model, "00 05 66 01 AA BB CC");
    EXPECT_EQ(freq.substr(0, 11), "00 36 66 00");
    std::string door = single(model, "00 03 66 01 02");
    EXPECT_EQ(door.substr(0, 20), "00 36 66 00 AA BB CC");
    EXPECT_EQ(hex(door).size(), 56u);
}

// ---- State changes across requests ---------------------------------------------------

TEST(ModelState, WrittenUserMemoryReadsBackAndLockedBytesRefuseWrites) {
    ReaderModel model(testTags());
    EXPECT_EQ(single(model, "00 0E 73 00 1112131415161718 20 02 5A 5B"), "00 02 73 00");
    EXPECT_EQ(single(model, "00 0C 72 00 1112131415161718 1F 04"), "00 07 72 00 00 00 5A 5B 00");
    EXPECT_EQ(single(model, "00 0C 74 00 1112131415161718 21 01"), "00 02 74 00");
    EXPECT_EQ(single(model, "00 0D 73 00 1112131415161718 20 01 11"), "00 02 73 00");  // byte 0x20 not locked
    EXPECT_EQ(single(model, "00 0E 73 00 1112131415161718 20 02 11 22"), "00 02 73 13");
    EXPECT_EQ(single(model, "00 0C 72 00 1112131415161718 20 02"), "00 05 72 00 00 11 5B");
}

TEST(ModelState, UseDataWordsMapOntoUserMemoryUnderTheAccessPassword) {
    ReaderModel model(testTags());
    EXPECT_EQ(single(model, "00 0C 70 00 00 00 1112131415161718"), "00 02 70 00");  // select the second tag
    EXPECT_EQ(single(model, "00 0A 85 00 00000000 02 01 CA FE"), "00 02 85 12");
    EXPECT_EQ(single(model, "00 0A 85 00 11223344 02 01 CA FE"), "00 02 85 00");
    EXPECT_EQ(single(model, "00 0C 72 00 1112131415161718 04 02"), "00 05 72 00 00 CA FE");
    EXPECT_EQ(single(model, "00 08 84 03 11223344 02 01"), "00 05 84 00 03 CA FE");
}

TEST(ModelState, PasswordsLocksAndEpcWritesActOnTheSelectedTag) {
    ReaderModel model(testTags());
    EXPECT_EQ(single(model, "00 0C 70 00 00 00 1112131415161718"), "00 02 70 00");
    EXPECT_EQ(single(model, "00 09 83 00 11223344 01 AB CD"), "00 02 83 13");  // EPC locked in the file
    EXPECT_EQ(single(model, "00 08 8A 00 11223344 00 02"), "00 02 8A 00");     // unlock the EPC
    EXPECT_EQ(single(model, "00 09 83 00 11223344 01 AB CD"), "00 02 83 00");
    EXPECT_EQ(single(model, "00 0A 88 00 11223344 55667788"), "00 02 88 00");
    EXPECT_EQ(single(model, "00 08 84 00 11223344 00 01"), "00 02 84 12");     // old password refused
    EXPECT_EQ(single(model, "00 08 8A 00 55667788 01 04"), "00 02 8A 00");     // lock the user memory
    EXPECT_EQ(single(model, "00 0A 85 00 55667788 00 01 01 02"), "00 02 85 13");
    EXPECT_EQ(single(model, "00 0E 73 00 1112131415161718 30 02 01 02"), "00 02 73 13");
    EXPECT_EQ(single(model, "00 08 8A 00 55667788 01 00"), "00 02 8A 00");     // lock the access password
    EXPECT_EQ(single(model, "00 0A 88 00 55667788 00000000"), "00 02 88 13");
    model.withState([](ReaderState& s) {
        EXPECT_EQ(s.tags[1].epc, (std::vector<uint8_t>{0xAB, 0xCD}));
        EXPECT_EQ(s.tags[0].epc.size(), 12u);
    });
}

TEST(ModelState, DestroyNeedsTheDestroyPasswordAndRemovesTheTagFromTheField) {
    ReaderModel model(testTags());
    EXPECT_EQ(single(model, "00 06 8B 00 0BADBEEF"), "00 02 8B 00");  // first tag (none selected)
    EXPECT_EQ(single(model, "00 0C 72 00 0102030405060708 00 01"), "00 02 72 11");
    EXPECT_EQ(exchange(model, "00 03 71 00 00").size(), 1u);
    // The second tag, now the first live one, has a zero destroy password.
    EXPECT_EQ(single(model, "00 06 8B 00 00000000"), "00 02 8B 16");
}

TEST(ModelState, TagCommandsNeedTheRfOn) {
    ReaderModel model(testTags());
    EXPECT_EQ(single(model, "00 01 61"), "00 02 61 00");
    EXPECT_EQ(single(model, "00 0C 72 01 0102030405060708 02 03"), "00 02 72 22");
    EXPECT_TRUE(exchange(model, "00 03 71 00 00").empty());
    EXPECT_EQ(single(model, "00 02 60 00"), "00 02 60 00");
    EXPECT_EQ(exchange(model, "00 03 71 00 00").size(), 2u);
}

TEST(ModelState, SystemParametersKeepPowerMacAndNetworkApart) {
    ReaderModel model(testTags());
    EXPECT_EQ(single(model, "00 05 63 03 02 20 21"), "00 02 63 00");                    // power set
    EXPECT_EQ(single(model, "00 09 63 05 06 11 22 33 44 55 66"), "00 02 63 00");        // MAC set
    EXPECT_EQ(single(model, "00 0F 63 06 0C 0A 00 00 05 FF 00 00 00 0A 00 00 01"), "00 02 63 00");
    EXPECT_EQ(single(model, "00 04 63 00 40 AB"), "00 02 63 00");                       // byte-wise set
    EXPECT_EQ(single(model, "00 03 62 03 02"), "00 04 62 00 20 21");
    EXPECT_EQ(single(model, "00 03 62 05 06"), "00 08 62 00 11 22 33 44 55 66");
    EXPECT_EQ(single(model, "00 03 62 06 0C"), "00 0E 62 00 0A 00 00 05 FF 00 00 00 0A 00 00 01");
    EXPECT_EQ(single(model, "00 03 62 40 01"), "00 03 62 00 AB");
    // Count 0 answers the 50 bytes from the address: the power first.
    std::string all = single(model, "00 03 62 03 00");
    EXPECT_EQ(all.substr(0, 17), "00 34 62 00 20 21");
}

TEST(ModelState, ClockRunsOnFromTheTimeSetAcrossMonthEnds) {
    ReaderModel model(testTags());
    EXPECT_EQ(single(model, "00 08 A2 1A 02 1C 17 3B 1E 09", 5000), "00 07 A2 00 09 00 00 00 00");
    // 2026-02-28 23:59:30 plus 45 s.
    EXPECT_EQ(single(model, "00 02 A0 00", 50000), "00 09 A0 00 00 1A 03 01 00 00 0F");
}

TEST(ModelState, InterferenceSetReadsBackUnderEitherCodeAndCloses) {
    ReaderModel model(testTags());
    single(model, "00 04 6A 33 44 01");
    EXPECT_EQ(single(model, "00 02 4C 01"), "00 07 4C 00 01 33 44 00 00");
    single(model, "00 01 4D");
    EXPECT_EQ(single(model, "00 02 6B 01"), "00 07 6B 00 00 33 44 00 00");
}

// ---- Inventories ----------------------------------------------------------------------

struct InventoryCase {
    const char* request;
    const char* firstReport;
};

class ModelInventory : public testing::TestWithParam<InventoryCase> {};

TEST_P(ModelInventory, QueuesOneReportPerTagUnderTheStartCode) {
    ReaderModel model(testTags());
    auto out = model.handle(hex(GetParam().request), 1000);
    ASSERT_EQ(out.size(), 2u);
    for (const auto& o : out) EXPECT_EQ(o.origin, zrsim::Origin::Report);
    EXPECT_EQ(show(out[0].packet), show(hex(GetParam().firstReport)));
    EXPECT_EQ(out[1].packet[2], hex(GetParam().request)[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ModelInventory,
    testing::Values(
        InventoryCase{"00 03 71 00 00", "00 0A 71 00 0102030405060708"},
        InventoryCase{"00 03 D0 02 03", "00 0D D0 00 0102030405060708 A2 A3 A4"},
        InventoryCase{"00 04 49 00 00 00", "00 17 49 00 0102030405060708 0C 300011112222333344445555"},
        InventoryCase{"00 14 4A 00 00 03 00 0A 01 02 3100000000000000 00 00 00 00",
                      "00 0C 4A 00 0102030405060708 A1 A2"},
        InventoryCase{"00 04 81 01 02 03", "00 0F 81 00 0C 300011112222333344445555"},
        InventoryCase{"00 08 82 01 02 03 00 00 00 00", "00 0B 82 00 08 E2003412AABBCCDD"}),
    [](const testing::TestParamInfo<InventoryCase>& info) { return "code" + zrsim::toHex(hex(info.param.request).data() + 2, 1); });

TEST(ModelInventory, TagFilterPassesOnlyMatchingEpcs) {
    ReaderModel model(testTags());
    // EPC byte 2 must be 0x99 (mask FF at byte 2 only).
    EXPECT_EQ(single(model, "00 1A 8E 00 000099000000000000000000 0000FF000000000000000000"), "00 03 8E 00 00");
    auto out = model.handle(hex("00 03 71 00 00"), 1000);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(show(out[0].packet), "00 0A 71 00 11 12 13 14 15 16 17 18");
    single(model, "00 02 8E 01");
    EXPECT_EQ(model.handle(hex("00 03 71 00 00"), 1000).size(), 2u);
}

TEST(ModelInventory, TimeFilterHoldsBackTagsReportedWithinTheWindow) {
    ReaderModel model(testTags());
    single(model, "00 04 8F 00 00 0A", 0);  // one second
    EXPECT_EQ(model.handle(hex("00 03 71 00 00"), 1000).size(), 2u);
    EXPECT_EQ(model.handle(hex("00 04 81 00 00 00"), 1999).size(), 0u);
    EXPECT_EQ(model.handle(hex("00 04 81 00 00 00"), 2000).size(), 2u);
    single(model, "00 02 8F 01", 2001);
    EXPECT_EQ(model.handle(hex("00 03 71 00 00"), 2002).size(), 2u);
}

// ---- Messages on the reader's initiative -------------------------------------------------

TEST(ModelMessages, AlarmMessagesFollowTheIntervalWhileTheAlarmRuns) {
    ReaderModel model(testTags());
    model.withState([](ReaderState& s) { s.alarmIntervalMs = 100; });
    EXPECT_TRUE(model.tick(1000).empty());
    single(model, "00 04 8D 09 01", 1000);
    EXPECT_TRUE(model.tick(1050).empty());
    auto first = model.tick(1100);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(show(first[0].packet), "00 05 8D 00 09 01 00");  // value, sequence, EAS value
    EXPECT_EQ(model.tick(1200).size(), 1u);
    single(model, "00 04 8D 09 00", 1250);
    EXPECT_TRUE(model.tick(1400).empty());
}

TEST(ModelMessages, ListenMessageIsAcknowledgedOnlyWithItsOwnBytes) {
    ReaderModel model(testTags());
    single(model, "00 02 A3 2A");
    Packet m = model.listenMessage(1000);
    ASSERT_EQ(m.size(), 26u);
    EXPECT_EQ(show(Packet(m.begin(), m.begin() + 11)), "00 18 A1 2A 01 01 02 03 04 05 06");
    Packet ack{0x00, 0x0B, 0xA1, 0x00};
    ack.insert(ack.end(), m.begin() + 3, m.begin() + 11);
    ack.push_back(m[12]);
    Packet wrong = ack;
    wrong[5] ^= 1;
    Packet rejected = ack;
    rejected[3] = 0x3F;
    EXPECT_TRUE(model.handle(wrong, 1001).empty());
    EXPECT_TRUE(model.handle(rejected, 1002).empty());
    EXPECT_TRUE(model.handle(ack, 1003).empty());
    EXPECT_TRUE(model.handle(ack, 1004).empty());  // acknowledged already
    model.withState([](ReaderState& s) {
        EXPECT_EQ(s.acksAccepted, 1);
        EXPECT_EQ(s.acksRejected, 1);
        EXPECT_EQ(s.acksUnmatched, 2);
        EXPECT_TRUE(s.unacknowledged.empty());
    });
}

TEST(ModelMessages, ListenTimerSendsMessagesPeriodically) {
    ReaderModel model(testTags());
    model.withState([](ReaderState& s) { s.listenIntervalMs = 200; });
    EXPECT_TRUE(model.tick(1000).empty());  // arms the timer
    EXPECT_TRUE(model.tick(1100).empty());
    auto due = model.tick(1200);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].origin, zrsim::Origin::Listen);
    EXPECT_EQ(due[0].packet[2], 0xA1);
}

// ---- Tag files and fault rules ----------------------------------------------------------

TEST(TagFile, RejectsBadLinesWithTheirNumber) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"id=0102\n", "line 1: id needs 8 hex bytes"},
        {"\nid=0102030405060708 epc=ABC\n", "line 2: epc needs an even number of hex bytes, at most 62"},
        {"id=0102030405060708 epc=AB\n", "line 1: epc needs an even number of hex bytes, at most 62"},
        {"epc=ABCD\n", "line 1: a tag needs its id"},
        {"id=0102030405060708 colour=red\n", "line 1: unknown field 'colour'"},
        {"id=0102030405060708 locked=epc,door\n", "line 1: locked takes access,destroy,epc,tid,user or none"},
        {"id=0102030405060708 loose\n", "line 1: 'loose' is not key=value"},
    };
    for (const auto& c : cases) {
        std::vector<zrsim::Tag> tags;
        std::string error;
        EXPECT_FALSE(zrsim::parseTagFile(c.text, tags, error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

TEST(TagFile, ReadsEveryField) {
    auto tags = testTags();
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(zrsim::toHex(tags[0].destroyPassword.data(), 4, ""), "0BADBEEF");
    EXPECT_EQ(tags[0].user[7], 0xA7);
    EXPECT_EQ(tags[0].user[8], 0x00);
    EXPECT_TRUE(tags[1].areaLocked(zrsim::kLockEpc));
    EXPECT_FALSE(tags[1].areaLocked(zrsim::kLockUser));
    EXPECT_EQ(zrsim::toHex(tags[1].tid, ""), "E2003412CAFEF00D");
}

TEST(TagFile, GeneratedFieldsDependOnlyOnTheSeed) {
    auto a = zrsim::generateTags(50, 7), b = zrsim::generateTags(50, 7), c = zrsim::generateTags(50, 8);
    EXPECT_EQ(a[10].epc, b[10].epc);
    EXPECT_NE(a[10].epc, c[10].epc);
    std::vector<std::array<uint8_t, 8>> ids;
    for (const auto& t : a) ids.push_back(t.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
}

TEST(FaultRules, ParseTheTextForm) {
    struct Case {
        const char* text;
        bool ok;
        int code;
        const char* described;
        int remaining;
    } cases[] = {
        {"0x72:crc", true, 0x72, "crc", -1},
        {"62:delay=300:times=2", true, 0x62, "delay=300", 2},
        {"*:split=1,3", true, -1, "split=1,3", -1},
        {"8D:status=3f", true, 0x8D, "status=63", -1},
        {"71:garbage=5", true, 0x71, "garbage=5", -1},
        {"71:disconnect:times=1", true, 0x71, "disconnect", 1},
        {"100:crc", false, 0, "", 0},
        {"72:crc=1", false, 0, "", 0},
        {"72:delay", false, 0, "", 0},
        {"72:split=0", false, 0, "", 0},
        {"72:explode", false, 0, "", 0},
        {"72:drop:times=0", false, 0, "", 0},
        {"72", false, 0, "", 0},
    };
    for (const auto& c : cases) {
        zrsim::FaultRule rule;
        std::string error;
        ASSERT_EQ(zrsim::parseFaultRule(c.text, rule, error), c.ok) << c.text << " " << error;
        if (!c.ok) continue;
        EXPECT_EQ(rule.code, c.code) << c.text;
        EXPECT_EQ(zrsim::describeFault(rule.fault), c.described);
        EXPECT_EQ(rule.remaining, c.remaining) << c.text;
    }
}

TEST(FaultRules, CountedRulesRunOutAndOthersStay) {
    zrsim::FaultPlan plan;
    zrsim::FaultRule once, always;
    std::string error;
    ASSERT_TRUE(zrsim::parseFaultRule("72:crc:times=1", once, error));
    ASSERT_TRUE(zrsim::parseFaultRule("62:drop", always, error));
    plan.add(once);
    plan.add(always);
    EXPECT_FALSE(plan.take(0x71).has_value());
    EXPECT_TRUE(plan.take(0x72).has_value());
    EXPECT_FALSE(plan.take(0x72).has_value());
    EXPECT_TRUE(plan.take(0x62).has_value());
    EXPECT_TRUE(plan.take(0x62).has_value());
    EXPECT_EQ(plan.ruleCount(), 1u);
}

TEST(FaultRules, RandomFaultsAreReproducibleFromTheSeed) {
    auto draw = [](uint32_t seed) {
        zrsim::FaultPlan plan;
        plan.setRandom(0.3, seed);
        std::string kinds;
        for (int i = 0; i < 200; ++i) {
            auto f = plan.take(0x62);
            kinds += f ? zrsim::describeFault(*f)[0] : '-';
        }
        return kinds;
    };
    std::string a = draw(5);
    EXPECT_EQ(a, draw(5));
    EXPECT_NE(a, draw(6));
    size_t faulted = static_cast<size_t>(std::count_if(a.begin(), a.end(), [](char c) { return c != '-'; }));
    EXPECT_GT(faulted, 30u);
    EXPECT_LT(faulted, 100u);
}

// ---- The servers --------------------------------------------------------------------------

std::vector<uint8_t> protectedPacket(const Packet& p) {
    std::vector<uint8_t> out(p.size() + 2);
    zr::link::buildProtectedPacket(p.data(), p.size(), out.data());
    return out;
}

std::vector<uint8_t> linkFrame(const Packet& p) {
    std::vector<uint8_t> out(zr::link::maxLinkFrameLength(p.size()));
    out.resize(zr::link::buildLinkFrame(p.data(), p.size(), out.data()));
    return out;
}

// Reads what arrives on `fd` until `enough` says so or `ms` pass.
template <class Enough>
std::vector<uint8_t> readUntil(int fd, int ms, Enough enough) {
    std::vector<uint8_t> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!enough(got)) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        uint8_t buffer[512];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// Loopback addresses 127.0.9.x for these tests, chosen from the pid.
std::string testAddress(int salt) {
    return "127.0.9." + std::to_string(2 + (getpid() * 7 + salt) % 200);
}

class SimServer : public testing::Test {
protected:
    void startWith(zrsim::SimulatorOptions options) {
        options.tags = testTags();
        options.tcpAddressSearch = 50;
        sim_ = std::make_unique<zrsim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->start(error)) << error;
    }
    int connectTcp(size_t reader = 0) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(7086);
        inet_pton(AF_INET, sim_->tcpAddress(reader).c_str(), &sa.sin_addr);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        fds_.push_back(fd);
        return fd;
    }
    std::vector<uint8_t> tcpExchange(int fd, const std::string& request, size_t expect, int ms = 1000) {
        auto bytes = protectedPacket(hex(request));
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        return readUntil(fd, ms, [&](const std::vector<uint8_t>& g) { return g.size() >= expect; });
    }
    void TearDown() override {
        for (int fd : fds_) close(fd);
        if (sim_) sim_->stop();
    }
    std::unique_ptr<zrsim::Simulator> sim_;
    std::vector<int> fds_;
};

TEST_F(SimServer, PtyAnswersALinkFrameWithAFramedReply) {
    zrsim::SimulatorOptions o;
    o.pty = true;
    o.ptyLink = "/tmp/zrsim-test-tty-" + std::to_string(getpid());
    startWith(o);
    char target[256] = {};
    ASSERT_GT(readlink(o.ptyLink.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim_->ptyPath());
    int fd = open(o.ptyLink.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    fds_.push_back(fd);
    // 0x56 in the data exercises the stuffing both ways.
    auto frame = linkFrame(hex("00 0E 73 00 0102030405060708 10 02 55 56"));
    ASSERT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    auto reply = readUntil(fd, 1000, [](const std::vector<uint8_t>& g) { return g.size() >= 7; });
    EXPECT_EQ(show(reply), show(linkFrame(hex("00 02 73 00"))));
    frame = linkFrame(hex("00 0C 72 00 0102030405060708 10 02"));
    ASSERT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    auto expected = linkFrame(hex("00 05 72 00 00 55 56"));
    reply = readUntil(fd, 1000, [&](const std::vector<uint8_t>& g) { return g.size() >= expected.size(); });
    EXPECT_EQ(show(reply), show(expected));
    sim_->stop();
    EXPECT_NE(access(o.ptyLink.c_str(), F_OK), 0);  // the link goes with the simulator
}

TEST_F(SimServer, TcpAnswersWithTheProtectedReplyAndPushesReports) {
    zrsim::SimulatorOptions o;
    o.tcpAddresses = {testAddress(1)};
    startWith(o);
    int fd = connectTcp();
    EXPECT_EQ(show(tcpExchange(fd, "00 03 62 03 02", 8)), show(protectedPacket(hex("00 04 62 00 1E 1E"))));
    auto reports = tcpExchange(fd, "00 03 71 00 00", 24);
    auto first = protectedPacket(hex("00 0A 71 00 0102030405060708"));
    auto second = protectedPacket(hex("00 0A 71 00 1112131415161718"));
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(show(reports), show(first));
    // A second host on the same reader gets its own replies, and sees the state the first one changed.
    int other = connectTcp();
    EXPECT_EQ(show(tcpExchange(other, "00 05 63 03 02 07 08", 6)), show(protectedPacket(hex("00 02 63 00"))));
    EXPECT_EQ(show(tcpExchange(fd, "00 03 62 03 02", 8)), show(protectedPacket(hex("00 04 62 00 07 08"))));
    EXPECT_EQ(sim_->clientCount(), 2u);
}

TEST_F(SimServer, UsbStandInTakesFramesAndHandsOutReplyBytesOneByOne) {
    char folder[] = "/tmp/zrsim-usb-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    zrsim::SimulatorOptions o;
    o.usbFolder = folder;
    startWith(o);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strcpy(sa.sun_path, sim_->usbDevicePath().c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    fds_.push_back(fd);
    auto request = [&](uint32_t code, const std::vector<uint8_t>& input) {
        std::vector<uint8_t> m{uint8_t(code), uint8_t(code >> 8), uint8_t(code >> 16), uint8_t(code >> 24)};
        m.insert(m.end(), input.begin(), input.end());
        EXPECT_EQ(send(fd, m.data(), m.size(), 0), static_cast<ssize_t>(m.size()));
        uint8_t answer[16];
        ssize_t n = recv(fd, answer, sizeof answer, 0);
        return std::vector<uint8_t>(answer, answer + std::max<ssize_t>(n, 0));
    };
    EXPECT_EQ(show(request(0x220004, {})), "00");  // nothing waiting
    EXPECT_EQ(show(request(0x220000, linkFrame(hex("00 03 62 21 01")))), "01");
    std::vector<uint8_t> got;
    for (int i = 0; i < 20; ++i) {
        auto a = request(0x220004, {});
        if (a.size() != 2 || a[0] != 1) break;
        got.push_back(a[1]);
    }
    EXPECT_EQ(show(got), show(linkFrame(hex("00 03 62 00 03"))));
    EXPECT_EQ(show(request(0x220008, {})), "00");  // unknown control code
    sim_->stop();
    rmdir(folder);
}

TEST_F(SimServer, FaultsChangeWhatGoesOnTheWire) {
    zrsim::SimulatorOptions o;
    o.tcpAddresses = {testAddress(2)};
    startWith(o);
    int fd = connectTcp();
    const std::string query = "00 03 62 03 02";
    auto good = protectedPacket(hex("00 04 62 00 1E 1E"));
    auto enough = [](size_t n) { return [n](const std::vector<uint8_t>& g) { return g.size() >= n; }; };

    EXPECT_EQ(sim_->control("fault 62:crc:times=1"), "ok");
    auto crc = tcpExchange(fd, query, good.size());
    ASSERT_EQ(crc.size(), good.size());
    EXPECT_FALSE(zr::link::protectedPacketValid(crc.data(), crc.size()));

    EXPECT_EQ(sim_->control("fault 62:code:times=1"), "ok");
    auto code = tcpExchange(fd, query, good.size());
    EXPECT_EQ(show(code), show(protectedPacket(hex("00 04 63 00 1E 1E"))));

    EXPECT_EQ(sim_->control("fault 62:stale:times=1"), "ok");
    auto twice = tcpExchange(fd, query, 2 * good.size());
    auto expectedTwice = good;
    expectedTwice.insert(expectedTwice.end(), good.begin(), good.end());
    EXPECT_EQ(show(twice), show(expectedTwice));

    EXPECT_EQ(sim_->control("fault 62:garbage=3:times=1"), "ok");
    auto garbage = tcpExchange(fd, query, good.size() + 3);
    ASSERT_EQ(garbage.size(), good.size() + 3);
    EXPECT_EQ(show({garbage.begin() + 3, garbage.end()}), show(good));

    EXPECT_EQ(sim_->control("fault 62:status=3f:times=1"), "ok");
    EXPECT_EQ(show(tcpExchange(fd, query, 6)), show(protectedPacket(hex("00 02 62 3F"))));

    EXPECT_EQ(sim_->control("fault 62:drop:times=1"), "ok");
    EXPECT_TRUE(tcpExchange(fd, query, 1, 150).empty());

    EXPECT_EQ(sim_->control("fault 62:delay=120:times=1"), "ok");
    auto start = std::chrono::steady_clock::now();
    auto late = tcpExchange(fd, query, good.size());
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(show(late), show(good));
    EXPECT_GE(waited, std::chrono::milliseconds(110));

    EXPECT_EQ(sim_->control("fault 62:split=1,4:times=1"), "ok");
    auto bytes = protectedPacket(hex(query));
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    auto piece1 = readUntil(fd, 500, enough(1));
    auto piece2 = readUntil(fd, 500, enough(3));
    auto piece3 = readUntil(fd, 500, enough(4));
    EXPECT_EQ(piece1.size(), 1u);
    EXPECT_EQ(piece2.size(), 3u);
    piece1.insert(piece1.end(), piece2.begin(), piece2.end());
    piece1.insert(piece1.end(), piece3.begin(), piece3.end());
    EXPECT_EQ(show(piece1), show(good));

    EXPECT_EQ(sim_->control("fault 62:disconnect:times=1"), "ok");
    bytes = protectedPacket(hex(query));
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    uint8_t b;
    EXPECT_EQ(read(fd, &b, 1), 0);  // closed by the reader
}

TEST_F(SimServer, HeldBackRepliesKeepTheirOrderOnTheConnection) {
    zrsim::SimulatorOptions o;
    o.tcpAddresses = {testAddress(5)};
    startWith(o);
    int fd = connectTcp();
    ASSERT_EQ(sim_->control("fault 71:split=3:times=1"), "ok");
    ASSERT_EQ(sim_->control("fault 62:delay=40:times=1"), "ok");
    auto a = protectedPacket(hex("00 03 71 00 00")), b = protectedPacket(hex("00 03 62 03 02"));
    a.insert(a.end(), b.begin(), b.end());
    ASSERT_EQ(write(fd, a.data(), a.size()), static_cast<ssize_t>(a.size()));
    std::vector<uint8_t> expected;
    for (const char* p : {"00 0A 71 00 0102030405060708", "00 0A 71 00 1112131415161718", "00 04 62 00 1E 1E"}) {
        auto bytes = protectedPacket(hex(p));
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    auto got = readUntil(fd, 1000, [&](const std::vector<uint8_t>& g) { return g.size() >= expected.size(); });
    EXPECT_EQ(show(got), show(expected));
}

TEST_F(SimServer, ControlChannelReportsAndChangesState) {
    zrsim::SimulatorOptions o;
    o.tcpAddresses = {testAddress(3)};
    startWith(o);
    EXPECT_EQ(sim_->control("listen"), "error no host has talked to this reader yet");
    EXPECT_EQ(sim_->control("rf off"), "ok");
    EXPECT_EQ(sim_->control("inputs 5A"), "ok");
    EXPECT_EQ(sim_->control("fault 62:explode").rfind("error", 0), 0u);
    EXPECT_EQ(sim_->control("state reader=1"), "error no reader 1");
    std::string state = sim_->control("state");
    EXPECT_NE(state.find("rf=off"), std::string::npos) << state;
    EXPECT_NE(state.find("inputs=5A"), std::string::npos) << state;
    int fd = connectTcp();
    EXPECT_EQ(show(tcpExchange(fd, "00 02 D2 01", 7)), show(protectedPacket(hex("00 03 D2 00 5A"))));
    EXPECT_EQ(sim_->control("listen"), "ok");
    auto message = readUntil(fd, 1000, [](const std::vector<uint8_t>& g) { return g.size() >= 28; });
    ASSERT_EQ(message.size(), 28u);
    EXPECT_EQ(message[2], 0xA1);
    EXPECT_TRUE(zr::link::protectedPacketValid(message.data(), message.size()));
}

TEST_F(SimServer, HundredTcpReadersAnswerAtOnceEachWithItsOwnState) {
    zrsim::SimulatorOptions o;
    for (int i = 0; i < 100; ++i) o.tcpAddresses.push_back("127.0.10." + std::to_string(i + 2));
    o.tags = testTags();
    sim_ = std::make_unique<zrsim::Simulator>(o);
    std::string error;
    if (!sim_->start(error)) GTEST_SKIP() << "addresses 127.0.10.x taken: " << error;
    std::vector<int> fds;
    for (size_t i = 0; i < 100; ++i) fds.push_back(connectTcp(i));
    for (size_t i = 0; i < 100; ++i) {
        std::string set = "00 05 63 03 02 " + zrsim::toHex(std::vector<uint8_t>{uint8_t(i), uint8_t(i)});
        auto bytes = protectedPacket(hex(set));
        ASSERT_EQ(write(fds[i], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    for (size_t i = 0; i < 100; ++i) {
        auto ack = readUntil(fds[i], 1000, [](const std::vector<uint8_t>& g) { return g.size() >= 6; });
        EXPECT_EQ(show(ack), show(protectedPacket(hex("00 02 63 00"))));
    }
    for (size_t i = 0; i < 100; ++i)
        EXPECT_EQ(sim_->reader(i).withState([](ReaderState& s) { return s.power(); }),
                  (std::vector<uint8_t>{uint8_t(i), uint8_t(i)}));
}

TEST_F(SimServer, RepliesWithoutWaiting) {
    zrsim::SimulatorOptions o;
    o.tcpAddresses = {testAddress(4)};
    startWith(o);
    int fd = connectTcp();
    std::vector<int64_t> micros;
    for (int i = 0; i < 50; ++i) {
        auto start = std::chrono::steady_clock::now();
        auto reply = tcpExchange(fd, "00 03 62 03 02", 8);
        micros.push_back(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
        ASSERT_EQ(reply.size(), 8u);
    }
    std::sort(micros.begin(), micros.end());
    // The median round trip, client included, stays far below a scheduler tick.
    EXPECT_LT(micros[25], 2000) << "median " << micros[25] << " us";
    RecordProperty("median_round_trip_us", static_cast<int>(micros[25]));
}

}  // namespace
