// `zrtool ports`: the serial ports and the USB stand-in devices present.
#include "context.h"
#include "platform/platform.h"

namespace zrtool {

void addPortsCommand(CLI::App& app, Context& ctx) {
    CLI::App* c = app.add_subcommand(
        "ports", "List serial ports and USB reader devices (the class folder is $ZR_USB_DIR when set); opens no reader");
    ctx.onRun(c, [](Context& ctx) {
        Value serial = Value::array();
        for (const std::string& port : zr::platform::serialPorts()) serial.push(Value::string(port));
        Value usb = Value::array();
        for (const std::string& device : zr::platform::usbDevices()) usb.push(Value::string(device));
        ctx.out().set("serial", std::move(serial));
        ctx.out().set("usb_folder", zr::platform::usbClassFolder());
        ctx.out().set("usb", std::move(usb));
    });
}

}  // namespace zrtool
