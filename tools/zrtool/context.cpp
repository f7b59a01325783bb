#include "context.h"

#include <cstdlib>
#include <iostream>
#include <thread>

namespace zrtool {

zr::Reader& Context::reader() {
    if (!reader_) {
        // The library reads ZR_TRACE once, at its first exchange: set it before opening.
        if (options.trace) setenv("ZR_TRACE", "stderr", 1);
        if (options.family) zr::setDeviceClass(options.family);
        reader_.emplace(options.config, options.section);
    }
    return *reader_;
}

void Context::onRun(CLI::App* command, Action action) {
    std::string path;
    for (const CLI::App* c = command; c && c->get_parent(); c = c->get_parent())
        path = c->get_name() + (path.empty() ? "" : " " + path);
    command->callback([this, path, action = std::move(action)] {
        command_ = path;
        action_ = action;
    });
}

int Context::run() {
    Value report = Value::object();
    report.set("ok", true);
    report.set("command", command_);
    try {
        action_(*this);
        if (reader_) reader_->close();
    } catch (const zr::Error& e) {
        Value error = Value::object();
        error.set("operation", e.operation());
        error.set("code", e.code());
        error.set("name", e.name());
        error.set("text", e.text());
        if (options.json) {
            report.set("ok", false);
            for (const auto& [key, value] : result_.members()) report.set(key, value);
            report.set("error", error);
            std::cout << toJson(report) << std::endl;
        } else {
            printText(std::cout, result_);
            std::cerr << "zrtool: " << command_ << ": " << e.operation() << " failed: " << e.name() << " ("
                      << e.code() << "): " << e.text() << "\n";
        }
        return 1;
    } catch (const UsageError& e) {
        std::cerr << "zrtool: " << command_ << ": " << e.what() << "\n";
        return 2;
    }
    if (options.json) {
        for (const auto& [key, value] : result_.members()) report.set(key, value);
        std::cout << toJson(report) << std::endl;
    } else {
        printText(std::cout, result_);
    }
    return 0;
}

CLI::Option* byteOption(CLI::App* command, const std::string& name, int& variable, const std::string& description) {
    return command->add_option(name, variable, description)->check(CLI::Range(0, 255))->capture_default_str();
}

bool retryFor(double seconds, int pauseMs, const std::function<bool()>& attempt) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (attempt()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

}  // namespace zrtool
