#include "device/virtual/deck.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "carddata/card_summary.h"
#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "files/folder_check.h"
#include "files/locked_file.h"
#include "files/utf8_path.h"

namespace tollwick {
namespace {

std::vector<uint8_t> WrittenToRecorded(const std::vector<uint8_t>& written) {
    std::vector<uint8_t> recorded;
    recorded.reserve(written.size());
    for (uint8_t byte : written) recorded.push_back(ReverseBits(byte));
    return recorded;
}

std::optional<std::vector<uint8_t>> FromHex(const std::string& text) {
    if (text.size() % 2 != 0 || text.size() > 510) return std::nullopt;
    for (char ch : text) {
        if (!std::isxdigit(static_cast<unsigned char>(ch))) return std::nullopt;
    }
    std::vector<uint8_t> bytes(text.size() / 2);
    HexToBytes(text.c_str(), static_cast<int>(text.size()), bytes.data());
    return bytes;
}

constexpr int kDefaultInputBuffer = 64;  // reports, as hidraw holds them per open handle
constexpr int kMaxInputBuffer = 4096;

// A number from 0 to 1 made from the seed and the card's place, the same in every run.
double CardDraw(uint32_t seed, std::size_t index) {
    uint64_t z = (uint64_t{seed} << 32) + index + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / static_cast<double>(uint64_t{1} << 53);
}

nlohmann::json FaultsToJson(const FaultRates& rates) {
    nlohmann::json json = nlohmann::json::object();
    for (const FaultInfo& info : FaultTable()) {
        if (rates[info.fault]) json[info.key] = *rates[info.fault];
    }
    if (rates.inputBuffer) json["input_buffer"] = *rates.inputBuffer;
    return json;
}

// Nothing when the object is not a set of known faults with chances from 0 to 1.
std::optional<FaultRates> FaultsFromJson(const nlohmann::json& json, std::string& why) {
    if (!json.is_object()) {
        why = "is not an object";
        return std::nullopt;
    }
    FaultRates rates;
    for (const auto& [key, value] : json.items()) {
        if (key == "input_buffer") {
            if (!value.is_number_integer() || value.get<int64_t>() < 1 ||
                value.get<int64_t>() > kMaxInputBuffer) {
                why = "input_buffer is not a number of reports from 1 to 4096";
                return std::nullopt;
            }
            rates.inputBuffer = static_cast<int>(value.get<int64_t>());
            continue;
        }
        const auto& table = FaultTable();
        const std::string& name = key;  // a structured binding cannot be captured everywhere
        const auto info = std::find_if(table.begin(), table.end(),
                                       [&name](const FaultInfo& i) { return name == i.key; });
        if (info == table.end()) {
            why = "has an unknown fault \"" + key + "\"";
            return std::nullopt;
        }
        if (!value.is_number() || value.get<double>() < 0 || value.get<double>() > 1) {
            why = key + " is not a chance from 0 to 1";
            return std::nullopt;
        }
        rates[info->fault] = value.get<double>();
    }
    return rates;
}

// The keys of `object` that are not `known`, with their values as JSON text.
std::map<std::string, std::string> OtherKeys(const nlohmann::json& object,
                                             std::initializer_list<std::string_view> known) {
    std::map<std::string, std::string> other;
    for (const auto& [key, value] : object.items()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) other[key] = value.dump();
    }
    return other;
}

void PutOtherKeys(const std::map<std::string, std::string>& other, nlohmann::json& object) {
    for (const auto& [key, text] : other) {
        object[key] = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    }
}

}  // namespace

void ApplyCardChange(VirtualCard& card, const CardChange& change) {
    for (std::size_t t = 0; t < 3; ++t) {
        if (!change.tracks[t]) continue;
        card.tracks[t] = change.tracks[t]->bits;
        card.faint[t] = change.tracks[t]->faint;
    }
}

const std::array<FaultInfo, kFaultCount>& FaultTable() {
    static const std::array<FaultInfo, kFaultCount> kTable{{
        {Fault::kNoiseBefore, "noise_before", "Noise before the start sentinel"},
        {Fault::kNoiseAfter, "noise_after", "Noise after the end sentinel"},
        {Fault::kPartial, "partial", "Pulled out early"},
        {Fault::kBitErrors, "bit_errors", "Bit errors (per bit)"},
        {Fault::kWeak, "weak", "Weak spot reads wrong"},
        {Fault::kSlip, "slip", "Bit slip"},
        {Fault::kSlowStatus, "slow_status", "Slow write or erase"},
        {Fault::kStatusGap, "status_gap", "Status bytes apart"},
        {Fault::kLateRead, "late_read", "Program reads late"},
        {Fault::kNotAccepted, "not_accepted", "Command not accepted"},
        {Fault::kHighCoercivity, "high_coercivity", "Hi-Co card"},
    }};
    return kTable;
}

