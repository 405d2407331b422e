// A file the user names goes into a folder that is there: the programs make no folder a user did
// not ask for, so that a slip in a name ("/nonexistent/d.json") is said rather than turned into
// new folders. The programs' own folders are the exception: their settings folder (made by the
// settings store) and their data folder, made here.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tollwick {

// The programs' own data folder: $XDG_DATA_HOME/Tollwick, else ~/.local/share/Tollwick; empty
// when neither variable is set.
std::filesystem::path OwnDataFolder();

// Sees that the folder `file` goes in is there: the own data folder is made when missing. The
// folder when it is missing (or not a folder) and not made; nothing when it is there, or when the
// name has no folder part (the working folder), or when it cannot be looked at (the open that
// follows says why).
std::optional<std::filesystem::path> MissingFolderOf(const std::filesystem::path& file);

// "the folder /nonexistent does not exist", or "/etc/passwd is not a folder".
std::string MissingFolderText(const std::filesystem::path& folder);

}  // namespace tollwick
