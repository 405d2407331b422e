#include <windows.h>
// SHGetKnownFolderPath
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdlib>

#include "settings/profile_store.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

// The environment in UTF-16: the narrow getenv gives the ANSI code page's idea of a name.
fs::path EnvPath(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? fs::path(value) : fs::path();
}

}  // namespace

const char* const kDefaultProfileHelp =
    "%TOLLWICK_PROFILE%, else %APPDATA%\\Tollwick\\Tollwick.ini";

fs::path DefaultProfilePath() {
    if (fs::path file = EnvPath(L"TOLLWICK_PROFILE"); !file.empty()) return file;
    const fs::path tail = fs::path(L"Tollwick") / L"Tollwick.ini";
    wchar_t* folder = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder) == S_OK) {
        fs::path found(folder);
        CoTaskMemFree(folder);
        return found / tail;
    }
    CoTaskMemFree(folder);
    // The known folder cannot be had (a service account): %APPDATA% as the environment says.
    if (const fs::path appData = EnvPath(L"APPDATA"); appData.is_absolute()) return appData / tail;
    return fs::path(L"Tollwick.ini");
}

}  // namespace tollwick
