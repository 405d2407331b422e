// The reader behind the commands: the USB reader, or the virtual reader with its deck; the link,
// the reader commands and the profile. The deck is loaded and saved here and nowhere else.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
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
    // lockLimit: how long the deck's and the profile's locks are waited for while another
    // process holds them (none: no limit); an interrupt ends that wait too.
    Session(const GlobalOptions& options, Output& out, bool cardAfterCard,
            std::optional<std::chrono::milliseconds> lockLimit);
    ~Session();

    // Sets up the profile (read once for the run), the backend and the deck: kExitDone, or the
    // status of what failed (said): kExitFileFailed when the profile or the deck cannot be used
    // or its lock is held past the limit, kExitInterrupted when an interrupt ended that wait.
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

    // Writes back to the deck file what each write or erase since the last save did, one card at
    // a time under the file's lock and laid over the card as the file holds it then, so that
    // another program on the same deck keeps what it wrote, even on the same card; the card is
    // named by what it holds now ("written %B123?  ;1234?", as the desktop program names it),
    // and the virtual reader takes the card as saved. kExitDone, or kExitFileFailed (said), or
    // kExitInterrupted when an interrupt ended the wait for the lock (after an interrupt that
    // came earlier, the save still waits, up to the limit: what was written is kept).
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
    std::optional<std::chrono::milliseconds> lockLimit_;
    std::filesystem::path deckPath_;  // the virtual reader's deck file, if any
    std::mutex changedMutex_;
    std::vector<CardChange> changes_;  // not yet in the deck file, in the order they came
    std::unique_ptr<HidBackend> backend_;
    std::unique_ptr<ReaderLink> link_;
    std::unique_ptr<ReaderCommands> reader_;
    std::unique_ptr<ProfileStore> profile_;
    bool portStored_ = false;
};

}  // namespace tollwick
