// info: connect as at start-up and say what the reader is.
#include "cli/command.h"
#include "cli/json_output.h"
#include "settings/stored_settings.h"

namespace tollwick {

Command AddInfoCommand(CLI::App& app) {
    Command command;
    command.app = app.add_subcommand(
        "info", "Connect as at start-up, send the density, print port, firmware and coercivity");
    command.run = [](CliContext& ctx) -> int {
        if (const int status = ctx.OpenSession(false)) return status;
        Session& session = ctx.ReaderSession();
        StartupConnection details;
        if (const int status = session.Connect(ConnectDetail::kFull, &details)) return status;
        const char* coercivity =
            !details.coercivity ? "unknown" : (*details.coercivity == kHiCo ? "Hi-Co" : "Lo-Co");
        const int density = static_cast<int>(StoredDensity(session.Profile()));
        Output& out = ctx.Out();
        out.Object(InfoJson(details, density));
        out.Text("Port: COM" + std::to_string(details.port));
        out.Text("Connection: " + ConnectionLine(details.port, details.version));
        out.Text("Firmware: " + (details.versionRead ? details.version : "(no answer)"));
        out.Text(std::string("Coercivity: ") + coercivity);
        out.Text("Track-2 density: " + std::to_string(density) + " BPI" +
                 (details.densityResult == CardStatus::kDone ? "" : " (reader did not confirm)"));
        return kExitDone;
    };
    return command;
}

}  // namespace tollwick
