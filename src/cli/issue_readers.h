// The readers of a command: the one the desktop program would take, the one --device names,
// those --devices names ("all" of them), or with --simulate the virtual readers of --readers,
// each with its own deck (--deck D gives D.1, D.2, ... when there are several) and its own pace.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "carddata/card_summary.h"
#include "cli/options.h"
#include "cli/output.h"
#include "device/reader_commands.h"
#include "device/reader_link.h"
#include "device/virtual/virtual_reader.h"

namespace tollwick {

// One reader with its own link; a virtual reader with its deck.
class CliReader {
  public:
    CliReader(std::string name, std::unique_ptr<HidBackend> backend);
    ~CliReader();

    const std::string& Name() const { return name_; }
    ReaderCommands& Commands() { return *commands_; }

    // Virtual readers only: the deck and how soon after arming a card is swiped.
    void MakeVirtual(std::unique_ptr<VirtualReader> reader, std::filesystem::path deckPath,
                     std::chrono::milliseconds pace);
    // The next card swiped is card `slot` of the deck (blank cards are added at its end as
    // needed); nothing for a real reader, where the operator swipes.
    bool PresentCard(long long slot, std::string& error);
    // Writes what the virtual reader's writes and erases did back to its deck file, laid over
    // each card as the file holds it then, as the other commands do; nothing for a real reader.
    // False, with the reason.
    bool SaveChangedCards(const TrackSet& formats, std::string& error);

  private:
    std::string name_;
    std::unique_ptr<HidBackend> backend_;
    std::unique_ptr<ReaderLink> link_;
    std::unique_ptr<ReaderCommands> commands_;
    std::unique_ptr<VirtualReader> virtual_;
    std::filesystem::path deckPath_;
    std::chrono::milliseconds pace_{0};
    std::mutex changesMutex_;
    std::vector<CardChange> changes_;  // not yet in the deck file, in the order they came
};

// How soon a virtual reader swipes after it is armed: --pace for the first, each further one a
// quarter slower, so that several readers do not keep in step.
std::chrono::milliseconds VirtualPace(const GlobalOptions& options, int index);
// The deck of virtual reader `index` (from 1): --deck itself for one reader, D.1, D.2, ... for
// several. Empty without --deck.
std::filesystem::path VirtualDeckPath(const GlobalOptions& options, int index);

// The readers to drive: `devices` is "" (the one of --device, else the first found), "all", or
// paths and serial numbers separated by commas. blankDecks: a virtual reader without a deck file,
// or whose deck file is not there yet, starts from a stack of blank cards rather than the sample
// deck. Nothing found: said, and `status` set.
std::vector<std::unique_ptr<CliReader>> FindReaders(const GlobalOptions& options,
                                                    const std::string& devices, bool blankDecks,
                                                    Output& out, int& status);

}  // namespace tollwick
