// Reader maintenance commands: reset, reader state and clock, fixed number,
// upgrade, reader messages, the 0x6D setting, EAS alarm, EU tests and filters.
#include "args.h"
#include "context.h"

namespace zrtool {
namespace {

struct MaintenanceOptions {
    int value = 0;
    int len = 0;
    int mode = 0;
    int tail = 0;
    int extra = 0;
    double wait = 1.0;
    std::string time = "now";
    std::string raw;
    std::string data;
    std::string first, second;
};

void addReaderState(CLI::App& app, Context& ctx) {
    {
        CLI::App* c = app.add_subcommand("reset", "Send the reset command; no reply is read (ZRReset)");
        ctx.onRun(c, [](Context& ctx) { ctx.out().set("sent", ctx.reader().reset()); });
    }
    {
        CLI::App* c = app.add_subcommand("upgrade", "Send the upgrade command; no reply is read (ZRUpGrade)");
        ctx.onRun(c, [](Context& ctx) { ctx.out().set("sent", ctx.reader().upGrade()); });
    }
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = app.add_subcommand("epc-print-power", "Send the one-byte 0x6D setting (ZREpcPrintPowerOs)");
        byteOption(c, "value", o.value, "The byte")->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().epcPrintPowerOs(o.value);
            ctx.out().set("value", o.value);
        });
    }
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = app.add_subcommand("state", "Query the reader state, six bytes (ZRGetReaderState)");
        byteOption(c, "--value", o.value, "Byte sent with the query");
        ctx.onRun(c, [&o](Context& ctx) {
            const auto state = ctx.reader().getReaderState(o.value);
            ctx.out().set("state", Value::bytes(state.data(), state.size()));
        });
    }
    CLI::App* clock = app.add_subcommand("clock", "The reader's clock");
    clock->require_subcommand(1);
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = clock->add_subcommand(
            "set", "Set the clock (ZRSetReaderTime) from a time, sent as YY MM DD hh mm ss (YY = year - 2000)");
        c->add_option("time", o.time, "now, or YYYY-MM-DDThh:mm:ss")->check(clockArgument())->capture_default_str();
        c->add_option("--raw", o.raw, "Send these six bytes as they stand instead")->check(hexBytes(6));
        byteOption(c, "--extra", o.extra, "Byte sent after the time");
        ctx.onRun(c, [&o](Context& ctx) {
            const std::array<uint8_t, 6> time = o.raw.empty() ? *parseClock(o.time) : hexArray<6>(o.raw);
            ctx.reader().setReaderTime(o.extra, time);
            ctx.out().set("sent", Value::bytes(time.data(), time.size()));
            if (const std::string text = clockText(time); !text.empty()) ctx.out().set("clock", text);
        });
    }
    {
        CLI::App* c = clock->add_subcommand(
            "get", "Read the clock: the reader state with value 0 (ZRGetReaderState), as YY MM DD hh mm ss");
        ctx.onRun(c, [](Context& ctx) {
            const auto state = ctx.reader().getReaderState(0);
            ctx.out().set("state", Value::bytes(state.data(), state.size()));
            const std::string text = clockText(state);
            ctx.out().set("clock", text.empty() ? Value() : Value::string(text));
        });
    }
    CLI::App* fixno = app.add_subcommand("fixno", "The reader's fixed number");
    fixno->require_subcommand(1);
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = fixno->add_subcommand("set", "Set it (ZRSetReaderfixNO)");
        byteOption(c, "number", o.value, "The number, one byte")->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().setReaderFixNo(o.value);
            ctx.out().set("number", o.value);
        });
    }
    {
        CLI::App* c = fixno->add_subcommand("get", "Read it (ZRGetReaderfixNOEx)");
        ctx.onRun(c, [](Context& ctx) {
            const zr::Bytes number = ctx.reader().readerFixNo();
            ctx.out().set("bytes", Value::bytes(number));
            if (number.size() == 1) ctx.out().set("number", static_cast<int>(number[0]));
        });
    }
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = app.add_subcommand(
            "listen", "Wait for a message the reader sends on its own and acknowledge it (ZRListenReader, repeated)");
        c->add_option("--wait", o.wait, "Seconds to wait")->capture_default_str();
        ctx.onRun(c, [&o](Context& ctx) {
            std::optional<zr::ListenMessage> message;
            retryFor(o.wait, 0, [&] { return (message = ctx.reader().listenReader()).has_value(); });
            ctx.out().set("received", message.has_value());
            if (message) {
                ctx.out().set("info", Value::bytes(message->info.data(), message->info.size()));
                ctx.out().set("first", Value::bytes(message->first.data(), message->first.size()));
                ctx.out().set("second", Value::bytes(message->second.data(), message->second.size()));
            }
        });
    }
}

