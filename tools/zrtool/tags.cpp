// Tag commands: user memory read, write and lock, EPC memory read, EPC code
// and use data, passwords, area locking, destruction, selection and data return.
#include "args.h"
#include "context.h"

namespace zrtool {
namespace {

struct TagOptions {
    int lead = 0;
    int address = 0;
    int count = 0;
    int words = 1;
    int flag = 1;
    int area = 0;
    int param1 = 0;
    int param2 = 0;
    int value = 0;
    int epcLength = -1;
    double wait = 1.0;
    bool once = false;
    std::string tag;
    std::string password = "00000000";
    std::string newPassword;
    std::string data;
    std::string epc;
};

CLI::Option* tagOption(CLI::App* c, TagOptions& o) {
    return c->add_option("-t,--tag", o.tag, "Tag ID, 8 bytes of hex")->check(hexBytes(8))->required();
}
CLI::Option* passwordOption(CLI::App* c, TagOptions& o, const std::string& what = "Access password") {
    return c->add_option("-P,--password", o.password, what + ", 4 bytes of hex")
        ->check(hexBytes(4))
        ->capture_default_str();
}
CLI::Option* leadOption(CLI::App* c, TagOptions& o) {
    return byteOption(c, "-l,--lead", o.lead, "Lead byte sent after the command code");
}

void addUserMemory(CLI::App& app, Context& ctx) {
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand("read", "Read user memory of a tag (ZRReadUserData, or ZRReadUserDataOnce)");
        tagOption(c, o);
        leadOption(c, o);
        byteOption(c, "-a,--address", o.address, "Start address");
        byteOption(c, "-n,--count", o.count, "Number of bytes")->required();
        c->add_flag("--once", o.once, "One command instead of 64-byte pieces");
        ctx.onRun(c, [&o](Context& ctx) {
            const zr::TagId tag = hexArray<8>(o.tag);
            zr::Reader& r = ctx.reader();
            const zr::Bytes data = o.once ? r.readUserDataOnce(o.lead, o.address, o.count, tag)
                                          : r.readUserData(o.lead, o.address, o.count, tag);
            ctx.out().set("address", o.address);
            ctx.out().set("data", Value::bytes(data));
        });
    }
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand(
            "write", "Write user memory of a tag (ZRWriteUserData: area 8..224 in 32-byte pieces; or ZRWriteUserDataOnce)");
        tagOption(c, o);
        leadOption(c, o);
        byteOption(c, "-a,--address", o.address, "Start address")->required();
        c->add_option("-D,--data", o.data, "Bytes to write, hex")->check(hexBytes(0, 255))->required();
        c->add_flag("--once", o.once, "One command instead of 32-byte pieces");
        ctx.onRun(c, [&o](Context& ctx) {
            const zr::TagId tag = hexArray<8>(o.tag);
            const zr::Bytes data = hexOf(o.data);
            zr::Reader& r = ctx.reader();
            if (o.once) r.writeUserDataOnce(o.lead, o.address, tag, data);
            else r.writeUserData(o.lead, o.address, tag, data);
            ctx.out().set("address", o.address);
            ctx.out().set("written", static_cast<int64_t>(data.size()));
        });
    }
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand("lock", "Lock bytes of user memory (ZRLockUserData; area end at most 224)");
        tagOption(c, o);
        leadOption(c, o);
        byteOption(c, "-a,--address", o.address, "Start address")->required();
        byteOption(c, "-n,--count", o.count, "Number of bytes")->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().lockUserData(o.address, o.lead, hexArray<8>(o.tag), o.count);
            ctx.out().set("locked", true);
        });
    }
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand(
            "read-epc", "Read tag memory in 16-bit words with a password (ZRReadUserDataEPC)");
        passwordOption(c, o);
        leadOption(c, o);
        byteOption(c, "-a,--address", o.address, "Start address (words)");
        byteOption(c, "-w,--words", o.words, "Number of 16-bit words");
        ctx.onRun(c, [&o](Context& ctx) {
            const zr::Bytes reply =
                ctx.reader().readUserDataEpc(hexArray<4>(o.password), o.address, o.words, o.lead);
            ctx.out().set("reply", Value::bytes(reply));
            ctx.out().set("data", Value::bytes(zr::Bytes(reply.begin() + std::min<size_t>(5, reply.size()), reply.end())));
        });
    }
}

