// The virtual reader's deck file: any text must either be refused or give a deck that saves and
// loads back unchanged, dirt included, and whose every card plays back as a reader would send
// it, with every kind of dirt. A deck is never saved larger than the largest file the program
// reads: scaled down to this input's size, a deck that loaded from it either saves within that
// size and reads back, or its save is refused (a deck of 200,000 "{}" cards once loaded from
// 800 KB and saved 20 MB that no later run could read).
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/virtual/card_stripe.h"
#include "device/virtual/deck.h"
#include "fuzz_input.h"

namespace fuzz = tollwick::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto deck = tollwick::DeckFromJson(text, &error);
    if (!deck) {
        if (error.empty()) fuzz::Fail("a refused deck gives no reason");
        return 0;
    }
    for (const auto& card : deck->cards) {
        if (card.name.empty()) fuzz::Fail("a card without a name");
        for (const auto& track : card.tracks) {
            if (track.size() > 255) fuzz::Fail("a track longer than 255 bytes");
        }
    }
    const auto within = tollwick::DeckFileText(*deck, size, &error);
    if (within && (within->size() > size || !tollwick::DeckFromJson(*within)))
        fuzz::Fail("a deck saved past the size it was read from, or that does not load");
    if (!within && tollwick::DeckToJson(*deck).size() <= size)
        fuzz::Fail("a deck within the size refused");
    const auto saved = tollwick::DeckFileText(*deck, tollwick::kMaxDeckBytes);
    if (!saved) fuzz::Fail("a small deck refused");
    const auto again = tollwick::DeckFromJson(*saved);
    if (!again || again->cards.size() != deck->cards.size())
        fuzz::Fail("a saved deck does not load");
    for (std::size_t i = 0; i < deck->cards.size(); ++i) {
        const auto& card = deck->cards[i];
        if (again->cards[i].name != card.name || again->cards[i].tracks != card.tracks ||
            again->cards[i].reversed != card.reversed ||
            again->cards[i].weakSpot != card.weakSpot || again->cards[i].faults != card.faults ||
            again->cards[i].faint != card.faint || again->cards[i].otherKeys != card.otherKeys) {
            fuzz::Fail("a saved card loads differently");
        }
        for (std::size_t t = 0; t < 3; ++t) {
            // Every kind of dirt at once, placed by the card's own bits.
            tollwick::TrackSwipe swipe;
            swipe.reversed = card.reversed;
            if (card.weakSpot && card.weakSpot->track == static_cast<int>(t)) {
                swipe.flippedBits.push_back(card.weakSpot->bit);
            }
            const int dataBits = tollwick::RecordedDataBits(card.tracks[t]);
            if (dataBits > 0) {
                swipe.slip = tollwick::BitSlip{dataBits / 2, (dataBits & 1) != 0};
                swipe.noiseBefore = {true, false, true};
                swipe.noiseAfter = {true, true};
                swipe.gapAfter = 8;
            }
            if (card.faults[tollwick::Fault::kPartial])
                swipe.cutAt = *card.faults[tollwick::Fault::kPartial];
            const auto sent = tollwick::PlayTrack(card.tracks[t], swipe);
            if (sent.size() > 255) fuzz::Fail("a track plays back longer than 255 bytes");
            if (!sent.empty() && (sent[0] & 0x80) == 0) fuzz::Fail("playback not from a one bit");
        }
    }
    if (again->faults != deck->faults || again->seed != deck->seed ||
        again->otherKeys != deck->otherKeys)
        fuzz::Fail("a saved deck's dirt loads differently");
    return 0;
}