void addEasAndEu(CLI::App& app, Context& ctx) {
    CLI::App* eas = app.add_subcommand("eas", "The EAS alarm");
    eas->require_subcommand(1);
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        o.data = "00000000";
        CLI::App* c = eas->add_subcommand("config", "Configure the EAS flag (ZRConfigEASflag)");
        byteOption(c, "--value", o.value, "First byte");
        c->add_option("--flag", o.data, "Flag, 4 bytes of hex")->check(hexBytes(4))->capture_default_str();
        byteOption(c, "--tail", o.tail, "Last byte");
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().configEasFlag(o.value, hexArray<4>(o.data), o.tail);
            ctx.out().set("configured", true);
        });
    }
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = eas->add_subcommand("start", "Start the alarm (ZRStartEASAlarm)");
        byteOption(c, "--value", o.value, "Byte sent with the command");
        ctx.onRun(c, [&o](Context& ctx) { ctx.out().set("result", ctx.reader().startEasAlarm(o.value)); });
    }
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = eas->add_subcommand("report", "Wait for one alarm message (ZREASAlarmReport, repeated)");
        c->add_option("--wait", o.wait, "Seconds to wait")->capture_default_str();
        ctx.onRun(c, [&o](Context& ctx) {
            const bool alarm = retryFor(o.wait, 10, [&] { return ctx.reader().easAlarmReport(); });
            ctx.out().set("alarm", alarm);
        });
    }
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = eas->add_subcommand("end", "End the alarm (ZREndEASAlarm)");
        byteOption(c, "--value", o.value, "Byte sent with the command");
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().endEasAlarm(o.value);
            ctx.out().set("ended", true);
        });
    }
    CLI::App* eu = app.add_subcommand("eu", "The EU conformance tests");
    eu->require_subcommand(1);
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = eu->add_subcommand("door", "Run the door test and read its data (ZREUDoorTest)");
        byteOption(c, "--value", o.value, "First byte");
        byteOption(c, "--mode", o.mode, "Mode byte");
        c->add_option("--len", o.len, "Reply data bytes to read, 0..52")->check(CLI::Range(0, 52))->capture_default_str();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.out().set("data", Value::bytes(ctx.reader().euDoorTest(o.value, o.len, o.mode)));
        });
    }
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = eu->add_subcommand("freq", "Run the frequency test with data (ZREUFreqTest)");
        byteOption(c, "--value", o.value, "First byte");
        c->add_option("data", o.data, "Test data, hex, at most 52 bytes")->check(hexBytes(0, 52));
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().euFreqTest(o.value, hexOf(o.data));
            ctx.out().set("sent", static_cast<int64_t>(hexOf(o.data).size()));
        });
    }
}

void addFilters(CLI::App& app, Context& ctx) {
    CLI::App* filter = app.add_subcommand("filter", "The tag and time filters of the reports");
    filter->require_subcommand(1);
    CLI::App* tag = filter->add_subcommand("tag", "The tag filter");
    tag->require_subcommand(1);
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = tag->add_subcommand("set", "Set it from two 12-byte fields (ZRSetTagFilter)");
        c->add_option("first", o.first, "First field, 12 bytes of hex")->check(hexBytes(12))->required();
        c->add_option("second", o.second, "Second field, 12 bytes of hex")->check(hexBytes(12))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().setTagFilter(hexArray<12>(o.first), hexArray<12>(o.second));
            ctx.out().set("tag_filter", "set");
        });
    }
    {
        CLI::App* c = tag->add_subcommand("cancel", "Cancel it (ZRCancelTagFilter)");
        ctx.onRun(c, [](Context& ctx) {
            ctx.reader().cancelTagFilter();
            ctx.out().set("tag_filter", "cancelled");
        });
    }
    CLI::App* time = filter->add_subcommand("time", "The time filter");
    time->require_subcommand(1);
    {
        auto& o = ctx.keep<MaintenanceOptions>();
        CLI::App* c = time->add_subcommand("set", "Set it from two bytes (ZRSetTimeFilter)");
        c->add_option("time", o.data, "Two bytes of hex")->check(hexBytes(2))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().setTimeFilter(hexArray<2>(o.data));
            ctx.out().set("time_filter", "set");
        });
    }
    {
        CLI::App* c = time->add_subcommand("cancel", "Cancel it (ZRCancelTimeFilter)");
        ctx.onRun(c, [](Context& ctx) {
            ctx.reader().cancelTimeFilter();
            ctx.out().set("time_filter", "cancelled");
        });
    }
}

}  // namespace

void addMaintenanceCommands(CLI::App& app, Context& ctx) {
    addReaderState(app, ctx);
    addEasAndEu(app, ctx);
    addFilters(app, ctx);
}

}  // namespace zrtool
