// zrtool end to end: the built zrtool against the built zrsim on TCP, a
// pseudo-terminal and the USB stand-in; text and JSON output, exit statuses.
// The binaries are found next to this test's build folder
// (../tools/zrsim or ../tools/zrsim/zrsim, ../tools/zrtool/zrtool).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zrreader.h"

extern char** environ;

namespace {

struct ToolRun {
    int status = -1;  // exit status; -1 when the tool did not exit normally
    std::string out, err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isExecutable(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string firstExecutable(const std::vector<std::string>& candidates) {
    for (const std::string& path : candidates)
        if (isExecutable(path)) return path;
    return {};
}

std::string buildFolder() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return ".";
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/'));    // .../tests
    return path.substr(0, path.rfind('/'));     // the build folder
}

// Starts `argv` with standard output and error going to the given files.
pid_t spawn(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The simulated reader as a child process, on the first free 127.0.0.N.
class SimulatorProcess {
public:
    bool start(const std::string& zrsim, const std::string& folder, std::string& error) {
        const int first = 2 + static_cast<int>(getpid() % 200);
        for (int i = 0; i < 40; ++i) {
            host_ = "127.0.0." + std::to_string(2 + (first + i * 7) % 250);
            pid_ = spawn({zrsim, "--tcp", host_, "--pty-link", folder + "/tty", "--usb", folder + "/usb", "--tags",
                          "3", "--seed", "7"},
                         folder + "/zrsim.out", folder + "/zrsim.err");
            if (pid_ < 0) break;
            if (waitReady(folder)) return true;
            stop();
        }
        error = "zrsim did not start: " + readFile(folder + "/zrsim.err");
        return false;
    }
    // SIGTERM, then SIGKILL if it has not ended within two seconds.
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    ~SimulatorProcess() { stop(); }
    const std::string& host() const { return host_; }

private:
    pid_t pid_ = -1;
    std::string host_;

    bool waitReady(const std::string& folder) {
        for (int i = 0; i < 500; ++i) {
            if (readFile(folder + "/zrsim.out").find("zrsim: ready") != std::string::npos) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {  // exited: address taken or a failure
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

class ZrTool : public testing::Test {
protected:
    static inline std::string skipReason;
    static inline std::string zrtool;
    static inline std::string folder;
    static inline std::string config;
    static inline SimulatorProcess* simulator = nullptr;

    static void SetUpTestSuite() {
        const std::string build = buildFolder();
        const std::string zrsim = firstExecutable({build + "/tools/zrsim", build + "/tools/zrsim/zrsim"});
        zrtool = firstExecutable({build + "/tools/zrtool/zrtool"});
        if (zrsim.empty() || zrtool.empty()) {
            skipReason = "zrsim or zrtool not built under " + build + "/tools (build the zrsim and zrtool targets)";
            return;
        }
        char name[] = "/tmp/zrtool-test-XXXXXX";
        if (!mkdtemp(name)) {
            skipReason = "no temporary folder";
            return;
        }
        folder = name;
        mkdir((folder + "/usb").c_str(), 0700);
        simulator = new SimulatorProcess;
        std::string error;
        if (!simulator->start(zrsim, folder, error)) {
            skipReason = error;
            return;
        }
        config = folder + "/reader.ini";
        std::ofstream(config) << "[TCP]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=none\nZR_HOST_NAME=" << simulator->host()
                              << "\n[COM]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" << folder
                              << "/tty\nZR_HOST_NAME=none\nZR_BaudRate=115200\n"
                                 "[USB]\nZR_PORT_TYPE=USB\nZR_COM_NUMBER=none\nZR_HOST_NAME=none\n";
        setenv("ZR_USB_DIR", (folder + "/usb").c_str(), 1);
    }

    static void TearDownTestSuite() {
        delete simulator;
        simulator = nullptr;
        if (!folder.empty()) {
            const std::string command = "rm -rf '" + folder + "'";
            EXPECT_EQ(std::system(command.c_str()), 0);
        }
    }

    void SetUp() override {
        if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    }

    // zrtool with the test configuration and `args`.
    static ToolRun tool(const std::string& section, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {zrtool, "--config", config, "--section", section, "--no-progress"};
        argv.insert(argv.end(), args.begin(), args.end());
        ToolRun run;
        const pid_t pid = spawn(argv, folder + "/out", folder + "/err");
        if (pid < 0) return run;
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
        run.out = readFile(folder + "/out");
        run.err = readFile(folder + "/err");
        return run;
    }

    // The tag ID of the first tag a basic inventory reports (its bytes after the status byte).
    static std::string firstTagId() {
        const ToolRun run = tool("TCP", {"--json", "inventory", "--quiet", "100"});
        const size_t at = run.out.find("\"report\":\"00");
        return at == std::string::npos ? std::string() : run.out.substr(at + 12, 16);
    }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ZrTool, InventoryOnEveryLinkReportsEveryTagOnce) {
    for (const char* section : {"TCP", "COM", "USB"}) {
        const ToolRun run = tool(section, {"--json", "inventory", "--quiet", "100"});
        EXPECT_EQ(run.status, 0) << section << run.err;
        EXPECT_TRUE(contains(run.out, "\"ok\":true,\"command\":\"inventory\",\"kind\":\"basic\",\"reports\":3,"
                                      "\"distinct\":3,\"rounds\":1"))
            << section << ": " << run.out;
    }
}

TEST_F(ZrTool, InventoryForACountRunsRoundsUntilTheCount) {
    const ToolRun run = tool("TCP", {"--json", "inventory", "--kind", "epc", "--count", "7", "--quiet", "100"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "\"kind\":\"epc\",\"reports\":7,\"distinct\":3,\"rounds\":3")) << run.out;
}

TEST_F(ZrTool, UserMemoryWrittenIsReadBackOnEveryLink) {
    const std::string tag = firstTagId();
    ASSERT_EQ(tag.size(), 16u);
    int address = 16;
    for (const char* section : {"TCP", "COM", "USB"}) {
        const std::string at = std::to_string(address);
        const ToolRun write = tool(section, {"write", "--tag", tag, "--address", at, "--data", "48 65 6C 6C 6F"});
        EXPECT_EQ(write.status, 0) << section << write.err;
        EXPECT_EQ(write.out, "address: " + at + "\nwritten: 5\n");
        const ToolRun read = tool(section, {"read", "--tag", tag, "--address", at, "--count", "5"});
        EXPECT_EQ(read.status, 0) << section << read.err;
        EXPECT_EQ(read.out, "address: " + at + "\ndata: 48 65 6C 6C 6F\n") << section;
        address += 8;
    }
}

TEST_F(ZrTool, PowerSetIsQueriedBackInJson) {
    EXPECT_EQ(tool("USB", {"power", "set", "30", "0x05"}).status, 0);
    const ToolRun get = tool("TCP", {"--json", "power", "get"});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, "{\"ok\":true,\"command\":\"power get\",\"power\":\"1E05\"}\n");
}

TEST_F(ZrTool, ClockSetIsReadBack) {
    const ToolRun set = tool("COM", {"clock", "set", "2030-01-02T03:04:05"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_TRUE(contains(set.out, "sent: 1E 01 02 03 04 05\n")) << set.out;
    const ToolRun get = tool("COM", {"clock", "get"});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_TRUE(contains(get.out, "clock: 2030-01-02 03:04:0")) << get.out;
}

TEST_F(ZrTool, AReaderStatusFailsWithItsNameAndTextAndExitOne) {
    const ToolRun run = tool("TCP", {"read", "--tag", "0000000000000000", "--count", "4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, std::string("ZRReadUserData failed: status 0x11 (1010): ") + ZRResultText(1010)))
        << run.err;
}

TEST_F(ZrTool, AFailureInJsonCarriesCodeNameAndText) {
    const ToolRun run = tool("TCP", {"--json", "write", "--tag", "0102030405060708", "--address", "4", "--data", "00"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string("{\"ok\":false,\"command\":\"write\",\"error\":{\"operation\":\"ZRWriteUserData\","
                                   "\"code\":-2,\"name\":\"ZR_ERR_RANGE\",\"text\":\"") +
                           ZRResultText(-2) + "\"}}\n");
}

TEST_F(ZrTool, AnOpenFailureExitsOne) {
    const ToolRun run = tool("NO SUCH SECTION", {"power", "get"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "ZROpen failed")) << run.err;
}

TEST_F(ZrTool, UsageErrorsExitTwoWithoutOpening) {
    const std::vector<std::vector<std::string>> cases = {
        {"read", "--tag", "XYZ", "--count", "1"},   // not hex
        {"read", "--tag", "0102", "--count", "1"},  // not 8 bytes
        {"power"},                                  // no power command
        {"inventory", "--kind", "nope"},
        {"inventory", "--param", "1", "2", "3"},    // basic takes 2 bytes
        {"clock", "set", "2030-13-01T00:00:00"},
    };
    for (const auto& args : cases) {
        const ToolRun run = tool("NO SUCH SECTION", args);
        EXPECT_EQ(run.status, 2) << args[0] << run.err;
        EXPECT_FALSE(contains(run.err, "ZROpen")) << run.err;
    }
}

// The subcommand names listed under "Subcommands:" of a help text.
std::vector<std::string> subcommandsOf(const std::string& help) {
    std::vector<std::string> names;
    std::istringstream lines(help.substr(std::min(help.size(), help.find("Subcommands:"))));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        if (line.rfind("  ", 0) != 0) break;
        const size_t start = line.find_first_not_of(' ');
        if (start != 2) continue;  // a continued description
        names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
}

TEST_F(ZrTool, EveryCommandHasHelp) {
    std::vector<std::vector<std::string>> pending = {{}};
    int helped = 0;
    while (!pending.empty()) {
        std::vector<std::string> path = pending.back();
        pending.pop_back();
        std::vector<std::string> args = path;
        args.push_back("--help");
        const ToolRun run = tool("TCP", args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(contains(run.out, "Usage:")) << run.out;
        ++helped;
        for (const std::string& name : subcommandsOf(run.out)) {
            std::vector<std::string> next = path;
            next.push_back(name);
            pending.push_back(next);
        }
    }
    EXPECT_GE(helped, 60) << "the command tree lost commands";
}

TEST_F(ZrTool, TraceShowsTheBytesOnTheWire) {
    const ToolRun run = tool("TCP", {"--trace", "power", "get"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.err, " TCP port=")) << run.err;
    EXPECT_TRUE(contains(run.err, " send 00 03 62 03 00 ")) << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(" recv 00 [0-9A-F]{2} 62 00 "))) << run.err;
    EXPECT_FALSE(contains(tool("TCP", {"power", "get"}).err, " send ")) << "no trace without --trace";
}

TEST_F(ZrTool, PortsListsTheUsbStandIn) {
    const ToolRun run = tool("TCP", {"--json", "ports"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.out, "\"usb\":[\"" + folder + "/usb/zrsim0\"]")) << run.out;
}

}  // namespace
