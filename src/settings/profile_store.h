// The profile file: one INI file whose section "MSR" holds the program's settings as text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "files/locked_file.h"

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
// backslashes, quotes and '=' included; blanks around a value are not kept).
// Reads kEveryCall: nothing is cached, every call goes to the file, so edits by other programs
// between calls are seen (the desktop program, which runs for hours). Reads kOnce: the file is
// read at the first call and that view serves the rest of the run (a command of the command-line
// tool); not for use from several threads at once.
// A file that cannot be read, or that holds a zero byte (text after it would be lost), is no
// profile: every key reads as its default and nothing is written to it. Problem() says so, and
// the programs tell the user rather than run on the defaults without a word.
class ProfileStore {
  public:
    static constexpr std::string_view kSection = "MSR";
    // The profile calls read a value through a buffer of this many bytes, terminator included.
    static constexpr std::size_t kValueBufferSize = 4096;
    // A profile holds a few short lines. Anything larger is not ours: it is neither parsed nor
    // rewritten, and no write makes a profile larger.
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 20;

    enum class Reads { kEveryCall, kOnce };

    struct Entry {
        std::string_view key;
        std::string_view text;
    };

    // `wait`: how long a write waits for the file's lock while another process holds it, and
    // what ends that wait (locked_file.h).
    explicit ProfileStore(std::filesystem::path path, Reads reads = Reads::kEveryCall,
                          LockWait wait = {});

    const std::filesystem::path& Path() const { return path_; }

    // Why the file is no profile: "cannot read the settings file FILE (...)" or "the settings
    // file FILE holds a zero byte ...". Nothing when it is one, or is missing (all defaults).
    std::optional<std::string> Problem() const;

    // The stored text of `key`, or `defaultText` when the file, the section or the key is
    // missing (or the file is no profile), or "" when there is no default. The result is cut
    // to kValueBufferSize - 1 characters.
    std::string Read(std::string_view key,
                     std::optional<std::string_view> defaultText = std::nullopt) const;

    // Replaces or adds `key` and keeps every other section, key, value and comment of the file.
    // The file is replaced atomically (temporary file in the same folder, flushed to disk, then
    // renamed), and its folder is created when missing. A key that already holds the text (once)
    // is not written again: the file is left untouched; with reads kOnce that is judged by the
    // view of this run, and the file is not even opened. Returns false, with the reason in
    // LastError(), and leaves the file as it was when it is no profile or cannot be written
    // (read-only, its lock held past the wait, larger than kMaxBytes after the change), or when
    // a key or text cannot be stored on one line.
    bool Write(std::string_view key, std::string_view text);

    // Writes several keys in one replacement of the file: all of them land, or none.
    bool Write(std::span<const Entry> entries);

    // Why the last Write failed ("" when it did not).
    const std::string& LastError() const { return lastError_; }

  private:
    std::filesystem::path path_;
    Reads reads_;
    LockWait wait_;
    mutable std::optional<FileContents> seen_;  // reads kOnce: the file as this run sees it
    std::string lastError_;

    FileContents Contents() const;
};

}  // namespace tollwick
