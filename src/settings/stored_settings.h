// The program's settings in the profile, read and written as the values they stand for.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "carddata/data_type.h"
#include "carddata/track_format.h"
#include "settings/profile_store.h"

namespace tollwick {

inline constexpr std::string_view kPortKey = "PORTNUM";
inline constexpr std::string_view kDensityKey = "BPISET";
inline constexpr std::string_view kPasswordKey = "PWD";
// Verify after write, the desktop program's switch: "1" on; "0", missing or any other text off.
inline constexpr std::string_view kVerifyKey = "VERIFY";
// Where the desktop program's Inspector window was when it was last closed, as the window
// system's geometry in base64; missing until it was first closed.
inline constexpr std::string_view kInspectorGeometryKey = "INSPECTOR";

// The port on which the reader last answered; none when PORTNUM is missing or empty. Other text
// reads as a decimal number ("0" is a stored port 0, text without digits also gives 0).
std::optional<int> StoredPort(const ProfileStore& store);
// False when the profile could not be written.
bool StorePort(ProfileStore& store, int port);

// BPISET compared as text: "0" (also when the key is missing) is 75 bits per inch; any other
// text, the empty text included, is 210.
Track2Density StoredDensity(const ProfileStore& store);
// False when the profile could not be written.
bool StoreDensity(ProfileStore& store, Track2Density density);

// The twelve User Type keys TR1BPC, TR1PARITY, TR1SS, TR1ES, ... TR3ES as text, each with its
// default when missing.
StoredUserKeys ReadUserKeys(const ProfileStore& store);

// Stores list positions per track: bits per character, parity, start and end sentinel. All
// twelve keys are written in one replacement of the file.
void WriteUserKeys(ProfileStore& store, const std::array<std::array<int, 4>, 3>& positions);

// The User Type formats decoded from the stored positions; a position outside its list falls
// back to that key's default.
TrackSet UserTypeSettings(const ProfileStore& store);

bool StoredVerifyAfterWrite(const ProfileStore& store);
// False when the profile could not be written.
bool StoreVerifyAfterWrite(ProfileStore& store, bool on);

// The program password; empty means the program has none.
std::string StoredPassword(const ProfileStore& store);

}  // namespace tollwick
