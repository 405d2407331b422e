#include "files/utf8_path.h"

namespace tollwick {

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::string(text));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    return path.native();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace tollwick
