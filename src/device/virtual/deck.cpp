#include "device/virtual/deck.h"

#include <cctype>
#include <nlohmann/json.hpp>

#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "files/locked_file.h"
#include "files/utf8_path.h"

namespace tollwick {
namespace {

// A deck of a few hundred cards is far below this; anything larger is not a deck.
constexpr std::size_t kMaxDeckBytes = std::size_t{16} << 20;

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

}  // namespace

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
        cards.push_back(std::move(entry));
    }
    return nlohmann::json{{"cards", cards}}.dump(2) + "\n";
}

std::optional<Deck> DeckFromJson(const std::string& json, std::string* error) {
    auto fail = [error](std::string why) -> std::optional<Deck> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    const nlohmann::json doc = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded()) return fail("not valid JSON");
    if (!doc.is_object() || !doc.contains("cards") || !doc["cards"].is_array()) {
        return fail("no \"cards\" list");
    }
    Deck deck;
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
        if (card.name.empty()) card.name = "Card " + number;
        deck.cards.push_back(std::move(card));
    }
    return deck;
}

std::optional<Deck> LoadOrCreateDeck(const std::filesystem::path& path, std::string* error) {
    // A missing file, or an empty one left by a run that died before its first save, gets the
    // sample deck; the lock keeps two programs starting at once from both writing it.
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
                deck = SampleDeck();
                return DeckToJson(*deck);
            }
            std::string parseError;
            deck = DeckFromJson(contents.bytes, &parseError);
            if (!deck) why = PathToUtf8(path) + ": " + parseError;
            return std::nullopt;
        },
        &why);
    if (!done || !deck) {
        if (error) *error = why;
        return std::nullopt;
    }
    return deck;
}

bool UpdateDeckFile(const std::filesystem::path& path, const std::function<bool(Deck&)>& change,
                    std::string* error) {
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
            return DeckToJson(*deck);
        },
        &why);
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

bool SaveDeckCard(const std::filesystem::path& path, std::size_t index, const VirtualCard& card,
                  std::string* error) {
    return UpdateDeckFile(
        path,
        [&](Deck& stored) {
            if (index >= stored.cards.size()) return false;
            stored.cards[index] = card;
            return true;
        },
        error);
}

}  // namespace tollwick
