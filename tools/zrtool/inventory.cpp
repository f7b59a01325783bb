// Inventories of every kind, for one round, a count of reports or a
// duration, with a live count of reports on a terminal.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <thread>

#include "args.h"
#include "context.h"

namespace zrtool {
namespace {

// The start exports, adapted to one parameter list.
struct Starts {
    static int basic(zr::Port& r, const std::vector<int>& p, const std::array<uint8_t, 4>&) {
        return r.identify(p[0], p[1]);
    }
    static int direct(zr::Port& r, const std::vector<int>& p, const std::array<uint8_t, 4>&) {
        return r.directRead(p[0], p[1]);
    }
    static int longInventory(zr::Port& r, const std::vector<int>& p, const std::array<uint8_t, 4>&) {
        return r.longIdentify(p[0], p[1], p[2]);
    }
    static int user(zr::Port& r, const std::vector<int>& p, const std::array<uint8_t, 4>&) {
        return r.userIdentify(p[0], p[1], p[2], p[3], p[4], p[5]);
    }
    static int epc(zr::Port& r, const std::vector<int>& p, const std::array<uint8_t, 4>&) {
        return r.identifyEpcCode(p[0], p[1], p[2]);
    }
    static int tid(zr::Port& r, const std::vector<int>& p, const std::array<uint8_t, 4>& extra) {
        return r.identifyTidCode(p[0], p[1], p[2], extra);
    }
};

struct Kind {
    const char* name;
    const char* description;
    size_t params;
    int (*start)(zr::Port&, const std::vector<int>&, const std::array<uint8_t, 4>&);
    std::optional<zr::Bytes> (zr::Port::*collect)();
};

const Kind kKinds[] = {
    {"basic", "inventory (ZRIdentify, ZRReport)", 2, Starts::basic, &zr::Port::report},
    {"direct", "direct read (ZRDirectRead, ZRDirectReport)", 2, Starts::direct, &zr::Port::directReport},
    {"long", "long inventory (ZRLongIdentify, ZRLongReport)", 3, Starts::longInventory, &zr::Port::longReport},
    {"user", "user inventory (ZRUserIdentify, ZRUserReport)", 6, Starts::user, &zr::Port::userReport},
    {"epc", "EPC inventory (ZRIdentifyEpcCode, ZREpcCodeReport)", 3, Starts::epc, &zr::Port::epcCodeReport},
    {"tid", "TID inventory (ZRIdentifyTIDCode, ZRTIDCodeReport)", 3, Starts::tid, &zr::Port::tidCodeReport},
};

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) { interrupted.store(true); }

struct InventoryOptions {
    std::string kind = "basic";
    std::vector<int> params;
    std::string extra = "00000000";
    long count = 0;          // stop after this many reports (0: no limit)
    double duration = 0;     // stop after this many seconds (0: no limit)
    int quietMs = 300;       // a round ends after this long without a report
    bool each = false;       // list every report, not only the distinct ones
};

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The live count on stderr: rewritten in place, at most ten times a second.
class LiveCount {
public:
    explicit LiveCount(bool on) : on_(on) {}
    ~LiveCount() {
        if (on_ && shown_) std::fputs("\r\033[K", stderr);
    }
    void update(long reports, size_t distinct, int rounds, double seconds, bool force = false) {
        if (!on_) return;
        const auto now = Clock::now();
        if (!force && shown_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        std::fprintf(stderr, "\r\033[Kreports %ld  distinct %zu  rounds %d  %.1f s", reports, distinct, rounds, seconds);
        std::fflush(stderr);
    }

private:
    bool on_;
    bool shown_ = false;
    Clock::time_point last_{};
};

void runInventory(Context& ctx, const Kind& kind, const InventoryOptions& o) {
    zr::Reader& reader = ctx.reader();
    std::vector<int> params = o.params;
    params.resize(6, 0);
    const std::array<uint8_t, 4> extra = hexArray<4>(o.extra);

    interrupted.store(false);
    struct sigaction action {}, previous{};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, &previous);