bool FaultRates::Empty() const {
    return !inputBuffer &&
           std::none_of(chance.begin(), chance.end(), [](const auto& c) { return c.has_value(); });
}

double FaultChance(const Deck& deck, std::size_t index, Fault fault) {
    if (index < deck.cards.size() && deck.cards[index].faults[fault])
        return *deck.cards[index].faults[fault];
    if (deck.faults[fault]) return *deck.faults[fault];
    return fault == Fault::kWeak ? 1.0 : 0.0;
}

int InputBufferReports(const Deck& deck, std::size_t index) {
    if (index < deck.cards.size() && deck.cards[index].faults.inputBuffer)
        return *deck.cards[index].faults.inputBuffer;
    return deck.faults.inputBuffer.value_or(kDefaultInputBuffer);
}

bool IsHighCoercivity(const Deck& deck, std::size_t index) {
    const double chance = FaultChance(deck, index, Fault::kHighCoercivity);
    return chance > 0 && CardDraw(deck.seed, index) < chance;
}

VirtualCard CardFromTexts(std::string name, const std::array<std::string, 3>& texts,
                          const TrackSet& settings) {
    VirtualCard card;
    card.name = std::move(name);
    for (std::size_t t = 0; t < 3; ++t) {
        auto written =
            IsRawTrackSet(settings) ? EncodeRawTrack(texts[t]) : EncodeTrack(texts[t], settings[t]);
        if (written) card.tracks[t] = WrittenToRecorded(*written);
    }
    return card;
}

