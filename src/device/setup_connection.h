// What the Setup dialog's OK does with the reader: the typed port is checked, then the reader is
// connected under the stored port, or under the typed one (or a scanned one), after which the
// typed port is to be stored.
#pragma once

#include <optional>
#include <string_view>

#include "device/reader_commands.h"

namespace tollwick {

inline constexpr int kMaxSetupPort = 200;

enum class SetupPortCheck {
    kOk,
    kNotCom,    // the text does not begin with "COM": "COM PORT Invalidate!!"
    kAboveMax,  // the number is above 200: "MAX PORT Number is 200!!"
};

struct SetupPort {
    SetupPortCheck check = SetupPortCheck::kOk;
    int port = 0;  // the typed number; 0 when no digits follow "COM"
};

// "COM5" -> 5. Case-sensitive; the number is read as the profile's decimal texts are.
SetupPort ParseSetupPort(std::string_view text);

struct SetupConnection {
    bool connected = false;  // also true for a stored port 0, where no attempt is made
    int port = -1;
    // Connected under the typed port or a scan: the typed port is to go to PORTNUM (whatever
    // port answered).
    bool storeTypedPort = false;
};

// A stored port above 0 first; a stored port 0 makes no attempt; otherwise the typed port and
// then a scan. storedPort: the stored PORTNUM, nothing when none is stored.
SetupConnection ConnectForSetup(ReaderCommands& reader, std::optional<int> storedPort,
                                int typedPort);

}  // namespace tollwick
