// inspect: why a track fails. The bit stream of one track given in hex, or of the three tracks of
// the next swipe, cut into characters in the track's format, with the first failure and every
// format, direction and polarity that decodes it.
#include "carddata/account_mask.h"
#include "carddata/hex.h"
#include "carddata/track_inspector.h"
#include "cli/card_results.h"
#include "cli/codec_options.h"
#include "cli/command.h"
#include "cli/json_output.h"

namespace tollwick {
namespace {

struct InspectOptions {
    CodecOptions codec;
    int track = 0;  // 0: not given
    std::string hex;
    double timeout = kDefaultTimeoutSeconds;
};

// The format a track is inspected in: the one in force, with the codec options given.
TrackSettings InspectedFormat(TrackSettings settings, const InspectOptions& o,
                              const CLI::App& app) {
    if (app.count("--bpc")) settings.bpc = static_cast<uint8_t>(o.codec.bpc);
    if (app.count("--parity")) {
        settings.parity = o.codec.parity == "odd"    ? kParityOdd
                          : o.codec.parity == "even" ? kParityEven
                                                     : kParityNone;
    }
    if (app.count("--ss")) settings.startSentinel = o.codec.ss[0];
    if (app.count("--es")) settings.endSentinel = o.codec.es[0];
    return settings;
}

// Prints one track's analysis (account numbers masked under --mask, the characters that hold
// them included); true when the track's read fails.
bool Report(Output& out, int track, TrackInspection inspection, bool first) {
    if (out.Masking()) MaskAccountNumbers(inspection);
    out.Object(InspectionJson(track, inspection));
    if (!first) out.Text("");
    for (const std::string& line : RenderInspection(inspection, track)) out.Text(line);
    return !inspection.decodes;
}

int RunInspect(CliContext& ctx, const InspectOptions& o, const CLI::App& app) {
    Output& out = ctx.Out();
    const bool formatGiven =
        app.count("--bpc") || app.count("--parity") || app.count("--ss") || app.count("--es");
    if (o.codec.ss.size() != 1 || o.codec.es.size() != 1) {
        return out.Fail(kExitUsage, "--ss and --es take one character each");
    }
    const bool hexGiven = app.count("HEX") > 0;
    if (formatGiven && !hexGiven && o.track == 0) {
        return out.Fail(kExitUsage, "--bpc, --parity, --ss and --es need --track N or HEX");
    }
    if (hexGiven) {
        if (!IsHexText(o.hex) || o.hex.size() % 2 != 0) {
            return out.Fail(kExitUsage,
                            "'" + o.hex + "' is not hexadecimal bytes (two digits per byte)");
        }
        if (o.hex.size() / 2 > kMaxInspectedBytes) {
            return out.Fail(kExitUsage, "'" + o.hex.substr(0, 16) + "...' holds more than " +
                                            std::to_string(kMaxInspectedBytes) + " bytes");
        }
        const ProfileStore profile(ProfilePathOf(ctx.Options()), ProfileStore::Reads::kOnce);
        if (const auto problem = profile.Problem()) return out.Fail(kExitFileFailed, *problem);
        const int track = o.track ? o.track : 2;
        const TrackSettings settings = InspectedFormat(
            LayoutInForce(ctx.Options(), profile).settings[static_cast<std::size_t>(track - 1)], o,
            app);
        std::vector<uint8_t> bytes(o.hex.size() / 2);
        HexToBytes(o.hex.c_str(), static_cast<int>(o.hex.size()), bytes.data());
        return Report(out, track, InspectTrack(bytes, settings), true) ? kExitCheckFailed
                                                                       : kExitDone;
    }

    if (const int status = ctx.OpenSession(false, o.timeout)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    const TrackSet formats = session.Layout().settings;
    out.SwipePrompt();
    ReadCard read;
    const StepOutcome outcome = ReadOneCard(session, formats, o.timeout, read);
    if (outcome == StepOutcome::kStopped) return ctx.Interrupt("no card read");
    if (outcome != StepOutcome::kDone) return ReportOutcome(out, outcome, o.timeout, "");
    // Bytes that are no read block hold no track to inspect; they are never a blank card.
    if (read.damaged) {
        return out.Fail(kExitCheckFailed,
                        "the reader's read block could not be taken apart: no track came whole");
    }
    bool failed = false;
    for (int t = 1; t <= 3; ++t) {
        if (o.track != 0 && t != o.track) continue;
        const auto index = static_cast<std::size_t>(t - 1);
        const TrackSettings settings =
            o.track != 0 ? InspectedFormat(formats[index], o, app) : formats[index];
        failed |= Report(out, t, InspectTrack(read.raw[index], settings), o.track != 0 || t == 1);
    }
    return failed ? kExitCheckFailed : kExitDone;
}

}  // namespace

Command AddInspectCommand(CLI::App& app) {
    auto options = std::make_shared<InspectOptions>();
    Command command;
    command.app = app.add_subcommand(
        "inspect",
        "Show why a track fails: its bits as characters, the first failure, the formats "
        "that decode it");
    command.helpNote =
        "Without HEX: arm a read and inspect the three tracks of the next swipe in the formats in "
        "force.\nWith HEX: one track's bytes as read, in the format of --track N (default 2).\n"
        "The verdict is the program's own read of the track; what the inspector adds (stray "
        "bits, a wrong or slipped bit and its repair, a swipe that ended early, another "
        "direction or format) is explanation.\n"
        "Exit status 1 when a track's read fails (an empty track does not).\n\n";
    command.app
        ->add_option("--track", options->track,
                     "The track HEX is from (default 2), or the only track of the swipe shown; "
                     "its format in force (--format) is used")
        ->type_name("N")
        ->check(WholeNumber(1, 3));
    AddCodecOptions(*command.app, options->codec, true);
    for (const char* name : {"--bpc", "--parity", "--ss", "--es"}) {
        CLI::Option* option = command.app->get_option(name);
        option->description(option->get_description() + " (overrides the track's format)");
    }
    AddTimeoutOption(*command.app, options->timeout);
    command.app->add_option("HEX", options->hex, "One track's bytes as read, in hex");
    command.run = [options, app = command.app](CliContext& ctx) -> int {
        return RunInspect(ctx, *options, *app);
    };
    return command;
}

}  // namespace tollwick
