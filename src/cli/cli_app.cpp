#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "carddata/data_type.h"
#include "carddata/hex.h"
#include "carddata/text_filter.h"
#include "carddata/track_codec.h"
#include "device/reader_commands.h"
#include "device/reader_link.h"
#include "device/virtual/deck.h"
#include "device/virtual/virtual_reader.h"
#include "jobs/card_file.h"
#include "jobs/startup_connection.h"
#include "settings/profile_store.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollPause = std::chrono::milliseconds(5);
// In --simulate the chosen card is swiped this long after the reader is armed.
constexpr auto kSimulatedSwipeDelay = std::chrono::milliseconds(150);

struct GlobalOptions {
    bool simulate = false;
    std::string deckPath;
    int card = 1;
    std::string profilePath;
    std::string format = "iso";
    bool json = false;
    bool batch = false;  // several cards: the virtual reader swipes the deck's cards in turn
};

void Fail(const std::string& message) {
    std::cerr << "tollwick-cli: " << message << "\n";
}

// The reader behind the commands: the USB reader, or the virtual one with its deck.
class Session {
  public:
    explicit Session(const GlobalOptions& options) : options_(options) {}

    // Sets up the backend; false (with a message) when the deck cannot be had.
    bool Prepare() {
        if (!options_.simulate) {
            backend_ = MakeHidapiBackend();
        } else {
            Deck deck = SampleDeck();
            if (!options_.deckPath.empty()) {
                std::string error;
                auto loaded = LoadOrCreateDeck(options_.deckPath, &error);
                if (!loaded) {
                    Fail("cannot use the deck: " + error);
                    return false;
                }
                deck = std::move(*loaded);
            }
            if (options_.card < 1 || static_cast<std::size_t>(options_.card) > deck.cards.size()) {
                Fail("--card " + std::to_string(options_.card) + ": the deck has cards 1 to " +
                     std::to_string(deck.cards.size()));
                return false;
            }
            virtualReader_ =
                std::make_unique<VirtualReader>(VirtualReader::Options{}, std::move(deck));
            virtualReader_->SetAutoSwipe(static_cast<std::size_t>(options_.card - 1),
                                         kSimulatedSwipeDelay, options_.batch);
            backend_ = std::make_unique<VirtualBackend>(*virtualReader_);
        }
        link_ = std::make_unique<ReaderLink>(*backend_);
        reader_ = std::make_unique<ReaderCommands>(*link_);
        profile_ = std::make_unique<ProfileStore>(
            options_.profilePath.empty() ? DefaultProfilePath()
                                         : std::filesystem::path(options_.profilePath));
        return true;
    }

    // Connects as the desktop program does at start-up; false (with a message) without a reader.
    bool Connect(StartupConnection* details = nullptr) {
        const ConnectDetail detail = details ? ConnectDetail::kFull : ConnectDetail::kDensityOnly;
        StartupConnection result =
            ConnectAtStartup(*reader_, *profile_, StoredDensity(*profile_), detail);
        if (details) *details = result;
        if (result.Connected()) return true;
        if (options_.simulate) {
            Fail("the virtual reader did not answer");
        } else if (!backend_->Enumerate(kReaderVendorPrimary, kReaderProduct).empty() ||
                   !backend_->Enumerate(kReaderVendorSecondary, kReaderProduct).empty()) {
            Fail(
                "a VK3300S reader is plugged in but cannot be opened or did not answer; check the "
                "permissions of its /dev/hidraw node (see README: udev rule)");
        } else {
            Fail(
                "no reader found: plug in the VK3300S (USB 0801:0005 or 0802:0005), or try "
                "--simulate");
        }
        return false;
    }

    // Writes the deck back after the virtual reader changed a card.
    bool SaveDeckIfKept() {
        if (!virtualReader_ || options_.deckPath.empty()) return true;
        std::string error;
        if (!SaveDeck(options_.deckPath, virtualReader_->GetDeck(), &error)) {
            Fail("cannot save the deck: " + error);
            return false;
        }
        return true;
    }

