// Byte tracing and result texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <unistd.h>

#include "protocol/trace.h"
#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::FakeReader;
using zr::test::unhex;

namespace {

struct Captured {
    std::vector<std::string> lines;
};

void ZR_CALL capture(void* user, int direction, const char* link, const unsigned char* bytes, int length) {
    std::ostringstream line;
    line << (direction == 0 ? "send " : "recv ") << link << ' ' << zr::test::hex(bytes, static_cast<size_t>(length));
    static_cast<Captured*>(user)->lines.push_back(line.str());
}

TEST(Trace, CallbackSeesTheProtectedPacketsOfOneExchangePerLink) {
    struct Row {
        LinkKind kind;
        const char* name;
    } rows[] = {{LinkKind::Serial, "Serial"}, {LinkKind::Usb, "USB"}, {LinkKind::Tcp, "TCP"}};
    for (const Row& r : rows) {
        Captured captured;
        ASSERT_EQ(ZRSetTraceCallback(capture, &captured), 1);
        {
            FakeReader reader(r.kind);
            reader.reply(unhex("00 02 71 14"));
            ZRReset(reader.port());
            unsigned char out[251];
            EXPECT_EQ(ZRReport(reader.port(), out), 1010 + 3);
        }
        ZRSetTraceCallback(nullptr, nullptr);
        EXPECT_EQ(captured.lines, (std::vector<std::string>{std::string("send ") + r.name + " 00 01 6C 87 6B",
                                                           std::string("recv ") + r.name + " 00 02 71 14 26 56"}));
    }
}

TEST(Trace, NothingIsReportedOnceTheCallbackIsRemoved) {
    Captured captured;
    ZRSetTraceCallback(capture, &captured);
    ZRSetTraceCallback(nullptr, nullptr);
    FakeReader reader(LinkKind::Tcp);
    ZRReset(reader.port());
    EXPECT_TRUE(captured.lines.empty());
}

TEST(Trace, LineFormatCarriesTimeLinkPortDirectionAndHex) {
    char line[256];
    const uint8_t bytes[] = {0x00, 0x01, 0x6C, 0x87, 0x6B};
    // 2026-12-08 14:30:01.000250 UTC
    zr::trace::formatLine(line, sizeof line, 1796740201000250LL, zr::trace::Direction::Send, LinkKind::Usb, 7, bytes,
                          sizeof bytes);
    EXPECT_STREQ(line, "2026-12-08T14:30:01.000250Z USB port=7 send 00 01 6C 87 6B");
    zr::trace::formatLine(line, 40, 0, zr::trace::Direction::Receive, LinkKind::Tcp, 3, bytes, sizeof bytes);
    EXPECT_LT(std::string(line).size(), 40u) << "a short buffer is never overrun";
}

TEST(TraceDeathStyle, EnvironmentVariableWritesOneLinePerPacketToAFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process reads ZR_TRACE anew
    // The child process re-runs this body: it inherits the path chosen by the parent.
    if (!std::getenv("ZR_TEST_TRACE_PATH")) {
        const std::string chosen = testing::TempDir() + "zr_trace_" + std::to_string(::getpid()) + ".log";
        std::remove(chosen.c_str());
        ::setenv("ZR_TEST_TRACE_PATH", chosen.c_str(), 1);
    }
    const std::string path = std::getenv("ZR_TEST_TRACE_PATH");
    EXPECT_EXIT(
        {
            ::setenv("ZR_TRACE", path.c_str(), 1);
            FakeReader reader(LinkKind::Serial);
            ZRIdentify(reader.port(), 1, 2);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    std::ifstream in(path);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find(" Serial port="), std::string::npos) << line;
    EXPECT_NE(line.find(" send 00 03 71 01 02 "), std::string::npos) << line;
    EXPECT_FALSE(std::getline(in, line)) << "exactly one packet was traced";
    std::remove(path.c_str());
}

TEST(ResultText, EveryLibraryCodeHasItsOwnTextAndReaderStatusesTheirRange) {
    const int codes[] = {1, 0, -1, -2, -3, -4, -5, -7, -8, -9, -10, -11, -12, -13, -15, -20, 242};
    std::set<std::string> texts;
    const std::string unknown = ZRResultText(-99);
    for (int c : codes) {
        ASSERT_NE(ZRResultText(c), nullptr);
        EXPECT_NE(ZRResultText(c), unknown) << c;
        texts.insert(ZRResultText(c));
    }
    EXPECT_EQ(texts.size(), std::size(codes)) << "no two codes share a text";
    EXPECT_NE(std::string(ZRResultText(3001)).find("class 3"), std::string::npos);
    EXPECT_NE(std::string(ZRResultText(4013)).find("class 1 or 2"), std::string::npos);
    EXPECT_EQ(std::string(ZRResultText(1001)), ZRResultText(1009));
    EXPECT_NE(std::string(ZRResultText(1009)), ZRResultText(1010));
    EXPECT_EQ(ZRResultText(4014), unknown);
    EXPECT_EQ(ZRResultText(-6), unknown);
}

}  // namespace
