// zrtool: drives a reader from the shell through the reader library.
//
//   zrtool -c reader.ini -s READER inventory --duration 5
//   zrtool --json power get
//
// Exit status: 0 success, 1 a failure reported by the library or the reader
// (its result code's name and text are printed), 2 a usage error.
#include <iostream>

#include <CLI/CLI.hpp>

#include "context.h"

int main(int argc, char** argv) {
    zrtool::Context ctx;
    CLI::App app{"zrtool: drive an RFID tag reader through the reader library.\n"
                 "Options before or after the command: -c/--config, -s/--section, --json, --trace."};
    app.set_help_all_flag("--help-all", "Print help for every command");
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("-c,--config", ctx.options.config, "Configuration file (as for ZROpen)")
        ->envname("ZRTOOL_CONFIG")
        ->capture_default_str();
    app.add_option("-s,--section", ctx.options.section, "Section of the configuration file that describes the reader")
        ->envname("ZRTOOL_SECTION")
        ->capture_default_str();
    app.add_flag("--json", ctx.options.json, "Print the result as one JSON object");
    app.add_flag("--trace", ctx.options.trace, "Trace every packet sent and received on stderr (ZR_TRACE=stderr)");
    bool noProgress = false;
    app.add_flag("--no-progress", noProgress, "No live count of reports during inventories");
    app.add_option("--family", ctx.options.family, "Device family code for the status mapping before the command")
        ->check(CLI::IsMember({500, 600, 800}));

    zrtool::addInventoryCommands(app, ctx);
    zrtool::addTagCommands(app, ctx);
    zrtool::addConfigCommands(app, ctx);
    zrtool::addMaintenanceCommands(app, ctx);
    zrtool::addPortsCommand(app, ctx);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    ctx.options.progress = !noProgress;
    if (!ctx.chosen()) {
        std::cerr << app.help();
        return 2;
    }
    return ctx.run();
}
