// Profile files come from outside: hand edits, older versions, other programs. Any bytes must
// read without a crash or hang, and a write must change only the key it writes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "settings/profile_store.h"
#include "settings/stored_settings.h"

namespace {

const std::filesystem::path& ProfilePath() {
    static const std::filesystem::path path = [] {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "tollwick-fuzz-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
        return std::filesystem::path(tmpl) / "Tollwick.ini";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tollwick;
    const std::filesystem::path& path = ProfilePath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ProfileStore store(path);

    (void)StoredPort(store);
    (void)StoredDensity(store);
    (void)StoredPassword(store);
    const TrackSet before = UserTypeSettings(store);
    const std::string portBefore = store.Read("PORTNUM", "none");

    // A value full of the characters that INI dialects treat specially must come back as is, and
    // the other keys must read as before.
    const std::string password = "a;b,c\\d=e \"f\" #g [h]";
    if (store.Write("PWD", password)) {
        if (StoredPassword(store) != password) std::abort();
        if (!(UserTypeSettings(store) == before)) std::abort();
        if (store.Read("PORTNUM", "none") != portBefore) std::abort();
    }
    return 0;
}
