// The profile file: one INI file whose section "MSR" holds the program's settings as text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tollwick {

// Where the profile lives when no file is given on the command line: $TOLLWICK_PROFILE if set
// and non-empty, else the user's settings folder: $XDG_CONFIG_HOME/Tollwick/Tollwick.ini, else
// ~/.config/Tollwick/Tollwick.ini on POSIX; %APPDATA%\Tollwick\Tollwick.ini on Windows (the
// roaming application data folder). "Tollwick.ini" in the current folder when none is known.
// One implementation per platform: profile_location_posix.cpp, profile_location_win32.cpp.
std::filesystem::path DefaultProfilePath();

// The same rule in a few words, for --help: "$TOLLWICK_PROFILE, else
// ~/.config/Tollwick/Tollwick.ini" (on Windows with %TOLLWICK_PROFILE% and %APPDATA%).
extern const char* const kDefaultProfileHelp;

// Reads and writes text values of section "MSR" in one INI file, as the Windows profile calls
// do: keys and section names are case-insensitive, values are kept verbatim (commas, semicolons,
// backslashes, quotes and '=' included; blanks around a value are not kept). Nothing is cached:
// every call goes to the file, so edits by other programs between calls are seen.
class ProfileStore {
  public:
    static constexpr std::string_view kSection = "MSR";
    // The profile calls read a value through a buffer of this many bytes, terminator included.
    static constexpr std::size_t kValueBufferSize = 4096;

    struct Entry {
        std::string_view key;
        std::string_view text;
    };

    explicit ProfileStore(std::filesystem::path path);

    const std::filesystem::path& Path() const { return path_; }

    // The stored text of `key`, or `defaultText` when the file, the section or the key is
    // missing (or the file cannot be read), or "" when there is no default. The result is cut
    // to kValueBufferSize - 1 characters.
    std::string Read(std::string_view key,
                     std::optional<std::string_view> defaultText = std::nullopt) const;

    // Replaces or adds `key` and keeps every other section, key, value and comment of the file.
    // The file is replaced atomically (temporary file in the same folder, flushed to disk, then
    // renamed), and its folder is created when missing. Returns false and leaves the file as it
    // was when the file cannot be read or written, when it holds bytes that a rewrite would lose
    // (a zero byte), or when a key or text cannot be stored on one line.
    bool Write(std::string_view key, std::string_view text);

    // Writes several keys in one replacement of the file: all of them land, or none.
    bool Write(std::span<const Entry> entries);

  private:
    std::filesystem::path path_;
};

}  // namespace tollwick
