// The run of one zrtool command: global options, the reader (opened on first
// use), the result the command reports, and the registration helpers that the
// command families share.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "output.h"
#include "zrreader.hpp"

namespace zrtool {

// A usage error found only when the command runs (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct GlobalOptions {
    std::string config = "zrreader.ini";
    std::string section = "READER";
    bool json = false;
    bool trace = false;
    bool progress = true;   // live count of inventories on a terminal
    int family = 0;         // ZRSetDeviceClass family code before the command; 0: none
};

class Context {
public:
    using Action = std::function<void(Context&)>;

    GlobalOptions options;

    // The reader of the configuration section, opened at the first call
    // (tracing and the device class set first). Throws zr::Error.
    zr::Reader& reader();
    // The object the command fills with what it reports.
    Value& out() { return result_; }

    // Makes `action` what runs when `command` is the one chosen.
    void onRun(CLI::App* command, Action action);

    // Storage for an option's variable that lives as long as the context.
    template <class T>
    T& keep(T initial = T{}) {
        auto slot = std::make_shared<T>(std::move(initial));
        T& ref = *slot;
        kept_.push_back(std::move(slot));
        return ref;
    }

    // Runs the chosen command and prints its result or its failure.
    // Exit status: 0 success, 1 a failure reported by the library or reader,
    // 2 a usage error.
    int run();
    bool chosen() const { return static_cast<bool>(action_); }

private:
    std::optional<zr::Reader> reader_;
    Value result_ = Value::object();
    Action action_;
    std::string command_;
    std::vector<std::shared_ptr<void>> kept_;
};

// Adds a byte option (0..255; decimal or 0x-prefixed hex).
CLI::Option* byteOption(CLI::App* command, const std::string& name, int& variable, const std::string& description);

// Calls `attempt` every `pauseMs` until it returns true or `seconds` have
// passed; returns whether it succeeded.
bool retryFor(double seconds, int pauseMs, const std::function<bool()>& attempt);

// The command families.
void addInventoryCommands(CLI::App& app, Context& ctx);
void addTagCommands(CLI::App& app, Context& ctx);
void addConfigCommands(CLI::App& app, Context& ctx);
void addMaintenanceCommands(CLI::App& app, Context& ctx);
void addPortsCommand(CLI::App& app, Context& ctx);

}  // namespace zrtool