    ReaderCommands& Reader() { return *reader_; }
    ProfileStore& Profile() { return *profile_; }

  private:
    const GlobalOptions& options_;
    std::unique_ptr<VirtualReader> virtualReader_;
    std::unique_ptr<HidBackend> backend_;
    std::unique_ptr<ReaderLink> link_;
    std::unique_ptr<ReaderCommands> reader_;
    std::unique_ptr<ProfileStore> profile_;
};

DataTypeLayout LayoutInForce(const GlobalOptions& options, ProfileStore& profile) {
    const DataType type = DataTypeFromName(options.format).value_or(DataType::kIso);
    return LayoutFor(type, StoredDensity(profile), kIsoTrackSet, ReadUserKeys(profile));
}

bool TimedOut(Clock::time_point deadline) {
    return deadline != Clock::time_point{} && Clock::now() >= deadline;
}

Clock::time_point DeadlineAfter(double seconds) {
    if (seconds <= 0) return {};
    return Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

std::string JsonText(std::string_view text) {
    // Raw bytes of a failed track never reach here: failed tracks carry their marker.
    return nlohmann::json(std::string(text))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// --- Commands ---

int CmdInfo(Session& session, const GlobalOptions& options) {
    StartupConnection details;
    if (!session.Connect(&details)) return kExitNoReader;
    const char* coercivity =
        !details.coercivity ? "unknown" : (*details.coercivity == kHiCo ? "Hi-Co" : "Lo-Co");
    const int density = static_cast<int>(StoredDensity(session.Profile()));
    if (options.json) {
        nlohmann::json out = {{"port", details.port},
                              {"connection", ConnectionLine(details.port, details.version)},
                              {"version", details.version},
                              {"coercivity", coercivity},
                              {"track2Density", density},
                              {"densityAccepted", details.densityResult == kReaderOk}};
        std::cout << out.dump() << "\n";
    } else {
        std::cout << "Port: COM" << details.port << "\n"
                  << "Connection: " << ConnectionLine(details.port, details.version) << "\n"
                  << "Firmware: " << (details.versionRead ? details.version : "(no answer)") << "\n"
                  << "Coercivity: " << coercivity << "\n"
                  << "Track-2 density: " << density << " BPI"
                  << (details.densityResult == kReaderOk ? "" : " (reader did not confirm)")
                  << "\n";
    }
    return kExitDone;
}

// Set by Ctrl+C: batch commands finish the card in hand and stop.
std::atomic<bool> gInterrupted{false};

// Arms a raw read and waits for one card; kExitDone with the decoded card (failed tracks carry
// their markers), or the exit status of what went wrong.
int ReadOneCard(Session& session, const TrackSet& settings, double timeoutSeconds,
                CardTracks& card) {
    ReaderCommands& reader = session.Reader();
    if (reader.StartRawRead() != kReaderOk && reader.StartRawRead() != kReaderOk) {
        Fail("the link to the reader failed");
        return kExitNoReader;
    }
    const auto deadline = DeadlineAfter(timeoutSeconds);
    for (;;) {
        const int received = reader.ReceiveTracks(card);
        if (received > 0) break;
        if (received == -1) {
            Fail("the link to the reader failed");
            return kExitNoReader;
        }
        if (TimedOut(deadline) || gInterrupted) {
            reader.ResetReader();
            if (gInterrupted) return kExitDone;
            Fail("no card swiped within " + std::to_string(timeoutSeconds) + " s");
            return kExitNoSwipe;
        }
        std::this_thread::sleep_for(kPollPause);
    }
    const uint8_t errors = DecodeTracks(card, settings);
    for (int t = 0; t < 3; ++t) {
        if (errors & (1u << t)) card.SetText(t, TrackErrorMarker(t));
    }
    card.trackErrors = errors;
    return kExitDone;
}

void PrintCard(const CardTracks& card, bool json) {
    if (json) {
        std::cout << "{\"track1\": " << JsonText(card.Text(0))
                  << ", \"track2\": " << JsonText(card.Text(1))
                  << ", \"track3\": " << JsonText(card.Text(2))
                  << ", \"errors\": " << int{card.trackErrors} << "}" << std::endl;
    } else {
        for (int t = 0; t < 3; ++t) std::cout << "Track" << t + 1 << ": " << card.Text(t) << "\n";
        std::cout.flush();
    }
}

int CmdRead(Session& session, const GlobalOptions& options, double timeoutSeconds) {
    if (!session.Connect()) return kExitNoReader;
    const TrackSet settings = LayoutInForce(options, session.Profile()).settings;
    CardTracks card;
    const int status = ReadOneCard(session, settings, timeoutSeconds, card);
    if (status != kExitDone || gInterrupted) return status;
    PrintCard(card, options.json);
    return card.trackErrors ? kExitCheckFailed : kExitDone;
}

// Reads card after card and appends every good one to the card file; each record is on the
// disk (flushed and synced) before the next card is armed.
int CmdReadToFile(Session& session, const GlobalOptions& options, double timeoutSeconds,
                  const std::string& path, int count) {
    CardFileAppender file(path);
    if (!file.IsOpen()) {
        Fail("Open file fail!! (" + path + ")");
        return kExitUsage;
    }
    if (!session.Connect()) return kExitNoReader;
    const DataType type = DataTypeFromName(options.format).value_or(DataType::kIso);
    const TrackSet settings = LayoutInForce(options, session.Profile()).settings;
    bool anyFailed = false;
    for (int done = 0; count == 0 || done < count; ++done) {
        CardTracks card;
        const int status = ReadOneCard(session, settings, timeoutSeconds, card);
        if (status != kExitDone) return status;
        if (gInterrupted) break;
        PrintCard(card, options.json);
        if (card.trackErrors) {
            anyFailed = true;
            Fail("Read Error!! (card " + std::to_string(done + 1) + " not recorded)");
            continue;
        }
        if (!file.Append(card, type)) {
            Fail("cannot write to " + path);
            return kExitNoReader;
        }
    }
    return anyFailed ? kExitCheckFailed : kExitDone;
}

// Checks one text to write against the track's format; the message says what is wrong.
std::optional<std::string> CheckTrackText(int index, const std::string& text,
                                          const TrackSettings& settings, DataType type, int limit) {
    const std::string track = "--track" + std::to_string(index + 1);
    if (static_cast<int>(text.size()) > limit) {
        return track + ": " + std::to_string(text.size()) +
               " characters, this track holds at most " + std::to_string(limit);
    }
    if (auto refused = FirstRefusedCharacter(text, settings, type)) {
        const char ch = text[*refused];
        std::ostringstream why;
        why << track << ": character ";
        if (ch >= 0x20 && ch < 0x7F) {
            why << "'" << ch << "'";
        } else {
            why << "0x" << std::hex << (static_cast<int>(static_cast<unsigned char>(ch)));
        }
        why << " at position " << std::dec << *refused + 1 << " cannot be written on this track";
        if (type == DataType::kRaw) {
            why << " (Raw Type takes hexadecimal digits)";
        } else if (ch == settings.startSentinel || ch == settings.endSentinel) {
            why << " (it is the track's sentinel, which is added when writing)";
        }
        return why.str();
    }
    if (type == DataType::kRaw && text.size() % 2 != 0) {
        return track + ": hexadecimal text needs an even number of digits";
    }
    return std::nullopt;
}

// Polls a status wait (write or erase) every 5 ms until the reader answers or the time is up.
template <typename Wait>
int AwaitStatus(Session& session, Wait wait, double timeoutSeconds, const char* rejected) {
    const auto deadline = DeadlineAfter(timeoutSeconds);
    for (;;) {
        const int status = wait();
        if (status == kReaderOk) return kExitDone;
        if (status == -2) {
            session.SaveDeckIfKept();
            Fail(rejected);
            return kExitCheckFailed;
        }
        if (status == -1) {
            Fail("the link to the reader failed");
            return kExitNoReader;
        }
        if (TimedOut(deadline)) {
            session.Reader().ResetReader();
            Fail("no card swiped within " + std::to_string(timeoutSeconds) + " s");
            return kExitNoSwipe;
        }
        std::this_thread::sleep_for(kPollPause);
    }
}

// Sends one card's texts and waits for the status. A card the reader rejects is written again
// on the next swipe, as the desktop program does, until the time is up.
int WriteOneCard(Session& session, TrackTexts& buffers, const TrackSet& settings,
                 double timeoutSeconds, bool retryRejected) {
    ReaderCommands& reader = session.Reader();
    for (;;) {
        TrackTexts sent = buffers;
        const int result = reader.WriteTracks(sent, settings);
        if (result == kTooLong) {
            Fail("the tracks are too long to be written in one block");
            return kExitUsage;
        }
        if (result != kReaderOk) {
            Fail("the link to the reader failed");
            return kExitNoReader;
        }
        const int waited = AwaitStatus(
            session, [&reader] { return reader.WaitWriteStatus(); }, timeoutSeconds,
            "Write Error1: the reader could not write the card");
        if (waited != kExitCheckFailed || !retryRejected) return waited;
    }
}

int CmdWrite(Session& session, const GlobalOptions& options,
             const std::array<std::string, 3>& texts, double timeoutSeconds) {
    ProfileStore& profile = session.Profile();
    const DataType type = DataTypeFromName(options.format).value_or(DataType::kIso);
    const DataTypeLayout layout = LayoutInForce(options, profile);
    TrackTexts buffers{};
    for (int t = 0; t < 3; ++t) {
        std::string text = texts[static_cast<std::size_t>(t)];
        for (char& ch : text) {
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        }
        if (auto problem = CheckTrackText(t, text, layout.settings[static_cast<std::size_t>(t)],
                                          type, layout.limits[static_cast<std::size_t>(t)])) {
            Fail(*problem);
            return kExitUsage;
        }
        std::copy(text.begin(), text.end(), buffers[static_cast<std::size_t>(t)].begin());
    }
    if (!session.Connect()) return kExitNoReader;
    const int status = WriteOneCard(session, buffers, layout.settings, timeoutSeconds, false);
    if (status != kExitDone) return status;
    if (!session.SaveDeckIfKept()) return kExitNoReader;
    if (!options.json)
        std::cout << "Write OK\n";
    else
        std::cout << "{\"written\": true}\n";
    return kExitDone;
}

// Writes the cards of a card file, one per swipe, with the line rules of From File.
int CmdWriteFromFile(Session& session, const GlobalOptions& options, double timeoutSeconds,
                     const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail("Open file fail!! (" + path + ")");
        return kExitUsage;
    }
    if (!session.Connect()) return kExitNoReader;
    const TrackSet settings = LayoutInForce(options, session.Profile()).settings;
    const std::array<int, 3> bpc = {settings[0].bpc, settings[1].bpc, settings[2].bpc};
    CardFileReader reader(in);
    bool formatErrors = false;
    for (int written = 0;;) {
        const CardFileReader::Result next = reader.Next(bpc);
        for (int line : next.formatErrorLines) {
            formatErrors = true;
            Fail(CardFileFormatError(line));
        }
        if (next.outcome == CardFileReader::Outcome::kEndOfFile) {
            std::cout << "End of File!!!\n";
            break;
        }
        if (next.outcome == CardFileReader::Outcome::kNoData) {
            std::cout << "End of File!!\n";
            break;
        }
        TrackTexts buffers{};
        for (std::size_t t = 0; t < 3; ++t) {
            std::copy(next.tracks[t].begin(), next.tracks[t].end(), buffers[t].begin());
        }
        const int status = WriteOneCard(session, buffers, settings, timeoutSeconds, true);
        session.SaveDeckIfKept();
        if (status != kExitDone) return status;
        std::cout << "Write Card<" << ++written << "> OK" << std::endl;
        if (gInterrupted) break;
    }
    return formatErrors ? kExitCheckFailed : kExitDone;
}

int CmdErase(Session& session, const GlobalOptions& options, const std::vector<int>& tracks,
             double timeoutSeconds) {
    uint8_t mask = 0;
    for (int t : tracks) mask |= static_cast<uint8_t>(1u << (t - 1));
    if (!session.Connect()) return kExitNoReader;
    ReaderCommands& reader = session.Reader();
    if (reader.EraseTracks(mask) != kReaderOk) {
        if (!reader.IsConnected()) {
            Fail("the link to the reader failed");
            return kExitNoReader;
        }
        Fail("the reader refused the erase");
        return kExitCheckFailed;
    }
    const int waited = AwaitStatus(
        session, [&reader] { return reader.WaitEraseStatus(); }, timeoutSeconds,
        "the reader could not erase the card");
    if (waited != kExitDone) return waited;
    if (!session.SaveDeckIfKept()) return kExitNoReader;
    if (options.json)
        std::cout << "{\"erased\": " << int{mask} << "}\n";
    else
        std::cout << "Erase OK\n";
    return kExitDone;
}

// Density, coercivity and beeper: one command each, no card.
int CmdDensity(Session& session, int bpi) {
    if (!session.Connect()) return kExitNoReader;
    const Track2Density density = bpi == 210 ? Track2Density::k210 : Track2Density::k75;
    if (session.Reader().SetTrack2Density(density == Track2Density::k210) != kReaderOk) {
        Fail("the reader did not confirm the density");
        return kExitNoReader;
    }
    StoreDensity(session.Profile(), density);
    std::cout << "Track-2 density " << bpi << " BPI\n";
    return kExitDone;
}

int CmdCoercivity(Session& session, const std::string& value) {
    if (!session.Connect()) return kExitNoReader;
    ReaderCommands& reader = session.Reader();
    const int result = value == "hi" ? reader.SetHiCo() : reader.SetLoCo();
    if (result != kReaderOk) {
        Fail("the reader did not confirm the coercivity");
        return kExitNoReader;
    }
    std::cout << (value == "hi" ? "Hi-Co" : "Lo-Co") << "\n";
    return kExitDone;
}

int CmdBeep(Session& session, const std::string& value) {
    StartupConnection details;
    if (!session.Connect(&details)) return kExitNoReader;
    ReaderCommands& reader = session.Reader();
    if (value == "on")
        reader.BeepOn();
    else
        reader.BeepOff();
    if (!reader.IsConnected()) {
        Fail("the link to the reader failed");
        return kExitNoReader;
    }
    std::cout << "Beeper " << value
              << (details.beepSupported ? "" : " (this firmware may not support it)") << "\n";
    return kExitDone;
}

struct CodecOptions {
    int bpc = 5;
    std::string parity = "odd";
    std::string ss = ";";
    std::string es = "?";
};

std::optional<TrackSettings> CodecSettings(const CodecOptions& o) {
    TrackSettings s;
    s.bpc = static_cast<uint8_t>(o.bpc);
    s.parity = o.parity == "odd" ? kParityOdd : (o.parity == "even" ? kParityEven : kParityNone);
    if (o.ss.size() != 1 || o.es.size() != 1) {
        Fail("--ss and --es take one character each");
        return std::nullopt;
    }
    s.startSentinel = o.ss[0];
    s.endSentinel = o.es[0];
    return s;
}

bool IsHexText(std::string_view text) {
    for (char ch : text) {
        if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
    }
    return true;
}

int CmdEncode(const CodecOptions& o, const std::vector<std::string>& texts) {
    const auto settings = CodecSettings(o);
    if (!settings) return kExitUsage;
    std::vector<std::string> lines;
    for (std::string text : texts) {
        for (char& ch : text) {
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        }
        std::optional<std::vector<uint8_t>> bytes;
        if (settings->bpc == 8) {
            if (!IsHexText(text) || text.size() % 2 != 0) {
                Fail("'" + text + "': with --bpc 8 the text is hexadecimal, two digits per byte");
                return kExitUsage;
            }
            bytes = EncodeRawTrack(text);
        } else {
            for (char ch : text) {
                if (settings->bpc <= 5 ? !InNarrowAlphabet(ch) : !InWideAlphabet(ch)) {
                    Fail("'" + text + "': character '" + std::string(1, ch) + "' is not in the " +
                         std::to_string(settings->bpc) + "-bit alphabet");
                    return kExitUsage;
                }
            }
            bytes = EncodeTrack(text, *settings);
        }
        if (!bytes) {
            Fail("'" + text + "' is too long for one track");
            return kExitUsage;
        }
        lines.push_back(BytesToHexString(*bytes));
    }
    for (const auto& line : lines) std::cout << line << "\n";
    return kExitDone;
}

int CmdDecode(const CodecOptions& o, const std::vector<std::string>& hexes) {
    const auto settings = CodecSettings(o);
    if (!settings) return kExitUsage;
    std::vector<TrackBuffer> buffers;
    for (const std::string& hex : hexes) {
        if (!IsHexText(hex) || hex.size() % 2 != 0) {
            Fail("'" + hex + "' is not hexadecimal bytes (two digits per byte)");
            return kExitUsage;
        }
        if (hex.size() / 2 > kTrackBufferSize - 1) {
            Fail("'" + hex.substr(0, 16) + "...' holds more than 255 bytes, more than one track");
            return kExitUsage;
        }
        TrackBuffer buffer{};
        HexToBytes(hex.c_str(), static_cast<int>(hex.size()),
                   reinterpret_cast<uint8_t*>(buffer.data()));
        buffers.push_back(buffer);
    }
    bool anyFailed = false;
    for (TrackBuffer& buffer : buffers) {
        const bool failed =
            settings->bpc == 8 ? DecodeRawTrack(buffer) : DecodeTrack(buffer, *settings);
        anyFailed |= failed;
        std::cout << (failed ? std::string("{ERROR}") : std::string(buffer.data())) << "\n";
    }
    return anyFailed ? kExitCheckFailed : kExitDone;
}

}  // namespace

