#include "device/startup_connection.h"

#include <cstring>

#include "carddata/data_type.h"

namespace tollwick {

StartupConnection ConnectAtStartup(ReaderCommands& reader, std::string_view storedPort,
                                   Track2Density density, ConnectDetail detail) {
    StartupConnection result;
    if (!storedPort.empty()) result.port = reader.ConnectPort(StoredTextToInt(storedPort));
    if (result.port < 0) result.port = reader.ConnectScan();
    if (result.port < 0) return result;

    result.densityResult = reader.SetTrack2Density(density == Track2Density::k210);
    if (detail == ConnectDetail::kDensityOnly) return result;
    int coercivity = kHiCo;
    if (reader.QueryCoercivity(coercivity) == CommandStatus::kOk) {
        result.coercivity = coercivity;
        // The switch is made whatever the reader answers; its result is not looked at.
        if (detail == ConnectDetail::kFullHiCo) static_cast<void>(reader.SetHiCo());
    }
    char version[20] = {};
    if (reader.ReadVersion(version, sizeof version) == CommandStatus::kOk) {
        result.versionRead = true;
        result.version.assign(version, strnlen(version, sizeof version));
        result.beepSupported = VersionSupportsBeep(version);
    }
    return result;
}

std::string ConnectionLine(int port, std::string_view version) {
    return "COM" + std::to_string(port) + " 9600,8,N,1  VK3300 " + std::string(version);
}

bool VersionSupportsBeep(const char (&version)[20]) {
    static constexpr char kLastWithoutBeep[] = "EVU1.06";
    for (int i = 0; i < 7; ++i) {
        const auto have = static_cast<unsigned char>(version[i]);
        const auto base = static_cast<unsigned char>(kLastWithoutBeep[i]);
        if (have != base) return have > base;
    }
    return false;
}

}  // namespace tollwick