Deck SampleDeck() {
    constexpr TrackSet kAamva{
        {{7, kParityOdd, '%', '?'}, {5, kParityOdd, ';', '?'}, {7, kParityOdd, '%', '?'}}};
    constexpr TrackSet kCaDmv{
        {{6, kParityNone, '%', '?'}, {5, kParityOdd, ';', '?'}, {6, kParityNone, '!', '?'}}};
    constexpr TrackSet kRaw{
        {{8, kParityOdd, '%', '?'}, {8, kParityOdd, ';', '?'}, {8, kParityOdd, ';', '?'}}};
    Deck deck;
    deck.cards.push_back(CardFromTexts("Blank card 1", {}, kIsoTrackSet));
    deck.cards.push_back(CardFromTexts("Blank card 2", {}, kIsoTrackSet));
    deck.cards.push_back(CardFromTexts("Blank card 3", {}, kIsoTrackSet));
    deck.cards.push_back(
        CardFromTexts("ISO bank card",
                      {"B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000",
                       "4000001234567899=29121010000000000000",
                       "011234567890123445=724724000000000000030300000000000000000000"},
                      kIsoTrackSet));
    // Licences in the AAMVA magnetic stripe layout: track 1 state, city, name (family$given$
    // middle), address; track 2 IIN 636014, licence number, expiry YYMM, birth date CCYYMMDD;
    // track 3 versions, postal code (11), class (2), restrictions (10), endorsements (4), sex,
    // height, weight, hair, eyes.
    deck.cards.push_back(
        CardFromTexts("AAMVA licence",
                      {"CASACRAMENTO^DOE$JOHN$Q^123 MAIN ST^", "63601412345678=291219800101",
                       "01"
                       "95814      "
                       "C "
                       "B         "
                       "    "
                       "1511180BROBLU"},
                      kAamva));
    deck.cards.push_back(
        CardFromTexts("CA DMV licence",
                      {"CASAN FRANCISCO^ROE$JANE^456 OAK AVE^", "63601487654321=310319850215",
                       "01"
                       "941021234  "
                       "C "
                       "          "
                       "    "
                       "2506130BLKBRO"},
                      kCaDmv));
    deck.cards.push_back(
        // Raw tracks start with a one bit, as everything the reader reads back does.
        CardFromTexts("Raw bytes", {"C0FFEE0123456789", "DEADBEEF", "F00DFACE"}, kRaw));
    VirtualCard damaged = CardFromTexts(
        "Damaged card",
        {"B4000001234567899^DAMAGED/CARD^2912101", "4000001234567899=2912101", "0112345678"},
        kIsoTrackSet);
    damaged.tracks[1][3] ^= 0x10;  // one flipped bit on track 2: parity and LRC fail
    deck.cards.push_back(std::move(damaged));
    // Bank cards whose fields show what can be wrong: a check digit, tracks that disagree.
    deck.cards.push_back(CardFromTexts("ISO card, bad check digit",
                                       {"B5500005555555558^ROE/JANE M.DR^2607201123456789",
                                        "5500005555555558=2607201123456789", ""},
                                       kIsoTrackSet));
    deck.cards.push_back(CardFromTexts(
        "ISO card, tracks differ",
        {"B378282246310005^PUBLIC/JOHN Q^2711101", "378282246310005=2811101", ""}, kIsoTrackSet));
    // A good card the operator swipes backwards: the reader meets its bits in reverse order.
    VirtualCard backwards =
        CardFromTexts("Backwards card",
                      {"B4000009876543210^BACKWARDS/SWIPE^3001101", "4000009876543210=3001101", ""},
                      kIsoTrackSet);
    backwards.reversed = true;
    deck.cards.push_back(std::move(backwards));
    // Well written, but one bit of track 2's stripe is weak and always reads wrong.
    VirtualCard weak = CardFromTexts(
        "Weak card", {"B4000005555555555^WEAK/SPOT^3001101", "4000005555555555=3001101", ""},
        kIsoTrackSet);
    weak.weakSpot = WeakSpot{1, 42};
    deck.cards.push_back(std::move(weak));

    // The dirt of real cards and readers, one card each, named for what it shows.
    auto dirty = [&deck](std::string name, Fault fault, double chance,
                         const std::array<std::string, 3>& texts) -> VirtualCard& {
        VirtualCard card = CardFromTexts(std::move(name), texts, kIsoTrackSet);
        card.faults[fault] = chance;
        deck.cards.push_back(std::move(card));
        return deck.cards.back();
    };
    // The ISO bank card's data, so that a clean read of any of them matches that card.
    const std::array<std::string, 3> kDirtTexts = {
        "B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000",
        "4000001234567899=29121010000000000000",
        "011234567890123445=724724000000000000030300000000000000000000"};
    dirty("Stray bits before the start sentinel", Fault::kNoiseBefore, 1, kDirtTexts);
    dirty("Noise after the end sentinel", Fault::kNoiseAfter, 1, kDirtTexts);
    dirty("Pulled out early", Fault::kPartial, 1, kDirtTexts);
    dirty("Bit errors, 1 in 1000 bits", Fault::kBitErrors, 1.0 / 1000, kDirtTexts);
    dirty("Weak spot, reads wrong half the time", Fault::kWeak, 0.5, kDirtTexts).weakSpot =
        WeakSpot{1, 42};
    dirty("Bit slip, a jerky swipe", Fault::kSlip, 1, kDirtTexts);
    dirty("Slow to write or erase", Fault::kSlowStatus, 1, kDirtTexts);
    dirty("Status bytes apart", Fault::kStatusGap, 1, kDirtTexts);
    // A read block of some 30 reports into a buffer of 4 while the program is busy elsewhere.
    dirty("Read late, input buffer overflows", Fault::kLateRead, 1, kDirtTexts).faults.inputBuffer =
        4;
    dirty("Reader busy after this card", Fault::kNotAccepted, 1, kDirtTexts);
    // Track 3 blank: a Lo-Co write leaves it faint, while tracks 1 and 2 keep their data.
    dirty("Hi-Co card, Lo-Co writes do not take", Fault::kHighCoercivity, 1,
          {kDirtTexts[0], kDirtTexts[1], ""});
    return deck;
}

