#include "cli/codec_options.h"

#include <cctype>

#include "cli/exit_codes.h"
#include "cli/options.h"

namespace tollwick {

void AddCodecOptions(CLI::App& command, CodecOptions& o, bool withStartSentinel) {
    command.add_option("--bpc", o.bpc, "Bits per character, parity included (4-7; 8: raw hex)")
        ->type_name("N")
        ->check(WholeNumber(4, 8));
    command.add_option("--parity", o.parity, "odd, even or none")
        ->type_name("P")
        ->check(OneOf({"odd", "even", "none"}));
    if (withStartSentinel) command.add_option("--ss", o.ss, "Start sentinel")->type_name("C");
    command.add_option("--es", o.es, "End sentinel")->type_name("C");
}

std::optional<TrackSettings> CodecSettings(const CodecOptions& o, Output& out) {
    if (o.ss.size() != 1 || o.es.size() != 1) {
        out.Fail(kExitUsage, "--ss and --es take one character each");
        return std::nullopt;
    }
    TrackSettings s;
    s.bpc = static_cast<uint8_t>(o.bpc);
    s.parity = o.parity == "odd" ? kParityOdd : (o.parity == "even" ? kParityEven : kParityNone);
    s.startSentinel = o.ss[0];
    s.endSentinel = o.es[0];
    return s;
}

bool IsHexText(std::string_view text) {
    for (char ch : text) {
        if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
    }
    return true;
}

}  // namespace tollwick
