// list: the readers plugged in, with their paths and serial numbers, and whether each opens.
#include "cli/command.h"
#include "cli/issue_readers.h"
#include "device/reader_link.h"

namespace tollwick {
namespace {

int RunList(CliContext& ctx) {
    Output& out = ctx.Out();
    const GlobalOptions& options = ctx.Options();
    std::vector<HidDeviceInfo> found;
    std::unique_ptr<HidBackend> backend;
    std::vector<std::unique_ptr<VirtualReader>> virtuals;
    if (options.simulate) {
        for (int k = 1; k <= options.readers; ++k) {
            found.push_back({"virtual:" + std::to_string(k), kReaderVendorPrimary, kReaderProduct,
                             "VIRTUAL" + std::to_string(k)});
        }
    } else {
        backend = MakeHidapiBackend();
        for (uint16_t vendor : {kReaderVendorPrimary, kReaderVendorSecondary}) {
            for (HidDeviceInfo& info : backend->Enumerate(vendor, kReaderProduct)) {
                found.push_back(std::move(info));
            }
        }
    }
    for (const HidDeviceInfo& info : found) {
        const bool opens = !backend || backend->Open(info) != nullptr;
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", info.vendorId, info.productId);
        out.Object({{"type", "reader"},
                    {"path", info.path},
                    {"serial", info.serial.empty() ? nlohmann::ordered_json()
                                                   : nlohmann::ordered_json(info.serial)},
                    {"usb_id", id},
                    {"opens", opens}});
        out.Text(info.path + "  " + id + "  serial " +
                 (info.serial.empty() ? std::string("(none)") : info.serial) +
                 (opens ? "" : "  cannot be opened (check the permissions of its node)"));
    }
    if (found.empty()) out.Text("no reader found");
    return kExitDone;
}

}  // namespace

Command AddListCommand(CLI::App& app) {
    Command command;
    command.app = app.add_subcommand(
        "list", "List the readers plugged in: path, serial number, whether it can be opened");
    command.run = [](CliContext& ctx) { return RunList(ctx); };
    return command;
}

}  // namespace tollwick
