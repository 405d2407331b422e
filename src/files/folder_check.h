// A file the user names goes into a folder that is there: the programs make no folder a user did
// not ask for (their own settings folder aside), so that a slip in a name ("/nonexistent/d.json")
// is said rather than turned into new folders.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tollwick {

// The folder `file` would go in, when it is not a folder that exists; nothing when it is, or
// when the name has no folder part (the working folder).
std::optional<std::filesystem::path> MissingFolderOf(const std::filesystem::path& file);

// "the folder /nonexistent does not exist", or "/etc/passwd is not a folder".
std::string MissingFolderText(const std::filesystem::path& folder);

}  // namespace tollwick
