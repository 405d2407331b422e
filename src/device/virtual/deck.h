// The virtual reader's cards: recorded bit streams, kept in a JSON file between runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "carddata/track_format.h"
#include "files/locked_file.h"

namespace tollwick {

// The dirt of real cards and readers, each a chance from 0 to 1, drawn from the deck's seed so
// that the same swipes meet the same faults in every run. What each does to a swipe, a write or
// the link is in virtual_reader.h.
enum class Fault : uint8_t {
    kNoiseBefore,     // per track and swipe: stray one bits or a burst before the start sentinel
    kNoiseAfter,      // per track and swipe: a noise burst after the end sentinel
    kPartial,         // per swipe: the card pulled out early, at any bit of its data
    kBitErrors,       // per recorded bit and swipe: the bit reads wrong
    kWeak,            // per swipe: the card's weak spot reads wrong (1 when nobody says)
    kSlip,            // per track and swipe: one bit lost or doubled, as from a jerky swipe
    kSlowStatus,      // per write or erase: the status comes 20 to 400 ms after the card
    kStatusGap,       // per status: its two bytes come 1 to 349 ms apart
    kLateRead,        // per reply: the program reads nothing until the whole reply has come
    kNotAccepted,     // per swipe: the next output report is not accepted for 60 to 200 ms
    kHighCoercivity,  // per card, drawn once: a Hi-Co card, which a Lo-Co write does not change
};
inline constexpr std::size_t kFaultCount = 11;

struct FaultInfo {
    Fault fault;
    const char* key;    // in the deck file
    const char* label;  // in the Virtual reader window
};
// Every fault, in the order of Fault.
const std::array<FaultInfo, kFaultCount>& FaultTable();

// The chances set on one card or on the whole deck; an unset chance falls back to the deck's,
// and then to none (the weak spot: always). inputBuffer is the number of input reports the
// program's side holds while nobody reads (64 when nobody says, as hidraw's buffer); reports
// beyond it are lost.
struct FaultRates {
    std::array<std::optional<double>, kFaultCount> chance;
    std::optional<int> inputBuffer;

    std::optional<double>& operator[](Fault f) { return chance[static_cast<std::size_t>(f)]; }
    const std::optional<double>& operator[](Fault f) const {
        return chance[static_cast<std::size_t>(f)];
    }
    bool Empty() const;
    friend bool operator==(const FaultRates&, const FaultRates&) = default;
};

// A bit of one track that reads inverted when the card is swiped (with the chance kWeak): a flaw
// of the stripe.
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
    FaultRates faults;                 // this card's own chances
    // Tracks that a Lo-Co write left only faintly recorded on a Hi-Co card: their one bits read
    // as zeros now and then.
    std::array<bool, 3> faint{};
    // Keys of the deck file this program does not know, each with its value as JSON text: a
    // newer program's, or a user's own notes. They go back into the file as they came.
    std::map<std::string, std::string> otherKeys;
};

struct Deck {
    std::vector<VirtualCard> cards;
    FaultRates faults;                             // for every card that does not set its own
    uint32_t seed = 1;                             // the faults' random draws
    std::map<std::string, std::string> otherKeys;  // as VirtualCard::otherKeys, deck-wide
};

// What one write or erase did to one card: the tracks the reader recorded or cleared, each with
// its new bits and whether they are faint. Tracks it left alone are not part of it, nor is
// anything else of the card, so that it can be laid over the card as a deck file holds it now.
struct TrackChange {
    std::vector<uint8_t> bits;  // empty: cleared
    bool faint = false;
    friend bool operator==(const TrackChange&, const TrackChange&) = default;
};
struct CardChange {
    std::size_t index = 0;                             // the card, from 0
    std::array<std::optional<TrackChange>, 3> tracks;  // set: this track was recorded or cleared
    uint64_t sequence = 0;  // the reader's count of changes to this card, this one included
};

// Lays `change` over `card`: the tracks it recorded or cleared, nothing else.
void ApplyCardChange(VirtualCard& card, const CardChange& change);

