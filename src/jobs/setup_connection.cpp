#include "jobs/setup_connection.h"

#include "carddata/data_type.h"
#include "settings/stored_settings.h"

namespace tollwick {

SetupPort ParseSetupPort(std::string_view text) {
    if (!text.starts_with("COM")) return {SetupPortCheck::kNotCom, 0};
    const int port = StoredTextToInt(text.substr(3));
    if (port > kMaxSetupPort) return {SetupPortCheck::kAboveMax, port};
    return {SetupPortCheck::kOk, port};
}

SetupConnection ConnectForSetup(ReaderCommands& reader, ProfileStore& profile, int typedPort) {
    const std::optional<int> stored = StoredPort(profile);
    if (stored && *stored > 0) {
        const int port = reader.ConnectPort(*stored);
        if (port >= 0) return {true, port};
    }
    // The port the operator set before: the connection is left as it is.
    if (stored && *stored == 0) return {true, 0};

    int port = reader.ConnectPort(typedPort);
    if (port < 0) port = reader.ConnectScan();
    if (port < 0) return {false, -1};
    StorePort(profile, typedPort);
    return {true, port};
}

}  // namespace tollwick
