// Reader configuration commands: power and RF, frequency block, system and
// tag parameters, I/O, MAC, network address, code sending, device class,
// test mode, read configuration and interference.
#include "args.h"
#include "context.h"

namespace zrtool {
namespace {

struct ConfigOptions {
    int value = 0;
    int value2 = 0;
    int address = 0;
    int len = 0;
    int byte1 = 0;
    int byte2 = 0;
    bool bytewise = false;
    std::string data;
    std::string host, subnet, gate, section;
};

void addPower(CLI::App& app, Context& ctx) {
    CLI::App* power = app.add_subcommand("power", "RF power: on, off, set and get the two power bytes");
    power->require_subcommand(1);
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = power->add_subcommand("on", "Switch RF power on (ZRPowerOn)");
        byteOption(c, "--value", o.value, "Byte sent with the command");
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().powerOn(o.value);
            ctx.out().set("rf", "on");
        });
    }
    {
        CLI::App* c = power->add_subcommand("off", "Switch RF power off (ZRPowerOff)");
        ctx.onRun(c, [](Context& ctx) {
            ctx.reader().powerOff();
            ctx.out().set("rf", "off");
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = power->add_subcommand("set", "Set the two power bytes (ZRPowerSet)");
        byteOption(c, "byte1", o.byte1, "First power byte")->required();
        byteOption(c, "byte2", o.byte2, "Second power byte")->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().powerSet(o.byte1, o.byte2);
            const uint8_t power[2] = {static_cast<uint8_t>(o.byte1), static_cast<uint8_t>(o.byte2)};
            ctx.out().set("power", Value::bytes(power, 2));
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        o.len = 2;
        CLI::App* c = power->add_subcommand("get", "Read the power setting (ZRPowerQuery)");
        c->add_option("--len", o.len, "Number of bytes")->check(CLI::Range(0, 52))->capture_default_str();
        ctx.onRun(c, [&o](Context& ctx) { ctx.out().set("power", Value::bytes(ctx.reader().powerQuery(o.len))); });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = app.add_subcommand("freq", "Read a block of system parameters, 54 bytes of reply (ZRFreqQuery)");
        byteOption(c, "-a,--address", o.address, "Parameter address");
        ctx.onRun(c, [&o](Context& ctx) {
            const auto reply = ctx.reader().freqQuery(o.address);
            ctx.out().set("reply", Value::bytes(reply.data(), reply.size()));
        });
    }
}

// "get" and "set" of a parameter table.
void addTable(CLI::App& app, Context& ctx, const char* name, const char* description, bool system) {
    CLI::App* table = app.add_subcommand(name, description);
    table->require_subcommand(1);
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = table->add_subcommand("get", system ? "Read system parameters (ZRSysQuery)"
                                                          : "Read tag parameters (ZRTagQuery)");
        byteOption(c, "address", o.address, "Parameter address")->required();
        c->add_option("len", o.len, "Number of bytes")->check(CLI::Range(0, system ? 52 : 252))->required();
        ctx.onRun(c, [&o, system](Context& ctx) {
            zr::Reader& r = ctx.reader();
            ctx.out().set("address", o.address);
            ctx.out().set("data", Value::bytes(system ? r.sysQuery(o.address, o.len) : r.tagQuery(o.address, o.len)));
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = table->add_subcommand(
            "set", system ? "Write system parameters in one command (ZRSysFastSet; --bytewise: ZRSysSet)"
                          : "Write tag parameters in one command (ZRTagFastSet)");
        c->add_option("address", o.address, system ? "Parameter address (16 bits with --bytewise)" : "Parameter address")
            ->check(CLI::Range(0, system ? 0xFFFF : 255))
            ->required();
        c->add_option("data", o.data, "Bytes, hex")->check(hexBytes(0, system ? 52 : 251))->required();
        if (system) c->add_flag("--bytewise", o.bytewise, "One command per byte (serial and USB only)");
        ctx.onRun(c, [&o, system](Context& ctx) {
            zr::Reader& r = ctx.reader();
            const zr::Bytes data = hexOf(o.data);
            if (!system) r.tagFastSet(o.address, data);
            else if (o.bytewise) r.sysSet(o.address, data);
            else {
                if (o.address > 255) throw UsageError("address above 255 needs --bytewise");
                r.sysFastSet(o.address, data);
            }
            ctx.out().set("address", o.address);
            ctx.out().set("written", static_cast<int64_t>(data.size()));
        });
    }
}

void addIoAndNetwork(CLI::App& app, Context& ctx) {
    CLI::App* io = app.add_subcommand("io", "I/O control");
    io->require_subcommand(1);
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = io->add_subcommand("set", "Set an I/O output (ZRIOControlSet)");
        byteOption(c, "value", o.value, "First byte")->required();
        byteOption(c, "value2", o.value2, "Second byte")->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().ioControlSet(o.value, o.value2);
            ctx.out().set("set", true);
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = io->add_subcommand("get", "Read an I/O state (ZRIOControlQuery)");
        byteOption(c, "value", o.value, "Byte sent with the query")->required();
        ctx.onRun(c, [&o](Context& ctx) { ctx.out().set("state", static_cast<int>(ctx.reader().ioControlQuery(o.value))); });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = app.add_subcommand("mac", "Set the reader's MAC address (ZRMACSet)");
        c->add_option("mac", o.data, "MAC address, hex (e.g. 02:00:00:00:00:01)")->check(hexBytes(0, 52))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().macSet(hexOf(o.data));
            ctx.out().set("mac", Value::bytes(hexOf(o.data)));
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = app.add_subcommand(
            "net", "Set the reader's IP address, subnet mask and gateway and record them in the configuration file "
                   "(ZRNetAddrSet)");
        c->add_option("--host", o.host, "IP address, dotted")->check(CLI::ValidIPV4)->required();
        c->add_option("--subnet", o.subnet, "Subnet mask, dotted")->check(CLI::ValidIPV4)->required();
        c->add_option("--gate", o.gate, "Gateway, dotted")->check(CLI::ValidIPV4)->required();
        c->add_option("--write-section", o.section, "Section to record them in (default: the reader's section)");
        ctx.onRun(c, [&o](Context& ctx) {
            const std::string section = o.section.empty() ? ctx.options.section : o.section;
            ctx.reader().netAddrSet(section, o.host, o.subnet, o.gate);
            ctx.out().set("host", o.host);
            ctx.out().set("subnet", o.subnet);
            ctx.out().set("gate", o.gate);
            ctx.out().set("section", section);
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = app.add_subcommand("code-send", "Send code bytes to the reader three times (ZRCodeSending)");
        c->add_option("code", o.data, "Code bytes, hex")->check(hexBytes(0, 253))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().codeSending(hexOf(o.data));
            ctx.out().set("sent", static_cast<int64_t>(hexOf(o.data).size()));
        });
    }
}

void addDeviceSettings(CLI::App& app, Context& ctx) {
    {
        CLI::App* c = app.add_subcommand("device-class", "Read the device class bytes the reader reports (ZRGetDeviceClass)");
        ctx.onRun(c, [](Context& ctx) {
            const auto bytes = ctx.reader().getDeviceClass();
            ctx.out().set("device_class", static_cast<int>(bytes[0]));
            ctx.out().set("bytes", Value::bytes(bytes.data(), bytes.size()));
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = app.add_subcommand("test-mode", "Set the reader's test mode (ZRTestModeSet)");
        c->add_option("mode", o.value, "Test mode 0..4")->check(CLI::Range(0, 4))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().testModeSet(o.value);
            ctx.out().set("test_mode", o.value);
        });
    }
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = app.add_subcommand("read-config", "Set the read configuration (ZRSetReadCfg)");
        c->add_option("value", o.value, "1..4")->check(CLI::Range(1, 4))->required();
        c->add_option("value2", o.value2, "1..2")->check(CLI::Range(1, 2))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().setReadCfg(o.value, o.value2);
            ctx.out().set("set", true);
        });
    }
    CLI::App* interference = app.add_subcommand("interference", "The interference setting");
    interference->require_subcommand(1);
    {
        auto& o = ctx.keep<ConfigOptions>();
        CLI::App* c = interference->add_subcommand("set", "Set it (ZRSetInterfere)");
        c->add_option("setting", o.data, "Two bytes, hex")->check(hexBytes(2))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().setInterfere(hexArray<2>(o.data));
            ctx.out().set("interference", Value::bytes(hexOf(o.data)));
        });
    }
    {
        CLI::App* c = interference->add_subcommand("get", "Read it (ZRGetInterfere)");
        ctx.onRun(c, [](Context& ctx) {
            const auto setting = ctx.reader().getInterfere();
            ctx.out().set("interference", Value::bytes(setting.data(), setting.size()));
        });
    }
    {
        CLI::App* c = interference->add_subcommand("off", "Switch it off (ZRCloseInterfere)");
        ctx.onRun(c, [](Context& ctx) {
            ctx.reader().closeInterfere();
            ctx.out().set("interference", "off");
        });
    }
}

}  // namespace

void addConfigCommands(CLI::App& app, Context& ctx) {
    addPower(app, ctx);
    addTable(app, ctx, "sys", "System parameters", true);
    addTable(app, ctx, "tag-param", "Tag parameters", false);
    addIoAndNetwork(app, ctx);
    addDeviceSettings(app, ctx);
}

}  // namespace zrtool
