// The C++ interface (zrreader.hpp): result names, the error model, report
// sizes and the owning reader, over the fake link and a test peer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_link.h"
#include "support/reader_peer.h"
#include "zrreader.hpp"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::unhex;

namespace {

TEST(ResultNames, LibraryCodesByMacroNameReaderStatusesByStatusByte) {
    const struct {
        int code;
        const char* name;
    } rows[] = {
        {1, "ZR_OK"},
        {0, "ZR_NOTHING"},
        {-1, "ZR_CLOSED"},
        {-2, "ZR_ERR_RANGE"},
        {-3, "ZR_ERR_EPC_LENGTH"},
        {-4, "ZR_ERR_NO_REPLY"},
        {-5, "ZR_ERR_ARGUMENT"},
        {-7, "ZR_ERR_STATUS_3A"},
        {-8, "ZR_ERR_REPORT_STATUS"},
        {-9, "ZR_ERR_FAMILY"},
        {-10, "ZR_ERR_ALREADY_OPEN"},
        {-11, "ZR_ERR_CONFIG"},
        {-12, "ZR_ERR_CONNECT_TIMEOUT"},
        {-13, "ZR_ERR_OPEN"},
        {-15, "ZR_ERR_LENGTH"},
        {-20, "ZR_ERR_UNKNOWN_STATUS"},
        {242, "ZR_ERR_CLOSE"},
        // Each range of the status mapping at both ends.
        {1001, "status 0x01"},
        {1009, "status 0x09"},
        {1010, "status 0x11"},
        {1015, "status 0x16"},
        {2001, "status 0x20"},
        {2002, "status 0x21"},
        {2007, "status 0x26"},
        {3001, "status 0x60"},
        {3010, "status 0x69"},
        {4001, "status 0x90"},
        {4013, "status 0x9C"},
        // Just outside the ranges: no status byte maps there.
        {1000, "result 1000"},
        {1016, "result 1016"},
        {2008, "result 2008"},
        {3011, "result 3011"},
        {4014, "result 4014"},
        {-6, "result -6"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(zr::resultName(row.code), row.name) << row.code;
        EXPECT_EQ(zr::readerStatusOf(row.code).has_value(), std::string(row.name).rfind("status", 0) == 0)
            << row.code;
    }
}

TEST(ErrorModel, AReaderStatusCarriesCodeNameTextAndExport) {
    FakeReader reader(LinkKind::Tcp);
    reader.reply(unhex("00 02 62 21"));
    zr::Port port(reader.port());
    try {
        port.powerQuery();
        FAIL() << "status 0x21 must throw";
    } catch (const zr::Error& e) {
        EXPECT_EQ(e.code(), 2002);
        EXPECT_EQ(e.name(), "status 0x21");
        EXPECT_EQ(e.readerStatus(), 0x21);
        EXPECT_EQ(e.text(), ZRResultText(2002));
        EXPECT_EQ(e.operation(), "ZRPowerQuery");
        EXPECT_EQ(std::string(e.what()), std::string("ZRPowerQuery: status 0x21 (2002): ") + ZRResultText(2002));
    }
}

TEST(ErrorModel, LocalFailuresThrowTheirCodes) {
    FakeReader reader(LinkKind::Serial, 20);
    reader.silence(20);
    zr::Port port(reader.port());
    try {
        port.powerOff();
        FAIL();
    } catch (const zr::Error& e) {
        EXPECT_EQ(e.code(), ZR_ERR_NO_REPLY);
        EXPECT_EQ(e.name(), "ZR_ERR_NO_REPLY");
        EXPECT_FALSE(e.readerStatus());
    }
    try {
        zr::Port().reset();
        FAIL();
    } catch (const zr::Error& e) {
        EXPECT_EQ(e.code(), ZR_CLOSED);
        EXPECT_EQ(e.operation(), "ZRReset");
    }
    try {
        zr::setDeviceClass(700);
        FAIL();
    } catch (const zr::Error& e) {
        EXPECT_EQ(e.code(), ZR_ERR_FAMILY);
    }
}

TEST(ErrorModel, SendOnlyExportsReturnTheCountAndThrowWhenNothingWentOut) {
    FakeReader reader(LinkKind::Tcp);
    zr::Port port(reader.port());
    EXPECT_EQ(port.identify(1, 2), 7);
    EXPECT_EQ(port.reset(), 5);
    reader.setSendResult(0);
    try {
        port.identify(1, 2);
        FAIL() << "a send count of 0 is a failure";
    } catch (const zr::Error& e) {
        EXPECT_EQ(e.code(), ZR_NOTHING);
        EXPECT_EQ(e.operation(), "ZRIdentify");
    }
}

TEST(Reports, NoReportWaitingIsNulloptAndReportsHaveTheirExactSize) {
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp}) {
        FakeReader reader(kind);
        reader.reply(unhex("00 04 71 00 AA BB")).reply(unhex("00 02 71 00")).silence();
        zr::Port port(reader.port());
        EXPECT_EQ(port.report(), Bytes({0x00, 0xAA, 0xBB}));
        EXPECT_EQ(port.report(), Bytes({0x00})) << "a shorter report after a longer one";
        EXPECT_EQ(port.report(), std::nullopt);
    }
}

