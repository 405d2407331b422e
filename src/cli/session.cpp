#include "cli/session.h"

#include <chrono>

#include "cli/interrupt.h"
#include "cli/issue_readers.h"
#include "device/device_choice.h"
#include "device/virtual/deck.h"
#include "files/utf8_path.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

// In --simulate the chosen card is swiped this long after the reader is armed.
constexpr auto kSimulatedSwipeDelay = std::chrono::milliseconds(150);

}  // namespace

std::filesystem::path ProfilePathOf(const GlobalOptions& options) {
    return options.profilePath.empty() ? DefaultProfilePath() : PathFromUtf8(options.profilePath);
}

DataTypeLayout LayoutInForce(const GlobalOptions& options, const ProfileStore& profile) {
    return LayoutFor(FormatType(options), StoredDensity(profile), kIsoTrackSet,
                     ReadUserKeys(profile));
}

Session::Session(const GlobalOptions& options, Output& out, bool cardAfterCard)
    : options_(options), out_(out), cardAfterCard_(cardAfterCard) {}

Session::~Session() = default;

int Session::Prepare() {
    std::unique_ptr<HidBackend> inner;
    if (!options_.simulate) {
        inner = MakeHidapiBackend();
        if (!options_.device.empty()) {
            inner = std::make_unique<ChosenDeviceBackend>(std::move(inner), options_.device);
        }
    } else {
        // --device virtual:K picks one of the --readers virtual readers, with its deck.
        int index = 1;
        if (!options_.device.empty()) {
            const std::string prefix = "virtual:";
            const std::string k = options_.device.substr(
                options_.device.starts_with(prefix) ? prefix.size() : options_.device.size());
            index = k.empty() || k.size() > 2 ? 0 : std::atoi(k.c_str());
            if (index < 1 || index > options_.readers) {
                return out_.Fail(kExitNoReader, "no virtual reader " + options_.device +
                                                    " (there are virtual:1 to virtual:" +
                                                    std::to_string(options_.readers) + ")");
            }
        }
        deckPath_ = VirtualDeckPath(options_, index);
        Deck deck = SampleDeck();
        if (!deckPath_.empty()) {
            std::string error;
            auto loaded = LoadOrCreateDeck(deckPath_, &error);
            if (!loaded) return out_.Fail(kExitFileFailed, "cannot use the deck: " + error);
            deck = std::move(*loaded);
        }
        if (static_cast<std::size_t>(options_.card) > deck.cards.size()) {
            return out_.Fail(kExitUsage, "--card " + std::to_string(options_.card) +
                                             ": the deck has cards 1 to " +
                                             std::to_string(deck.cards.size()));
        }
        for (const VirtualCard& card : deck.cards) savedTracks_.push_back(card.tracks);
        virtualReader_ = std::make_unique<VirtualReader>(VirtualReader::Options{}, std::move(deck));
        virtualReader_->SetAutoSwipe(static_cast<std::size_t>(options_.card - 1),
                                     kSimulatedSwipeDelay, cardAfterCard_);
        virtualReader_->SetOnCardChanged([this](std::size_t card) {
            std::lock_guard lock(changedMutex_);
            changedCards_.insert(card);
        });
        inner = std::make_unique<VirtualBackend>(*virtualReader_);
    }
    backend_ = std::make_unique<InterruptibleBackend>(std::move(inner));
    link_ = std::make_unique<ReaderLink>(*backend_);
    reader_ = std::make_unique<ReaderCommands>(*link_);
    profile_ = std::make_unique<ProfileStore>(ProfilePathOf(options_));
    return kExitDone;
}

int Session::Connect(ConnectDetail detail, StartupConnection* details) {
    StartupConnection result =
        ConnectAtStartup(*reader_, profile_->Read(kPortKey, ""), StoredDensity(*profile_), detail);
    if (result.Connected()) portStored_ = StorePort(*profile_, result.port);
    if (details) *details = result;
    if (Interrupted()) return out_.Fail(kExitInterrupted, "interrupted");
    if (result.Connected()) return kExitDone;
    if (options_.simulate) return out_.Fail(kExitNoReader, "the virtual reader did not answer");
    if (!backend_->Enumerate(kReaderVendorPrimary, kReaderProduct).empty() ||
        !backend_->Enumerate(kReaderVendorSecondary, kReaderProduct).empty()) {
        return out_.Fail(kExitNoReader,
                         std::string("a VK3300S reader is plugged in but cannot be opened or did "
                                     "not answer; ") +
                             ReaderAccessHint());
    }
    return out_.Fail(kExitNoReader,
                     "no reader found: plug in the VK3300S (USB 0801:0005 or 0802:0005), or try "
                     "--simulate");
}

DataTypeLayout Session::Layout() {
    return LayoutInForce(options_, *profile_);
}

int Session::SaveDeck() {
    if (!virtualReader_ || deckPath_.empty()) return kExitDone;
    std::set<std::size_t> changed;
    {
        std::lock_guard lock(changedMutex_);
        changed.swap(changedCards_);
    }
    const TrackSet formats = Layout().settings;
    for (std::size_t index : changed) {
        std::string error;
        std::optional<VirtualCard> card = virtualReader_->Card(index);
        if (card && index < savedTracks_.size()) {
            card->name = ChangedCardName(savedTracks_[index], card->tracks, formats);
        }
        if (!card || !SaveDeckCard(deckPath_, index, *card, &error)) {
            return out_.Fail(kExitFileFailed, "cannot save the deck: " + error);
        }
        if (index < savedTracks_.size()) savedTracks_[index] = card->tracks;
    }
    return kExitDone;
}

void Session::SwipeLastCardAgain() {
    // Card after card the auto-swipe has moved on by one; a single card comes again anyway.
    if (!virtualReader_ || !cardAfterCard_) return;
    const std::optional<std::size_t> next = virtualReader_->NextAutoSwipeCard();
    if (next && *next > 0) virtualReader_->SetAutoSwipe(*next - 1, kSimulatedSwipeDelay, true);
}

void Session::Disarm() {
    // A reset that fails leaves nothing more to do: the program ends.
    if (reader_ && reader_->IsConnected()) static_cast<void>(reader_->ResetReader());
}

}  // namespace tollwick
