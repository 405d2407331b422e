// The virtual reader's cards: recorded bit streams, kept in a JSON file between runs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "carddata/track_format.h"

namespace tollwick {

// A bit of one track that reads inverted whenever the card is swiped: a flaw of the stripe.
struct WeakSpot {
    int track = 0;  // 0..2
    int bit = 0;    // recorded bit, counted from the first bit of the track
    friend bool operator==(const WeakSpot&, const WeakSpot&) = default;
};

// One card: per track the recorded bits, first bit in bit 7 of the first byte.
struct VirtualCard {
    std::string name;
    std::array<std::vector<uint8_t>, 3> tracks;
    bool reversed = false;             // the operator swipes it backwards
    std::optional<WeakSpot> weakSpot;  // survives writes: it is in the stripe
};

struct Deck {
    std::vector<VirtualCard> cards;
};

// A card whose tracks hold the given texts (without sentinels) encoded with the given formats.
VirtualCard CardFromTexts(std::string name, const std::array<std::string, 3>& texts,
                          const TrackSet& settings);

// Blank cards, well-formed samples of every data type and a damaged card.
Deck SampleDeck();

// JSON: {"cards": [{"name": ..., "track1": "HEX", "track2": ..., "track3": ...,
//   "reversed": true, "weak_spot": {"track": 1..3, "bit": n}}, ...]}; the last two are optional.
std::string DeckToJson(const Deck& deck);
// Nothing when the text is not a deck; error tells why.
std::optional<Deck> DeckFromJson(const std::string& json, std::string* error = nullptr);

// Deck files hold card data: they are created 0600 and rewritten under their lock (see
// files/locked_file.h), so that two programs on one deck never lose a card either wrote.

// Loads the deck file, or creates it with the sample deck when missing or empty.
std::optional<Deck> LoadOrCreateDeck(const std::filesystem::path& path,
                                     std::string* error = nullptr);
// Reads the file's deck (the sample deck when missing), lets `change` alter it and writes it
// back, all under the file's lock. `change` returns false to leave the file alone; that, like a
// file that cannot be read, parsed or written, gives false with the reason in *error.
bool UpdateDeckFile(const std::filesystem::path& path, const std::function<bool(Deck&)>& change,
                    std::string* error = nullptr);
// Replaces the whole deck.
bool SaveDeck(const std::filesystem::path& path, const Deck& deck, std::string* error = nullptr);
// Replaces one card: the card the reader changed, leaving every other card as the file has it.
bool SaveDeckCard(const std::filesystem::path& path, std::size_t index, const VirtualCard& card,
                  std::string* error = nullptr);

}  // namespace tollwick
