#include "files/folder_check.h"

namespace tollwick {

namespace fs = std::filesystem;

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
