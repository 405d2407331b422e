// Files the program rewrites (the profile, the virtual reader's deck, a card export): read and
// replaced whole, so that neither a crash nor a second process at work on the same file loses
// anything. One interface, one implementation per platform (locked_file_posix.cpp,
// locked_file_win32.cpp).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
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

// Rewrites the file at `path`: `change` gets its current contents and returns the new bytes, or
// nothing to leave it as it is. A lock is held from the read to the replacement, so two
// processes that update one file take turns and neither loses the other's change (POSIX: an
// advisory lock on the file itself; Windows: LockFileEx on a hidden sidecar "<name>.lock" that
// stays beside it). The bytes go to a uniquely named file in the same folder, reach the disk and
// then take the old file's place in one step, so a crash leaves the old file or the new one,
// never a torn one. The file keeps its permissions (POSIX mode; Windows DACL). A new file is
// readable by its owner only (mode 0600; on Windows a protected DACL for the user and SYSTEM),
// as everything rewritten here may hold card data or the password; its folder is created.
// Through a symbolic link the file it names is rewritten and the link stays. On Windows a file
// held open by another program (a virus scanner, an indexer) is waited for a short while.
// False, with the reason in *error, when the file could not be rewritten; it is then as it was.
// A file that `change` leaves alone counts as done.
bool RewriteFileLocked(const std::filesystem::path& path, std::size_t maxBytes,
                       const std::function<std::optional<std::string>(const FileContents&)>& change,
                       std::string* error = nullptr);

}  // namespace tollwick
