// The program password as the profile keeps it: a salted, deliberately slow hash (Argon2 through
// libsodium), never the text. A value written by an earlier version of the program holds the
// text itself; it is still accepted and is replaced by its hash on the first match.
#pragma once

#include <string>
#include <string_view>

#include "settings/profile_store.h"

namespace tollwick {

// A stored password value made by HashPassword.
bool IsPasswordHash(std::string_view stored);

// The hash of `password` in libsodium's string form ("$argon2id$..."), with the interactive
// work limits; empty when the hash cannot be made (out of memory).
std::string HashPassword(std::string_view password);

// Whether `typed` is the password that `stored` stands for: checked against the hash, or, for a
// value of an earlier version, compared as text, byte for byte.
bool PasswordMatches(std::string_view stored, std::string_view typed);

// The program has a password: PWD is not empty.
bool HasStoredPassword(const ProfileStore& store);

// Checks `typed` against PWD. A plain value that matches is replaced by its hash.
bool CheckStoredPassword(ProfileStore& store, std::string_view typed);

// Makes `password` the program password: its hash goes to PWD. The empty text stores an empty
// value, which means the program has no password. False when nothing could be stored.
bool SetStoredPassword(ProfileStore& store, std::string_view password);

}  // namespace tollwick
