// density, coercivity, beep: one reader setting each, no card. A setting the reader took but
// the profile could not keep is a failure: the next start would not use it.
#include "cli/command.h"
#include "cli/json_output.h"
#include "files/utf8_path.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

int ProfileNotWritten(CliContext& ctx, const std::string& what) {
    const ProfileStore& profile = ctx.ReaderSession().Profile();
    std::string text =
        what + ", but the settings file " + PathToUtf8(profile.Path()) + " could not be written";
    if (!profile.LastError().empty()) text += ": " + profile.LastError();
    if (Interrupted()) return ctx.Out().Fail(kExitInterrupted, "interrupted; " + text);
    return ctx.Out().Fail(kExitFileFailed, text);
}

int RunDensity(CliContext& ctx, int bpi) {
    if (const int status = ctx.OpenSession(false)) return status;
    Session& session = ctx.ReaderSession();
    StartupConnection details;
    if (const int status = session.Connect(ConnectDetail::kDensityOnly, &details)) return status;
    const Track2Density density = bpi == 210 ? Track2Density::k210 : Track2Density::k75;
    if (session.Reader().SetTrack2Density(density == Track2Density::k210) != CardStatus::kDone) {
        if (Interrupted()) return ctx.Interrupt("");
        return ctx.Out().Fail(kExitNoReader, "the reader did not confirm the density");
    }
    const std::string done = "the reader records track 2 at " + std::to_string(bpi) + " BPI";
    if (!StoreDensity(session.Profile(), density) || !session.PortStored()) {
        return ProfileNotWritten(ctx, done);
    }
    ctx.Out().Object(SettingJson("track2_density", bpi));
    ctx.Out().Text("Track-2 density " + std::to_string(bpi) + " BPI");
    return kExitDone;
}

int RunCoercivity(CliContext& ctx, const std::string& level) {
    if (const int status = ctx.OpenSession(false)) return status;
    Session& session = ctx.ReaderSession();
    StartupConnection details;
    if (const int status = session.Connect(ConnectDetail::kDensityOnly, &details)) return status;
    ReaderCommands& reader = session.Reader();
    const CommandStatus result = level == "hi" ? reader.SetHiCo() : reader.SetLoCo();
    if (result != CommandStatus::kOk) {
        if (Interrupted()) return ctx.Interrupt("");
        return ctx.Out().Fail(kExitNoReader, "the reader did not confirm the coercivity");
    }
    const std::string name = level == "hi" ? "Hi-Co" : "Lo-Co";
    if (!session.PortStored()) return ProfileNotWritten(ctx, "the reader is set to " + name);
    ctx.Out().Object(SettingJson("coercivity", level));
    ctx.Out().Text(name);
    return kExitDone;
}

int RunBeep(CliContext& ctx, const std::string& state) {
    if (const int status = ctx.OpenSession(false)) return status;
    Session& session = ctx.ReaderSession();
    StartupConnection details;
    if (const int status = session.Connect(ConnectDetail::kFull, &details)) return status;
    ReaderCommands& reader = session.Reader();
    if (state == "on") {
        reader.BeepOn();
    } else {
        reader.BeepOff();
    }
    if (!reader.IsConnected())
        return ctx.Out().Fail(kExitNoReader, "the link to the reader failed");
    if (!session.PortStored()) return ProfileNotWritten(ctx, "the beeper is " + state);
    nlohmann::ordered_json object = SettingJson("beeper", state);
    object["beep_supported"] = details.beepSupported;
    ctx.Out().Object(object);
    ctx.Out().Text("Beeper " + state +
                   (details.beepSupported ? "" : " (this firmware may not support it)"));
    return kExitDone;
}

}  // namespace

Command AddDensityCommand(CLI::App& app) {
    auto bpi = std::make_shared<int>(0);
    Command command;
    command.app = app.add_subcommand("density", "Set the track-2 recording density and store it");
    command.app->add_option("BPI", *bpi, "75 or 210")->required()->check(OneOf({"75", "210"}));
    command.run = [bpi](CliContext& ctx) -> int { return RunDensity(ctx, *bpi); };
    return command;
}

Command AddCoercivityCommand(CLI::App& app) {
    auto level = std::make_shared<std::string>();
    Command command;
    command.app = app.add_subcommand("coercivity", "Switch the reader to Hi-Co or Lo-Co");
    command.app->add_option("LEVEL", *level, "hi or lo")->required()->check(OneOf({"hi", "lo"}));
    command.run = [level](CliContext& ctx) -> int { return RunCoercivity(ctx, *level); };
    return command;
}

Command AddBeepCommand(CLI::App& app) {
    auto state = std::make_shared<std::string>();
    Command command;
    command.app = app.add_subcommand("beep", "Switch the reader's beeper on or off");
    command.app->add_option("STATE", *state, "on or off")->required()->check(OneOf({"on", "off"}));
    command.run = [state](CliContext& ctx) -> int { return RunBeep(ctx, *state); };
    return command;
}

}  // namespace tollwick
