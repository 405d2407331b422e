// The reader behind the commands: the USB reader, or the virtual reader with its deck; the link,
// the reader commands and the profile. The deck is loaded and saved here and nowhere else.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "carddata/card_summary.h"
#include "carddata/data_type.h"
#include "cli/exit_codes.h"
#include "cli/options.h"
#include "cli/output.h"
#include "device/reader_commands.h"
#include "device/reader_link.h"
#include "device/startup_connection.h"
#include "device/virtual/virtual_reader.h"
#include "settings/profile_store.h"

namespace tollwick {

// The settings file of --profile, else the default one.
std::filesystem::path ProfilePathOf(const GlobalOptions& options);
// The track formats and text limits of --format, with the stored density and User Type keys.
DataTypeLayout LayoutInForce(const GlobalOptions& options, const ProfileStore& profile);

class Session {
  public:
    // cardAfterCard: the virtual reader swipes the deck's cards in turn (batch commands).
    Session(const GlobalOptions& options, Output& out, bool cardAfterCard);
    ~Session();

    // Sets up the backend and the deck: kExitDone, or the status of what failed (said).
    int Prepare();
    // Connects as the desktop program does at start-up: kExitDone, or the status (said).
    // kDensityOnly spares the version's 350 ms gap; details gets what the connection found.
    int Connect(ConnectDetail detail = ConnectDetail::kDensityOnly,
                StartupConnection* details = nullptr);
    // The port that answered reached the profile (PORTNUM), as the desktop program keeps it.
    bool PortStored() const { return portStored_; }

    ReaderCommands& Reader() { return *reader_; }
    ProfileStore& Profile() { return *profile_; }
    // The track formats and text limits of --format, with the stored density and user keys.
    DataTypeLayout Layout();

    // Writes back to the deck file each card the virtual reader changed since the last save,
    // one card at a time under the file's lock, so that another program on the same deck keeps
    // the cards it wrote, and named by what it holds now ("written %B123?  ;1234?", as the
    // desktop program names it): kExitDone, or kExitFileFailed (said).
    int SaveDeck();
    // The virtual reader's next swipe is the card it swiped last (write --verify); a card
    // swiped by hand needs nothing.
    void SwipeLastCardAgain();
    // After an interrupt: the reader is told to stop waiting for a card (ESC 'a').
    void Disarm();

  private:
    const GlobalOptions& options_;
    Output& out_;
    bool cardAfterCard_;
    std::unique_ptr<VirtualReader> virtualReader_;
    std::filesystem::path deckPath_;  // the virtual reader's deck file, if any
    std::mutex changedMutex_;
    std::set<std::size_t> changedCards_;
    std::vector<TrackBytes> savedTracks_;  // per card, the tracks the deck file last got
    std::unique_ptr<HidBackend> backend_;
    std::unique_ptr<ReaderLink> link_;
    std::unique_ptr<ReaderCommands> reader_;
    std::unique_ptr<ProfileStore> profile_;
    bool portStored_ = false;
};

}  // namespace tollwick
