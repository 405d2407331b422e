#include "cli/issue_readers.h"

#include <algorithm>
#include <sstream>

#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "device/device_choice.h"
#include "device/virtual/deck.h"
#include "files/utf8_path.h"

namespace tollwick {
namespace {

// Blank cards are added to a virtual deck this many at a time.
constexpr std::size_t kBlankCardsAdded = 64;
constexpr auto kDefaultPace = std::chrono::milliseconds(150);

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

std::vector<HidDeviceInfo> PresentReaders(HidBackend& backend) {
    std::vector<HidDeviceInfo> found = backend.Enumerate(kReaderVendorPrimary, kReaderProduct);
    for (HidDeviceInfo& info : backend.Enumerate(kReaderVendorSecondary, kReaderProduct)) {
        found.push_back(std::move(info));
    }
    return found;
}

// A stack of blank cards: what an issuing run starts from when no deck file is given or there is
// none yet (the sample deck's dirty cards would fail the run's checks).
Deck BlankDeck() {
    Deck deck;
    for (std::size_t i = 1; i <= kBlankCardsAdded; ++i) {
        deck.cards.push_back(CardFromTexts("Blank card " + std::to_string(i), {}, kIsoTrackSet));
    }
    return deck;
}

std::vector<std::unique_ptr<CliReader>> VirtualReaders(const GlobalOptions& options,
                                                       const std::string& devices, bool blankDecks,
                                                       Output& out, int& status) {
    std::vector<std::unique_ptr<CliReader>> readers;
    std::vector<std::string> wanted = SplitCommas(devices == "all" ? "" : devices);
    if (wanted.empty() && !options.device.empty()) wanted.push_back(options.device);
    for (int k = 1; k <= options.readers; ++k) {
        const std::string name = "virtual:" + std::to_string(k);
        if (devices != "all" && devices.empty() && wanted.empty() && k > 1) break;
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), name) == wanted.end()) {
            continue;
        }
        Deck (*fresh)() = blankDecks ? BlankDeck : SampleDeck;
        const std::filesystem::path deckPath = VirtualDeckPath(options, k);
        Deck deck;
        if (deckPath.empty()) {
            deck = fresh();
        } else {
            // Made and read under the file's lock: a run killed while it made the file left it
            // empty, and the next run makes it again, of blank cards.
            std::string error;
            auto loaded = LoadOrCreateDeck(deckPath, &error, {}, fresh);
            if (!loaded) {
                status = out.Fail(kExitFileFailed, "cannot use the deck: " + error);
                return {};
            }
            deck = std::move(*loaded);
        }
        auto reader = std::make_unique<VirtualReader>(VirtualReader::Options{}, std::move(deck));
        auto backend =
            std::make_unique<InterruptibleBackend>(std::make_unique<VirtualBackend>(*reader));
        readers.push_back(std::make_unique<CliReader>(name, std::move(backend)));
        readers.back()->MakeVirtual(std::move(reader), deckPath, VirtualPace(options, k));
    }
    if (readers.empty()) {
        status = out.Fail(
            kExitNoReader,
            "no virtual reader " + (devices.empty() ? options.device : devices) +
                " (there are virtual:1 to virtual:" + std::to_string(options.readers) + ")");
    }
    return readers;
}

// A deck file that another Tollwick holds is waited for as long as a swipe; an interrupt ends the
// wait, except one that came before: the card was written and is kept.
LockWait DeckLockWait() {
    return LockWait{TimeoutOf(kDefaultTimeoutSeconds),
                    Interrupted() ? std::stop_token() : InterruptStop()};
}

}  // namespace

CliReader::CliReader(std::string name, std::unique_ptr<HidBackend> backend)
    : name_(std::move(name)), backend_(std::move(backend)) {
    link_ = std::make_unique<ReaderLink>(*backend_);
    commands_ = std::make_unique<ReaderCommands>(*link_);
}

CliReader::~CliReader() {
    commands_.reset();
    link_.reset();
    backend_.reset();
}

