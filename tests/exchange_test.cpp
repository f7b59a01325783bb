// The shared exchange machinery: packet building, the three exchange shapes,
// the acceptance checks, the status mapping and the handle frame.
#include <gtest/gtest.h>

#include "protocol/exchange.h"
#include "support/fake_link.h"

using namespace zr;
using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::hex;
using zr::test::unhex;

namespace {

// ---- Status mapping -------------------------------------------------------------

// Expected result of a Status byte, written from the mapping table row by row.
int expectedStatus(int s, bool class3) {
    if (s == 0) return 1;
    if (s >= 0x01 && s <= 0x09) return 1000 + s;
    if (s >= 0x11 && s <= 0x16) return 1010 + (s - 0x11);
    if (s >= 0x20 && s <= 0x26) return 2001 + (s - 0x20);
    if (class3) return (s >= 0x60 && s <= 0x69) ? 3001 + (s - 0x60) : -20;
    if (s >= 0x90 && s <= 0x9C) return 4001 + (s - 0x90);
    if (s == 0x3A) return -7;
    if (s == 0x3F) return -5;
    return -20;
}

TEST(StatusMapping, EveryStatusByteInBothDeviceClassColumns) {
    for (int s = 0; s < 256; ++s) {
        EXPECT_EQ(mapStatus(static_cast<uint8_t>(s), 3), expectedStatus(s, true)) << "status " << s;
        for (uint8_t cls : {1, 2})
            EXPECT_EQ(mapStatus(static_cast<uint8_t>(s), cls), expectedStatus(s, false))
                << "status " << s << " class " << int(cls);
    }
}

TEST(StatusMapping, NamedRowsOfTheTable) {
    struct Row {
        uint8_t status;
        int class3, other;
    } rows[] = {
        {0x00, 1, 1},       {0x09, 1009, 1009},   {0x11, 1010, 1010}, {0x16, 1015, 1015}, {0x26, 2007, 2007},
        {0x3A, -20, -7},    {0x3F, -20, -5},      {0x60, 3001, -20},  {0x69, 3010, -20},  {0x90, -20, 4001},
        {0x9C, -20, 4013},  {0x0A, -20, -20},     {0x27, -20, -20},   {0x10, -20, -20},   {0xFF, -20, -20},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(mapStatus(r.status, 3), r.class3) << int(r.status);
        EXPECT_EQ(mapStatus(r.status, 1), r.other) << int(r.status);
    }
}

TEST(DeviceClass, FamilyCodesChooseTheMappingAndOthersAreRefused) {
    EXPECT_EQ(ZRSetDeviceClass(-1, 800), 1);  // the port handle is not used
    EXPECT_EQ(deviceClass(), 3);
    EXPECT_EQ(ZRSetDeviceClass(0, 500), 1);
    EXPECT_EQ(deviceClass(), 1);
    EXPECT_EQ(ZRSetDeviceClass(0, 700), -9);
    EXPECT_EQ(deviceClass(), 1) << "an unknown family code leaves the class";
    EXPECT_EQ(ZRSetDeviceClass(0, 600), 1);
    EXPECT_EQ(deviceClass(), 2);
    EXPECT_EQ(mapStatus(0x3F), -5);
    EXPECT_EQ(ZRSetDeviceClass(0, 800), 1);
    EXPECT_EQ(mapStatus(0x3F), -20);
}

// ---- Packet ---------------------------------------------------------------------

TEST(Packet, LengthFieldFollowsTheBytesAndBytesUseTheLowEightBits) {
    EXPECT_EQ(hex(Packet(0x6C).data(), Packet(0x6C).size()), "00 01 6C");
    Packet p(0x71);
    p.byte(0x1FF).byte(-1);
    EXPECT_EQ(hex(p.data(), p.size()), "00 03 71 FF FF");
    Packet big(0x73);
    Bytes data(300, 0xAB);
    big.bytes(data.data(), data.size());
    EXPECT_EQ(big.size(), 256) << "never grows past its 256 bytes";
    EXPECT_EQ(big.data()[0] * 256 + big.data()[1], 254);
}

// ---- Polled exchange ------------------------------------------------------------

int pollOnce(FakeReader& reader, const Poll& p, Reply& reply, uint8_t code = 0x62) {
    return withCall(reader.port(), [&](Call& call) {
        call.poll(Packet(code).byte(3).byte(0), p, reply);
        return judge(reply, code);
    });
}

TEST(PolledExchange, SilentReaderCostsExactlyTriesPausesAndGivesNoReply) {
    for (int tries : {1, 20, 25, 100, 255}) {
        FakeReader reader(LinkKind::Serial, tries);
        Reply reply;
        EXPECT_EQ(pollOnce(reader, {.tries = tries, .pauseMs = 20}, reply), -4);
        EXPECT_EQ(reader.log().pauses, std::vector<int>(tries, 20)) << tries;
        EXPECT_EQ(reader.log().receives, tries);
        EXPECT_EQ(reader.log().sent.size(), 1u) << "the request is never sent again";
    }
}

TEST(PolledExchange, PauseComesBeforeEveryTryAndTheLoopStopsAtTheFirstEcho) {
    FakeReader reader(LinkKind::Usb);
    reader.silence(2).reply(unhex("00 04 62 00 0A 0B")).reply(unhex("00 02 62 00"));
    Reply reply;
    EXPECT_EQ(pollOnce(reader, {.tries = 25, .pauseMs = 10}, reply), 1);
    EXPECT_EQ(reader.log().events,
              (std::vector<std::string>{"send", "pause 10", "receive", "pause 10", "receive", "pause 10", "receive"}));
    EXPECT_EQ(reply.count, 8);
}

TEST(PolledExchange, TcpReplyWithAnotherCodeKeepsThePolling) {
    FakeReader reader(LinkKind::Tcp);
    reader.reply(unhex("00 02 71 00")).reply(unhex("00 02 62 21"));
    Reply reply;
    EXPECT_EQ(pollOnce(reader, {.tries = 5, .pauseMs = 20}, reply), 2002);
    EXPECT_EQ(reader.log().receives, 2);
}

TEST(PolledExchange, WithoutEchoRuleTheFirstLongEnoughReplyEndsTheLoop) {
    FakeReader reader(LinkKind::Tcp);
    reader.reply(unhex("00 02 71 00")).reply(unhex("00 02 62 00"));
    Reply reply;
    withCall(reader.port(), [&](Call& call) {
        return call.poll(Packet(0x62), {.tries = 5, .pauseMs = 20, .stopOnEcho = false}, reply);
    });
    EXPECT_EQ(reader.log().receives, 1);
    EXPECT_EQ(reply.code(), 0x71);
}

TEST(PolledExchange, LengthCheckRefusesACountThatIsNotLengthPlusFourOnlyWhereItApplies) {
    // Length field 3 but only 6 bytes arrive (count = length + 3).
    const Bytes shortReply = zr::test::withCrc(unhex("00 03 62 00"));
    for (bool lengthCheck : {true, false}) {
        FakeReader reader(LinkKind::Tcp);
        reader.replyRaw(shortReply);
        Reply reply;
        int r = withCall(reader.port(), [&](Call& call) {
            call.poll(Packet(0x62), {.tries = 3, .pauseMs = 5}, reply);
            return judge(reply, 0x62, {.lengthCheck = lengthCheck});
        });
        EXPECT_EQ(r, lengthCheck ? -4 : 1);
    }
}

// ---- The handle frame -----------------------------------------------------------

TEST(HandleFrame, ClosedUnknownAndOtherLinkHandlesAreRefusedWithoutTouchingTheLink) {
    FakeReader reader(LinkKind::Serial);
    int ran = 0;
    auto body = [&](Call&) { return ++ran, 1; };
    EXPECT_EQ(withCall(-1, body), -1);
    EXPECT_EQ(withCall(1, body), -1) << "a handle the library did not open";
    EXPECT_EQ(withCall(-1, body, 0), 0) << "exports may return another code for a closed handle";
    reader.editSettings([](config::ReaderSettings& s) { s.portType = "TCP"; });
    EXPECT_EQ(withCall(reader.port(), body), -1) << "a serial handle is not driven as TCP";
    EXPECT_EQ(ran, 0);
    reader.editSettings([](config::ReaderSettings& s) { s.portType = "COM"; });
    EXPECT_EQ(withCall(reader.port(), body), 1);
}

TEST(HandleFrame, AnyPortTypeOtherThanComOrUsbSelectsTcp) {
    config::ReaderSettings s;
    for (const char* t : {"TCP", "tcp", "Com", "usb", "0", "NET"}) {
        s.portType = t;
        EXPECT_EQ(selectedLinkKind(s), LinkKind::Tcp) << t;
    }
    s.portType = "COM";
    EXPECT_EQ(selectedLinkKind(s), LinkKind::Serial);
    s.portType = "USB";
    EXPECT_EQ(selectedLinkKind(s), LinkKind::Usb);
}

}  // namespace
