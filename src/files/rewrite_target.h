// The file a locked rewrite replaces, the same on every platform.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "files/utf8_path.h"

namespace tollwick {

// Through a symbolic link the file it names, not the link; its folder made when missing (the
// settings folder on a first run). Nothing, with `error` set when given, when there is no folder.
inline std::optional<std::filesystem::path> RewriteTarget(const std::filesystem::path& path,
                                                          std::string* error) {
    namespace fs = std::filesystem;
    fs::path target = path;
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec) target = std::move(resolved);
    }
    const fs::path folder = target.parent_path();
    if (!folder.empty()) {
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec)) {
            if (error) *error = "cannot create the folder " + PathToUtf8(folder);
            return std::nullopt;
        }
    }
    return target;
}

}  // namespace tollwick
