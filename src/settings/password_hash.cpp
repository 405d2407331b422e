#include "settings/password_hash.h"

#include <sodium.h>

#include "settings/stored_settings.h"

namespace tollwick {
namespace {

constexpr std::string_view kHashPrefix = "$argon2";

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

bool IsPasswordHash(std::string_view stored) {
    return stored.starts_with(kHashPrefix);
}

std::string HashPassword(std::string_view password) {
    if (!SodiumReady()) return {};
    char hash[crypto_pwhash_STRBYTES] = {};
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return {};
    }
    return std::string(hash);
}

bool PasswordMatches(std::string_view stored, std::string_view typed) {
    if (!IsPasswordHash(stored)) {
        // A value of an earlier version: the password itself.
        return stored.size() == typed.size() &&
               (stored.empty() ||
                (SodiumReady() && sodium_memcmp(stored.data(), typed.data(), stored.size()) == 0));
    }
    if (!SodiumReady()) return false;
    // crypto_pwhash_str_verify wants the zero-terminated string form.
    const std::string hash(stored);
    return crypto_pwhash_str_verify(hash.c_str(), typed.data(), typed.size()) == 0;
}

bool HasStoredPassword(const ProfileStore& store) {
    return !StoredPassword(store).empty();
}

bool CheckStoredPassword(ProfileStore& store, std::string_view typed) {
    const std::string stored = StoredPassword(store);
    if (!PasswordMatches(stored, typed)) return false;
    if (!stored.empty() && !IsPasswordHash(stored)) SetStoredPassword(store, typed);
    return true;
}

bool SetStoredPassword(ProfileStore& store, std::string_view password) {
    if (password.empty()) return store.Write(kPasswordKey, "");
    const std::string hash = HashPassword(password);
    // Without a hash nothing is stored: the text itself never goes to the profile.
    if (hash.empty()) return false;
    return store.Write(kPasswordKey, hash);
}

}  // namespace tollwick
