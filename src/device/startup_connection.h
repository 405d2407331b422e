// Connecting to the reader as the program does at start-up: the stored port first, else a scan;
// then the track-2 density, the coercivity and the firmware version. Keeping the port that
// answered is the caller's part.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "carddata/track_format.h"
#include "device/reader_commands.h"

namespace tollwick {

struct StartupConnection {
    int port = -1;                                       // -1: no reader answered
    CardStatus densityResult = CardStatus::kNotPending;  // SetTrack2Density's result
    std::optional<int> coercivity;  // what the reader answered before any switch
    bool versionRead = false;
    std::string version;         // the firmware version text, without trailing zeros
    bool beepSupported = false;  // firmware newer than EVU1.06 has the beeper commands

    bool Connected() const { return port >= 0; }
};

enum class ConnectDetail {
    kFull,        // also query the coercivity and read the firmware version
    kFullHiCo,    // as kFull, and switch to Hi-Co after a successful query (the desktop start-up)
    kDensityOnly  // connect and send the density only: the version's 350 ms gap is spared
};
// storedPort: the stored port's text (decimal, as the profile keeps it); empty when none is
// stored, and then only a scan is made.
StartupConnection ConnectAtStartup(ReaderCommands& reader, std::string_view storedPort,
                                   Track2Density density, ConnectDetail detail);

// "COM3 9600,8,N,1  VK3300 EVU1.07"
std::string ConnectionLine(int port, std::string_view version);

// Compares the first 7 bytes of a zero-filled 20-byte version buffer with "EVU1.06" as unsigned
// bytes; true when the version is greater.
bool VersionSupportsBeep(const char (&version)[20]);

}  // namespace tollwick