int RunCli(int argc, char** argv) {
    CLI::App app{
        "tollwick-cli: read, write and erase magnetic stripe cards with the VK3300S reader/writer"};
    app.require_subcommand(1);
    app.fallthrough();  // global options may also follow the command
    GlobalOptions g;
    app.add_flag("--simulate", g.simulate, "Use the virtual reader instead of the USB reader");
    app.add_option("--deck", g.deckPath,
                   "Keep the virtual reader's cards in this JSON file (created when missing)");
    app.add_option("--card", g.card, "Card of the deck that is swiped (from 1)")
        ->check(CLI::PositiveNumber);
    app.add_option(
        "--profile", g.profilePath,
        "Settings file (default: $TOLLWICK_PROFILE, else ~/.config/Tollwick/Tollwick.ini)");
    app.add_option("--format", g.format, "Data type whose track formats are in force")
        ->check(CLI::IsMember({"iso", "aamva", "cadmv", "user", "raw"}));
    app.add_flag("--json", g.json, "Print results as JSON");

    double timeout = 30;
    const auto timeoutHelp = "Seconds to wait for a swipe (0: no limit)";

    auto* info = app.add_subcommand(
        "info", "Connect as at start-up, send the density, print port, firmware and coercivity");
    auto* read =
        app.add_subcommand("read", "Arm a raw read, wait for one swipe, print the three tracks");
    read->add_option("--timeout", timeout, timeoutHelp)->check(CLI::NonNegativeNumber);
    std::string toFile;
    int count = 0;
    read->add_option(
        "--to-file", toFile,
        "Append every good card to this card file, card after card, until interrupted");
    read->add_option("--count", count, "With --to-file: stop after this many cards")
        ->check(CLI::PositiveNumber);
    std::array<std::string, 3> texts;
    auto* write = app.add_subcommand(
        "write", "Write one card (texts without sentinels), wait for the reader's status");
    write->add_option("--track1", texts[0], "Track 1 text");
    write->add_option("--track2", texts[1], "Track 2 text");
    write->add_option("--track3", texts[2], "Track 3 text");
    write->add_option("--timeout", timeout, timeoutHelp)->check(CLI::NonNegativeNumber);
    std::string fromFile;
    auto* fromFileOption = write->add_option("--from-file", fromFile,
                                             "Write the cards of this card file, one per swipe");
    for (auto* track : {"--track1", "--track2", "--track3"}) fromFileOption->excludes(track);
    std::vector<int> eraseTracks;
    auto* erase = app.add_subcommand("erase", "Erase the listed tracks of one card");
    erase->add_option("--tracks", eraseTracks, "Tracks to erase, like 1,3")
        ->required()
        ->delimiter(',')
        ->check(CLI::Range(1, 3));
    erase->add_option("--timeout", timeout, timeoutHelp)->check(CLI::NonNegativeNumber);
    int bpi = 0;
    auto* density = app.add_subcommand("density", "Set the track-2 recording density");
    density->add_option("BPI", bpi, "75 or 210")->required()->check(CLI::IsMember({75, 210}));
    std::string coercivityValue;
    auto* coercivity = app.add_subcommand("coercivity", "Switch the reader to Hi-Co or Lo-Co");
    coercivity->add_option("LEVEL", coercivityValue, "hi or lo")
        ->required()
        ->check(CLI::IsMember({"hi", "lo"}));
    std::string beepValue;
    auto* beep = app.add_subcommand("beep", "Switch the reader's beeper on or off");
    beep->add_option("STATE", beepValue, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));

    CodecOptions codec;
    std::vector<std::string> codecArgs;
    auto addCodecOptions = [&codec](CLI::App* cmd, bool withStart) {
        cmd->add_option("--bpc", codec.bpc, "Bits per character, parity included (4-7; 8: raw hex)")
            ->check(CLI::Range(4, 8));
        cmd->add_option("--parity", codec.parity, "odd, even or none")
            ->check(CLI::IsMember({"odd", "even", "none"}));
        if (withStart) cmd->add_option("--ss", codec.ss, "Start sentinel");
        cmd->add_option("--es", codec.es, "End sentinel");
    };
    auto* encode =
        app.add_subcommand("encode", "Print the bytes written for each TEXT, as upper-case hex");
    addCodecOptions(encode, true);
    encode->add_option("TEXT", codecArgs, "Track texts without sentinels")->required();
    auto* decode =
        app.add_subcommand("decode", "Print the track text decoded from each HEX (bytes as read)");
    addCodecOptions(decode, false);
    decode->add_option("HEX", codecArgs, "Track bytes as read, in hex")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    if (encode->parsed()) return CmdEncode(codec, codecArgs);
    if (decode->parsed()) return CmdDecode(codec, codecArgs);

    if ((read->parsed() && !toFile.empty()) || (write->parsed() && !fromFile.empty())) {
        g.batch = true;
        std::signal(SIGINT, [](int) { gInterrupted = true; });
    }
    if (count != 0 && toFile.empty()) {
        Fail("--count goes with --to-file");
        return kExitUsage;
    }
    Session session(g);
    if (!session.Prepare()) return kExitUsage;
    if (info->parsed()) return CmdInfo(session, g);
    if (read->parsed() && !toFile.empty()) return CmdReadToFile(session, g, timeout, toFile, count);
    if (read->parsed()) return CmdRead(session, g, timeout);
    if (write->parsed() && !fromFile.empty())
        return CmdWriteFromFile(session, g, timeout, fromFile);
    if (write->parsed()) return CmdWrite(session, g, texts, timeout);
    if (erase->parsed()) return CmdErase(session, g, eraseTracks, timeout);
    if (density->parsed()) return CmdDensity(session, bpi);
    if (coercivity->parsed()) return CmdCoercivity(session, coercivityValue);
    if (beep->parsed()) return CmdBeep(session, beepValue);
    return kExitUsage;
}

}  // namespace tollwick
