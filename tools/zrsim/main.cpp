// zrsim: a simulated reader on TCP, a pseudo-terminal and the USB stand-in
// socket. Options are listed by --help and in docs/zrsim.md.
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "simulator.h"

namespace {

const char kUsage[] =
    "usage: zrsim [options]\n"
    "  --tcp ADDR            serve TCP on ADDR (loopback), one reader per address; repeatable\n"
    "  --tcp-range A-B       one reader on every address from A to B\n"
    "  --port N              TCP port (default 7086)\n"
    "  --pty                 serve a pseudo-terminal as the serial line (prints its path)\n"
    "  --pty-link PATH       also make a symbolic link PATH to it (implies --pty)\n"
    "  --usb FOLDER          serve the USB stand-in socket in the class folder FOLDER\n"
    "  --usb-name NAME       socket name in the folder (default zrsim0)\n"
    "  --tags N              generate N tags (default 3)\n"
    "  --seed S              seed of the generated tags and of garbage bytes (default 1)\n"
    "  --tag-file PATH       load the tags from PATH instead\n"
    "  --class N             device class the reader reports at parameter 0x21 (1..3, default 3)\n"
    "  --fault RULE          inject a fault: <code|*>:<kind>[=arg][:times=N]; repeatable\n"
    "  --random-faults P     fault every request with probability P ...\n"
    "  --fault-seed S        ... drawn from a generator seeded with S (default 1)\n"
    "  --alarm-interval MS   EAS alarm message period (default 500)\n"
    "  --listen-interval MS  send a 0xA1 message every MS ms (default 0: on demand only)\n"
    "  --control PATH        control channel on a Unix stream socket at PATH\n"
    "  --stdin               control channel on standard input\n"
    "  -v                    print every packet in and out, decoded\n"
    "  -h, --help            this text\n";

bool addressRange(const std::string& text, std::vector<std::string>& out) {
    auto dash = text.find('-');
    in_addr a{}, b{};
    if (dash == std::string::npos || inet_pton(AF_INET, text.substr(0, dash).c_str(), &a) != 1 ||
        inet_pton(AF_INET, text.substr(dash + 1).c_str(), &b) != 1)
        return false;
    uint32_t from = ntohl(a.s_addr), to = ntohl(b.s_addr);
    if (to < from || to - from > 4096) return false;
    for (uint32_t v = from; v <= to; ++v) {
        in_addr x{htonl(v)};
        char s[INET_ADDRSTRLEN];
        out.push_back(inet_ntop(AF_INET, &x, s, sizeof s));
    }
    return true;
}

bool toNumber(const std::string& text, long low, long high, long& out) {
    try {
        size_t used;
        out = std::stol(text, &used, 0);
        return used == text.size() && out >= low && out <= high;
    } catch (...) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    zrsim::SimulatorOptions options;
    std::vector<zrsim::FaultRule> faults;
    long tagCount = 3, seed = 1, deviceClass = 3, faultSeed = 1;
    double randomFaults = 0;
    std::string tagFile;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "zrsim: " << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](long low, long high) {
            std::string text = value();
            long v;
            if (!toNumber(text, low, high, v)) {
                std::cerr << "zrsim: bad value for " << arg << ": " << text << "\n";
                std::exit(2);
            }
            return v;
        };
        if (arg == "--tcp") options.tcpAddresses.push_back(value());
        else if (arg == "--tcp-range") {
            if (!addressRange(value(), options.tcpAddresses)) {
                std::cerr << "zrsim: --tcp-range takes A-B, two dotted addresses, at most 4097 apart\n";
                return 2;
            }
        } else if (arg == "--port") options.tcpPort = static_cast<uint16_t>(number(1, 65535));
        else if (arg == "--pty") options.pty = true;
        else if (arg == "--pty-link") options.pty = true, options.ptyLink = value();
        else if (arg == "--usb") options.usbFolder = value();
        else if (arg == "--usb-name") options.usbName = value();
        else if (arg == "--tags") tagCount = number(0, 10000);
        else if (arg == "--seed") seed = number(0, 0xFFFFFFFFL);
        else if (arg == "--tag-file") tagFile = value();
        else if (arg == "--class") deviceClass = number(1, 3);
        else if (arg == "--fault") {
            zrsim::FaultRule rule;
            std::string text = value(), error;
            if (!zrsim::parseFaultRule(text, rule, error)) {
                std::cerr << "zrsim: --fault " << text << ": " << error << "\n";
                return 2;
            }
            faults.push_back(rule);
        } else if (arg == "--random-faults") {
            std::string text = value();
            try {
                randomFaults = std::stod(text);
            } catch (...) {
                randomFaults = -1;
            }
            if (randomFaults < 0 || randomFaults > 1) {
                std::cerr << "zrsim: --random-faults takes a probability from 0 to 1\n";
                return 2;
            }
        } else if (arg == "--fault-seed") faultSeed = number(0, 0xFFFFFFFFL);
        else if (arg == "--alarm-interval") options.alarmIntervalMs = static_cast<int>(number(1, 3600000));
        else if (arg == "--listen-interval") options.listenIntervalMs = static_cast<int>(number(0, 3600000));
        else if (arg == "--control") options.controlSocket = value();
        else if (arg == "--stdin") options.controlStdin = true;
        else if (arg == "-v" || arg == "--verbose") options.verbose = true;
        else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "zrsim: unknown option " << arg << "\n" << kUsage;
            return 2;
        }
    }
    if (options.tcpAddresses.empty() && !options.pty && options.usbFolder.empty()) {
        std::cerr << "zrsim: give at least one link (--tcp, --pty, --usb)\n" << kUsage;
        return 2;
    }
    options.seed = static_cast<uint32_t>(seed);
    if (!tagFile.empty()) {
        std::string error;
        if (!zrsim::loadTagFile(tagFile, options.tags, error)) {
            std::cerr << "zrsim: " << tagFile << ": " << error << "\n";
            return 2;
        }
    } else {
        options.tags = zrsim::generateTags(static_cast<size_t>(tagCount), static_cast<uint32_t>(seed));
    }

    // SIGINT and SIGTERM end the simulator cleanly: a thread waits for them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    zrsim::Simulator sim(options);
    for (const auto& rule : faults) sim.faults().add(rule);
    if (randomFaults > 0) sim.faults().setRandom(randomFaults, static_cast<uint32_t>(faultSeed));
    for (size_t i = 0; i < sim.readerCount(); ++i)
        sim.reader(i).withState([&](zrsim::ReaderState& s) {
            s.systemParams[zrsim::systemParamOffset(zrsim::kParamDeviceClass)] = static_cast<uint8_t>(deviceClass);
        });
    std::string error;
    if (!sim.start(error)) {
        std::cerr << "zrsim: " << error << "\n";
        return 1;
    }
    for (const auto& a : options.tcpAddresses) std::cout << "zrsim: tcp " << a << ":" << options.tcpPort << "\n";
    if (options.pty) {
        std::cout << "zrsim: serial " << sim.ptyPath();
        if (!options.ptyLink.empty()) std::cout << " (link " << options.ptyLink << ")";
        std::cout << "\n";
    }
    if (!options.usbFolder.empty()) std::cout << "zrsim: usb " << sim.usbDevicePath() << "\n";
    if (!options.controlSocket.empty()) std::cout << "zrsim: control " << options.controlSocket << "\n";
    std::cout << "zrsim: ready, " << options.tags.size() << " tags" << std::endl;

    std::thread([&sim, signals] {
        int received = 0;
        sigwait(&signals, &received);
        sim.requestStop();  // the main thread joins the server thread in wait()
    }).detach();
    sim.wait();
    sim.stop();
    return 0;
}
