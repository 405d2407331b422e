#include "settings/stored_settings.h"

#include <cstddef>
#include <string>

namespace tollwick {
namespace {

// Key name suffixes in the order of StoredTrackKeys and of the positions written.
constexpr std::array<std::string_view, 4> kTrackKeySuffixes = {"BPC", "PARITY", "SS", "ES"};

std::string TrackKey(int index, std::size_t field) {
    return "TR" + std::to_string(index + 1) + std::string(kTrackKeySuffixes[field]);
}

}  // namespace

std::optional<int> StoredPort(const ProfileStore& store) {
    const std::string text = store.Read(kPortKey);
    if (text.empty()) return std::nullopt;
    return StoredTextToInt(text);
}

bool StorePort(ProfileStore& store, int port) {
    return store.Write(kPortKey, std::to_string(port));
}

Track2Density StoredDensity(const ProfileStore& store) {
    return store.Read(kDensityKey, "0") == "0" ? Track2Density::k75 : Track2Density::k210;
}

bool StoreDensity(ProfileStore& store, Track2Density density) {
    return store.Write(kDensityKey, density == Track2Density::k75 ? "0" : "1");
}

StoredUserKeys ReadUserKeys(const ProfileStore& store) {
    StoredUserKeys keys;
    for (int t = 0; t < 3; ++t) {
        const StoredTrackKeys defaults = DefaultStoredTrackKeys(t);
        StoredTrackKeys& k = keys[static_cast<std::size_t>(t)];
        k.bpc = store.Read(TrackKey(t, 0), defaults.bpc);
        k.parity = store.Read(TrackKey(t, 1), defaults.parity);
        k.startSentinel = store.Read(TrackKey(t, 2), defaults.startSentinel);
        k.endSentinel = store.Read(TrackKey(t, 3), defaults.endSentinel);
    }
    return keys;
}

void WriteUserKeys(ProfileStore& store, const std::array<std::array<int, 4>, 3>& positions) {
    std::array<std::string, 12> names;
    std::array<std::string, 12> texts;
    std::array<ProfileStore::Entry, 12> entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int track = static_cast<int>(i / 4);
        names[i] = TrackKey(track, i % 4);
        texts[i] = std::to_string(positions[i / 4][i % 4]);  // as "%d"
        entries[i] = {names[i], texts[i]};
    }
    store.Write(entries);
}

TrackSet UserTypeSettings(const ProfileStore& store) {
    const StoredUserKeys keys = ReadUserKeys(store);
    TrackSet set;
    for (int t = 0; t < 3; ++t) {
        set[static_cast<std::size_t>(t)] = DecodeStoredTrack(keys[static_cast<std::size_t>(t)], t);
    }
    return set;
}

std::string StoredPassword(const ProfileStore& store) {
    return store.Read(kPasswordKey);
}

bool StoredVerifyAfterWrite(const ProfileStore& store) {
    return store.Read(kVerifyKey, "0") == "1";
}

bool StoreVerifyAfterWrite(ProfileStore& store, bool on) {
    return store.Write(kVerifyKey, on ? "1" : "0");
}

}  // namespace tollwick
