// One verdict: the track inspector against the program's own read, for any bit stream and any
// track format.
//
// Input: 3 bytes of track format (see fuzz_input.h), then the track's bytes as read.
// Checked:
// - the inspector's good/fails is the program's own decode (DecodeTrack, DecodeRawTrack for 8
//   bits per character) of the same bytes, and its text is the decode's text, masked or not;
// - a decode failure is told exactly when the read fails;
// - what the explanation claims holds: the frame after stray bits decodes, a repaired bit makes
//   the stream decode to the repaired text, another reading taken for the answer has a parity
//   check.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "carddata/account_mask.h"
#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "carddata/track_inspector.h"
#include "fuzz_input.h"

using tollwick::TrackInspection;
using tollwick::TrackSettings;
namespace fuzz = tollwick::fuzz;

namespace {

using Bytes = std::vector<uint8_t>;

// The program's read of bytes: nothing when it fails, else its text.
std::optional<std::string> ProgramRead(const uint8_t* raw, std::size_t n, const TrackSettings& s) {
    tollwick::TrackBuffer buffer{};
    std::memcpy(buffer.data(), raw, std::min(n, tollwick::kMaxInspectedBytes));
    const bool failed =
        s.bpc == 8 ? tollwick::DecodeRawTrack(buffer) : tollwick::DecodeTrack(buffer, s);
    if (failed) return std::nullopt;
    return std::string(buffer.data());
}

Bytes Pack(const std::string& bits) {
    Bytes bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    }
    return bytes;
}

void CheckVerdict(const TrackInspection& in, const uint8_t* raw, std::size_t n,
                  const TrackSettings& s) {
    const std::optional<std::string> read = ProgramRead(raw, n, s);
    if (in.decodes != read.has_value()) fuzz::Fail("the inspector's verdict is not the read's");
    if (read && in.text != *read) fuzz::Fail("the inspector's text is not the read's");
    if (!read && !in.text.empty()) fuzz::Fail("a text for a read that fails");
    if (in.formatKnown && !in.blank && in.failure.has_value() == in.decodes) {
        fuzz::Fail("a failure told for a good read, or none for a bad one");
    }
    const std::string verdict = tollwick::VerdictText(in);
    if (verdict.starts_with("good") != (in.decodes && !in.blank)) fuzz::Fail("verdict words");
}

// What the explanation claims, checked against the program's decode of the stream as claimed.
void CheckExplanation(const TrackInspection& in, const TrackSettings& s) {
    using tollwick::Finding;
    if (in.decodes != (in.finding == Finding::kDecodes)) fuzz::Fail("finding for the verdict");
    if (in.finding == Finding::kStrayBits) {
        if (in.startBit <= 0) fuzz::Fail("stray bits without a frame after them");
        const Bytes frame = Pack(in.bits.substr(static_cast<std::size_t>(in.startBit)));
        if (!ProgramRead(frame.data(), frame.size(), s)) fuzz::Fail("the frame after stray bits");
    }
    if ((in.finding == Finding::kBitError || in.finding == Finding::kBitSlip) !=
        in.repair.has_value()) {
        fuzz::Fail("a repair without its finding");
    }
    if (in.repair) {
        std::string bits = in.bits.substr(static_cast<std::size_t>(std::max(in.startBit, 0)));
        const auto at = static_cast<std::size_t>(in.repair->bit - std::max(in.startBit, 0));
        if (at > bits.size()) fuzz::Fail("repair out of the stream");
        switch (in.repair->kind) {
            case tollwick::RepairKind::kFlip:
                bits[at] = bits[at] == '1' ? '0' : '1';
                break;
            case tollwick::RepairKind::kExtra:
                bits.erase(at, 1);
                break;
            case tollwick::RepairKind::kLost:
                bits.insert(at, 1, in.repair->reads);
                break;
        }
        if (in.repair->text.empty() || in.repair->text == in.text) fuzz::Fail("repair text");
        const Bytes repaired = Pack(bits);
        const auto read = ProgramRead(repaired.data(), repaired.size(), s);
        if (!read || !in.repair->text.starts_with(*read)) fuzz::Fail("the repair does not decode");
    }
    if (in.finding == Finding::kOtherReading &&
        (in.candidates.empty() || !in.candidates.front().checked)) {
        fuzz::Fail("another reading without a parity check taken for the answer");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < fuzz::kSettingsBytes + 1) return 0;
    const TrackSettings settings = fuzz::SettingsFromBytes(data);
    const uint8_t* raw = data + fuzz::kSettingsBytes;
    const std::size_t n = size - fuzz::kSettingsBytes;

    TrackInspection in = tollwick::InspectTrack(std::span<const uint8_t>(raw, n), settings);
    CheckVerdict(in, raw, n, settings);
    CheckExplanation(in, settings);
    tollwick::MaskAccountNumbers(in);
    if (in.decodes != ProgramRead(raw, n, settings).has_value()) fuzz::Fail("masking the verdict");
    return 0;
}
