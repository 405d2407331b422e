// What the Setup dialog's OK does with the reader: the typed port is checked, then the reader is
// connected under the stored port, or under the typed one (or a scanned one) and the typed port
// is stored.
#pragma once

#include <string_view>

#include "device/reader_commands.h"
#include "settings/profile_store.h"

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
};

// A stored port above 0 first; a stored port 0 makes no attempt; otherwise the typed port and
// then a scan, and on success the typed port goes to PORTNUM (whatever port answered).
SetupConnection ConnectForSetup(ReaderCommands& reader, ProfileStore& profile, int typedPort);

}  // namespace tollwick
