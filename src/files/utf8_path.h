// File names as the programs carry them: UTF-8 text. The file system's own form differs by
// platform (bytes on POSIX, UTF-16 on Windows); these are the only places that convert, so a
// name like "Ωmega-deck.json" reaches the disk as typed on every platform.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tollwick {

// The path named by UTF-8 text. On POSIX the bytes are taken as they are (any byte string is a
// valid name there). On Windows malformed UTF-8 becomes U+FFFD.
std::filesystem::path PathFromUtf8(std::string_view text);

// The path as UTF-8 text, for messages and for paths given on to other programs.
std::string PathToUtf8(const std::filesystem::path& path);

// The program's arguments as UTF-8 text, argv[0] included. POSIX: argv as given. Windows: the
// UTF-16 command line (GetCommandLineW), whatever the ANSI code page, so a name in any script
// survives; argc and argv are then ignored.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace tollwick
