#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "settings/profile_store.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

std::string_view EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

}  // namespace

const char* const kDefaultProfileHelp = "$TOLLWICK_PROFILE, else ~/.config/Tollwick/Tollwick.ini";

fs::path DefaultProfilePath() {
    if (const std::string_view file = EnvText("TOLLWICK_PROFILE"); !file.empty()) {
        return fs::path(file);
    }
    const fs::path tail = fs::path("Tollwick") / "Tollwick.ini";
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
    if (const fs::path config(EnvText("XDG_CONFIG_HOME")); config.is_absolute()) {
        return config / tail;
    }
    fs::path home(EnvText("HOME"));
    if (home.empty()) {
        std::vector<char> buffer(16384);
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr) {
            home = found->pw_dir;
        }
    }
    if (home.empty()) return fs::path("Tollwick.ini");
    return home / ".config" / tail;
}

}  // namespace tollwick