std::string DeckToJson(const Deck& deck) {
    nlohmann::json cards = nlohmann::json::array();
    for (const VirtualCard& card : deck.cards) {
        nlohmann::json entry = {{"name", card.name},
                                {"track1", BytesToHexString(card.tracks[0])},
                                {"track2", BytesToHexString(card.tracks[1])},
                                {"track3", BytesToHexString(card.tracks[2])}};
        if (card.reversed) entry["reversed"] = true;
        if (card.weakSpot) {
            entry["weak_spot"] = {{"track", card.weakSpot->track + 1}, {"bit", card.weakSpot->bit}};
        }
        if (!card.faults.Empty()) entry["faults"] = FaultsToJson(card.faults);
        nlohmann::json faint = nlohmann::json::array();
        for (std::size_t t = 0; t < 3; ++t) {
            if (card.faint[t]) faint.push_back(t + 1);
        }
        if (!faint.empty()) entry["faint_tracks"] = std::move(faint);
        PutOtherKeys(card.otherKeys, entry);
        cards.push_back(std::move(entry));
    }
    // A deck without dirt is written as before, so that older programs still read it.
    nlohmann::json doc = nlohmann::json::object();
    if (deck.seed != 1) doc["seed"] = deck.seed;
    if (!deck.faults.Empty()) doc["faults"] = FaultsToJson(deck.faults);
    PutOtherKeys(deck.otherKeys, doc);
    doc["cards"] = std::move(cards);
    return doc.dump(2) + "\n";
}

std::optional<Deck> DeckFromJson(const std::string& json, std::string* error) {
    auto fail = [error](std::string why) -> std::optional<Deck> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    if (json.find('\0') != std::string::npos) return fail("holds a zero byte: not a deck");
    const nlohmann::json doc = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded()) return fail("not valid JSON");
    if (!doc.is_object() || !doc.contains("cards") || !doc["cards"].is_array()) {
        return fail("no \"cards\" list");
    }
    Deck deck;
    if (doc.contains("seed")) {
        if (!doc["seed"].is_number_unsigned() || doc["seed"].get<uint64_t>() > UINT32_MAX)
            return fail("seed is not a number from 0 to 4294967295");
        deck.seed = static_cast<uint32_t>(doc["seed"].get<uint64_t>());
    }
    std::string why;
    if (doc.contains("faults")) {
        auto rates = FaultsFromJson(doc["faults"], why);
        if (!rates) return fail("the deck's faults " + why);
        deck.faults = *rates;
    }
    deck.otherKeys = OtherKeys(doc, {"seed", "faults", "cards"});
    for (const auto& entry : doc["cards"]) {
        if (!entry.is_object()) return fail("a card is not an object");
        VirtualCard card;
        if (entry.contains("name") && entry["name"].is_string())
            card.name = entry["name"].get<std::string>();
        for (std::size_t t = 0; t < 3; ++t) {
            const std::string key = "track" + std::to_string(t + 1);
            if (!entry.contains(key)) continue;
            if (!entry[key].is_string()) return fail(key + " is not a hex string");
            auto bytes = FromHex(entry[key].get<std::string>());
            if (!bytes)
                return fail(key + " of card " + std::to_string(deck.cards.size() + 1) +
                            " is not hex of at most 255 bytes");
            card.tracks[t] = std::move(*bytes);
        }
        const std::string number = std::to_string(deck.cards.size() + 1);
        if (entry.contains("reversed")) {
            if (!entry["reversed"].is_boolean())
                return fail("reversed of card " + number + " is not true or false");
            card.reversed = entry["reversed"].get<bool>();
        }
        if (entry.contains("weak_spot")) {
            const auto& spot = entry["weak_spot"];
            if (!spot.is_object() || !spot.contains("track") || !spot.contains("bit") ||
                !spot["track"].is_number_integer() || !spot["bit"].is_number_integer() ||
                spot["track"].get<int64_t>() < 1 || spot["track"].get<int64_t>() > 3 ||
                spot["bit"].get<int64_t>() < 0 || spot["bit"].get<int64_t>() >= 255 * 8) {
                return fail("weak_spot of card " + number +
                            " is not {\"track\": 1..3, \"bit\": 0..2039}");
            }
            card.weakSpot = WeakSpot{static_cast<int>(spot["track"].get<int64_t>()) - 1,
                                     static_cast<int>(spot["bit"].get<int64_t>())};
        }
        if (entry.contains("faults")) {
            auto rates = FaultsFromJson(entry["faults"], why);
            if (!rates) return fail("faults of card " + number + " " + why);
            card.faults = *rates;
        }
        if (entry.contains("faint_tracks")) {
            const auto& faint = entry["faint_tracks"];
            if (!faint.is_array()) return fail("faint_tracks of card " + number + " is not a list");
            for (const auto& track : faint) {
                if (!track.is_number_integer() || track.get<int64_t>() < 1 ||
                    track.get<int64_t>() > 3) {
                    return fail("faint_tracks of card " + number +
                                " holds a track other than 1..3");
                }
                card.faint[static_cast<std::size_t>(track.get<int64_t>() - 1)] = true;
            }
        }
        card.otherKeys = OtherKeys(entry, {"name", "track1", "track2", "track3", "reversed",
                                           "weak_spot", "faults", "faint_tracks"});
        if (card.name.empty()) card.name = "Card " + number;
        deck.cards.push_back(std::move(card));
    }
    return deck;
}

