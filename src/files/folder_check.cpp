#include "files/folder_check.h"

#include <cstdlib>

namespace tollwick {

namespace fs = std::filesystem;

fs::path OwnDataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && *data != '\0') return fs::path(data) / "Tollwick";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return fs::path(home) / ".local" / "share" / "Tollwick";
    return {};
}

std::optional<fs::path> MissingFolderOf(const fs::path& file) {
    const fs::path folder = file.parent_path();
    if (folder.empty()) return std::nullopt;
    std::error_code error;
    const fs::file_type type = fs::status(folder, error).type();
    // A folder that cannot be looked at (no permission) is left to the open to report.
    if (type == fs::file_type::directory || type == fs::file_type::none ||
        type == fs::file_type::unknown) {
        return std::nullopt;
    }
    const fs::path own = OwnDataFolder();
    if (type == fs::file_type::not_found && !own.empty() &&
        folder.lexically_normal() == own.lexically_normal()) {
        fs::create_directories(folder, error);
        if (fs::is_directory(folder, error)) return std::nullopt;
    }
    return folder;
}

std::string MissingFolderText(const fs::path& folder) {
    std::error_code error;
    if (fs::status(folder, error).type() == fs::file_type::not_found) {
        return "the folder " + folder.string() + " does not exist";
    }
    return folder.string() + " is not a folder";
}

}  // namespace tollwick
