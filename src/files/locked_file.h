// Files the program rewrites (the profile, the virtual reader's deck): read and replaced whole,
// so that neither a crash nor a second process at work on the same file loses anything.
#pragma once

#include <sys/types.h>

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
    mode_t mode = 0600;
};

// Reads a whole regular file of at most maxBytes. A FIFO, a device or a larger file is
// unusable (and never blocks the caller); a missing file or folder is missing.
FileContents ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// Rewrites the file at `path`: `change` gets its current contents and returns the new bytes, or
// nothing to leave it as it is. An advisory lock on the file is held from the read to the
// rename, so two processes that update one file take turns and neither loses the other's
// change. The bytes go to a uniquely named file in the same folder, reach the disk and are
// renamed over the old file, which keeps its mode (a new file gets newFileMode, its folder is
// created); through a symbolic link the file it names is rewritten and the link stays.
// False, with the reason in *error, when the file could not be rewritten; it is then as it was.
// A file that `change` leaves alone counts as done.
bool RewriteFileLocked(const std::filesystem::path& path, std::size_t maxBytes, mode_t newFileMode,
                       const std::function<std::optional<std::string>(const FileContents&)>& change,
                       std::string* error = nullptr);

}  // namespace tollwick
