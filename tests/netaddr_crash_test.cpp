// ZRNetAddrSet rewrites the configuration file; a process killed at any
// moment of that must leave the file whole: every line the call does not
// change exactly as it was, the three address keys each holding a complete
// address of one of the calls.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_link.h"
#include "zrreader.h"

namespace {

const char* const kOriginal =
    "; reader configuration\n"
    "[READER]\n"
    "ZR_PORT_TYPE=TCP\n"
    "ZR_HOST_NAME=10.0.0.1\n"
    "ZR_SUBNET=255.0.0.0\n"
    "ZR_GATE=10.0.0.254\n"
    "ZR_READ_TRIES=5\n"
    "\n"
    "[OTHER]\n"
    "ZR_HOST_NAME=192.168.1.1\n"
    "KEY=value\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Four decimal numbers of 1 to 3 digits joined by dots.
bool dottedAddress(const std::string& text) {
    int parts = 0, digits = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (++digits > 3) return false;
        } else if (c == '.' && digits > 0 && parts < 3) {
            ++parts;
            digits = 0;
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Keeps setting the network address, each call with new numbers, until killed.
[[noreturn]] void writeForever(const std::string& path) {
    zr::test::FakeReader reader(zr::link::LinkKind::Tcp, 1, 1);
    reader.editSettings([&](zr::config::ReaderSettings& s) { s.configPath = path; });
    for (unsigned i = 0;; ++i) {
        reader.reply({0x00, 0x02, 0x63, 0x00});
        const std::string n = std::to_string(i % 250) + "." + std::to_string(i / 250 % 250);
        const std::string host = "10." + n + ".1", subnet = "255.255." + n, gate = "10." + n + ".254";
        if (ZRNetAddrSet(reader.port(), 0, "READER", host.c_str(), subnet.c_str(), gate.c_str()) != ZR_OK) _exit(3);
    }
}

TEST(NetAddrCrash, AKilledWriterNeverLeavesTheFileTruncated) {
    char dir[] = "/tmp/zr-netaddr-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/reader.ini";
    { std::ofstream(path) << kOriginal; }
    const std::vector<std::string> original = lines(kOriginal);

    std::mt19937 rng(5);
    std::uniform_int_distribution<int> killAfterUs(0, 20000);
    int killedWhileRunning = 0;
    for (int round = 0; round < 100; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) writeForever(path);
        usleep(static_cast<useconds_t>(killAfterUs(rng)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFSIGNALED(status)) ++killedWhileRunning;
        else ADD_FAILURE() << "writer ended on its own, status " << status;

        const std::vector<std::string> now = lines(readFile(path));
        ASSERT_EQ(now.size(), original.size()) << "round " << round << ":\n" << readFile(path);
        for (size_t i = 0; i < original.size(); ++i) {
            const bool addressLine = i >= 3 && i <= 5;  // the three keys of [READER]
            if (!addressLine) {
                EXPECT_EQ(now[i], original[i]) << "round " << round << ", line " << i;
                continue;
            }
            const std::string key = original[i].substr(0, original[i].find('=') + 1);
            ASSERT_EQ(now[i].rfind(key, 0), 0u) << "round " << round << ": " << now[i];
            EXPECT_TRUE(dottedAddress(now[i].substr(key.size()))) << "round " << round << ": " << now[i];
        }
    }
    EXPECT_GT(killedWhileRunning, 90);
    const std::string cmd = std::string("rm -rf '") + dir + "'";
    (void)!system(cmd.c_str());
}

}  // namespace