void addEpcAndUseData(CLI::App& app, Context& ctx) {
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand("set-epc", "Write a tag's EPC code (ZRSetEpcCode)");
        passwordOption(c, o);
        leadOption(c, o);
        c->add_option("-e,--epc", o.epc, "EPC code, hex, an even number of bytes")->check(hexBytes())->required();
        c->add_option("--epc-length", o.epcLength, "EPC length byte checked by the library (even, 0..12); default the EPC's byte count")
            ->check(CLI::Range(0, 255));
        ctx.onRun(c, [&o](Context& ctx) {
            const zr::Bytes epc = hexOf(o.epc);
            const int epcLength = o.epcLength >= 0 ? o.epcLength : static_cast<int>(epc.size());
            ctx.reader().setEpcCode(o.lead, hexArray<4>(o.password), epcLength, epc);
            ctx.out().set("epc", Value::bytes(epc));
        });
    }
    CLI::App* use = app.add_subcommand("use-data", "Read or write use data in 16-bit words");
    use->require_subcommand(1);
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = use->add_subcommand(
            "get", "Start a use-data read and collect its reply (ZRGetUseData, ZRGetUseDataReport)");
        passwordOption(c, o);
        leadOption(c, o);
        byteOption(c, "-a,--address", o.address, "Start address (words)");
        byteOption(c, "-w,--words", o.words, "Number of 16-bit words");
        c->add_option("--wait", o.wait, "Seconds to wait for the reply")->capture_default_str();
        ctx.onRun(c, [&o](Context& ctx) {
            zr::Reader& r = ctx.reader();
            r.getUseData(hexArray<4>(o.password), o.address, o.words, o.lead);
            zr::Bytes reply;
            std::optional<zr::Error> last;
            retryFor(o.wait, 10, [&] {
                try {
                    reply = r.getUseDataReport();
                    last.reset();
                    return true;
                } catch (const zr::Error& e) {
                    if (e.code() != ZR_ERR_NO_REPLY) throw;
                    last = e;
                    return false;
                }
            });
            if (last) throw *last;
            ctx.out().set("reply", Value::bytes(reply));
            ctx.out().set("data", Value::bytes(zr::Bytes(reply.begin() + std::min<size_t>(5, reply.size()), reply.end())));
        });
    }
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = use->add_subcommand("set", "Write use data (ZRSetUseData)");
        passwordOption(c, o);
        leadOption(c, o);
        byteOption(c, "-a,--address", o.address, "Start address (words)");
        c->add_option("-D,--data", o.data, "Data, hex, an even number of bytes")->check(hexBytes())->required();
        ctx.onRun(c, [&o](Context& ctx) {
            const zr::Bytes data = hexOf(o.data);
            ctx.reader().setUseData(o.lead, hexArray<4>(o.password), o.address, data);
            ctx.out().set("written", static_cast<int64_t>(data.size()));
        });
    }
}

void addSecurity(CLI::App& app, Context& ctx) {
    CLI::App* pw = app.add_subcommand("password", "Set a tag's access or destroy password");
    pw->require_subcommand(1);
    for (bool destroy : {false, true}) {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = pw->add_subcommand(destroy ? "destroy" : "access",
                                         destroy ? "Set the destroy password (ZRSetDestroyPWD)"
                                                 : "Set the access password (ZRSetVisitPWD)");
        passwordOption(c, o, "Current access password");
        leadOption(c, o);
        c->add_option("-N,--new", o.newPassword, "New password, 4 bytes of hex")->check(hexBytes(4))->required();
        ctx.onRun(c, [&o, destroy](Context& ctx) {
            const zr::Password password = hexArray<4>(o.password), next = hexArray<4>(o.newPassword);
            if (destroy) ctx.reader().setDestroyPassword(o.lead, password, next);
            else ctx.reader().setVisitPassword(o.lead, password, next);
            ctx.out().set("password", destroy ? "destroy" : "access");
            ctx.out().set("set", true);
        });
    }
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand("lock-area", "Lock or unlock a tag memory area (ZRSetDataLocked)");
        passwordOption(c, o);
        leadOption(c, o);
        c->add_option("-f,--flag", o.flag, "1 lock, 0 unlock")->check(CLI::Range(0, 1))->capture_default_str();
        c->add_option("-A,--area", o.area, "Area selector 0..5")->check(CLI::Range(0, 5))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().setDataLocked(o.lead, hexArray<4>(o.password), o.flag, o.area);
            ctx.out().set("area", o.area);
            ctx.out().set("locked", o.flag == 1);
        });
    }
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand("destroy", "Destroy a tag (ZRSetDestroyTag)");
        passwordOption(c, o, "Destroy password");
        leadOption(c, o);
        c->add_option("-D,--data", o.data, "Word data sent with the command, hex")->check(hexBytes());
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().setDestroyTag(o.lead, hexArray<4>(o.password), hexOf(o.data));
            ctx.out().set("destroyed", true);
        });
    }
}

void addSelection(CLI::App& app, Context& ctx) {
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand("select", "Select a tag by tag ID (ZRSelectTag) or EPC (ZRSelectTagEPC)");
        auto* tag = c->add_option("-t,--tag", o.tag, "Tag ID, 8 bytes of hex")->check(hexBytes(8));
        auto* epc = c->add_option("-e,--epc", o.epc, "EPC, hex")->check(hexBytes(0, 250));
        tag->excludes(epc);
        leadOption(c, o);
        byteOption(c, "--p1", o.param1, "First parameter byte");
        byteOption(c, "--p2", o.param2, "Second parameter byte");
        ctx.onRun(c, [&o](Context& ctx) {
            if (o.tag.empty() && o.epc.empty()) throw UsageError("give --tag or --epc");
            if (!o.tag.empty()) {
                ctx.reader().selectTag(o.lead, o.param1, o.param2, hexArray<8>(o.tag));
                ctx.out().set("tag", Value::bytes(hexOf(o.tag)));
            } else {
                ctx.reader().selectTagEpc(o.lead, o.param1, o.param2, hexOf(o.epc));
                ctx.out().set("epc", Value::bytes(hexOf(o.epc)));
            }
            ctx.out().set("selected", true);
        });
    }
    {
        auto& o = ctx.keep<TagOptions>();
        CLI::App* c = app.add_subcommand("data-return", "Set the data-return value (ZRDataReturn)");
        leadOption(c, o);
        c->add_option("value", o.value, "Value 0..4")->check(CLI::Range(0, 4))->required();
        ctx.onRun(c, [&o](Context& ctx) {
            ctx.reader().dataReturn(o.lead, o.value);
            ctx.out().set("value", o.value);
        });
    }
}

}  // namespace

void addTagCommands(CLI::App& app, Context& ctx) {
    addUserMemory(app, ctx);
    addEpcAndUseData(app, ctx);
    addSecurity(app, ctx);
    addSelection(app, ctx);
}

}  // namespace zrtool