void CliReader::MakeVirtual(std::unique_ptr<VirtualReader> reader, std::filesystem::path deckPath,
                            std::chrono::milliseconds pace) {
    virtual_ = std::move(reader);
    deckPath_ = std::move(deckPath);
    pace_ = pace;
    virtual_->SetOnCardChanged([this](const CardChange& change) {
        std::lock_guard lock(changesMutex_);
        changes_.push_back(change);
    });
}

bool CliReader::PresentCard(long long slot, std::string& error) {
    if (!virtual_) return true;
    const auto index = static_cast<std::size_t>(slot);
    if (index >= virtual_->CardCount()) {
        // The operator's stack of blank cards: more of them at the end of the deck, as the deck
        // file holds it now (another program may have changed its cards).
        Deck deck = virtual_->GetDeck();
        const auto addBlankCards = [index, &deck](Deck& stored) {
            while (stored.cards.size() <= index + kBlankCardsAdded / 2) {
                stored.cards.push_back(CardFromTexts(
                    "Blank card " + std::to_string(stored.cards.size() + 1), {}, kIsoTrackSet));
            }
            deck = stored;
            return true;
        };
        if (deckPath_.empty()) {
            addBlankCards(deck);
        } else if (!UpdateDeckFile(deckPath_, addBlankCards, &error, DeckLockWait())) {
            return false;
        }
        virtual_->SetDeck(std::move(deck));
    }
    virtual_->SetAutoSwipe(index, pace_, false);
    return true;
}

bool CliReader::SaveChangedCards(const TrackSet& formats, std::string& error) {
    if (!virtual_ || deckPath_.empty()) return true;
    std::vector<CardChange> changes;
    {
        std::lock_guard lock(changesMutex_);
        changes.swap(changes_);
    }
    for (const CardChange& change : changes) {
        VirtualCard saved;
        if (!SaveCardChange(deckPath_, change, formats, &saved, &error, DeckLockWait())) {
            return false;
        }
        virtual_->RefreshCard(change, saved);
    }
    return true;
}

std::chrono::milliseconds VirtualPace(const GlobalOptions& options, int index) {
    const auto first = options.pace >= 0 ? std::chrono::milliseconds(options.pace) : kDefaultPace;
    return first + first * (index - 1) / 4;
}

std::filesystem::path VirtualDeckPath(const GlobalOptions& options, int index) {
    if (options.deckPath.empty()) return {};
    if (options.readers <= 1) return PathFromUtf8(options.deckPath);
    return PathFromUtf8(options.deckPath + "." + std::to_string(index));
}

std::vector<std::unique_ptr<CliReader>> FindReaders(const GlobalOptions& options,
                                                    const std::string& devices, bool blankDecks,
                                                    Output& out, int& status) {
    status = kExitDone;
    if (options.simulate) return VirtualReaders(options, devices, blankDecks, out, status);
    std::shared_ptr<HidBackend> hidapi = MakeHidapiBackend();
    std::vector<std::string> wanted;
    if (devices == "all") {
        for (const HidDeviceInfo& info : PresentReaders(*hidapi)) wanted.push_back(info.path);
    } else {
        wanted = SplitCommas(devices);
        if (wanted.empty() && !options.device.empty()) wanted.push_back(options.device);
    }
    std::vector<std::unique_ptr<CliReader>> readers;
    if (wanted.empty()) {
        // The first reader found, as the desktop program takes it; when none is there, the
        // connection says so in its words.
        const std::vector<HidDeviceInfo> present = PresentReaders(*hidapi);
        if (present.empty()) {
            readers.push_back(std::make_unique<CliReader>(
                "reader", std::make_unique<InterruptibleBackend>(MakeHidapiBackend())));
            return readers;
        }
        wanted.push_back(present.front().path);
    }
    for (const std::string& choice : wanted) {
        auto chosen = std::make_unique<ChosenDeviceBackend>(hidapi, choice);
        if (PresentReaders(*chosen).empty()) {
            status = out.Fail(kExitNoReader, "no reader " + choice + " (see tollwick-cli list)");
            return {};
        }
        readers.push_back(std::make_unique<CliReader>(
            choice, std::make_unique<InterruptibleBackend>(std::move(chosen))));
    }
    return readers;
}

}  // namespace tollwick
