// The virtual reader's cards: recorded bit streams, kept in a JSON file between runs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "carddata/track_format.h"

namespace tollwick {

// One card: per track the recorded bits as the reader plays them back (first bit in bit 7).
struct VirtualCard {
    std::string name;
    std::array<std::vector<uint8_t>, 3> tracks;
};

struct Deck {
    std::vector<VirtualCard> cards;
};

// A card whose tracks hold the given texts (without sentinels) encoded with the given formats.
VirtualCard CardFromTexts(std::string name, const std::array<std::string, 3>& texts,
                          const TrackSet& settings);

// Blank cards, well-formed samples of every data type and a damaged card.
Deck SampleDeck();

// JSON: {"cards": [{"name": ..., "track1": "HEX", "track2": ..., "track3": ...}, ...]}.
std::string DeckToJson(const Deck& deck);
// Nothing when the text is not a deck; error tells why.
std::optional<Deck> DeckFromJson(const std::string& json, std::string* error = nullptr);

// Loads the deck file, or creates it with the sample deck when missing.
std::optional<Deck> LoadOrCreateDeck(const std::filesystem::path& path,
                                     std::string* error = nullptr);
// Writes atomically (temp file and rename).
bool SaveDeck(const std::filesystem::path& path, const Deck& deck, std::string* error = nullptr);

}  // namespace tollwick
