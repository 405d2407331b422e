#include "device/setup_connection.h"

#include "carddata/data_type.h"

namespace tollwick {

SetupPort ParseSetupPort(std::string_view text) {
    if (!text.starts_with("COM")) return {SetupPortCheck::kNotCom, 0};
    const int port = StoredTextToInt(text.substr(3));
    if (port > kMaxSetupPort) return {SetupPortCheck::kAboveMax, port};
    return {SetupPortCheck::kOk, port};
}

SetupConnection ConnectForSetup(ReaderCommands& reader, std::optional<int> stored, int typedPort) {
    if (stored && *stored > 0) {
        const int port = reader.ConnectPort(*stored);
        if (port >= 0) return {true, port, false};
    }
    // The port the operator set before: the connection is left as it is.
    if (stored && *stored == 0) return {true, 0, false};

    int port = reader.ConnectPort(typedPort);
    if (port < 0) port = reader.ConnectScan();
    if (port < 0) return {false, -1, false};
    return {true, port, true};
}

}  // namespace tollwick