TEST(Reports, WholePacketReportsAndRefusedReports) {
    FakeReader reader(LinkKind::Tcp);
    reader.reply(unhex("00 03 81 00 AA"));
    reader.reply(unhex("00 04 49 01 AA BB"));  // long report with a non-zero status
    zr::Port port(reader.port());
    EXPECT_EQ(port.epcCodeReport(), unhex("00 03 81 00 AA"));
    try {
        port.longReport();
        FAIL();
    } catch (const zr::Error& e) {
        EXPECT_EQ(e.code(), ZR_ERR_REPORT_STATUS);
    }
}

TEST(Outputs, VectorsAndArraysHoldWhatTheExportCopied) {
    FakeReader reader(LinkKind::Serial);
    reader.reply(unhex("00 05 62 00 11 22 33"));
    reader.reply(unhex("00 07 72 00 99 D0 D1 D2 D3"));
    reader.reply(unhex("00 05 6B 00 01 AA BB"));
    zr::Port port(reader.port());
    EXPECT_EQ(port.sysQuery(0x10, 3), unhex("11 22 33"));
    const zr::TagId tag = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(port.readUserDataOnce(1, 0x10, 4, tag), unhex("D0 D1 D2 D3"));
    EXPECT_EQ(port.getInterfere(), (std::array<uint8_t, 2>{0xAA, 0xBB}));
    EXPECT_EQ(reader.sentHex()[1], "00 0C 72 01 01 02 03 04 05 06 07 08 10 04");
}

TEST(Outputs, ListenWithoutMessageIsNullopt) {
    FakeReader reader(LinkKind::Tcp);
    reader.silence();
    EXPECT_EQ(zr::Port(reader.port()).listenReader(), std::nullopt);
}

TEST(Inputs, WhatTheCInterfaceCannotCarryIsRefusedBeforeSending) {
    FakeReader reader(LinkKind::Tcp);
    zr::Port port(reader.port());
    const zr::TagId tag{};
    const zr::Password password{};
    const auto expectLength = [](auto call) {
        try {
            call();
            FAIL();
        } catch (const zr::Error& e) {
            EXPECT_EQ(e.code(), ZR_ERR_LENGTH);
        }
    };
    expectLength([&] { port.writeUserData(0, 8, tag, Bytes(256)); });
    expectLength([&] { port.setUseData(0, password, 0, Bytes(3)); });      // odd: not whole words
    expectLength([&] { port.setEpcCode(0, password, 12, Bytes(11)); });
    expectLength([&] { port.readUserData(0, 0, 300, tag); });
    expectLength([&] { port.sysQuery(0, 53); });
    EXPECT_TRUE(reader.log().sent.empty());
}

TEST(Trace, SubscriptionSeesPacketsUntilItEnds) {
    FakeReader reader(LinkKind::Tcp);
    reader.reply(unhex("00 02 61 00")).reply(unhex("00 02 61 00"));
    std::vector<std::string> seen;
    {
        zr::TraceSubscription subscription([&](const zr::TraceEvent& e) {
            seen.push_back(std::string(e.sent ? "send " : "recv ") + e.link + " " +
                           zr::test::hex(e.bytes.data(), e.bytes.size()));
        });
        zr::Port(reader.port()).powerOff();
    }
    zr::Port(reader.port()).powerOff();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].substr(0, 17), "send TCP 00 01 61");
    EXPECT_EQ(seen[1].substr(0, 20), "recv TCP 00 02 61 00");
}

TEST(OwningReader, ClosesItselfAndMovesOwnership) {
    zr::test::ReaderPeer peer(LinkKind::Tcp);
    const std::string config = peer.writeConfig();
    int handle = ZR_CLOSED_HANDLE;
    {
        zr::Reader first(config, zr::test::ReaderPeer::kSection);
        ASSERT_TRUE(first.isOpen());
        handle = first.handle();
        zr::Reader second(std::move(first));
        EXPECT_FALSE(first.isOpen());
        EXPECT_EQ(second.handle(), handle);
        zr::Reader third;
        third = std::move(second);
        EXPECT_EQ(third.handle(), handle);
        EXPECT_EQ(ZRReset(handle), 5) << "still open while owned";
    }
    EXPECT_EQ(ZRReset(handle), ZR_CLOSED) << "the last owner closed it";
    EXPECT_TRUE(peer.waitUntilDisconnected());
}

TEST(OwningReader, OpenFailureThrowsWithTheOpenResult) {
    zr::test::ReaderPeer peer(LinkKind::Tcp);
    const std::string config = peer.writeConfig({{"ZR_HOST_NAME", ";"}});
    try {
        zr::Reader reader(config, zr::test::ReaderPeer::kSection);
        FAIL();
    } catch (const zr::Error& e) {
        EXPECT_EQ(e.code(), ZR_ERR_CONFIG);
        EXPECT_EQ(e.operation(), "ZROpen");
    }
}

}  // namespace
