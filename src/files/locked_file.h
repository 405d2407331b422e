// Files the program rewrites (the profile, the virtual reader's deck, a card export): read and
// replaced whole, so that neither a crash nor a second process at work on the same file loses
// anything. One interface, one implementation per platform (locked_file_posix.cpp,
// locked_file_win32.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace tollwick {

enum class FileState { kMissing, kRead, kUnusable };

struct FileContents {
    FileState state = FileState::kMissing;
    std::string bytes;
};

// Reads a whole regular file of at most maxBytes. A FIFO, a device, a folder or a larger file is
// unusable (and never blocks the caller); a missing file or folder is missing.
FileContents ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// How long a rewrite waits for the lock while another process holds it, and what ends the wait
// early. The default waits as long as it takes.
struct LockWait {
    // Past this the rewrite gives up: "FILE is in use by another Tollwick (pid N)". None: no
    // limit.
    std::optional<std::chrono::milliseconds> limit;
    // A stop request ends the wait at once ("interrupted while waiting for FILE"); the lock is
    // then not taken and nothing is written. A lock that is free is taken whatever the token.
    std::stop_token stop;
};

// Rewrites the file at `path`: `change` gets its current contents and returns the new bytes, or
// nothing to leave it as it is. A lock is held from the read to the replacement, so two
// processes that update one file take turns and neither loses the other's change (POSIX: an
// advisory lock on the file itself; Windows: LockFileEx on a hidden sidecar "<name>.lock" that
// stays beside it). While it waits for another process, `wait` says how long and what ends the
// wait; the process holding the lock is named by its pid where the platform tells it. The bytes
// go to a uniquely named file in the same folder (".<name>.tmp-<pid>-<random>"), reach the disk
// and then take the old file's place in one step, so a crash leaves the old file or the new one,
// never a torn one; such files left by a process that died are removed by the next rewrite of
// the same file (never one of a process still running). The file keeps its permissions (POSIX
// mode, and owner and group where the process may set them, as when root rewrites a user's
// file; Windows DACL). A new file is readable by its owner only (mode 0600; on Windows a
// protected DACL for the user and SYSTEM), as everything rewritten here may hold card data or
// the password; its folder is created. Through a symbolic link the file it names is rewritten
// and the link stays. On Windows a file held open by another program (a virus scanner, an
// indexer) is waited for a short while.
// Refused, with the file left as it was: new bytes longer than maxBytes (the file could not be
// read back: "FILE would grow to N bytes, more than M"); a read-only file ("FILE is read-only":
// POSIX no write permission for this user, or none for anyone even when run as root; Windows
// the read-only attribute). The messages name the file as `path` gives it.
// False, with the reason in *error, when the file could not be rewritten; it is then as it was.
// A file that `change` leaves alone counts as done (a read-only one too).
bool RewriteFileLocked(const std::filesystem::path& path, std::size_t maxBytes,
                       const std::function<std::optional<std::string>(const FileContents&)>& change,
                       std::string* error = nullptr, const LockWait& wait = {});

}  // namespace tollwick
