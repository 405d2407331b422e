#include <windows.h>
// CommandLineToArgvW
#include <shellapi.h>

#include "files/utf8_path.h"
#include "files/win32_text.h"

namespace tollwick {

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(WideFromUtf8(text));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    return Utf8FromWide(path.native());
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

}  // namespace tollwick
