// decode: the track text of each hex string of bytes as read. No reader.
#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "cli/codec_options.h"
#include "cli/command.h"
#include "cli/json_output.h"

namespace tollwick {
namespace {

struct DecodeOptions {
    CodecOptions codec;
    std::vector<std::string> hexes;
};

int RunDecode(CliContext& ctx, const DecodeOptions& options) {
    Output& out = ctx.Out();
    const auto settings = CodecSettings(options.codec, out);
    if (!settings) return kExitUsage;
    std::vector<TrackBuffer> buffers;
    for (const std::string& hex : options.hexes) {
        if (!IsHexText(hex) || hex.size() % 2 != 0) {
            return out.Fail(kExitUsage,
                            "'" + hex + "' is not hexadecimal bytes (two digits per byte)");
        }
        if (hex.size() / 2 > kTrackBufferSize - 1) {
            return out.Fail(kExitUsage, "'" + hex.substr(0, 16) +
                                            "...' holds more than 255 bytes, more than one track");
        }
        TrackBuffer buffer{};
        HexToBytes(hex.c_str(), static_cast<int>(hex.size()),
                   reinterpret_cast<uint8_t*>(buffer.data()));
        buffers.push_back(buffer);
    }
    bool anyFailed = false;
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        TrackBuffer& buffer = buffers[i];
        const bool failed =
            (settings->bpc == 8 ? DecodeRawTrack(buffer) : DecodeTrack(buffer, *settings)) ==
            TrackDecode::kFailed;
        anyFailed |= failed;
        TrackResult track;
        const std::string_view text(buffer.data());
        if (failed) {
            track.status = TrackStatus::kError;
            // The bytes as given, upper case, without the zero bytes after the data: a track's
            // raw bytes as a read reports them ("hex" keeps them as given).
            for (char ch : options.hexes[i])
                track.raw += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            while (track.raw.size() >= 2 && track.raw.ends_with("00"))
                track.raw.resize(track.raw.size() - 2);
        } else if (!text.empty() && text != kNoDataText) {
            track.status = TrackStatus::kOk;
            track.text = text;
        }
        out.Object(DecodedJson(options.hexes[i], track));
        out.Text(failed ? std::string("{ERROR}") : std::string(text));
    }
    return anyFailed ? kExitCheckFailed : kExitDone;
}

}  // namespace

Command AddDecodeCommand(CLI::App& app) {
    auto options = std::make_shared<DecodeOptions>();
    Command command;
    command.app =
        app.add_subcommand("decode", "Print the track text decoded from each HEX (bytes as read)");
    AddCodecOptions(*command.app, options->codec, false);
    command.app->add_option("HEX", options->hexes, "Track bytes as read, in hex")->required();
    command.run = [options](CliContext& ctx) -> int { return RunDecode(ctx, *options); };
    return command;
}

}  // namespace tollwick
