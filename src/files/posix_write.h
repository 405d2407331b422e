// The POSIX file services' one way to write: every byte, through interrupted calls.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace tollwick {

// Writes all of `bytes` to `fd`; false on the first failure (errno says why) or a write that
// takes nothing.
inline bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done = ::write(fd, bytes.data(), bytes.size());
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

}  // namespace tollwick