    LiveCount live(ctx.options.progress && !ctx.options.trace && isatty(STDERR_FILENO));
    std::map<zr::Bytes, long> seen;        // report → times
    std::vector<zr::Bytes> order;          // distinct reports in order of arrival
    Value each = Value::array();
    std::map<std::string, long> failures;  // result name → times
    long reports = 0;
    int rounds = 0;
    const auto begin = Clock::now();
    const bool once = o.count == 0 && o.duration == 0;
    auto finished = [&] {
        return interrupted.load() || (o.count > 0 && reports >= o.count) ||
               (o.duration > 0 && secondsSince(begin) >= o.duration);
    };

    do {
        kind.start(reader, params, extra);
        ++rounds;
        auto lastReport = Clock::now();
        while (!finished()) {
            std::optional<zr::Bytes> report;
            try {
                report = (reader.*kind.collect)();
            } catch (const zr::Error& e) {
                if (e.code() == ZR_CLOSED) throw;
                ++failures[e.name()];  // a report the library refused: count it and go on
                lastReport = Clock::now();
                continue;
            }
            if (report) {
                ++reports;
                if (seen[*report]++ == 0) order.push_back(*report);
                if (o.each) each.push(Value::bytes(*report));
                lastReport = Clock::now();
            } else if (Clock::now() - lastReport >= std::chrono::milliseconds(o.quietMs)) {
                break;  // the round is over
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            live.update(reports, order.size(), rounds, secondsSince(begin));
        }
    } while (!once && !finished());
    live.update(reports, order.size(), rounds, secondsSince(begin), true);
    sigaction(SIGINT, &previous, nullptr);

    Value& out = ctx.out();
    out.set("kind", kind.name);
    out.set("reports", static_cast<int64_t>(reports));
    out.set("distinct", static_cast<int64_t>(order.size()));
    out.set("rounds", rounds);
    out.set("seconds", Value::real(secondsSince(begin)));
    if (interrupted.load()) out.set("interrupted", true);
    Value list = Value::array();
    for (const zr::Bytes& report : order) {
        Value item = Value::object();
        item.set("report", Value::bytes(report));
        item.set("times", static_cast<int64_t>(seen[report]));
        list.push(std::move(item));
    }
    out.set("seen", std::move(list));
    if (o.each) out.set("each", std::move(each));
    if (!failures.empty()) {
        Value f = Value::object();
        for (const auto& [name, times] : failures) f.set(name, static_cast<int64_t>(times));
        out.set("refused", std::move(f));
    }
}

}  // namespace

void addInventoryCommands(CLI::App& app, Context& ctx) {
    auto& o = ctx.keep<InventoryOptions>();
    CLI::App* c = app.add_subcommand(
        "inventory",
        "Run an inventory and list the reports (status byte and data; EPC and TID reports as whole packets).\n"
        "Without --count or --duration: one round, which ends when no report came for --quiet ms.\n"
        "With them: rounds one after another until the count of reports or the duration is reached (or Ctrl-C).");
    std::vector<std::string> names;
    std::string kinds;
    for (const Kind& k : kKinds) {
        names.push_back(k.name);
        kinds += std::string("\n  ") + k.name + ": " + k.description + ", " + std::to_string(k.params) + " bytes";
    }
    c->add_option("-k,--kind", o.kind, "Kind of inventory:" + kinds)->check(CLI::IsMember(names))->capture_default_str();
    c->add_option("-p,--param", o.params, "Parameter bytes of the start command, in order (missing ones are 0)")
        ->check(CLI::Range(0, 255))
        ->expected(1, 6);
    c->add_option("--extra", o.extra, "The four extra bytes of the TID inventory")
        ->check(hexBytes(4))
        ->capture_default_str();
    c->add_option("-n,--count", o.count, "Stop after this many reports")->check(CLI::PositiveNumber);
    c->add_option("-d,--duration", o.duration, "Stop after this many seconds")->check(CLI::PositiveNumber);
    c->add_option("--quiet", o.quietMs, "Milliseconds without a report that end a round")
        ->check(CLI::Range(10, 60000))
        ->capture_default_str();
    c->add_flag("--each", o.each, "Also list every report in order of arrival");
    ctx.onRun(c, [&o](Context& ctx) {
        for (const Kind& k : kKinds)
            if (o.kind == k.name) {
                if (o.params.size() > k.params)
                    throw UsageError("--param: the " + o.kind + " inventory takes " + std::to_string(k.params) +
                                     " parameter bytes");
                runInventory(ctx, k, o);
            }
    });
}

}  // namespace zrtool