std::optional<std::string> DeckFileText(const Deck& deck, std::size_t maxBytes,
                                        std::string* error) {
    std::string text = DeckToJson(deck);
    if (text.size() <= maxBytes) return text;
    if (error) {
        *error = "the deck would grow to " + std::to_string(text.size()) + " bytes, more than " +
                 std::to_string(maxBytes) + " a deck file may hold";
    }
    return std::nullopt;
}

namespace {

// A deck goes into a folder that is there: no folder is made for it.
bool InAFolderThatIsThere(const std::filesystem::path& path, std::string* error) {
    const auto folder = MissingFolderOf(path);
    if (folder && error) *error = path.string() + ": " + MissingFolderText(*folder);
    return !folder;
}

}  // namespace

std::optional<Deck> LoadOrCreateDeck(const std::filesystem::path& path, std::string* error,
                                     const LockWait& wait, Deck (*fresh)()) {
    if (!InAFolderThatIsThere(path, error)) return std::nullopt;
    // A missing file, or an empty one left by a run that died before its first save, gets the
    // fresh deck; the lock keeps two programs starting at once from both writing it.
    std::optional<Deck> deck;
    std::string why;
    const bool done = RewriteFileLocked(
        path, kMaxDeckBytes,
        [&](const FileContents& contents) -> std::optional<std::string> {
            if (contents.state == FileState::kUnusable) {
                why =
                    "cannot read " + PathToUtf8(path) + " (not a readable file of at most 16 MiB)";
                return std::nullopt;
            }
            if (contents.state == FileState::kMissing || contents.bytes.empty()) {
                deck = fresh();
                return DeckToJson(*deck);
            }
            std::string parseError;
            deck = DeckFromJson(contents.bytes, &parseError);
            if (!deck) why = PathToUtf8(path) + ": " + parseError;
            return std::nullopt;
        },
        &why, wait);
    if (!done || !deck) {
        if (error) *error = why;
        return std::nullopt;
    }
    return deck;
}

bool UpdateDeckFile(const std::filesystem::path& path, const std::function<bool(Deck&)>& change,
                    std::string* error, const LockWait& wait) {
    if (!InAFolderThatIsThere(path, error)) return false;
    std::string why;
    const bool done = RewriteFileLocked(
        path, kMaxDeckBytes,
        [&](const FileContents& contents) -> std::optional<std::string> {
            std::optional<Deck> deck;
            if (contents.state == FileState::kRead && !contents.bytes.empty()) {
                std::string parseError;
                deck = DeckFromJson(contents.bytes, &parseError);
                if (!deck) {
                    why = PathToUtf8(path) + ": " + parseError;
                    return std::nullopt;
                }
            } else if (contents.state == FileState::kUnusable) {
                why = "cannot read " + PathToUtf8(path);
                return std::nullopt;
            } else {
                deck = SampleDeck();
            }
            if (!change(*deck)) {
                why = PathToUtf8(path) + " no longer holds that card";
                return std::nullopt;
            }
            std::string tooLarge;
            auto text = DeckFileText(*deck, kMaxDeckBytes, &tooLarge);
            if (!text) why = PathToUtf8(path) + ": " + tooLarge + "; it is left as it was";
            return text;
        },
        &why, wait);
    if (!done || !why.empty()) {
        if (error) *error = why;
        return false;
    }
    return true;
}

bool SaveDeck(const std::filesystem::path& path, const Deck& deck, std::string* error) {
    return UpdateDeckFile(
        path,
        [&deck](Deck& stored) {
            stored = deck;
            return true;
        },
        error);
}

bool SaveCardChange(const std::filesystem::path& path, const CardChange& change,
                    const TrackSet& formats, VirtualCard* saved, std::string* error,
                    const LockWait& wait) {
    return UpdateDeckFile(
        path,
        [&](Deck& stored) {
            if (change.index >= stored.cards.size()) return false;
            VirtualCard& card = stored.cards[change.index];
            const TrackBytes before = card.tracks;
            ApplyCardChange(card, change);
            card.name = ChangedCardName(before, card.tracks, formats);
            if (saved) *saved = card;
            return true;
        },
        error, wait);
}

}  // namespace tollwick
