#include "device/virtual/deck.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "carddata/hex.h"
#include "carddata/track_codec.h"

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

}  // namespace

VirtualCard CardFromTexts(std::string name, const std::array<std::string, 3>& texts,
                          const TrackSet& settings) {
    VirtualCard card{std::move(name), {}};
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
    deck.cards.push_back({"Blank card 1", {}});
    deck.cards.push_back({"Blank card 2", {}});
    deck.cards.push_back({"Blank card 3", {}});
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
        CardFromTexts("Raw bytes", {"0123456789ABCDEF", "DEADBEEF", "00FF00FF"}, kRaw));
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
    return deck;
}

std::string DeckToJson(const Deck& deck) {
    nlohmann::json cards = nlohmann::json::array();
    for (const VirtualCard& card : deck.cards) {
        cards.push_back({{"name", card.name},
                         {"track1", BytesToHexString(card.tracks[0])},
                         {"track2", BytesToHexString(card.tracks[1])},
                         {"track3", BytesToHexString(card.tracks[2])}});
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
        if (card.name.empty()) card.name = "Card " + std::to_string(deck.cards.size() + 1);
        deck.cards.push_back(std::move(card));
    }
    return deck;
}

std::optional<Deck> LoadOrCreateDeck(const std::filesystem::path& path, std::string* error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        Deck deck = SampleDeck();
        if (!SaveDeck(path, deck, error)) return std::nullopt;
        return deck;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path.string();
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string why;
    auto deck = DeckFromJson(text.str(), &why);
    if (!deck && error) *error = path.string() + ": " + why;
    return deck;
}

bool SaveDeck(const std::filesystem::path& path, const Deck& deck, std::string* error) {
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    std::filesystem::path temp = path;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << DeckToJson(deck);
        out.flush();
        if (!out) {
            if (error) *error = "cannot write " + temp.string();
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        if (error) *error = "cannot replace " + path.string() + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

}  // namespace tollwick
