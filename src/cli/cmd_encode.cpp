// encode: the bytes written for each text, as upper-case hex. No reader.
#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "cli/codec_options.h"
#include "cli/command.h"
#include "cli/json_output.h"

namespace tollwick {
namespace {

struct EncodeOptions {
    CodecOptions codec;
    std::vector<std::string> texts;
};

int RunEncode(CliContext& ctx, const EncodeOptions& options) {
    Output& out = ctx.Out();
    const auto settings = CodecSettings(options.codec, out);
    if (!settings) return kExitUsage;
    std::vector<std::pair<std::string, std::string>> encoded;
    for (std::string text : options.texts) {
        for (char& ch : text) {
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        }
        std::optional<std::vector<uint8_t>> bytes;
        if (settings->bpc == 8) {
            if (!IsHexText(text) || text.size() % 2 != 0) {
                return out.Fail(kExitUsage, "'" + text +
                                                "': with --bpc 8 the text is hexadecimal, two "
                                                "digits per byte");
            }
            bytes = EncodeRawTrack(text);
        } else {
            for (char ch : text) {
                if (settings->bpc <= 5 ? !InNarrowAlphabet(ch) : !InWideAlphabet(ch)) {
                    return out.Fail(kExitUsage, "'" + text + "': character '" + std::string(1, ch) +
                                                    "' is not in the " +
                                                    std::to_string(settings->bpc) +
                                                    "-bit alphabet");
                }
            }
            bytes = EncodeTrack(text, *settings);
        }
        if (!bytes) return out.Fail(kExitUsage, "'" + text + "' is too long for one track");
        encoded.emplace_back(text, BytesToHexString(*bytes));
    }
    for (const auto& [text, hex] : encoded) {
        out.Object(EncodedJson(text, hex));
        out.Text(hex);
    }
    return kExitDone;
}

}  // namespace

Command AddEncodeCommand(CLI::App& app) {
    auto options = std::make_shared<EncodeOptions>();
    Command command;
    command.app =
        app.add_subcommand("encode", "Print the bytes written for each TEXT, as upper-case hex");
    AddCodecOptions(*command.app, options->codec, true);
    command.app->add_option("TEXT", options->texts, "Track texts without sentinels")->required();
    command.run = [options](CliContext& ctx) -> int { return RunEncode(ctx, *options); };
    return command;
}

}  // namespace tollwick