// The chance of `fault` for card `index` of the deck: the card's, else the deck's, else none.
double FaultChance(const Deck& deck, std::size_t index, Fault fault);
// The input buffer, in reports, while card `index` goes through (deck-wide when index is past
// the cards).
int InputBufferReports(const Deck& deck, std::size_t index);
// Whether card `index` is a Hi-Co card: its kHighCoercivity chance, drawn once per card from
// the deck's seed, so that a card keeps its coercivity from run to run.
bool IsHighCoercivity(const Deck& deck, std::size_t index);

// A card whose tracks hold the given texts (without sentinels) encoded with the given formats.
VirtualCard CardFromTexts(std::string name, const std::array<std::string, 3>& texts,
                          const TrackSet& settings);

// Blank cards, well-formed samples of every data type and a damaged card.
Deck SampleDeck();

// JSON: {"seed": n, "faults": {...}, "cards": [{"name": ..., "track1": "HEX", "track2": ...,
//   "track3": ..., "reversed": true, "weak_spot": {"track": 1..3, "bit": n}, "faults": {...},
//   "faint_tracks": [1..3, ...]}, ...]}; everything but "cards" is optional, and a deck without
// the newer keys loads as before. "faults" holds the keys of FaultTable() with chances from 0 to
// 1, and "input_buffer" with a number of reports (1 to 4096). Other keys of the deck and of its
// cards are kept (otherKeys) and written back.
std::string DeckToJson(const Deck& deck);
// Nothing when the text is not a deck; error tells why. A zero byte anywhere makes it no deck
// (the parser would drop what follows it, and a rewrite would lose it).
std::optional<Deck> DeckFromJson(const std::string& json, std::string* error = nullptr);

// The largest deck file read or written: a deck of a few hundred cards is far below this, and a
// deck never grows past it, so that every deck file the program writes it can read again.
inline constexpr std::size_t kMaxDeckBytes = std::size_t{16} << 20;
// The text a deck file gets (DeckToJson), or nothing when it would be longer than maxBytes: it
// could not be read back (*error says so, with the sizes).
std::optional<std::string> DeckFileText(const Deck& deck, std::size_t maxBytes,
                                        std::string* error = nullptr);

// Deck files hold card data: they are created 0600 and rewritten under their lock (see
// files/locked_file.h), so that two programs on one deck never lose a card either wrote. `wait`
// says how long a lock that another process holds is waited for, and what ends the wait; a
// rewrite that would make the file larger than a deck may be (16 MiB), or of a read-only file,
// is refused, and the file is left as it was (locked_file.h gives the messages).

// Loads the deck file, or creates it with the deck `fresh` makes (the sample deck unless the
// caller says otherwise) when missing or empty: an empty one is what a run killed before its
// first save leaves, and it gets the same deck as a missing one. A missing folder is an error (no
// folder is made for a deck), as for UpdateDeckFile.
std::optional<Deck> LoadOrCreateDeck(const std::filesystem::path& path,
                                     std::string* error = nullptr, const LockWait& wait = {},
                                     Deck (*fresh)() = SampleDeck);
// Reads the file's deck (the sample deck when missing), lets `change` alter it and writes it
// back, all under the file's lock. `change` returns false to leave the file alone; that, like a
// file that cannot be read, parsed or written, gives false with the reason in *error.
bool UpdateDeckFile(const std::filesystem::path& path, const std::function<bool(Deck&)>& change,
                    std::string* error = nullptr, const LockWait& wait = {});
// Replaces the whole deck.
bool SaveDeck(const std::filesystem::path& path, const Deck& deck, std::string* error = nullptr);
// Lays what one write or erase did over the card as the file holds it now, leaving the rest of
// that card and every other card as they are there (another program may have written them since
// this one read the file), and names the card by what it holds then, decoded with `formats`
// ("written %B123?", see ChangedCardName). *saved gets the card as saved, for the reader's copy.
bool SaveCardChange(const std::filesystem::path& path, const CardChange& change,
                    const TrackSet& formats, VirtualCard* saved = nullptr,
                    std::string* error = nullptr, const LockWait& wait = {});

}  // namespace tollwick
